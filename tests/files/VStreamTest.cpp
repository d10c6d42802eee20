#include "files/VStream.h"

#include "core/VString.h"
#include "files/VPtrStream.h"
#include "support/RecordingRaiser.h"
#include "values/VArrayString.h"
#include "values/VValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vela {
namespace {

constexpr VError kSomeWriteError = MakeVError(FourCC("POSX"), 28);

std::string Contents(const VPtrStream& stream) {
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// A reader over a copy of bytes, opened in the given character set.
std::unique_ptr<VPtrStream> Reader(const std::string& bytes, CharSet charSet = VTC_UTF_8) {
    auto stream = std::make_unique<VPtrStream>(bytes.data(), bytes.size());
    EXPECT_EQ(stream->SetCharSet(charSet), VE_OK);
    EXPECT_EQ(stream->OpenReading(), VE_OK);
    return stream;
}

std::unique_ptr<VPtrStream> Writer(CharSet charSet = VTC_UTF_8) {
    auto stream = std::make_unique<VPtrStream>();
    EXPECT_EQ(stream->SetCharSet(charSet), VE_OK);
    EXPECT_EQ(stream->OpenWriting(), VE_OK);
    return stream;
}

std::string UTF16(const std::u16string& text, bool bigEndian) {
    std::string bytes;
    for (char16_t c : text) {
        char high = char(c >> 8), low = char(c & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string UTF32LE(const std::u32string& text) {
    std::string bytes;
    for (char32_t c : text)
        for (int shift = 0; shift < 32; shift += 8)
            bytes += char((c >> shift) & 0xFF);
    return bytes;
}

// A memory stream whose writes can be made to fail and whose flushes are counted.
class FaultyStream : public VPtrStream {
public:
    VError fPutError = VE_OK;
    int fFlushes = 0;

protected:
    VError DoPutData(const void* data, size_t count) override {
        return fPutError != VE_OK ? fPutError : VPtrStream::DoPutData(data, count);
    }
    VError DoFlush() override {
        ++fFlushes;
        return VE_OK;
    }
};

// ---- State

TEST(VStreamState, LastErrorIsStickyForEveryOperation) {
    using Operation = std::function<VError(VStream&)>;
    struct Case {
        const char* name;
        Operation operation;
    };
    std::vector<Case> cases = {
        {"GetData",
         [](VStream& s) {
             char b[2];
             return s.GetData(b, 2);
         }},
        {"GetLong",
         [](VStream& s) {
             int32 v = 0;
             return s.GetLong(v);
         }},
        {"GetLongs",
         [](VStream& s) {
             int32 v[2];
             int32 n = 2;
             return s.GetLongs(v, &n);
         }},
        {"SetPos", [](VStream& s) { return s.SetPos(0); }},
        {"SetPosByOffset", [](VStream& s) { return s.SetPosByOffset(-1); }},
        {"UngetData", [](VStream& s) { return s.UngetData("x", 0); }},
        {"SetCharSet", [](VStream& s) { return s.SetCharSet(VTC_UTF_16_BigEndian); }},
        {"GetText",
         [](VStream& s) {
             VString t;
             return s.GetText(t);
         }},
        {"GetTextCount",
         [](VStream& s) {
             VString t;
             return s.GetText(t, 1);
         }},
        {"GetTextLine",
         [](VStream& s) {
             VString t;
             return s.GetTextLine(t);
         }},
        {"Guess", [](VStream& s) { return s.GuessCharSetFromLeadingBytes(VTC_UTF_16_BigEndian); }},
    };
    for (const Case& c : cases) {
        auto stream = Reader("abcdef");
        char all[6];
        ASSERT_EQ(stream->GetData(all, sizeof(all)), VE_OK);
        ASSERT_EQ(stream->SetPosByOffset(-10), VE_INVALID_PARAMETER);
        EXPECT_EQ(c.operation(*stream), VE_INVALID_PARAMETER) << c.name;
        EXPECT_EQ(stream->GetPos(), 6) << c.name;
        EXPECT_EQ(stream->GetCharSet(), VTC_UTF_8) << c.name;
        EXPECT_EQ(stream->GetLastError(), VE_INVALID_PARAMETER) << c.name;
    }

    std::vector<Case> writes = {
        {"PutData", [](VStream& s) { return s.PutData("xy", 2); }},
        {"PutLong", [](VStream& s) { return s.PutLong(7); }},
        {"PutWords",
         [](VStream& s) {
             int16 w[2] = {1, 2};
             return s.PutWords(w, 2);
         }},
        {"PutText", [](VStream& s) { return s.PutText(VString("text")); }},
        {"WriteBOM", [](VStream& s) { return s.WriteBOM(); }},
        {"SetSize", [](VStream& s) { return s.SetSize(0); }},
        {"Flush", [](VStream& s) { return s.Flush(); }},
    };
    for (const Case& c : writes) {
        auto stream = Writer();
        ASSERT_EQ(stream->PutData("ab", 2), VE_OK);
        ASSERT_EQ(stream->SetPosByOffset(-3), VE_INVALID_PARAMETER);
        EXPECT_EQ(c.operation(*stream), VE_INVALID_PARAMETER) << c.name;
        EXPECT_EQ(Contents(*stream), "ab") << c.name;
        EXPECT_EQ(stream->GetPos(), 2) << c.name;
    }
}

TEST(VStreamState, OpeningAnOpenStreamIsRefusedWithoutStoringTheError) {
    auto stream = Reader("abc");
    test::RecordingRaiser raised;
    EXPECT_EQ(stream->OpenReading(), VE_STREAM_ALREADY_OPENED);
    EXPECT_EQ(stream->OpenWriting(), VE_STREAM_ALREADY_OPENED);
    EXPECT_EQ(stream->GetLastError(), VE_OK);
    EXPECT_TRUE(stream->IsReading());
    EXPECT_EQ(raised.Codes(), (std::vector<VError>{VE_STREAM_ALREADY_OPENED, VE_STREAM_ALREADY_OPENED}));
}

TEST(VStreamState, RefusalsOfTheWrongDirection) {
    struct Case {
        const char* name;
        std::function<VError(VPtrStream&)> operation;
        VError expected;
        bool stored;
    };
    std::vector<Case> cases = {
        {"OpenReading write-only",
         [](VPtrStream& s) {
             s.SetWriteOnly(true);
             return s.OpenReading();
         },
         VE_STREAM_CANNOT_READ, false},
        {"OpenWriting read-only",
         [](VPtrStream& s) {
             s.SetReadOnly(true);
             return s.OpenWriting();
         },
         VE_STREAM_CANNOT_WRITE, false},
        {"CloseReading closed", [](VPtrStream& s) { return s.CloseReading(); }, VE_STREAM_CANNOT_READ, false},
        {"CloseWriting closed", [](VPtrStream& s) { return s.CloseWriting(); }, VE_STREAM_CANNOT_WRITE, false},
        {"Flush closed", [](VPtrStream& s) { return s.Flush(); }, VE_STREAM_CANNOT_WRITE, false},
        {"GetData closed",
         [](VPtrStream& s) {
             char b;
             return s.GetData(&b, 1);
         },
         VE_STREAM_CANNOT_READ, true},
        {"PutData closed", [](VPtrStream& s) { return s.PutData("x", 1); }, VE_STREAM_CANNOT_WRITE, true},
        {"SetSize closed", [](VPtrStream& s) { return s.SetSize(1); }, VE_STREAM_CANNOT_WRITE, true},
        {"SetPos closed", [](VPtrStream& s) { return s.SetPos(0); }, VE_STREAM_NOT_OPENED, true},
        {"SetPosByOffset closed", [](VPtrStream& s) { return s.SetPosByOffset(0); }, VE_STREAM_NOT_OPENED, true},
        {"PutData reading",
         [](VPtrStream& s) {
             s.OpenReading();
             return s.PutData("x", 1);
         },
         VE_STREAM_CANNOT_WRITE, true},
        {"GetData writing",
         [](VPtrStream& s) {
             s.OpenWriting();
             char b;
             return s.GetData(&b, 1);
         },
         VE_STREAM_CANNOT_READ, true},
    };
    for (const Case& c : cases) {
        VPtrStream stream("abc", 3);
        test::RecordingRaiser raised;
        EXPECT_EQ(c.operation(stream), c.expected) << c.name;
        EXPECT_EQ(stream.GetLastError(), c.stored ? c.expected : VE_OK) << c.name;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{c.expected}) << c.name;
    }
}

TEST(VStreamState, ReopeningStartsAtZero) {
    VPtrStream stream("abcdef", 6);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    ASSERT_EQ(stream.SetPos(4), VE_OK);
    ASSERT_EQ(stream.CloseReading(), VE_OK);
    EXPECT_FALSE(stream.IsReading());
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    EXPECT_EQ(stream.GetPos(), 0);
}

TEST(VStreamState, SignatureInEitherByteOrder) {
    constexpr uint32 kSignature = FourCC("JBlb");
    struct Case {
        const char* name;
        bool startSwapped;
        std::vector<uint8> bytes;
        VError expected;
        bool swapAfter;
        int64 position;
    };
    std::vector<Case> cases = {
        {"machine order", false, {'b', 'l', 'B', 'J', 1, 0, 0, 0}, VE_OK, false, 4},
        {"other order sets swap", false, {'J', 'B', 'l', 'b', 0, 0, 0, 1}, VE_OK, true, 4},
        {"other order clears swap", true, {'b', 'l', 'B', 'J', 1, 0, 0, 0}, VE_OK, false, 4},
        {"bad signature", false, {'X', 'B', 'l', 'b', 0, 0, 0, 1}, VE_STREAM_BAD_SIGNATURE, false, 0},
        {"too short", false, {'b', 'l'}, VE_STREAM_EOF, false, 2},
    };
    for (const Case& c : cases) {
        VPtrStream stream(c.bytes.data(), c.bytes.size());
        stream.SetNeedSwap(c.startSwapped);
        test::RecordingRaiser raised;
        EXPECT_EQ(stream.OpenReading(kSignature), c.expected) << c.name;
        EXPECT_EQ(stream.NeedSwap(), c.swapAfter) << c.name;
        EXPECT_EQ(stream.GetPos(), c.position) << c.name;
        EXPECT_TRUE(stream.IsReading()) << c.name;
        if (c.expected == VE_OK) {
            int32 value = 0;
            EXPECT_EQ(stream.GetLong(value), VE_OK) << c.name;
            EXPECT_EQ(value, 1) << c.name << ": what follows is read in the signature's order";
        }
        if (c.expected == VE_STREAM_BAD_SIGNATURE) {
            EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_BAD_SIGNATURE});
        }
    }
}

TEST(VStreamState, CloseWritingFlushesOnce) {
    FaultyStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutData("abc", 3), VE_OK);
    EXPECT_EQ(stream.CloseWriting(), VE_OK);
    EXPECT_EQ(stream.fFlushes, 1);
    EXPECT_FALSE(stream.IsWriting());
}

TEST(VStreamState, CloseWritingAfterAWriteErrorDoesNotFlushAndAnswersTheError) {
    FaultyStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.fPutError = kSomeWriteError;
    EXPECT_EQ(stream.PutData("abc", 3), kSomeWriteError);
    EXPECT_EQ(stream.GetPos(), 0);
    EXPECT_EQ(stream.CloseWriting(), kSomeWriteError);
    EXPECT_EQ(stream.fFlushes, 0);
    EXPECT_FALSE(stream.IsWriting());
}

// ---- Position

TEST(VStreamPosition, OffsetBeforeTheStartIsRefused) {
    auto stream = Reader("abcdef");
    ASSERT_EQ(stream->SetPos(3), VE_OK);
    test::RecordingRaiser raised;
    EXPECT_EQ(stream->SetPosByOffset(-5), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream->GetPos(), 3);
    EXPECT_EQ(stream->GetLastError(), VE_INVALID_PARAMETER);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_INVALID_PARAMETER});
}

