#include "files/VStream.h"

#include "core/IRefCountable.h"
#include "core/VCppMemMgr.h"
#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"
#include "values/VArrayString.h"
#include "values/VValue.h"

#include <algorithm>
#include <cstring>

namespace vela {

namespace {

constexpr UniChar kCR = 13;
constexpr UniChar kLF = 10;

constexpr size_t kCopyChunk = 4096;    // PutContentInto
constexpr size_t kTextChunk = 4096;    // GetText to the end
constexpr size_t kCountedWindow = 32;  // GetText of a number of characters
constexpr size_t kLineChunk = 256;     // GetTextLine, byte-oriented sets
constexpr size_t kWideLineChunk = 512; // GetTextLine, 16- and 32-bit sets
constexpr size_t kGuessBytes = 2048;   // UTF-8 detection
constexpr int32 kTextOutUnits = 8192;  // PutText with line ends rewritten
constexpr int32 kSwapTag = FourCCTag("str ");

void SwapElements(void* values, size_t count, size_t size) noexcept {
    auto* bytes = static_cast<uint8*>(values);
    for (size_t i = 0; i < count; ++i, bytes += size)
        std::reverse(bytes, bytes + size);
}

template <class T> T Swapped(T value) noexcept {
    SwapElements(&value, 1, sizeof(T));
    return value;
}

// Bytes per unit for line scanning: whole 16- or 32-bit units for the wide sets, bytes otherwise.
size_t LineUnitSize(CharSet charSet) noexcept {
    switch (charSet) {
    case VTC_UTF_16_BigEndian:
    case VTC_UTF_16_LittleEndian:
        return 2;
    case VTC_UTF_32_BigEndian:
    case VTC_UTF_32_LittleEndian:
    case VTC_UTF_32_Raw_BigEndian:
    case VTC_UTF_32_Raw_LittleEndian:
        return 4;
    default:
        return 1;
    }
}

bool IsBigEndianSet(CharSet charSet) noexcept {
    return charSet == VTC_UTF_16_BigEndian || charSet == VTC_UTF_32_BigEndian || charSet == VTC_UTF_32_Raw_BigEndian;
}

uint32 UnitAt(const uint8* bytes, size_t unitSize, bool bigEndian) noexcept {
    uint32 value = 0;
    for (size_t i = 0; i < unitSize; ++i) {
        uint32 byte = bytes[bigEndian ? i : unitSize - 1 - i];
        value = (value << 8) | byte;
    }
    return value;
}

// Length of bytes once a UTF-8 sequence cut at the end is dropped (a cut read must not look malformed).
size_t WithoutCutUTF8Tail(const uint8* bytes, size_t n) noexcept {
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        uint8 byte = bytes[n - back];
        if ((byte & 0xC0) == 0x80) continue;
        size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? n - back : n;
    }
    return n;
}

bool HasLineEnd(const UniChar* units, int32 count) noexcept {
    return std::any_of(units, units + count, [](UniChar c) { return c == kCR || c == kLF; });
}

} // namespace

VStream::~VStream() {
    _ReleaseConverters();
    if (fProgress != nullptr) _ReleaseProgress();
}

void VStream::_ReleaseConverters() noexcept {
    ReleaseRefCountable(&fToUnicode);
    ReleaseRefCountable(&fFromUnicode);
    fDecodedTo = -1;
}

VError VStream::_SetError(VError error) {
    fLastError = error;
    _ThrowError(error);
    return error;
}

VError VStream::_SetConversionError() {
    fLastError = VE_STREAM_TEXT_CONVERSION_FAILURE;
    _ThrowErrorWithParam(VE_STREAM_TEXT_CONVERSION_FAILURE, "p1", VString("unterminated unicode conversion."));
    return fLastError;
}

// ---- State

