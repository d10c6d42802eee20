#include "core/platform/XICUTextConverter.h"

#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VString.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <cstring>

namespace vela {

namespace {

struct ICUName {
    CharSet fCharSet;
    const char* fName;
};

// Mac Arabic (110) and Mac Hebrew (112) have no ICU table and stay without converter.
constexpr ICUName kICUNames[] = {
    {VTC_SystemDefault, "UTF-8"},
    {VTC_UTF_7, "UTF-7"},
    {VTC_US_ASCII, "US-ASCII"},
    {VTC_EBCDIC_037, "ibm-37"},
    {VTC_IBM437, "ibm-437"},
    {VTC_MacRoman, "macintosh"},
    {VTC_Win1252, "windows-1252"},
    {VTC_MacCE, "x-mac-centraleurroman"},
    {VTC_Win1250, "windows-1250"},
    {VTC_MacCyrillic, "x-mac-cyrillic"},
    {VTC_Win1251, "windows-1251"},
    {VTC_MacGreek, "x-mac-greek"},
    {VTC_Win1253, "windows-1253"},
    {VTC_MacTurkish, "x-mac-turkish"},
    {VTC_Win1254, "windows-1254"},
    {VTC_Win1256, "windows-1256"},
    {VTC_Win1255, "windows-1255"},
    {VTC_MacCE2, "x-mac-centraleurroman"},
    {VTC_Win1257, "windows-1257"},
    {VTC_MacChineseSimplified, "GB2312"}, // EUC-CN, the base of the Mac table
    {VTC_GBK, "GBK"},
    {VTC_MacChineseTraditional, "Big5"}, // the base of the Mac table
    {VTC_CP950, "windows-950"},
    {VTC_MacJapanese, "Shift_JIS"}, // the base of the Mac table
    {VTC_ShiftJIS, "Shift_JIS"},
    {VTC_ISO2022JP, "ISO-2022-JP"},
    {VTC_Big5, "Big5"},
    {VTC_EUC_KR, "EUC-KR"},
    {VTC_KOI8R, "KOI8-R"},
    {VTC_ISO8859_1, "ISO-8859-1"},
    {VTC_ISO8859_2, "ISO-8859-2"},
    {VTC_ISO8859_3, "ISO-8859-3"},
    {VTC_ISO8859_4, "ISO-8859-4"},
    {VTC_ISO8859_5, "ISO-8859-5"},
    {VTC_ISO8859_6, "ISO-8859-6"},
    {VTC_ISO8859_7, "ISO-8859-7"},
    {VTC_ISO8859_8, "ISO-8859-8"},
    {VTC_ISO8859_9, "ISO-8859-9"},
    {VTC_ISO8859_10, "ISO-8859-10"},
    {VTC_ISO8859_13, "ISO-8859-13"},
    {VTC_GB2312, "GB2312"},
    {VTC_GB2312_80, "GB_2312-80"},
    {VTC_ISO8859_15, "ISO-8859-15"},
    {VTC_Windows31J, "windows-31j"},
};

// ICU takes at most this many source or target units per call (its sizes are 32-bit byte counts).
constexpr size_t kMaxICUBytes = 0x7FFFFFFF;
constexpr size_t kMaxICUUnits = 0x3FFFFFFF;

template <class T> inline void Report(T* out, T value) noexcept {
    if (out != nullptr) *out = value;
}

void RaiseICUFailure(UErrorCode error) {
    VString name(u_errorName(error));
    _ThrowError(VE_TEXT_CONVERSION_FAILED, &name);
}

UConverter* OpenConverter(CharSet charSet) {
    const char* name = GetICUConverterName(charSet);
    if (name == nullptr) return nullptr;
    UErrorCode error = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(name, &error);
    if (U_FAILURE(error)) return nullptr;
    return converter;
}

// Substitutes as ICU does by default, and notes that it did.
void U_CALLCONV NoteSubstitution(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits,
                                 int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason <= UCNV_IRREGULAR) *static_cast<bool*>(const_cast<void*>(context)) = true;
    UCNV_TO_U_CALLBACK_SUBSTITUTE(nullptr, args, codeUnits, length, reason, error);
}

} // namespace

const char* GetICUConverterName(CharSet charSet) noexcept {
    for (const ICUName& entry : kICUNames)
        if (entry.fCharSet == charSet) return entry.fName;
    return nullptr;
}

// ---- To Unicode

XICUToUnicodeConverter::XICUToUnicodeConverter(CharSet charSet) : fConverter(OpenConverter(charSet)) {
    if (fConverter == nullptr) return;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setToUCallBack(fConverter, NoteSubstitution, &fSubstituted, nullptr, nullptr, &error);
}

XICUToUnicodeConverter::~XICUToUnicodeConverter() {
    if (fConverter != nullptr) ucnv_close(fConverter);
}

int32 XICUToUnicodeConverter::GetCharSize() const {
    return fConverter != nullptr ? ucnv_getMinCharSize(fConverter) : 1;
}

void XICUToUnicodeConverter::Reset() {
    if (fConverter != nullptr) ucnv_resetToUnicode(fConverter);
    fPendingCount = 0;
}