TEST(VStreamPosition, OffsetsMoveThePosition) {
    auto stream = Reader("abcdef");
    ASSERT_EQ(stream->SetPos(3), VE_OK);
    EXPECT_EQ(stream->SetPosByOffset(-3), VE_OK);
    EXPECT_EQ(stream->GetPos(), 0);
    EXPECT_EQ(stream->SetPosByOffset(5), VE_OK);
    EXPECT_EQ(stream->GetPos(), 5);
    EXPECT_EQ(stream->GetRemaining(), 1);
    EXPECT_EQ(stream->SetPosByOffset(INT64_MAX), VE_INVALID_PARAMETER) << "an overflowing sum is refused";
    EXPECT_EQ(stream->GetPos(), 5);
}

TEST(VStreamPosition, NegativePositionIsRefused) {
    auto stream = Writer();
    EXPECT_EQ(stream->SetPos(-1), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream->GetPos(), 0);
}

// ---- Bytes

TEST(VStreamBytes, UngetAfterTheEndLetsTheBytesBeReadAgain) {
    auto stream = Reader("01234567");
    char all[12] = {};
    size_t got = 0;
    ASSERT_EQ(stream->GetData(all, sizeof(all), &got), VE_STREAM_EOF);
    ASSERT_EQ(got, 8u);
    EXPECT_EQ(stream->UngetData(all + 4, 4), VE_OK);
    EXPECT_EQ(stream->GetLastError(), VE_OK) << "a successful unget clears the end of data";
    EXPECT_EQ(stream->GetPos(), 4);
    char again[4] = {};
    ASSERT_EQ(stream->GetData(again, sizeof(again)), VE_OK);
    EXPECT_EQ(std::string(again, 4), "4567");
}