VError VStream::OpenReading() {
    VError refusal = fIsReading || fIsWriting ? VE_STREAM_ALREADY_OPENED : fIsWriteOnly ? VE_STREAM_CANNOT_READ : VE_OK;
    if (refusal != VE_OK) {
        _ThrowError(refusal);
        return refusal;
    }
    if (fToUnicode == nullptr) {
        fToUnicode = VTextConverters::Get()->RetainToUnicodeConverter(fCharSet);
        if (fToUnicode == nullptr || !fToUnicode->IsValid()) {
            ReleaseRefCountable(&fToUnicode);
            _ThrowError(VE_STREAM_NO_TEXT_CONVERTER);
            return VE_STREAM_NO_TEXT_CONVERTER;
        }
    }
    fPosition = 0;
    fDecodedTo = -1;
    fLastError = DoOpenReading();
    if (fLastError != VE_OK) return fLastError;
    fIsReading = true;
    if (fProgress != nullptr) _BeginProgressSession();
    return fLastError;
}

VError VStream::OpenReading(uint32 signature) {
    if (VError error = OpenReading(); error != VE_OK) return error;
    uint32 found = 0;
    if (VError error = GetLong(found); error != VE_OK) return error;
    if (found == signature) return VE_OK;
    if (Swapped(found) == signature) {
        // The data is in the other order than the one assumed: a stream already swapping must stop.
        fNeedSwap = !fNeedSwap;
        return VE_OK;
    }
    DoSetPos(0);
    fPosition = 0;
    return _SetError(VE_STREAM_BAD_SIGNATURE);
}

VError VStream::OpenWriting() {
    VError refusal = fIsReading || fIsWriting ? VE_STREAM_ALREADY_OPENED : fIsReadOnly ? VE_STREAM_CANNOT_WRITE : VE_OK;
    if (refusal != VE_OK) {
        _ThrowError(refusal);
        return refusal;
    }
    if (fFromUnicode == nullptr) {
        fFromUnicode = VTextConverters::Get()->RetainFromUnicodeConverter(fCharSet);
        if (fFromUnicode == nullptr || !fFromUnicode->IsValid()) {
            ReleaseRefCountable(&fFromUnicode);
            _ThrowError(VE_STREAM_NO_TEXT_CONVERTER);
            return VE_STREAM_NO_TEXT_CONVERTER;
        }
    }
    fPosition = 0;
    fLastError = DoOpenWriting();
    if (fLastError != VE_OK) return fLastError;
    fIsWriting = true;
    if (fProgress != nullptr) _BeginProgressSession();
    return fLastError;
}

VError VStream::CloseReading() {
    if (!fIsReading) {
        _ThrowError(VE_STREAM_CANNOT_READ);
        return VE_STREAM_CANNOT_READ;
    }
    DoCloseReading();
    if (fProgressSessionOpen) _EndProgressSession();
    fIsReading = false;
    return fLastError;
}

VError VStream::CloseWriting(bool setSize) {
    if (!fIsWriting) {
        _ThrowError(VE_STREAM_CANNOT_WRITE);
        return VE_STREAM_CANNOT_WRITE;
    }
    if (fLastError == VE_OK) fLastError = DoFlush();
    // The close always happens; a failed cut or close is the answer unless an earlier failure is.
    const VError closed = DoCloseWriting(setSize);
    if (fLastError == VE_OK) fLastError = closed;
    if (fProgressSessionOpen) _EndProgressSession();
    fIsWriting = false;
    return fLastError;
}

VError VStream::SetCharSet(CharSet charSet) {
    if (fLastError != VE_OK) return fLastError;
    _ReleaseConverters();
    fCharSet = charSet;
    if (fIsReading) {
        fToUnicode = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
        if (fToUnicode == nullptr || !fToUnicode->IsValid()) {
            ReleaseRefCountable(&fToUnicode);
            return _SetError(VE_STREAM_NO_TEXT_CONVERTER);
        }
    }
    if (fIsWriting) {
        fFromUnicode = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
        if (fFromUnicode == nullptr || !fFromUnicode->IsValid()) {
            ReleaseRefCountable(&fFromUnicode);
            return _SetError(VE_STREAM_NO_TEXT_CONVERTER);
        }
    }
    return VE_OK;
}

