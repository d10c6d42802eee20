// Reads arbitrary bytes as stream text (the first byte picks the character set, or a guess from the leading
// bytes and their byte-order mark; the second the count of characters per read): never crashes, never reads
// out of bounds. The text read whole equals the text read by counts, each count giving what it asks; text of an
// ASCII-based set that writes back to the very bytes it came from reads the same line by line; and well-formed
// text of a Unicode set writes back and reads again equal.
#include "core/VString.h"
#include "files/VPtrStream.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr CharSet kCharSets[] = {
    VTC_UTF_8,
    VTC_UTF_16_BigEndian,
    VTC_UTF_16_LittleEndian,
    VTC_UTF_32_BigEndian,
    VTC_UTF_32_LittleEndian,
    VTC_UTF_7,
    VTC_ISO2022JP,
    VTC_ShiftJIS,
    VTC_GBK,
    VTC_Big5,
    VTC_EUC_KR,
    VTC_Win1252,
    VTC_EBCDIC_037,
    VTC_US_ASCII,
    VTC_MacRoman,
    VTC_Windows31J,
};
constexpr size_t kSetCount = sizeof(kCharSets) / sizeof(kCharSets[0]);

bool IsUnicodeSet(CharSet charSet) {
    return charSet == VTC_UTF_8 || charSet == VTC_UTF_16_BigEndian || charSet == VTC_UTF_16_LittleEndian ||
           charSet == VTC_UTF_32_BigEndian || charSet == VTC_UTF_32_LittleEndian;
}

bool IsWellFormed(const VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    for (int32 i = 0; i < length; ++i) {
        bool high = (units[i] & 0xFC00) == 0xD800, low = (units[i] & 0xFC00) == 0xDC00;
        if (low) return false;
        if (high && (i + 1 == length || (units[++i] & 0xFC00) != 0xDC00)) return false;
    }
    return true;
}

struct Plan {
    CharSet charSet;
    bool guess;
    bool detectUTF8;
    int32 count;
};

// A reader positioned at the text: after the byte-order mark when the set is guessed.
std::unique_ptr<VConstPtrStream> Open(const uint8_t* data, size_t size, const Plan& plan) {
    auto stream = std::make_unique<VConstPtrStream>(data, size);
    Check(stream->OpenReading() == VE_OK);
    if (plan.guess) {
        bool foundBOM = false;
        stream->GuessCharSetFromLeadingBytes(plan.charSet, plan.detectUTF8, &foundBOM);
    } else {
        stream->SetCharSet(plan.charSet);
    }
    return stream;
}

// GetText by counts until it stops; false when it stopped on anything but the end of the data.
bool ReadByCounts(VStream& stream, int32 count, VString& all) {
    for (;;) {
        VString piece;
        VError error = stream.GetText(piece, count);
        if (error == VE_OK) {
            // A count never cuts a surrogate pair, so one more unit may come with it; and a damaged sequence
            // may bring the character after its substitute along.
            int32 length = piece.GetLength();
            bool pairKeptWhole = length == count + 1 && (piece.GetUniChar(length) & 0xFC00) == 0xDC00;
            bool damaged = piece.FindUniChar(0xFFFD) > 0 || piece.FindUniChar(0x1A) > 0;
            Check(length == count || pairKeptWhole || (length > count && damaged));
        }
        all.AppendString(piece);
        if (error != VE_OK) return error == VE_STREAM_EOF;
    }
}

// The lines with their ends kept (each end given as CR), joined.
bool ReadByLines(VStream& stream, VString& all) {
    for (int32 lines = 0;; ++lines) {
        VString line;
        VError error = stream.GetTextLine(line, true);
        if (error != VE_OK) return error == VE_STREAM_EOF;
        Check(!line.IsEmpty() && line.GetUniChar(line.GetLength()) == 13);
        all.AppendString(line);
    }
}

// The text as GetTextLine with kept ends gives it: CR LF, LF and a last end of the data become CR.
VString AsLines(const VString& text) {
    VString out;
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    for (int32 i = 0; i < length; ++i) {
        if (units[i] == 13 && i + 1 < length && units[i + 1] == 10) ++i;
        out.AppendUniChar(units[i] == 10 ? 13 : units[i]);
    }
    if (!out.IsEmpty() && out.GetUniChar(out.GetLength()) != 13) out.AppendUniChar(13);
    return out;
}

bool WritesBack(const VString& text, CharSet charSet, VPtrStream& written) {
    written.SetCharSet(charSet);
    written.SetCarriageReturnMode(eCRM_NATIVE);
    if (written.OpenWriting() != VE_OK) return false;
    bool ok = written.PutText(text) == VE_OK;
    written.CloseWriting();
    return ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Plan plan{kCharSets[data[0] % kSetCount], (data[0] & 0x80) != 0, (data[0] & 0x40) != 0, 1 + (data[1] & 0x1F)};
    data += 2;
    size -= 2;

    auto whole = Open(data, size, plan);
    CharSet charSet = whole->GetCharSet();
    int64 start = whole->GetPos();
    VString text;
    VError wholeError = whole->GetText(text);

    auto counted = Open(data, size, plan);
    VString byCounts;
    bool countsEnded = ReadByCounts(*counted, plan.count, byCounts);
    if (wholeError == VE_OK) {
        Check(countsEnded);
        Check(byCounts == text && byCounts.GetLength() == text.GetLength());
    }

    // Text that is the exact decoding of its bytes also reads the same line by line.
    VPtrStream written;
    bool writable = WritesBack(text, charSet, written);
    size_t textBytes = size - size_t(start);
    bool exact = wholeError == VE_OK && writable && written.GetDataSize() == textBytes &&
                 (textBytes == 0 || std::memcmp(written.GetDataPtr(), data + start, textBytes) == 0);
    // Lines end at the bytes of CR and LF, which only ASCII-based sets give as those characters.
    if (exact && charSet != VTC_EBCDIC_037) {
        auto lined = Open(data, size, plan);
        VString byLines;
        Check(ReadByLines(*lined, byLines));
        VString expected = AsLines(text);
        Check(byLines == expected && byLines.GetLength() == expected.GetLength());
    }

    // Unicode sets hold any well-formed text: what was read writes back and reads again equal. (Lenient UTF-8
    // decodes encoded surrogates, which its encoder pairs with a low half that follows.)
    if (wholeError == VE_OK && IsUnicodeSet(charSet) && IsWellFormed(text)) {
        Check(writable);
        Plan again{charSet, false, false, plan.count};
        auto back = Open(static_cast<const uint8_t*>(written.GetDataPtr()), written.GetDataSize(), again);
        VString reread;
        Check(back->GetText(reread) == VE_OK);
        Check(reread == text && reread.GetLength() == text.GetLength());
    }
    return 0;
}
