#include "core/VTextConverters.h"

#include "core/VCharSetTable.h"
#include "core/VString.h"
#include "core/VUnicodeConverters.h"
#include "core/platform/XICUTextConverter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>

namespace vela {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

template <class T> T* Retained(T* converter) noexcept {
    converter->Retain();
    return converter;
}

// Set names are ASCII: compared without regard to ASCII case, unit by unit.
inline UniChar LowerAscii(UniChar c) noexcept {
    return c >= u'A' && c <= u'Z' ? UniChar(c + 32) : c;
}

int CompareNoCase(const VString& name, const char* row) noexcept {
    const UniChar* units = name.GetCPointer();
    int32 length = name.GetLength();
    for (int32 i = 0;; ++i) {
        UniChar a = i < length ? LowerAscii(units[i]) : 0;
        UniChar b = LowerAscii(UniChar(uchar(row[i])));
        if (a != b || b == 0) return a < b ? -1 : a > b ? 1 : (i < length ? 1 : 0);
    }
}

bool EqualsNoCase(const VString& name, const char* row) noexcept {
    return CompareNoCase(name, row) == 0;
}

template <class Match> const VCharSetRow* FindRow(Match match) noexcept {
    for (const VCharSetRow* row = kCharSetTable; row->fName != nullptr; ++row)
        if (match(*row)) return row;
    return nullptr;
}

// ---- UTF-8 validation automaton: state 0 lies between characters, 1 has rejected the text.

constexpr uint8 kAccept = 0;
constexpr uint8 kReject = 1;

constexpr auto kByteClass = [] {
    struct Table {
        uint8 of[256];
    } table{};
    for (int b = 0; b < 256; ++b) {
        uint8 c = 8;
        if (b < 0x80)
            c = 0;
        else if (b < 0x90)
            c = 1;
        else if (b < 0xA0)
            c = 9;
        else if (b < 0xC0)
            c = 7;
        else if (b < 0xC2)
            c = 8;
        else if (b < 0xE0)
            c = 2;
        else if (b == 0xE0)
            c = 10;
        else if (b == 0xED)
            c = 4;
        else if (b < 0xF0)
            c = 3;
        else if (b == 0xF0)
            c = 11;
        else if (b < 0xF4)
            c = 6;
        else if (b == 0xF4)
            c = 5;
        table.of[b] = c;
    }
    return table;
}();

constexpr auto kTransition = [] {
    struct Table {
        uint8 to[9][12];
    } table{};
    for (auto& row : table.to)
        for (uint8& next : row)
            next = kReject;
    auto set = [&table](int state, std::initializer_list<int> classes, uint8 next) {
        for (int c : classes)
            table.to[state][c] = next;
    };
    set(0, {0}, 0);
    set(0, {2}, 2);
    set(0, {3}, 3);
    set(0, {4}, 5);
    set(0, {5}, 8);
    set(0, {6}, 7);
    set(0, {10}, 4);
    set(0, {11}, 6);
    set(2, {1, 7, 9}, 0);
    set(3, {1, 7, 9}, 2);
    set(4, {7}, 2);
    set(5, {1, 9}, 2);
    set(6, {7, 9}, 3);
    set(7, {1, 7, 9}, 3);
    set(8, {1}, 3);
    return table;
}();

// Runs the automaton over n bytes and answers its last state; stops early on rejection.
uint8 RunUTF8Automaton(const uchar* bytes, size_t n) noexcept {
    uint8 state = kAccept;
    size_t i = 0;
    while (i < n) {
        if (state == kAccept) {
            // ASCII runs need no transitions.
            while (n - i >= 8) {
                uint64 word;
                std::memcpy(&word, bytes + i, sizeof(word));
                if ((word & 0x8080808080808080ULL) != 0) break;
                i += 8;
            }
            if (i >= n) break;
        }
        state = kTransition.to[state][kByteClass.of[bytes[i++]]];
        if (state == kReject) break;
    }
    return state;
}

constexpr uchar kBOMUTF16BE[] = {0xFE, 0xFF};
constexpr uchar kBOMUTF16LE[] = {0xFF, 0xFE};
constexpr uchar kBOMUTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
constexpr uchar kBOMUTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
constexpr uchar kBOMUTF8[] = {0xEF, 0xBB, 0xBF};

// The sample of unmarked text that the UTF-8 test reads.
constexpr int32 kGuessSampleBytes = 2048;

} // namespace