bool XICUToUnicodeConverter::Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed,
                                     UniChar* destination, int32 destinationUnits, int32* unitsProduced) {
    Report(bytesConsumed, size_t(0));
    Report(unitsProduced, 0);
    if (fConverter == nullptr) return false;
    size_t room = destination != nullptr ? std::min(size_t(std::max(destinationUnits, 0)), kMaxICUUnits) : 0;
    if (room == 0 || sourceBytes == 0) return true;

    const auto* begin = static_cast<const char*>(source);
    // ICU already holds the bytes of a character cut by the last source; a new text starts afresh.
    size_t held = 0;
    if (fPendingCount > 0) {
        if (sourceBytes >= size_t(fPendingCount) && std::memcmp(begin, fPending, size_t(fPendingCount)) == 0)
            held = size_t(fPendingCount);
        else
            ucnv_resetToUnicode(fConverter);
        fPendingCount = 0;
    }

    const char* in = begin + held;
    const char* end = in + std::min(sourceBytes - held, kMaxICUBytes);
    UChar* out = destination;
    UErrorCode error = U_ZERO_ERROR;
    fSubstituted = false;
    ucnv_toUnicode(fConverter, &out, destination + room, &in, end, nullptr, false, &error);
    if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) {
        RaiseICUFailure(error);
        ucnv_resetToUnicode(fConverter);
        return false;
    }

    size_t consumed = size_t(in - begin);
    UErrorCode countError = U_ZERO_ERROR;
    int32 pending = ucnv_toUCountPending(fConverter, &countError);
    if (U_SUCCESS(countError) && pending > 0 && size_t(pending) <= consumed && size_t(pending) <= sizeof(fPending)) {
        // Reported unconsumed, so that the caller brings them again with the rest of the character.
        consumed -= size_t(pending);
        std::memcpy(fPending, begin + consumed, size_t(pending));
        fPendingCount = pending;
    }
    Report(bytesConsumed, consumed);
    Report(unitsProduced, int32(out - destination));
    return !fSubstituted;
}

// ---- From Unicode

XICUFromUnicodeConverter::XICUFromUnicodeConverter(CharSet charSet) : fConverter(OpenConverter(charSet)) {
    if (fConverter == nullptr) return;
    // Sets that cannot encode "?" itself keep their own substitution character.
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setSubstString(fConverter, u"?", 1, &error);
}

XICUFromUnicodeConverter::~XICUFromUnicodeConverter() {
    if (fConverter != nullptr) ucnv_close(fConverter);
}

int32 XICUFromUnicodeConverter::GetCharSize() const {
    return fConverter != nullptr ? ucnv_getMaxCharSize(fConverter) : 2;
}

bool XICUFromUnicodeConverter::Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                       void* destination, size_t destinationBytes, size_t* bytesProduced) {
    Report(unitsConsumed, 0);
    Report(bytesProduced, size_t(0));
    if (fConverter == nullptr) return false;
    size_t units = source != nullptr ? std::min(size_t(std::max(sourceUnits, 0)), kMaxICUUnits) : 0;
    if (destination == nullptr) return _Count(source, int32(units), unitsConsumed, bytesProduced);
    if (destinationBytes == 0) return true;

    const UChar* in = source;
    auto* out = static_cast<char*>(destination);
    UErrorCode error = U_ZERO_ERROR;
    bool whole = units == size_t(std::max(sourceUnits, 0));
    ucnv_fromUnicode(fConverter, &out, out + std::min(destinationBytes, kMaxICUBytes), &in, source + units, nullptr,
                     whole, &error);
    if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) {
        RaiseICUFailure(error);
        ucnv_resetFromUnicode(fConverter);
        return false;
    }
    Report(unitsConsumed, int32(in - source));
    Report(bytesProduced, size_t(out - static_cast<char*>(destination)));
    return true;
}

bool XICUFromUnicodeConverter::_Count(const UniChar* source, int32 sourceUnits, int32* unitsConsumed,
                                      size_t* bytesProduced) {
    ucnv_resetFromUnicode(fConverter);
    char scratch[1024];
    size_t total = 0;
    const UChar* in = source;
    UErrorCode error = U_ZERO_ERROR;
    do {
        error = U_ZERO_ERROR;
        char* out = scratch;
        ucnv_fromUnicode(fConverter, &out, scratch + sizeof(scratch), &in, source + sourceUnits, nullptr, true, &error);
        total += size_t(out - scratch);
    } while (error == U_BUFFER_OVERFLOW_ERROR);
    if (U_FAILURE(error)) {
        RaiseICUFailure(error);
        ucnv_resetFromUnicode(fConverter);
        return false;
    }
    Report(unitsConsumed, int32(in - source));
    Report(bytesProduced, total);
    return true;
}

namespace {

// Hands over a new converter when it is usable; releases it otherwise.
template <class Converter> Converter* KeepIfValid(Converter* converter) {
    VRefPtr<Converter> owner = VRefPtr<Converter>::Adopt(converter);
    return owner->IsValid() ? owner.Forget() : nullptr;
}

} // namespace

VToUnicodeConverter* NewICUToUnicodeConverter(CharSet charSet) {
    return KeepIfValid<VToUnicodeConverter>(new XICUToUnicodeConverter(charSet));
}

VFromUnicodeConverter* NewICUFromUnicodeConverter(CharSet charSet) {
    return KeepIfValid<VFromUnicodeConverter>(new XICUFromUnicodeConverter(charSet));
}

} // namespace vela