VError VStream::GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool detectUTF8, bool* foundBOM) {
    if (foundBOM != nullptr) *foundBOM = false;
    if (fLastError != VE_OK) return fLastError;

    // Running short of data is expected here: whatever was read is used.
    uint8 lead[4] = {};
    size_t n = 0;
    VError error = GetData(lead, sizeof(lead), &n);
    if (error == VE_STREAM_EOF) {
        ResetLastError();
    } else if (error != VE_OK) {
        return SetCharSet(defaultCharSet);
    }

    CharSet guess = defaultCharSet;
    size_t markLength = 0;
    if (n >= 3 && lead[0] == 0xEF && lead[1] == 0xBB && lead[2] == 0xBF) {
        guess = VTC_UTF_8, markLength = 3;
    } else if (n == 4 && lead[0] == 0 && lead[1] == 0 && lead[2] == 0xFE && lead[3] == 0xFF) {
        guess = VTC_UTF_32_BigEndian, markLength = 4;
    } else if (n == 4 && lead[0] == 0xFF && lead[1] == 0xFE && lead[2] == 0 && lead[3] == 0) {
        guess = VTC_UTF_32_LittleEndian, markLength = 4;
    } else if (n >= 2 && lead[0] == 0xFE && lead[1] == 0xFF) {
        guess = VTC_UTF_16_BigEndian, markLength = 2;
    } else if (n >= 2 && lead[0] == 0xFF && lead[1] == 0xFE) {
        guess = VTC_UTF_16_LittleEndian, markLength = 2;
    }

    bool decided = markLength > 0;
    if (decided) {
        if (foundBOM != nullptr) *foundBOM = true;
    } else if (n == 4) {
        if (lead[0] == 0 && lead[1] != 0 && lead[2] == 0 && lead[3] != 0) {
            guess = VTC_UTF_16_BigEndian, decided = true;
        } else if (lead[0] != 0 && lead[1] == 0 && lead[2] != 0 && lead[3] == 0) {
            guess = VTC_UTF_16_LittleEndian, decided = true;
        } else if ((defaultCharSet == VTC_UTF_16_BigEndian || defaultCharSet == VTC_UTF_16_LittleEndian) &&
                   std::all_of(lead, lead + 4, [](uint8 b) { return b >= 1 && b <= 127; })) {
            guess = VTC_UTF_8;
        }
    }
    if (n > markLength) UngetData(lead + markLength, n - markLength);

    // A mark or a 16-bit pattern is evidence enough: their zero bytes would pass for UTF-8.
    if (detectUTF8 && !decided && fLastError == VE_OK) {
        int64 remaining = GetRemaining();
        size_t want = remaining <= 0 ? 0 : size_t(std::min<int64>(remaining, int64(kGuessBytes)));
        uint8 sample[kGuessBytes];
        size_t got = 0;
        if (want > 0 && GetData(sample, want, &got) == VE_STREAM_EOF) ResetLastError();
        if (got > 0) {
            size_t checked = got < size_t(remaining) ? WithoutCutUTF8Tail(sample, got) : got;
            if (VTextConverters::DetectUTF8(sample, int32(checked))) guess = VTC_UTF_8;
            UngetData(sample, got);
        }
    }
    return SetCharSet(guess);
}

// ---- Position and size

VError VStream::SetPos(int64 position) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading && !fIsWriting) return _SetError(VE_STREAM_NOT_OPENED);
    if (position < 0) return _SetError(VE_INVALID_PARAMETER);
    fLastError = DoSetPos(position);
    if (fLastError == VE_OK) fPosition = position;
    return fLastError;
}

VError VStream::SetPosByOffset(int64 offset) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading && !fIsWriting) return _SetError(VE_STREAM_NOT_OPENED);
    int64 position = 0;
    if (__builtin_add_overflow(fPosition, offset, &position) || position < 0) return _SetError(VE_INVALID_PARAMETER);
    fLastError = DoSetPos(position);
    if (fLastError == VE_OK) fPosition = position;
    return fLastError;
}

int64 VStream::GetSize() {
    return DoGetSize();
}

VError VStream::SetSize(int64 size) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsWriting) return _SetError(VE_STREAM_CANNOT_WRITE);
    if (size < 0) return _SetError(VE_INVALID_PARAMETER);
    fLastError = DoSetSize(size);
    if (fLastError == VE_OK && fPosition > size) fPosition = size;
    return fLastError;
}

VError VStream::Flush() {
    if (!fIsWriting) {
        _ThrowError(VE_STREAM_CANNOT_WRITE);
        return VE_STREAM_CANNOT_WRITE;
    }
    if (fLastError != VE_OK) return fLastError;
    fLastError = DoFlush();
    return fLastError;
}

// ---- Bytes