TEST(VStreamBytes, UngetBeforeTheStartIsRefused) {
    auto stream = Reader("01234567");
    char two[2];
    ASSERT_EQ(stream->GetData(two, 2), VE_OK);
    test::RecordingRaiser raised;
    EXPECT_EQ(stream->UngetData(two, 3), VE_STREAM_CANNOT_UNGET);
    EXPECT_EQ(stream->GetPos(), 2);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_CANNOT_UNGET});
}

TEST(VStreamBytes, UngetLeavesOtherErrorsAndEmptyRequestsAlone) {
    auto stream = Reader("0123");
    char all[8];
    ASSERT_EQ(stream->GetData(all, sizeof(all)), VE_STREAM_EOF);
    EXPECT_EQ(stream->UngetData(all, 0), VE_STREAM_EOF) << "nothing given back, the end stays";

    auto other = Reader("0123");
    ASSERT_EQ(other->GetData(all, 2), VE_OK);
    ASSERT_EQ(other->SetPosByOffset(-9), VE_INVALID_PARAMETER);
    EXPECT_EQ(other->UngetData(all, 1), VE_INVALID_PARAMETER);
    EXPECT_EQ(other->GetPos(), 2);
}

TEST(VStreamBytes, HexBytesAreUpperCaseHighNibbleFirst) {
    auto stream = Writer();
    const char bytes[] = {0x00, char(0xAB), 0x7F, char(0xF0)};
    EXPECT_EQ(stream->PutHexBytes(bytes, sizeof(bytes)), VE_OK);
    EXPECT_EQ(Contents(*stream), "00AB7FF0");
}

TEST(VStreamBytes, PutContentIntoCopiesEverythingAndClosesTheSource) {
    std::string data;
    for (int i = 0; i < 10000; ++i)
        data += char('a' + i % 26);
    VConstPtrStream source(data.data(), data.size());
    auto destination = Writer();
    ASSERT_EQ(destination->PutData(">", 1), VE_OK);

    EXPECT_EQ(source.PutContentInto(destination.get()), VE_OK);
    EXPECT_FALSE(source.IsReading());
    EXPECT_TRUE(destination->IsWriting());
    EXPECT_EQ(destination->GetPos(), 10001);
    EXPECT_EQ(Contents(*destination), ">" + data);
}

TEST(VStreamBytes, PutContentIntoAClosedDestinationFails) {
    VConstPtrStream source("abc", 3);
    VPtrStream destination;
    EXPECT_EQ(source.PutContentInto(&destination), VE_STREAM_CANNOT_WRITE);
    EXPECT_FALSE(source.IsReading());
    EXPECT_EQ(destination.GetDataSize(), 0u);
}

// ---- Typed values

template <class T>
void CheckElementsRoundTrip(const std::vector<T>& values, VError (VStream::*put)(const T*, int32),
                            VError (VStream::*get)(T*, int32*)) {
    for (bool swap : {false, true}) {
        const std::vector<T> original = values;
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ((stream.*put)(values.data(), int32(values.size())), VE_OK);
        EXPECT_EQ(values, original) << "the caller's block is left as it was";
        ASSERT_EQ(stream.GetDataSize(), values.size() * sizeof(T));

        // Element 1 as stored: the machine's bytes, reversed when swapping.
        std::vector<uint8> native(sizeof(T));
        std::memcpy(native.data(), &values[1], sizeof(T));
        if (swap) std::reverse(native.begin(), native.end());
        const uint8* stored = static_cast<const uint8*>(stream.GetDataPtr()) + sizeof(T);
        EXPECT_EQ(std::vector<uint8>(stored, stored + sizeof(T)), native) << "swap " << swap;

        ASSERT_EQ(stream.CloseWriting(), VE_OK);
        ASSERT_EQ(stream.OpenReading(), VE_OK);
        std::vector<T> back(values.size());
        int32 count = int32(back.size());
        ASSERT_EQ((stream.*get)(back.data(), &count), VE_OK);
        EXPECT_EQ(count, int32(values.size()));
        EXPECT_EQ(back, values) << "swap " << swap;
    }
}

TEST(VStreamTyped, ArraysRoundTripWithAndWithoutSwap) {
    CheckElementsRoundTrip<int16>({1, -2, 0x1234}, &VStream::PutWords, &VStream::GetWords);
    CheckElementsRoundTrip<int32>({1, -2, 0x12345678}, &VStream::PutLongs, &VStream::GetLongs);
    CheckElementsRoundTrip<int64>({1, -2, 0x123456789ABCDEF0}, &VStream::PutLong8s, &VStream::GetLong8s);
    CheckElementsRoundTrip<double>({1.5, -2.25, 1e300}, &VStream::PutReals, &VStream::GetReals);
}

