#pragma once

#include "core/CharSet.h"
#include "core/VError.h"
#include "core/VObject.h"

#include <cstdarg>

namespace vela {

class VArrayString;
class VProgressIndicator;
class VString;
class VValue;
class VToUnicodeConverter;
class VFromUnicodeConverter;

// What a stream keeps its bytes in, for callers that can use them directly.
struct VStreamUnderlyingData {
    int32 fKind = 0; // 0 none, 1 a memory block
    const void* fData = nullptr;
    size_t fSize = 0;
};

// A positioned byte source or sink: open for reading or for writing, with a sticky last error (once set,
// every operation answers it and does nothing), a byte-order swap flag for typed values, and a character
// set for text. Failures are stored as the last error and raised.
class VStream : public VObject {
public:
    VStream() noexcept = default;
    ~VStream() override;
    VStream(const VStream&) = delete;
    VStream& operator=(const VStream&) = delete;

    // ---- State
    VError OpenReading();
    // Opens, then reads a 32-bit signature; the signature in the other byte order sets the swap flag. Any
    // other value rewinds to 0 and answers 207, the stream staying open.
    VError OpenReading(uint32 signature);
    VError OpenWriting();
    VError CloseReading();
    // Flushes (unless an error is pending) and closes; setSize lets the back end cut the store at the position.
    VError CloseWriting(bool setSize = true);
    bool IsReading() const noexcept { return fIsReading; }
    bool IsWriting() const noexcept { return fIsWriting; }
    void SetReadOnly(bool readOnly) noexcept { fIsReadOnly = readOnly; }
    void SetWriteOnly(bool writeOnly) noexcept { fIsWriteOnly = writeOnly; }

    VError GetLastError() const noexcept { return fLastError; }
    // Clears or replaces the sticky error (error contexts that hide end of data use it).
    void ResetLastError(VError error = VE_OK) noexcept { fLastError = error; }

    void SetNeedSwap(bool swap) noexcept { fNeedSwap = swap; }
    bool NeedSwap() const noexcept { return fNeedSwap; }
    void SetBigEndian() noexcept { fNeedSwap = true; }
    void SetLittleEndian() noexcept { fNeedSwap = false; }

    VError SetCharSet(CharSet charSet);
    CharSet GetCharSet() const noexcept { return fCharSet; }
    void SetCarriageReturnMode(ECarriageReturnMode mode) noexcept { fCRMode = mode; }
    ECarriageReturnMode GetCarriageReturnMode() const noexcept { return fCRMode; }
    // Reads a byte-order mark (consumed) or guesses from the leading bytes (ungot), then sets the charset.
    VError GuessCharSetFromLeadingBytes(CharSet defaultCharSet, bool detectUTF8 = false, bool* foundBOM = nullptr);

    // ---- Progress
    // Reports the stream's transfers to indicator (retained; null: none): each opening begins a session (reading:
    // up to the size; writing: undetermined), each read or write reports the position reached, and closing ends
    // the session. A report answered false stops the transfer with 206. Set while open, the session moves to the
    // new indicator.
    void SetProgressIndicator(VProgressIndicator* indicator);
    VProgressIndicator* GetProgressIndicator() const noexcept { return fProgress; }

    // ---- Position and size
    int64 GetPos() const noexcept { return fPosition; }
    VError SetPos(int64 position);
    VError SetPosByOffset(int64 offset);
    int64 GetSize();
    VError SetSize(int64 size);
    VError Flush();
    // Bytes left between the position and the end.
    int64 GetRemaining() { return GetSize() - fPosition; }

    // ---- Bytes
    VError GetData(void* buffer, size_t count, size_t* outCount = nullptr);
    VError GetData(void* buffer, size_t* ioCount);
    VError PutData(const void* data, size_t count);
    // Steps back over bytes already read so they are read again; clears a pending end of data.
    VError UngetData(const void* data, size_t count);
    VError PutByte(uint8 byte) { return PutData(&byte, 1); }
    VError PutHexBytes(const char* bytes, size_t count);
    VError PutContentInto(VStream* destination);

    // ---- Typed values (the swap flag applies; counts are in elements)
    VError GetByte(uint8& value) { return GetData(&value, 1); }
    VError GetWord(uint16& value);
    VError GetWord(int16& value);
    VError GetLong(int32& value);
    VError GetLong(uint32& value);
    VError GetLong8(int64& value);
    VError GetReal(double& value);
    VError GetWords(int16* values, int32* ioCount);
    VError GetWords(UniChar* values, int32* ioCount) { return GetWords(reinterpret_cast<int16*>(values), ioCount); }
    VError GetLongs(int32* values, int32* ioCount);
    VError GetLong8s(int64* values, int32* ioCount);
    VError GetReals(double* values, int32* ioCount);
    VError PutWord(int16 value);
    VError PutLong(int32 value);
    VError PutLong8(int64 value);
    VError PutReal(double value);
    VError PutWords(const int16* values, int32 count);
    VError PutWords(const UniChar* values, int32 count) {
        return PutWords(reinterpret_cast<const int16*>(values), count);
    }
    VError PutLongs(const int32* values, int32 count);
    VError PutLong8s(const int64* values, int32 count);
    VError PutReals(const double* values, int32 count);
    // Writes the 16-bit kind (when asked), then the value's stream form.
    VError PutValue(const VValue& value, bool withKind = true);
    // Reads a kind and a value of that kind, owned by the caller; null on failure or unknown kind.
    VValue* GetValue();