VError VStream::GetData(void* buffer, size_t count, size_t* outCount) {
    size_t n = count;
    VError error = GetData(buffer, &n);
    if (outCount != nullptr) *outCount = n;
    return error;
}

VError VStream::GetData(void* buffer, size_t* ioCount) {
    size_t asked = ioCount != nullptr ? *ioCount : 0;
    if (ioCount != nullptr) *ioCount = 0;
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    if (ioCount == nullptr || (buffer == nullptr && asked > 0)) return _SetError(VE_INVALID_PARAMETER);
    size_t delivered = asked;
    fLastError = DoGetData(buffer, &delivered);
    delivered = std::min(delivered, asked);
    fPosition += int64(delivered);
    *ioCount = delivered;
    if (fProgress != nullptr && delivered > 0) _ReportProgress();
    return fLastError;
}

VError VStream::PutData(const void* data, size_t count) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsWriting) return _SetError(VE_STREAM_CANNOT_WRITE);
    if (data == nullptr && count > 0) return _SetError(VE_INVALID_PARAMETER);
    fLastError = DoPutData(data, count);
    if (fLastError != VE_OK) return fLastError;
    fPosition += int64(count);
    if (fProgress != nullptr && count > 0) _ReportProgress();
    return fLastError;
}

VError VStream::UngetData(const void* data, size_t count) {
    if (fLastError != VE_OK) {
        if (fLastError != VE_STREAM_EOF || count == 0) return fLastError;
    } else if (count == 0) {
        return VE_OK;
    }
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    if (count > uint64(fPosition)) return _SetError(VE_STREAM_CANNOT_UNGET);
    fLastError = DoUngetData(data, count);
    if (fLastError == VE_OK) fPosition -= int64(count);
    return fLastError;
}

VError VStream::PutHexBytes(const char* bytes, size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count && fLastError == VE_OK; ++i) {
        uint8 byte = uint8(bytes[i]);
        if (PutByte(uint8(kDigits[byte >> 4])) == VE_OK) PutByte(uint8(kDigits[byte & 0x0F]));
    }
    return fLastError;
}

VError VStream::PutContentInto(VStream* destination) {
    if (destination == nullptr || destination == this) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    if (VError error = OpenReading(); error != VE_OK) return error;

    VError result = VE_OK;
    int64 size = GetSize();
    uint8 block[kCopyChunk];
    while (result == VE_OK && fPosition < size) {
        size_t want = size_t(std::min<int64>(size - fPosition, int64(kCopyChunk)));
        size_t got = 0;
        VError readError = GetData(block, want, &got);
        if (got > 0) result = destination->PutData(block, got);
        if (result == VE_OK) result = readError;
        if (result == VE_OK && got == 0) break; // a back end that delivers nothing must not spin
    }

    DoCloseReading();
    if (fProgressSessionOpen) _EndProgressSession();
    fIsReading = false;
    return result;
}

// ---- Typed values

// A scalar in the stream's byte order; 0 when the read fails.
template <class T> VError VStream::_GetScalar(T& value) {
    T read = 0;
    size_t n = 0;
    if (GetData(&read, sizeof(read), &n) == VE_OK)
        value = fNeedSwap ? Swapped(read) : read;
    else
        value = 0;
    return fLastError;
}

template <class T> VError VStream::_PutScalar(T value) {
    if (fNeedSwap) value = Swapped(value);
    return PutData(&value, sizeof(value));
}

VError VStream::GetWord(uint16& value) {
    return _GetScalar(value);
}

VError VStream::GetWord(int16& value) {
    uint16 read = 0;
    GetWord(read);
    value = int16(read);
    return fLastError;
}

VError VStream::GetLong(uint32& value) {
    return _GetScalar(value);
}

VError VStream::GetLong(int32& value) {
    uint32 read = 0;
    GetLong(read);
    value = int32(read);
    return fLastError;
}

VError VStream::GetLong8(int64& value) {
    return _GetScalar(value);
}

VError VStream::GetReal(double& value) {
    return _GetScalar(value);
}