VTextConverters* VTextConverters::Get() {
    // Made once, thread-safely, and never destroyed: code that runs at exit may still convert text.
    static VTextConverters* const sInstance = new VTextConverters();
    return sInstance;
}

VTextConverters::VTextConverters()
    : fToNative16(new VToUnicodeConverter_Null), fToSwapped16(new VToUnicodeConverter_Swap),
      fToUTF32(new VToUnicodeConverter_UTF32(!kLittleEndian)),
      fToUTF32Raw(new VToUnicodeConverter_UTF32_Raw(!kLittleEndian)), fToUTF8(new VToUnicodeConverter_UTF8),
      fFromNative16(new VFromUnicodeConverter_Null), fFromSwapped16(new VFromUnicodeConverter_Swap),
      fFromUTF32(new VFromUnicodeConverter_UTF32(!kLittleEndian)),
      fFromUTF32Raw(new VFromUnicodeConverter_UTF32_Raw(!kLittleEndian)), fFromUTF8(new VFromUnicodeConverter_UTF8) {}

VTextConverters::~VTextConverters() {
    for (VToUnicodeConverter* converter : {fToNative16, fToSwapped16, fToUTF32, fToUTF32Raw, fToUTF8})
        converter->Release();
    for (VFromUnicodeConverter* converter : {fFromNative16, fFromSwapped16, fFromUTF32, fFromUTF32Raw, fFromUTF8})
        converter->Release();
}

// The system default set (-2) goes to the platform like the legacy sets: such converters keep conversion
// state, so each caller gets its own instead of one shared by every task.
VToUnicodeConverter* VTextConverters::RetainToUnicodeConverter(CharSet charSet) {
    switch (charSet) {
    case VTC_Unknown:
        return new VToUnicodeConverter_Void;
    case VTC_UTF_16_BigEndian:
        return Retained(kLittleEndian ? fToSwapped16 : fToNative16);
    case VTC_UTF_16_LittleEndian:
        return Retained(kLittleEndian ? fToNative16 : fToSwapped16);
    case VTC_UTF_32_BigEndian:
        return new VToUnicodeConverter_UTF32(kLittleEndian);
    case VTC_UTF_32_LittleEndian:
        return Retained(fToUTF32);
    case VTC_UTF_32_Raw_BigEndian:
        return new VToUnicodeConverter_UTF32_Raw(kLittleEndian);
    case VTC_UTF_32_Raw_LittleEndian:
        return Retained(fToUTF32Raw);
    case VTC_UTF_8:
        return Retained(fToUTF8);
    default:
        break;
    }
    VToUnicodeConverter* converter = NewICUToUnicodeConverter(charSet);
    return converter != nullptr ? converter : new VToUnicodeConverter_Void;
}

VFromUnicodeConverter* VTextConverters::RetainFromUnicodeConverter(CharSet charSet) {
    switch (charSet) {
    case VTC_Unknown:
        return new VFromUnicodeConverter_Void;
    case VTC_UTF_16_BigEndian:
        return Retained(kLittleEndian ? fFromSwapped16 : fFromNative16);
    case VTC_UTF_16_LittleEndian:
        return Retained(kLittleEndian ? fFromNative16 : fFromSwapped16);
    case VTC_UTF_32_BigEndian:
        return new VFromUnicodeConverter_UTF32(kLittleEndian);
    case VTC_UTF_32_LittleEndian:
        return Retained(fFromUTF32);
    case VTC_UTF_32_Raw_BigEndian:
        return new VFromUnicodeConverter_UTF32_Raw(kLittleEndian);
    case VTC_UTF_32_Raw_LittleEndian:
        return Retained(fFromUTF32Raw);
    case VTC_UTF_8:
        return Retained(fFromUTF8);
    default:
        break;
    }
    VFromUnicodeConverter* converter = NewICUFromUnicodeConverter(charSet);
    return converter != nullptr ? converter : new VFromUnicodeConverter_Void;
}