TEST(VStreamTyped, SingleValuesFollowTheSwapFlag) {
    VPtrStream stream;
    stream.SetBigEndian();
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(stream.PutWord(0x0102), VE_OK);
    ASSERT_EQ(stream.PutLong(0x03040506), VE_OK);
    ASSERT_EQ(stream.PutLong8(0x0708090A0B0C0D0E), VE_OK);
    ASSERT_EQ(stream.PutReal(2.0), VE_OK);
    const std::string expected("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E"
                               "\x40\x00\x00\x00\x00\x00\x00\x00",
                               22);
    EXPECT_EQ(Contents(stream), expected);

    ASSERT_EQ(stream.CloseWriting(), VE_OK);
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    uint16 word = 0;
    int32 longValue = 0;
    int64 long8 = 0;
    double real = 0;
    EXPECT_EQ(stream.GetWord(word), VE_OK);
    EXPECT_EQ(stream.GetLong(longValue), VE_OK);
    EXPECT_EQ(stream.GetLong8(long8), VE_OK);
    EXPECT_EQ(stream.GetReal(real), VE_OK);
    EXPECT_EQ(word, 0x0102);
    EXPECT_EQ(longValue, 0x03040506);
    EXPECT_EQ(long8, 0x0708090A0B0C0D0E);
    EXPECT_EQ(real, 2.0);

    stream.SetLittleEndian();
    EXPECT_FALSE(stream.NeedSwap());
}

TEST(VStreamTyped, ShortDataDeliversWholeElementsOnly) {
    auto stream = Reader(std::string("\x01\0\0\0\x02\0\0\0\x03\0", 10));
    int32 values[3] = {};
    int32 count = 3;
    EXPECT_EQ(stream->GetLongs(values, &count), VE_STREAM_EOF);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(values[0], 1);
    EXPECT_EQ(values[1], 2);
}

TEST(VStreamTyped, NegativeCountsAreRefusedWithNothingMoved) {
    auto reader = Reader("abcdefgh");
    test::RecordingRaiser raised;
    int32 values[2] = {};
    int32 count = -1;
    EXPECT_EQ(reader->GetLongs(values, &count), VE_INVALID_PARAMETER);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(reader->GetPos(), 0);

    auto writer = Writer();
    const double reals[1] = {1.0};
    EXPECT_EQ(writer->PutReals(reals, -3), VE_INVALID_PARAMETER);
    EXPECT_EQ(writer->GetDataSize(), 0u);
    EXPECT_EQ(raised.Codes(), (std::vector<VError>{VE_INVALID_PARAMETER, VE_INVALID_PARAMETER}));
}

TEST(VStreamTyped, ArraysFromAStreamNotReadingDeliverNothing) {
    VPtrStream stream("abcdefgh", 8);
    int16 words[4] = {};
    int32 count = 4;
    EXPECT_EQ(stream.GetWords(words, &count), VE_STREAM_CANNOT_READ);
    EXPECT_EQ(count, 0);
}

TEST(VStreamTyped, ValuesCarryTheirKind) {
    auto writer = Writer();
    ASSERT_EQ(writer->PutValue(VString("abc")), VE_OK);
    std::string expected("\x0A\0\xFD\xFF\xFF\xFF"
                         "a\0b\0c\0",
                         12);
    EXPECT_EQ(Contents(*writer), expected);

    auto reader = Reader(expected);
    std::unique_ptr<VValue> value(reader->GetValue());
    ASSERT_NE(value, nullptr);
    ASSERT_EQ(value->GetValueKind(), VString::kKind);
    EXPECT_EQ(Units(*static_cast<VString*>(value.get())), u"abc");

    auto unknown = Reader(std::string("\xF0\xFF\0\0", 4));
    EXPECT_EQ(unknown->GetValue(), nullptr);
}

// ---- Text

TEST(VStreamText, ByteOrderMarks) {
    struct Case {
        CharSet charSet;
        std::string mark;
    };
    for (const Case& c :
         {Case{VTC_UTF_8, "\xEF\xBB\xBF"}, Case{VTC_UTF_16_BigEndian, "\xFE\xFF"},
          Case{VTC_UTF_16_LittleEndian, "\xFF\xFE"}, Case{VTC_UTF_32_BigEndian, std::string("\0\0\xFE\xFF", 4)},
          Case{VTC_UTF_32_LittleEndian, std::string("\xFF\xFE\0\0", 4)}, Case{VTC_SystemDefault, ""},
          Case{VTC_ISO8859_1, ""}}) {
        auto stream = Writer(c.charSet);
        EXPECT_EQ(stream->WriteBOM(), VE_OK) << c.charSet;
        EXPECT_EQ(Contents(*stream), c.mark) << c.charSet;
    }
}

TEST(VStreamText, GuessFromLeadingBytes) {
    struct Case {
        std::string bytes;
        CharSet defaultCharSet;
        CharSet expected;
        int64 position;
        bool bom;
    };
    std::vector<Case> cases = {
        {std::string("\xFF\xFE\x41\0", 4), VTC_ISO8859_1, VTC_UTF_16_LittleEndian, 2, true},
        {"\xEF\xBB\xBF\x41", VTC_ISO8859_1, VTC_UTF_8, 3, true},
        {std::string("\xFE\xFF\0\x41", 4), VTC_ISO8859_1, VTC_UTF_16_BigEndian, 2, true},
        {std::string("\xFF\xFE\0\0", 4), VTC_ISO8859_1, VTC_UTF_32_LittleEndian, 4, true},
        {std::string("\0\0\xFE\xFF", 4), VTC_ISO8859_1, VTC_UTF_32_BigEndian, 4, true},
        {std::string("\0A\0B", 4), VTC_ISO8859_1, VTC_UTF_16_BigEndian, 0, false},
        {std::string("A\0B\0", 4), VTC_ISO8859_1, VTC_UTF_16_LittleEndian, 0, false},
        {"ABCD", VTC_UTF_16_LittleEndian, VTC_UTF_8, 0, false},
        {"ABCD", VTC_ISO8859_1, VTC_ISO8859_1, 0, false},
        {"A", VTC_ISO8859_1, VTC_ISO8859_1, 0, false},
        {"", VTC_UTF_16_BigEndian, VTC_UTF_16_BigEndian, 0, false},
    };
    for (const Case& c : cases) {
        auto stream = Reader(c.bytes, VTC_UTF_8);
        bool bom = !c.bom;
        EXPECT_EQ(stream->GuessCharSetFromLeadingBytes(c.defaultCharSet, false, &bom), VE_OK) << c.bytes;
        EXPECT_EQ(stream->GetCharSet(), c.expected) << c.bytes;
        EXPECT_EQ(stream->GetPos(), c.position) << c.bytes;
        EXPECT_EQ(bom, c.bom) << c.bytes;
        EXPECT_EQ(stream->GetLastError(), VE_OK) << c.bytes;
    }
}