VError VStream::_ReadElements(void* values, int32* ioCount, size_t elementSize) {
    int32 count = ioCount != nullptr ? *ioCount : 0;
    if (ioCount != nullptr) *ioCount = 0;
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    size_t bytes = 0;
    if (ioCount == nullptr || count < 0 || __builtin_mul_overflow(size_t(count), elementSize, &bytes) ||
        (values == nullptr && bytes > 0))
        return _SetError(VE_INVALID_PARAMETER);

    size_t got = 0;
    GetData(values, bytes, &got);
    size_t whole = got / elementSize;
    if (fNeedSwap) SwapElements(values, whole, elementSize);
    *ioCount = int32(whole);
    return fLastError;
}

VError VStream::GetWords(int16* values, int32* ioCount) {
    return _ReadElements(values, ioCount, sizeof(int16));
}
VError VStream::GetLongs(int32* values, int32* ioCount) {
    return _ReadElements(values, ioCount, sizeof(int32));
}
VError VStream::GetLong8s(int64* values, int32* ioCount) {
    return _ReadElements(values, ioCount, sizeof(int64));
}
VError VStream::GetReals(double* values, int32* ioCount) {
    return _ReadElements(values, ioCount, sizeof(double));
}

VError VStream::PutWord(int16 value) {
    return _PutScalar(value);
}

VError VStream::PutLong(int32 value) {
    return _PutScalar(value);
}

VError VStream::PutLong8(int64 value) {
    return _PutScalar(value);
}

VError VStream::PutReal(double value) {
    return _PutScalar(value);
}

VError VStream::_WriteElements(const void* values, int32 count, size_t elementSize) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsWriting) return _SetError(VE_STREAM_CANNOT_WRITE);
    size_t bytes = 0;
    if (count < 0 || __builtin_mul_overflow(size_t(count), elementSize, &bytes) || (values == nullptr && bytes > 0))
        return _SetError(VE_INVALID_PARAMETER);
    if (!fNeedSwap || bytes == 0) return PutData(values, bytes);

    // The caller's block is left as it is: the swapped copy is what gets written.
    void* copy = VMemory::NewPtr(bytes, kSwapTag);
    if (copy == nullptr) return _SetError(VE_MEMORY_FULL);
    std::memcpy(copy, values, bytes);
    SwapElements(copy, size_t(count), elementSize);
    PutData(copy, bytes);
    VMemory::DisposePtr(copy);
    return fLastError;
}

VError VStream::PutWords(const int16* values, int32 count) {
    return _WriteElements(values, count, sizeof(int16));
}
VError VStream::PutLongs(const int32* values, int32 count) {
    return _WriteElements(values, count, sizeof(int32));
}
VError VStream::PutLong8s(const int64* values, int32 count) {
    return _WriteElements(values, count, sizeof(int64));
}
VError VStream::PutReals(const double* values, int32 count) {
    return _WriteElements(values, count, sizeof(double));
}

VError VStream::PutValue(const VValue& value, bool withKind) {
    if (withKind && PutWord(int16(value.GetTrueValueKind())) != VE_OK) return fLastError;
    value.WriteToStream(this, 0);
    return fLastError;
}

VValue* VStream::GetValue() {
    uint16 kind = 0;
    if (GetWord(kind) != VE_OK) return nullptr;
    VValue* value = VValue::NewValueFromValueKind(kind);
    if (value != nullptr) value->ReadFromStream(this, 0);
    return value;
}

// ---- Text

VError VStream::WriteBOM() {
    static constexpr uint8 kUTF16BE[] = {0xFE, 0xFF};
    static constexpr uint8 kUTF16LE[] = {0xFF, 0xFE};
    static constexpr uint8 kUTF32BE[] = {0x00, 0x00, 0xFE, 0xFF};
    static constexpr uint8 kUTF32LE[] = {0xFF, 0xFE, 0x00, 0x00};
    static constexpr uint8 kUTF8[] = {0xEF, 0xBB, 0xBF};
    const uint8* mark = nullptr;
    size_t length = 0;
    switch (fCharSet) {
    case VTC_UTF_16_BigEndian:
        mark = kUTF16BE, length = sizeof(kUTF16BE);
        break;
    case VTC_UTF_16_LittleEndian:
        mark = kUTF16LE, length = sizeof(kUTF16LE);
        break;
    case VTC_UTF_32_BigEndian:
        mark = kUTF32BE, length = sizeof(kUTF32BE);
        break;
    case VTC_UTF_32_LittleEndian:
        mark = kUTF32LE, length = sizeof(kUTF32LE);
        break;
    case VTC_UTF_8:
        mark = kUTF8, length = sizeof(kUTF8);
        break;
    default:
        break;
    }
    for (size_t i = 0; i < length && fLastError == VE_OK; ++i)
        PutByte(mark[i]);
    return fLastError;
}