VToUnicodeConverter* VTextConverters::GetStdLibToUnicodeConverter() {
    return fToUTF8;
}

VFromUnicodeConverter* VTextConverters::GetStdLibFromUnicodeConverter() {
    return fFromUTF8;
}

bool VTextConverters::ConvertToVString(const void* source, size_t sourceBytes, CharSet charSet, VString& text) {
    text.Clear();
    if (charSet == VTC_UTF_16) {
        text.FromBlock(source, sourceBytes, VTC_UTF_16);
        return sourceBytes % 2 == 0;
    }
    VToUnicodeConverter* converter = RetainToUnicodeConverter(charSet);
    bool ok = converter->ConvertString(source, sourceBytes, nullptr, text);
    converter->Release();
    return ok;
}

bool VTextConverters::ConvertFromVString(const VString& text, int32* unitsConsumed, void* destination,
                                         size_t destinationBytes, size_t* bytesProduced, CharSet charSet) {
    VFromUnicodeConverter* converter = RetainFromUnicodeConverter(charSet);
    bool ok = converter->Convert(text.GetCPointer(), text.GetLength(), unitsConsumed, destination, destinationBytes,
                                 bytesProduced);
    converter->Release();
    return ok;
}

// ---- Table lookups

void VTextConverters::GetNameFromCharSet(CharSet charSet, VString& name) const {
    name.Clear();
    if (const VCharSetRow* row = FindRow([charSet](const VCharSetRow& r) { return r.fCharSet == charSet; }))
        name.FromCString(row->fName);
}

CharSet VTextConverters::GetCharSetFromName(const VString& name) const {
    const VCharSetRow* row = FindRow([&name](const VCharSetRow& r) { return EqualsNoCase(name, r.fName); });
    return row != nullptr ? row->fCharSet : VTC_Unknown;
}

int32 VTextConverters::GetMIBEnumFromCharSet(CharSet charSet) const {
    const VCharSetRow* row = FindRow([charSet](const VCharSetRow& r) { return r.fCharSet == charSet; });
    return row != nullptr ? row->fMIBEnum : 0;
}

int32 VTextConverters::GetMIBEnumFromName(const VString& name) const {
    const VCharSetRow* row = FindRow([&name](const VCharSetRow& r) { return EqualsNoCase(name, r.fName); });
    return row != nullptr ? row->fMIBEnum : 0;
}

CharSet VTextConverters::GetCharSetFromMIBEnum(int32 mib) const {
    const VCharSetRow* row = FindRow([mib](const VCharSetRow& r) { return r.fMIBEnum == mib; });
    return row != nullptr ? row->fCharSet : VTC_Unknown;
}

void VTextConverters::GetNameFromMIBEnum(int32 mib, VString& name) const {
    name.Clear();
    if (const VCharSetRow* row = FindRow([mib](const VCharSetRow& r) { return r.fMIBEnum == mib; }))
        name.FromCString(row->fName);
}

void VTextConverters::EnumWebCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets) const {
    names.clear();
    charSets.clear();
    for (const VCharSetRow* row = kCharSetTable; row->fName != nullptr; ++row) {
        if (!row->fWeb) continue;
        names.emplace_back(row->fName);
        charSets.push_back(row->fCharSet);
    }
}

void VTextConverters::EnumCharsets(std::vector<VString>& names, std::vector<CharSet>& charSets) const {
    names.clear();
    charSets.clear();
    for (const VCharSetRow* row = kCharSetTable; row->fName != nullptr; ++row) {
        // A row opens a new entry when its set differs from the row before it.
        if (row != kCharSetTable && row[-1].fCharSet == row->fCharSet) continue;
        auto at = std::lower_bound(names.begin(), names.end(), row->fName,
                                   [](const VString& name, const char* key) { return CompareNoCase(name, key) < 0; });
        size_t index = size_t(at - names.begin());
        names.emplace(at, row->fName);
        charSets.insert(charSets.begin() + ptrdiff_t(index), row->fCharSet);
    }
}