TEST(VStreamText, GuessWithUTF8Detection) {
    std::string cutAtTheSampleEnd = std::string(2047, 'a') + "\xC3\xA9zz"; // é straddles byte 2048
    struct Case {
        std::string bytes;
        CharSet expected;
    };
    for (const Case& c :
         {Case{"h\xC3\xA9llo", VTC_UTF_8}, Case{"h\xE9llo", VTC_ISO8859_1}, Case{cutAtTheSampleEnd, VTC_UTF_8},
          Case{UTF16(u"\uFEFFab", false), VTC_UTF_16_LittleEndian}, Case{UTF16(u"abcd", true), VTC_UTF_16_BigEndian}}) {
        auto stream = Reader(c.bytes, VTC_UTF_8);
        EXPECT_EQ(stream->GuessCharSetFromLeadingBytes(VTC_ISO8859_1, true), VE_OK);
        EXPECT_EQ(stream->GetCharSet(), c.expected) << c.bytes.size();
        EXPECT_LE(stream->GetPos(), 2) << "the sample is given back";
    }

    auto withoutDetection = Reader("h\xC3\xA9llo", VTC_UTF_8);
    EXPECT_EQ(withoutDetection->GuessCharSetFromLeadingBytes(VTC_ISO8859_1, false), VE_OK);
    EXPECT_EQ(withoutDetection->GetCharSet(), VTC_ISO8859_1);
}

TEST(VStreamText, PutTextRewritesLineEndsByMode) {
    struct Case {
        ECarriageReturnMode mode;
        std::string expected;
    };
    for (const Case& c : {Case{eCRM_NATIVE, "a\rb\nc\r\nd"}, Case{eCRM_CRLF, "a\r\nb\r\nc\r\nd"},
                          Case{eCRM_CR, "a\rb\rc\rd"}, Case{eCRM_LF, "a\nb\nc\nd"}}) {
        auto stream = Writer();
        stream->SetCarriageReturnMode(c.mode);
        EXPECT_EQ(stream->PutText(VString("a\rb\nc\r\nd")), VE_OK);
        EXPECT_EQ(Contents(*stream), c.expected) << c.mode;
    }
}

TEST(VStreamText, PutTextEncodesInTheStreamsCharacterSet) {
    auto utf8 = Writer(VTC_UTF_8);
    ASSERT_EQ(utf8->PutText(VString(u"h\u00E9\U0001F600")), VE_OK);
    EXPECT_EQ(Contents(*utf8), "h\xC3\xA9\xF0\x9F\x98\x80");

    auto utf16 = Writer(VTC_UTF_16_BigEndian);
    ASSERT_EQ(utf16->PutText(VString(u"h\u00E9")), VE_OK);
    EXPECT_EQ(Contents(*utf16), std::string("\0h\0\xE9", 4));
}

TEST(VStreamText, LongTextWithLineEndsKeepsSurrogatePairsWhole) {
    // Line ends make the text go through the rewriting window; the "xyz" prefix puts a high surrogate
    // last in the first window (unit 8191).
    std::u16string source = u"xyz";
    std::u16string expected = u"xyz";
    for (int i = 0; i < 3000; ++i) {
        source += u"ab\r\n\U0001F600";
        expected += u"ab\n\U0001F600";
    }
    auto stream = Writer(VTC_UTF_8);
    ASSERT_EQ(stream->PutText(VString(source.c_str())), VE_OK);
    VString back(stream->GetDataPtr(), stream->GetDataSize(), VTC_UTF_8);
    EXPECT_EQ(Units(back), expected);
}

TEST(VStreamText, GetTextReadsToTheEndAcrossChunks) {
    std::string bytes = std::string(4095, 'x') + "\xE2\x82\xAC" + std::string(5000, 'y'); // € across 4096
    auto stream = Reader(bytes);
    VString text(">");
    EXPECT_EQ(stream->GetText(text), VE_OK);
    EXPECT_EQ(Units(text), u">" + std::u16string(4095, u'x') + u"\u20AC" + std::u16string(5000, u'y'));
    EXPECT_EQ(stream->GetPos(), int64(bytes.size()));
}

TEST(VStreamText, GetTextReportsAnUnfinishedCharacter) {
    auto stream = Reader("ab\xE2\x82");
    test::RecordingRaiser raised;
    VString text;
    EXPECT_EQ(stream->GetText(text), VE_STREAM_TEXT_CONVERSION_FAILURE);
    EXPECT_EQ(Units(text), u"ab");
    std::vector<test::RecordingRaiser::Raised> all = raised.All();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().code, VE_STREAM_TEXT_CONVERSION_FAILURE);
    ASSERT_EQ(all.back().params.size(), 1u);
    EXPECT_EQ(all.back().params[0].second, u"unterminated unicode conversion.");
}

