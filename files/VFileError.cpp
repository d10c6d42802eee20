#include "files/VFileError.h"

#include "files/HexDigits.h"
#include "files/VFile.h"
#include "files/VFolder.h"

#include <algorithm>

namespace vela {

namespace {

// Units 0..128 that a file name may not hold.
constexpr bool IsReservedFileCharacter(UniChar c) noexcept {
    if (c < 0x20) return true;
    switch (c) {
    case '"':
    case '%':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
        return true;
    default:
        return false;
    }
}

} // namespace

VFileError::VFileError(const VFilePath& path, VError code) : VErrorBase(code), fPath(path) {
    _Init();
}

VFileError::VFileError(const VFile* file, VError code) : VErrorBase(code) {
    if (file != nullptr) fPath = file->GetPath();
    _Init();
}

VFileError::VFileError(const VFolder* folder, VError code) : VErrorBase(code) {
    if (folder != nullptr) fPath = folder->GetPath();
    _Init();
}

void VFileError::_Init() {
    const VString& text = fPath.GetPath();
    if (text.IsEmpty()) {
        SetString("name", "n/a");
        SetString("path", "n/a");
        return;
    }
    VString name;
    fPath.GetName(name);
    SetString("name", name);
    SetString("path", text);
}

void VFileError::GetErrorDescription(VString& out) const {
    VErrorBase::GetErrorDescription(out);
}

bool IsNativeError(VError code) noexcept {
    switch (ComponentOfVError(code)) {
    case kComponentPosix:
    case kComponentCarbon:
    case kComponentCocoa:
    case kComponentMach:
        return true;
    default:
        return false;
    }
}

VString EncodeReservedFileCharacters(const VString& text) {
    const UniChar* units = text.GetCPointer();
    const int32 length = text.GetLength();
    int32 reserved = 0;
    for (int32 i = 0; i < length; ++i)
        if (IsReservedFileCharacter(units[i])) ++reserved;
    if (reserved == 0) return text;

    VString out;
    out.EnsureSize(int32(std::min<int64>(int64(length) + 2 * int64(reserved), VString::kMaxLength)), false);
    for (int32 i = 0; i < length; ++i) {
        const UniChar c = units[i];
        if (!IsReservedFileCharacter(c)) {
            out.AppendUniChar(c);
            continue;
        }
        out.AppendUniChar('%');
        out.AppendUniChar(UniChar(Private::kUpperHexDigits[c >> 4]));
        out.AppendUniChar(UniChar(Private::kUpperHexDigits[c & 0xF]));
    }
    return out;
}

VString DecodeReservedFileCharacters(const VString& text) {
    if (text.FindUniChar('%') == 0) return text;
    const UniChar* units = text.GetCPointer();
    const int32 length = text.GetLength();
    VString out;
    out.EnsureSize(length, false);
    for (int32 i = 0; i < length; ++i) {
        const UniChar c = units[i];
        const int value = Private::EscapedByteAt(units, i, length);
        if (value < 0) {
            out.AppendUniChar(c);
            continue;
        }
        out.AppendUniChar(UniChar(value));
        i += 2;
    }
    return out;
}

} // namespace vela