VError VStream::_PutUnits(const UniChar* units, int32 count) {
    if (count <= 0) return fLastError;
    // A text that cannot be converted whole is not written in part.
    VMemoryBuffer<1024, 2, 1048576> bytes;
    if (!fFromUnicode->ConvertToBuffer(units, count, bytes, 0)) return _SetError(VE_STREAM_TEXT_CONVERSION_FAILURE);
    return PutData(bytes.GetDataPtr(), bytes.GetDataSize());
}

VError VStream::PutText(const VString& text) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsWriting) return _SetError(VE_STREAM_CANNOT_WRITE);
    if (fFromUnicode == nullptr) return _SetError(VE_STREAM_NO_TEXT_CONVERTER);

    const UniChar* units = text.GetCPointer();
    int32 count = text.GetLength();
    if (fCRMode == eCRM_NATIVE || !HasLineEnd(units, count)) return _PutUnits(units, count);

    // Line ends rewritten into a bounded window, converted and written a window at a time; a window never
    // ends between the two halves of a surrogate pair.
    UniChar out[kTextOutUnits + 2];
    int32 used = 0;
    for (int32 i = 0; i < count && fLastError == VE_OK; ++i) {
        UniChar c = units[i];
        if (c == kCR || c == kLF) {
            if (c == kCR && i + 1 < count && units[i + 1] == kLF) ++i;
            if (fCRMode == eCRM_CRLF || fCRMode == eCRM_CR) out[used++] = kCR;
            if (fCRMode == eCRM_CRLF || fCRMode == eCRM_LF) out[used++] = kLF;
        } else {
            out[used++] = c;
        }
        if (used >= kTextOutUnits) {
            int32 cut = (out[used - 1] & 0xFC00) == 0xD800 ? used - 1 : used;
            _PutUnits(out, cut);
            std::memmove(out, out + cut, size_t(used - cut) * sizeof(UniChar));
            used -= cut;
        }
    }
    if (fLastError == VE_OK) _PutUnits(out, used);
    return fLastError;
}

VError VStream::PutPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    VError error = PutVPrintf(format, args);
    va_end(args);
    return error;
}

VError VStream::PutVPrintf(const char* format, va_list args) {
    if (fLastError != VE_OK) return fLastError;
    VString text;
    text.VPrintf(format, args);
    return PutText(text);
}

VError VStream::GetText(VString& text) {
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    if (fToUnicode == nullptr) return _SetError(VE_STREAM_NO_TEXT_CONVERTER);

    _ResumeDecoding();
    uint8 block[kTextChunk];
    size_t held = 0;
    int64 size = GetSize();
    for (;;) {
        int64 left = size - fPosition;
        size_t want = left <= 0 ? 0 : size_t(std::min<int64>(left, int64(kTextChunk - held)));
        size_t got = 0;
        if (want > 0 && GetData(block + held, want, &got) == VE_STREAM_EOF) ResetLastError();
        held += got;
        if (fLastError != VE_OK) return fLastError;
        if (held == 0) break;

        size_t consumed = 0;
        fToUnicode->ConvertString(block, held, &consumed, text);
        consumed = std::min(consumed, held);
        std::memmove(block, block + consumed, held - consumed);
        held -= consumed;
        if (consumed == 0 || fPosition >= size) break;
    }
    fDecodedTo = fPosition;
    if (held > 0) return _SetConversionError();
    return fLastError;
}

void VStream::_ResumeDecoding() {
    if (fPosition != fDecodedTo) fToUnicode->Reset();
    fDecodedTo = -1;
}

VError VStream::GetText(VString& text, int32 count, bool acceptMore) {
    if (count < 1 || fLastError != VE_OK) return fLastError;
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    if (fToUnicode == nullptr) return _SetError(VE_STREAM_NO_TEXT_CONVERTER);
    if (fCharSet == VTC_UTF_16_BigEndian || fCharSet == VTC_UTF_16_LittleEndian) return _GetUTF16Text(text, count);
    _ResumeDecoding();
    VError result = _GetDecodedText(text, count, acceptMore);
    fDecodedTo = fPosition;
    return result;
}