TEST(VStreamText, GetTextOfACountOfCharacters) {
    std::string thirtyOne(31, 'a');
    struct Case {
        const char* name;
        std::string bytes;
        int32 count;
        bool acceptMore;
        std::u16string expected;
        int64 position;
        VError result;
    };
    std::vector<Case> cases = {
        {"multi-byte", "h\xC3\xA9llo", 3, false, u"h\u00E9l", 4, VE_OK},
        {"character split between reads", thirtyOne + "\xE2\x82\xAC" + "bc", 33, false,
         std::u16string(31, u'a') + u"\u20ACb", 35, VE_OK},
        {"more decoded than asked", "abcdef", 2, false, u"ab", 2, VE_OK},
        {"more decoded than asked, kept", "abcdef", 2, true, u"abcdef", 6, VE_OK},
        {"pair not split", "\xF0\x9F\x98\x80x", 1, false, u"\U0001F600", 4, VE_OK},
        {"fewer than asked", "ab", 5, false, u"ab", 2, VE_STREAM_EOF},
        {"nothing asked", "ab", 0, false, u"", 0, VE_OK},
    };
    for (const Case& c : cases) {
        auto stream = Reader(c.bytes);
        VString text;
        EXPECT_EQ(stream->GetText(text, c.count, c.acceptMore), c.result) << c.name;
        EXPECT_EQ(Units(text), c.expected) << c.name;
        EXPECT_EQ(stream->GetPos(), c.position) << c.name;
    }
}

// Texts in sets whose decoder carries a state from byte to byte (shift sequences, base64 runs), with a
// stateless multi-byte set beside them.
struct StatefulText {
    const char* name;
    CharSet charSet;
    std::string bytes;
    std::u16string text;
};

std::vector<StatefulText> StatefulTexts() {
    return {
        {"ISO-2022-JP", VTC_ISO2022JP, "\x1b$BF|K\\$+$J\x1b(Babc", u"\u65E5\u672C\u304B\u306Aabc"},
        {"ISO-2022-JP, shifts between characters", VTC_ISO2022JP, "a\x1b$BF|\x1b(Bb\x1b$BK\\$+$J\x1b(Bxyz",
         u"a\u65E5b\u672C\u304B\u306Axyz"},
        {"UTF-7", VTC_UTF_7, "+ZeVnLDBLMGo-abc", u"\u65E5\u672C\u304B\u306Aabc"},
        {"UTF-7, runs and a pair", VTC_UTF_7, "a+ZeU-b+2D3eAGcsMEswag-xyz", u"a\u65E5b\U0001F600\u672C\u304B\u306Axyz"},
        {"UTF-7, escaped plus", VTC_UTF_7, "1+-2=3 +ZeVnLA-", u"1+2=3 \u65E5\u672C"},
        {"Shift_JIS", VTC_ShiftJIS,
         "\x93\xfa\x96\x7b\x82\xa9\x82\xc8"
         "abc",
         u"\u65E5\u672C\u304B\u306Aabc"},
    };
}

TEST(VStreamText, StatefulSetsReadByAnyCount) {
    for (const StatefulText& c : StatefulTexts()) {
        for (int32 count = 1; count <= int32(c.text.size()) + 1; ++count) {
            SCOPED_TRACE(std::string(c.name) + ", count " + std::to_string(count));
            auto stream = Reader(c.bytes, c.charSet);
            std::u16string all;
            for (int guard = 0; guard < 100 && stream->GetLastError() == VE_OK; ++guard) {
                VString piece;
                VError error = stream->GetText(piece, count);
                std::u16string units = Units(piece);
                size_t start = all.size();
                all += units;
                if (error != VE_OK) break;
                // A count never cuts a surrogate pair: it may give one unit more.
                size_t expected = std::min(c.text.size() - start, size_t(count));
                bool pairKeptWhole = units.size() == expected + 1 && (units.back() & 0xFC00) == 0xDC00;
                if (!pairKeptWhole) {
                    ASSERT_EQ(units.size(), expected) << "a count is a count";
                }
            }
            EXPECT_EQ(all, c.text);
            EXPECT_EQ(stream->GetPos(), int64(c.bytes.size()));
        }
    }
}

TEST(VStreamText, ADamagedSequenceLosesNothingWhenReadByCounts) {
    // A lead byte whose follower is not a trail byte decodes to the set's substitute, and the follower
    // to itself: both may come with one count, but none goes missing or comes twice.
    struct Case {
        const char* name;
        CharSet charSet;
        std::string bytes;
    };
    const Case cases[] = {
        {"EUC-KR lead before LF", VTC_EUC_KR, "\xc7\xd1\xbd\nab\xbd\x0b"},
        {"Shift_JIS lead before CR LF", VTC_ShiftJIS, "\x82\r\nx"},
        {"ISO-2022-JP escape cut by LF", VTC_ISO2022JP, "a\x1b$\nb\x1b$BF\n\x1b(Bc"},
        {"UTF-7 run cut by LF", VTC_UTF_7, "+ZeV\n+Z\r\nz"},
    };
    for (const Case& c : cases) {
        auto whole = Reader(c.bytes, c.charSet);
        VString expected;
        ASSERT_EQ(whole->GetText(expected), VE_OK) << c.name;
        for (int32 count = 1; count <= 3; ++count) {
            SCOPED_TRACE(std::string(c.name) + ", count " + std::to_string(count));
            auto stream = Reader(c.bytes, c.charSet);
            VString all;
            for (int guard = 0; guard < 100 && stream->GetLastError() == VE_OK; ++guard)
                stream->GetText(all, count);
            EXPECT_EQ(Units(all), Units(expected));
            EXPECT_EQ(stream->GetLastError(), VE_STREAM_EOF);
        }
    }
}