    // ---- Text
    VError WriteBOM();
    // The text in the stream's character set.
    VError PutText(const VString& text);
    // Formats like VString::Printf (%S, %A and %V included), then writes the text with PutText.
    VError PutPrintf(const char* format, ...);
    VError PutVPrintf(const char* format, va_list args);
    // Appends everything left, decoded.
    VError GetText(VString& text);
    // Appends count characters; with acceptMore, a read that decodes to more characters is kept whole. A pair
    // is never cut, and a damaged sequence may bring the character after its substitute along: the decoder
    // takes each byte once, so nothing is lost or read twice.
    VError GetText(VString& text, int32 count, bool acceptMore = false);
    // One line without its end (CR, LF or CR LF; or endOfLine), kept at its end as CR with keepEndOfLine.
    VError GetTextLine(VString& line, bool keepEndOfLine = false, const UniChar* endOfLine = nullptr);
    // fields is emptied, then receives the tab-separated fields of one line (n tabs give n + 1 fields); answers
    // the line's result (200 at the end of the stream, with the fields of a last line without end).
    VError GetTTRLine(VArrayString& fields);

protected:
    // ---- Back end: work at the position (fPosition), do not move it, answer 0 or a code.
    virtual VStreamUnderlyingData GetUnderlyingData() const { return {}; }
    virtual VError DoOpenReading() { return VE_OK; }
    virtual VError DoOpenWriting() { return VE_OK; }
    virtual VError DoCloseReading() { return VE_OK; }
    virtual VError DoCloseWriting(bool) { return VE_OK; }
    virtual VError DoPutData(const void* data, size_t count) = 0;
    // Sets *ioCount to the bytes delivered and answers end of data (200) when fewer were available.
    virtual VError DoGetData(void* buffer, size_t* ioCount) = 0;
    virtual VError DoUngetData(const void*, size_t) { return VE_OK; }
    virtual int64 DoGetSize() = 0;
    virtual VError DoSetSize(int64 size) = 0;
    virtual VError DoSetPos(int64) { return VE_OK; }
    virtual VError DoFlush() { return VE_OK; }

    // Stores and raises a failure; answers it.
    VError _SetError(VError error);

    int64 fPosition = 0;
    bool fIsWritten = false;

public:
    VStreamUnderlyingData GetUnderlyingDataInfo() const { return GetUnderlyingData(); }

private:
    template <class T> VError _GetScalar(T& value);
    template <class T> VError _PutScalar(T value);
    VError _ReadElements(void* values, int32* ioCount, size_t elementSize);
    VError _WriteElements(const void* values, int32 count, size_t elementSize);
    void _ReleaseConverters() noexcept;
    VError _PutUnits(const UniChar* units, int32 count);
    VError _GetUTF16Text(VString& text, int32 count);
    VError _GetDecodedText(VString& text, int32 count, bool acceptMore);
    VError _GetTextLine(VString& line, bool keepEndOfLine, const UniChar* endOfLine);
    VError _SetConversionError();
    // Starts the decoder afresh unless the read goes on where the last text read stopped.
    void _ResumeDecoding();
    // The progress calls, defined beside the indicator (system/VStreamProgress.cpp): files cannot see it.
    void _BeginProgressSession();
    void _EndProgressSession();
    VError _ReportProgress();
    void _ReleaseProgress() noexcept;

    bool fIsReading = false;
    bool fIsWriting = false;
    bool fIsReadOnly = false;
    bool fIsWriteOnly = false;
    bool fNeedSwap = false;
    VError fLastError = VE_OK;
    CharSet fCharSet = VTC_SystemDefault;
    ECarriageReturnMode fCRMode = eCRM_LF;
    VToUnicodeConverter* fToUnicode = nullptr;
    VFromUnicodeConverter* fFromUnicode = nullptr;
    VProgressIndicator* fProgress = nullptr;
    // Whether this stream has a session open on fProgress.
    bool fProgressSessionOpen = false;
    // Where the decoder's state (a shift, a cut character) belongs: the position after the last text read,
    // -1 when the decoder has seen nothing of this opening.
    int64 fDecodedTo = -1;
};

} // namespace vela