VError VStream::_GetUTF16Text(VString& text, int32 count) {
    // Room is made for what the stream can still give, not for a count that may come from damaged data.
    int64 left = std::max<int64>(GetRemaining(), 0);
    size_t wanted = size_t(std::min<int64>(int64(count) * 2, left));
    int32 old = text.GetLength();
    int64 room = int64(old) + int64((wanted + 1) / 2);
    UniChar* buffer = room > VString::kMaxLength ? nullptr : text.GetCPointerForWrite(int32(room));
    if (buffer == nullptr) return _SetError(VE_MEMORY_FULL);

    uint8* bytes = reinterpret_cast<uint8*>(buffer + old);
    size_t got = 0;
    GetData(bytes, wanted, &got);
    if (got % 2 != 0) UngetData(bytes + got - 1, 1);
    int32 units = int32(got / 2);
    if (fCharSet == VTC_UTF_16_BigEndian) SwapElements(buffer + old, size_t(units), 2);
    text.Validate(old + units);
    if (units < count && fLastError == VE_OK) return _SetError(VE_STREAM_EOF);
    return fLastError;
}

VError VStream::_GetDecodedText(VString& text, int32 count, bool acceptMore) {
    // The decoder carries a state from byte to byte (a shift, a base64 run, a cut character), so it sees each
    // byte once and in order and nothing it took is given back. A new byte completes at most one character of
    // at most two units, so new bytes for half the units missing cannot pass the count; only a damaged
    // sequence, whose substitute comes with the character after it, can.
    uint8 window[kCountedWindow];
    UniChar units[kCountedWindow * 2 + 8];
    constexpr int32 kUnitRoom = int32(sizeof(units) / sizeof(units[0]));
    size_t held = 0;    // bytes read that the decoder has not taken
    size_t pending = 0; // of them, the first ones it was last handed (a character they begin)
    int32 missing = count;
    bool atEnd = false;
    while (missing > 0) {
        if (!atEnd && held < kCountedWindow) {
            size_t want = std::min(kCountedWindow - held, size_t(missing) * 2 + 10);
            size_t got = 0;
            if (GetData(window + held, want, &got) == VE_STREAM_EOF) {
                ResetLastError();
                atEnd = true;
            }
            if (got == 0) atEnd = true; // a back end that delivers nothing must not spin
            held += got;
            if (fLastError != VE_OK) return fLastError;
        }
        if (held == 0) break;

        size_t offered = acceptMore ? held : std::min(held, pending + std::max<size_t>(size_t(missing) / 2, 1));
        size_t consumed = 0;
        int32 produced = 0;
        fToUnicode->Convert(window, offered, &consumed, units, kUnitRoom, &produced);
        consumed = std::min(consumed, offered);
        text.AppendUniChars(units, produced);
        missing -= produced;
        std::memmove(window, window + consumed, held - consumed);
        held -= consumed;
        pending = offered - consumed;
        if (consumed == 0 && produced == 0 && pending == held && (atEnd || held == kCountedWindow))
            return _SetConversionError();
    }
    if (held > 0) UngetData(window, held);
    if (missing > 0 && fLastError == VE_OK) fLastError = VE_STREAM_EOF; // fewer characters than asked
    return fLastError;
}

VError VStream::GetTextLine(VString& line, bool keepEndOfLine, const UniChar* endOfLine) {
    line.Clear();
    if (fLastError != VE_OK) return fLastError;
    if (!fIsReading) return _SetError(VE_STREAM_CANNOT_READ);
    if (fToUnicode == nullptr) return _SetError(VE_STREAM_NO_TEXT_CONVERTER);
    _ResumeDecoding();
    VError result = _GetTextLine(line, keepEndOfLine, endOfLine);
    fDecodedTo = fPosition;
    return result;
}