TEST(VStreamText, ACountedReadGivesItsCountUntilTheEnd) {
    // Found by fuzzing: a shift to the two-byte set, then a byte outside it, then more text.
    const std::string bytes("\x3b\x24\x42\x46\x7c\x4b\x5c\x1b\x28\x42\x0a\x1b\x24\xbe\xdb\xd4\xd1\x4a\x1b\x28"
                            "\x42\x0d\x0a",
                            23);
    auto whole = Reader(bytes, VTC_ISO2022JP);
    VString expected;
    ASSERT_EQ(whole->GetText(expected), VE_OK);
    for (int32 count = 1; count <= 32; ++count) {
        SCOPED_TRACE("count " + std::to_string(count));
        auto stream = Reader(bytes, VTC_ISO2022JP);
        VString all;
        VError error = VE_OK;
        for (int guard = 0; guard < 100 && error == VE_OK; ++guard) {
            VString piece;
            error = stream->GetText(piece, count);
            // More only where a damaged sequence brings the character after its substitute along.
            if (error == VE_OK) {
                EXPECT_GE(piece.GetLength(), count) << "after " << all.GetLength() << " units";
            }
            all.AppendString(piece);
        }
        EXPECT_EQ(error, VE_STREAM_EOF);
        EXPECT_EQ(Units(all), Units(expected));
    }
}

TEST(VStreamText, StatefulSetsReadWhole) {
    for (const StatefulText& c : StatefulTexts()) {
        SCOPED_TRACE(c.name);
        auto stream = Reader(c.bytes, c.charSet);
        VString text;
        EXPECT_EQ(stream->GetText(text), VE_OK);
        EXPECT_EQ(Units(text), c.text);
    }
}

TEST(VStreamText, ARepositionedStreamDecodesAfresh) {
    // The first read leaves the decoder in the two-byte shift; read again from the start, the ASCII
    // letters must not be taken for the second half of a kanji.
    auto stream = Reader("abc\x1b$BF|", VTC_ISO2022JP);
    VString first;
    ASSERT_EQ(stream->GetText(first), VE_OK);
    EXPECT_EQ(Units(first), u"abc\u65E5");
    ASSERT_EQ(stream->SetPos(0), VE_OK);
    VString again;
    EXPECT_EQ(stream->GetText(again, 3), VE_OK);
    EXPECT_EQ(Units(again), u"abc");
}

TEST(VStreamText, GetTextOfACountInUTF16) {
    auto little = Reader(UTF16(u"abc", false).substr(0, 5), VTC_UTF_16_LittleEndian);
    VString text("<");
    EXPECT_EQ(little->GetText(text, 3), VE_STREAM_EOF) << "two and a half characters are not three";
    EXPECT_EQ(Units(text), u"<ab");
    EXPECT_EQ(little->GetPos(), 4) << "the odd byte is given back";

    auto big = Reader(UTF16(u"\u00E9xyz", true), VTC_UTF_16_BigEndian);
    VString two;
    EXPECT_EQ(big->GetText(two, 2), VE_OK);
    EXPECT_EQ(Units(two), u"\u00E9x");
    EXPECT_EQ(big->GetPos(), 4);
}

TEST(VStreamText, CountsFromDamagedDataDoNotReserveMemory) {
    auto stream = Reader(UTF16(u"hi", false), VTC_UTF_16_LittleEndian);
    VString text;
    EXPECT_EQ(stream->GetText(text, 0x7FFFFFF0), VE_STREAM_EOF);
    EXPECT_EQ(Units(text), u"hi");
    EXPECT_LT(text.GetCapacity(), 1000);
}

std::vector<std::u16string> ReadLines(VStream& stream, bool keepEndOfLine, const UniChar* endOfLine = nullptr) {
    std::vector<std::u16string> lines;
    for (int guard = 0; guard < 100; ++guard) {
        VString line("stale");
        VError error = stream.GetTextLine(line, keepEndOfLine, endOfLine);
        if (error == VE_STREAM_EOF) {
            EXPECT_TRUE(line.IsEmpty());
            break;
        }
        EXPECT_EQ(error, VE_OK);
        if (error != VE_OK) break;
        lines.push_back(Units(line));
    }
    return lines;
}