// ---- Byte-order marks and guessing

bool VTextConverters::ParseBOM(const void* bytes, size_t size, size_t* bomLength, CharSet* charSet) {
    const auto* b = static_cast<const uchar*>(bytes);
    CharSet found = VTC_Unknown;
    size_t length = 0;
    if (b != nullptr) {
        if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
            found = VTC_UTF_8;
            length = 3;
        } else if (size >= 4 && b[0] == 0x00 && b[1] == 0x00 && b[2] == 0xFE && b[3] == 0xFF) {
            found = VTC_UTF_32_BigEndian;
            length = 4;
        } else if (size >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0x00 && b[3] == 0x00) {
            found = VTC_UTF_32_LittleEndian;
            length = 4;
        } else if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
            found = VTC_UTF_16_BigEndian;
            length = 2;
        } else if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
            found = VTC_UTF_16_LittleEndian;
            length = 2;
        }
    }
    if (bomLength != nullptr) *bomLength = length;
    if (charSet != nullptr) *charSet = found;
    return length > 0;
}

const uchar* VTextConverters::GetBOMForCharSet(CharSet charSet, size_t* length) {
    const uchar* bom = nullptr;
    size_t size = 0;
    switch (charSet) {
    case VTC_UTF_16_BigEndian:
        bom = kBOMUTF16BE, size = sizeof(kBOMUTF16BE);
        break;
    case VTC_UTF_16_LittleEndian:
        bom = kBOMUTF16LE, size = sizeof(kBOMUTF16LE);
        break;
    case VTC_UTF_32_BigEndian:
        bom = kBOMUTF32BE, size = sizeof(kBOMUTF32BE);
        break;
    case VTC_UTF_32_LittleEndian:
        bom = kBOMUTF32LE, size = sizeof(kBOMUTF32LE);
        break;
    case VTC_UTF_8:
        bom = kBOMUTF8, size = sizeof(kBOMUTF8);
        break;
    default:
        break;
    }
    if (length != nullptr) *length = size;
    return bom;
}

bool VTextConverters::DetectUTF8(const uchar* bytes, int32 n) {
    if (n < 1) return true;
    if (bytes == nullptr) return false;
    return RunUTF8Automaton(bytes, size_t(n)) == kAccept;
}

bool VTextConverters::GuessCharsetWithNoBom(const void* bytes, int32 size, CharSet* ioCharSet, bool testUTF8) {
    const auto* b = static_cast<const uchar*>(bytes);
    if (size < 1 || b == nullptr || ioCharSet == nullptr) return false;
    CharSet guess = VTC_Unknown;
    if (size >= 4) {
        auto ascii = [](uchar c) { return c >= 1 && c <= 127; };
        if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
            guess = VTC_UTF_16_BigEndian;
        } else if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
            guess = VTC_UTF_16_LittleEndian;
        } else if ((*ioCharSet == VTC_UTF_16_BigEndian || *ioCharSet == VTC_UTF_16_LittleEndian) && ascii(b[0]) &&
                   ascii(b[1]) && ascii(b[2]) && ascii(b[3])) {
            guess = VTC_UTF_8;
        }
    }
    if (testUTF8) {
        int32 sample = std::min(size, kGuessSampleBytes);
        uint8 state = RunUTF8Automaton(b, size_t(sample));
        // A sample cut short of the text may end inside a character: only a rejection counts against UTF-8.
        bool cut = sample < size;
        if (state == kAccept || (cut && state != kReject)) guess = VTC_UTF_8;
    }
    if (guess == VTC_Unknown) return false;
    *ioCharSet = guess;
    return true;
}

} // namespace vela