VError VStream::GetTTRLine(VArrayString& fields) {
    fields.Clear();
    VString line;
    VError result = GetTextLine(line, false, nullptr);
    if (result != VE_OK && result != VE_STREAM_EOF) return result;
    const UniChar* units = line.GetCPointer();
    VString field;
    int32 begin = 0;
    for (int32 i = 0; i <= line.GetLength(); ++i) {
        if (i < line.GetLength() && units[i] != u'\t') continue;
        field.FromUniString(units + begin, i - begin);
        fields.AppendString(field);
        begin = i + 1;
    }
    return result;
}

VError VStream::_GetTextLine(VString& line, bool keepEndOfLine, const UniChar* endOfLine) {
    const size_t unit = LineUnitSize(fCharSet);
    const bool bigEndian = IsBigEndianSet(fCharSet);
    // A byte-wise match is only sound for ASCII terminators: other values are parts of longer sequences.
    if (endOfLine != nullptr && unit == 1 && *endOfLine >= 0x80) return _SetError(VE_INVALID_PARAMETER);
    auto isEnd = [&](uint32 c) {
        if (endOfLine == nullptr) return c == kCR || c == kLF;
        return c == *endOfLine || (unit > 1 && c == kLF);
    };

    const size_t chunk = unit == 1 ? kLineChunk : kWideLineChunk;
    uint8 buffer[kWideLineChunk + 8];
    VMemoryBuffer<1024, 2, 1048576> lineBytes; // the line so far when it spans chunks
    size_t held = 0;                           // bytes carried over: a cut unit, or a CR awaiting its LF
    bool anyByte = false;

    auto appendBytes = [&](const uint8* bytes, size_t n) { return n == 0 || lineBytes.AddData(bytes, n); };
    // The bytes of the line end (endBytes of the n) are decoded with the line, so that the decoder's state
    // follows the stream (a line end closes a shift or a base64 run), then dropped; a substitute character
    // that the end completed belongs to the line and stays.
    auto finish = [&](const uint8* bytes, size_t n, size_t endBytes, uint32 ender, bool ended) -> VError {
        const uint8* source = bytes;
        if (lineBytes.GetDataSize() > 0) {
            if (!appendBytes(bytes, n)) return _SetError(VE_MEMORY_FULL);
            source = static_cast<const uint8*>(lineBytes.GetDataPtr());
            n = lineBytes.GetDataSize();
        }
        size_t consumed = 0;
        if (n > 0) fToUnicode->ConvertString(source, n, &consumed, line);
        if (consumed < n) return _SetConversionError();
        int32 length = line.GetLength();
        for (size_t k = 0; k < endBytes / unit && length > 0 && line.GetUniChar(length) != 0xFFFD; ++k)
            --length;
        line.Truncate(length);
        if (keepEndOfLine) line.AppendUniChar(!ended || ender == kLF ? kCR : UniChar(ender));
        return fLastError;
    };

    for (;;) {
        size_t got = 0;
        bool atEnd = false;
        if (GetData(buffer + held, chunk, &got) == VE_STREAM_EOF) {
            ResetLastError();
            atEnd = true;
        }
        if (fLastError != VE_OK) return fLastError;
        if (got == 0) atEnd = true; // a back end that delivers nothing ends the line
        anyByte = anyByte || got > 0;
        size_t total = held + got;
        size_t whole = total - total % unit;

        size_t carryFrom = total;
        for (size_t i = 0; i < whole && carryFrom == total; i += unit) {
            uint32 c = UnitAt(buffer + i, unit, bigEndian);
            if (!isEnd(c)) continue;
            size_t after = i + unit;
            if (c == kCR && endOfLine == nullptr) {
                if (after >= whole && !atEnd) { // its LF, if any, comes with the next read
                    carryFrom = i;
                    continue;
                }
                if (after < whole && UnitAt(buffer + after, unit, bigEndian) == kLF) after += unit;
            }
            UngetData(buffer + after, total - after);
            if (fLastError != VE_OK) return fLastError;
            return finish(buffer, after, after - i, c, true);
        }

        if (atEnd) {
            if (!anyByte) {
                fLastError = VE_STREAM_EOF;
                return fLastError;
            }
            return finish(buffer, total, 0, 0, false);
        }
        size_t keep = carryFrom < total ? carryFrom : whole;
        if (!appendBytes(buffer, keep)) return _SetError(VE_MEMORY_FULL);
        held = total - keep;
        std::memmove(buffer, buffer + keep, held);
    }
}

} // namespace vela