TEST(VStreamTextLine, EndsOfLine) {
    using Lines = std::vector<std::u16string>;
    struct Case {
        std::string bytes;
        bool keep;
        Lines expected;
    };
    std::vector<Case> cases = {
        {"a\rb\nc\r\nd", false, {u"a", u"b", u"c", u"d"}},
        {"a\rb\nc\r\nd", true, {u"a\r", u"b\r", u"c\r", u"d\r"}},
        {"\n\r\n\r", false, {u"", u"", u""}},
        {"\n\n", true, {u"\r", u"\r"}},
        {"last line without end", false, {u"last line without end"}},
        {"h\xC3\xA9\n\xE2\x82\xAC", false, {u"h\u00E9", u"\u20AC"}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        auto stream = Reader(c.bytes);
        EXPECT_EQ(ReadLines(*stream, c.keep), c.expected) << c.bytes;
        EXPECT_EQ(stream->GetLastError(), VE_STREAM_EOF) << "the call at the very end answers 200";
    }
}

TEST(VStreamTextLine, ChunkBoundaries) {
    std::string x255(255, 'x');
    std::u16string ux255(255, u'x');
    using Lines = std::vector<std::u16string>;
    struct Case {
        const char* name;
        std::string bytes;
        Lines expected;
    };
    std::vector<Case> cases = {
        {"CR LF split", x255 + "\r\nnext", {ux255, u"next"}},
        {"CR at the edge alone", x255 + "\rnext", {ux255, u"next"}},
        {"LF at the edge", x255 + "\n\nnext", {ux255, u"", u"next"}},
        {"CR LF at the very end", x255 + "\r\n", {ux255}},
        {"character split", x255 + "\xC3\xA9\n", {ux255 + u"\u00E9"}},
        {"long line", std::string(1000, 'y') + "\r\nz", {std::u16string(1000, u'y'), u"z"}},
    };
    for (const Case& c : cases) {
        auto stream = Reader(c.bytes);
        EXPECT_EQ(ReadLines(*stream, false), c.expected) << c.name;
    }

    auto positioned = Reader(x255 + "\r\nnext");
    VString line;
    ASSERT_EQ(positioned->GetTextLine(line), VE_OK);
    EXPECT_EQ(positioned->GetPos(), 257) << "what follows the line end is given back";
}

TEST(VStreamTextLine, StatefulSetsCarryTheirStateOverLineEnds) {
    using Lines = std::vector<std::u16string>;
    const std::u16string nihon = u"\u65E5\u672C", kana = u"\u304B\u306A";
    struct Case {
        const char* name;
        CharSet charSet;
        std::string bytes;
        Lines expected;
    };
    std::vector<Case> cases = {
        {"ISO-2022-JP, back to ASCII before each end",
         VTC_ISO2022JP,
         "\x1b$BF|K\\\x1b(B\n\x1b$B$+$J\x1b(B\nabc",
         {nihon, kana, u"abc"}},
        {"ISO-2022-JP, a line end closes the shift",
         VTC_ISO2022JP,
         "\x1b$BF|K\\\nabc\r\n\x1b$B$+$J\r\nxy",
         {nihon, u"abc", kana, u"xy"}},
        {"ISO-2022-JP, CR at a chunk edge",
         VTC_ISO2022JP,
         "\x1b$B" + std::string(252, '$') + "\r\nab",
         {std::u16string(126, u'\u3044'), u"ab"}}, // "$$" is a kana in the two-byte shift
        {"UTF-7, a line end closes the run", VTC_UTF_7, "+ZeVnLA\n+MEswag\nabc", {nihon, kana, u"abc"}},
        {"UTF-7, CR LF", VTC_UTF_7, "+ZeVnLA\r\n+MEswag-\r\n+-", {nihon, kana, u"+"}},
    };
    for (const Case& c : cases) {
        auto stream = Reader(c.bytes, c.charSet);
        EXPECT_EQ(ReadLines(*stream, false), c.expected) << c.name;
        auto kept = Reader(c.bytes, c.charSet);
        Lines withEnds;
        for (const std::u16string& line : c.expected)
            withEnds.push_back(line + u"\r");
        EXPECT_EQ(ReadLines(*kept, true), withEnds) << c.name << ", ends kept";
    }
}

TEST(VStreamTextLine, UTF16ComparesWholeUnits) {
    std::u16string x255(255, u'x');
    struct Case {
        const char* name;
        std::u16string text;
        bool bigEndian;
        std::vector<std::u16string> expected;
    };
    std::vector<Case> cases = {
        {"little-endian", u"a\r\nb\nc", false, {u"a", u"b", u"c"}},
        {"big-endian", u"a\r\nb\nc", true, {u"a", u"b", u"c"}},
        {"bytes 0A and 0D inside other units", u"\u0A0D\u0D0A\n\u010A", false, {u"\u0A0D\u0D0A", u"\u010A"}},
        {"CR LF split at 512 bytes", x255 + u"\r\ny", false, {x255, u"y"}},
    };
    for (const Case& c : cases) {
        auto stream = Reader(UTF16(c.text, c.bigEndian), c.bigEndian ? VTC_UTF_16_BigEndian : VTC_UTF_16_LittleEndian);
        EXPECT_EQ(ReadLines(*stream, false), c.expected) << c.name;
    }
}

TEST(VStreamTextLine, UTF32ComparesWholeUnits) {
    // U+010A holds a 0A byte: a byte-wise scan would cut the line inside it.
    auto stream = Reader(UTF32LE(U"a\n\u010Ab"), VTC_UTF_32_LittleEndian);
    EXPECT_EQ(ReadLines(*stream, false), (std::vector<std::u16string>{u"a", u"\u010Ab"}));
}

TEST(VStreamTextLine, ExplicitEndOfLine) {
    const UniChar semicolon = u';';
    auto bytes = Reader("a;b\nc;d");
    EXPECT_EQ(ReadLines(*bytes, false, &semicolon), (std::vector<std::u16string>{u"a", u"b\nc", u"d"}));

    auto kept = Reader("a;b");
    EXPECT_EQ(ReadLines(*kept, true, &semicolon), (std::vector<std::u16string>{u"a;", u"b\r"}));

    auto wide = Reader(UTF16(u"a;b\nc", false), VTC_UTF_16_LittleEndian);
    EXPECT_EQ(ReadLines(*wide, false, &semicolon), (std::vector<std::u16string>{u"a", u"b", u"c"}))
        << "16-bit sets also end at LF";
}

TEST(VStreamTextLine, NonASCIIEndOfLineIsRefusedForByteSets) {
    const UniChar eAcute = 0xE9;
    auto stream = Reader("caf\xC3\xA9 au lait");
    VString line;
    EXPECT_EQ(stream->GetTextLine(line, false, &eAcute), VE_INVALID_PARAMETER);
    EXPECT_EQ(stream->GetPos(), 0);

    auto wide = Reader(UTF16(u"caf\u00E9!", false), VTC_UTF_16_LittleEndian);
    EXPECT_EQ(ReadLines(*wide, false, &eAcute), (std::vector<std::u16string>{u"caf", u"!"}))
        << "16-bit sets compare the whole character";
}

} // namespace
} // namespace vela

namespace vela {
namespace {

std::vector<std::u16string> Fields(const VArrayString& fields) {
    std::vector<std::u16string> out;
    for (int32 i = 1; i <= fields.GetCount(); ++i) {
        VString field;
        fields.GetString(field, i);
        out.push_back(Units(field));
    }
    return out;
}

TEST(VStreamTextLine, TabSeparatedLinesGiveOneFieldMoreThanTabs) {
    auto stream = Reader("a\t\tb\n\tx\t\nlast", VTC_UTF_8);
    VArrayString fields;
    fields.AppendString(VString("stale"));
    EXPECT_EQ(stream->GetTTRLine(fields), VE_OK);
    EXPECT_EQ(Fields(fields), (std::vector<std::u16string>{u"a", u"", u"b"}));
    EXPECT_EQ(stream->GetTTRLine(fields), VE_OK);
    EXPECT_EQ(Fields(fields), (std::vector<std::u16string>{u"", u"x", u""}));
    EXPECT_EQ(stream->GetTTRLine(fields), VE_OK);
    EXPECT_EQ(Fields(fields), (std::vector<std::u16string>{u"last"}));
    EXPECT_EQ(stream->GetTTRLine(fields), VE_STREAM_EOF);
    EXPECT_EQ(Fields(fields), (std::vector<std::u16string>{u""}));
}

} // namespace
} // namespace vela
