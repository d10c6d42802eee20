#include "json/VJSONImporter.h"

#include "files/VFile.h"
#include "files/VFileError.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
#include "json/VStorageLocker.h"

#include "JSONTestSupport.h"
#include "JSONTextTestSupport.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

using test::Compact;
using test::Invalid;
using test::Malformed;
using test::Narrow;
using test::SeenError;
using test::Text;
using test::U;
using test::Units;

const std::u16string kExpectedValue = u"\" 0-9 null true false { [";
const std::u16string kExpectedElement = u"\" 0-9 null true false { [ ]";
const std::u16string kExpectedNumber = u"+- 0-9 eE";

SeenError WithToken(VError code, const std::u16string& token) {
    return {code, {{"token", token}}};
}

class VJSONImporterTest : public test::JSONTextFixture {};

TEST_F(VJSONImporterTest, ReadsTextIntoATreeThatWritesBackTheSame) {
    struct Case {
        std::u16string text;
        std::u16string written;
    };
    const Case cases[] = {
        {u"{}", u"{}"},
        {u"[]", u"[]"},
        {u" \t\r\n{ \"a\" : [ 1 , 2 ] , \"b\":{\"c\":null}}", u"{\"a\":[1,2],\"b\":{\"c\":null}}"},
        {u"[true,false,null,\"\",0,-0.5,1e3,1E+2,-1e-2,12345678901234567890]",
         u"[true,false,null,\"\",0,-0.5,1000,100,-0.01,1.2345678901235E+19]"},
        {u"{\"a\":1,\"b\":2,\"a\":3}", u"{\"a\":3,\"b\":2}"}, // a repeated key keeps its place
        {u"\"s\" and then anything", u"\"s\""},               // only the first value is read
        {u"{\"a\":1} }}]] garbage", u"{\"a\":1}"},
        {u"42", u"42"},
        {u"-", u"0"}, // a minus sign alone passes the number test
        {u"[1e\u22125]", u"[1E-05]"},
        {u"[\u22125]", u"[\"\u22125\"]"}, // a leading U+2212 is no number
        {u"{a: hello, b :x}", u"{\"a\":\"hello\",\"b\":\"x\"}"},
    };
    for (const Case& c : cases) {
        VJSONValue value;
        EXPECT_EQ(Parse(c.text, value), VE_OK) << Narrow(c.text);
        EXPECT_EQ(Compact(value), c.written) << Narrow(c.text);
        EXPECT_TRUE(fErrors.empty()) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterTest, DecodesStringEscapes) {
    struct Case {
        std::u16string text;
        std::u16string decoded;
    };
    const Case cases[] = {
        {u"\"a\\\"b\\\\c\\/d\"", u"a\"b\\c/d"},
        {u"\"\\b\\f\\n\\r\\t\"", u"\b\f\n\r\t"},
        {u"\"\\u00e9\\u00C9\\u0041\"", u"\u00e9\u00c9A"},
        {u"\"\\ud83d\\ude00\"", u"\U0001F600"}, // a pair arrives as two escapes
        {u"\"\\ud800x\"", u"\xd800x"},          // a lone surrogate stays as it is
        {u"\"\\u00g41\"", u"\x0004"
                          u"1"},                 // a unit that is no hexadecimal digit is skipped
        {u"\"\\a\\q\"", u"aq"},                  // a backslash before any other unit gives that unit
        {u"\"a\\\nb\"", u"a\nb"},                // also before a line break
        {u"\"a\x0001\tb\"", u"a\x0001\tb"},      // raw controls are kept
        {std::u16string(u"\"a\0b\"", 5), u"ab"}, // NUL units are dropped
        {u"\"unterminated", u"unterminated"},
        {u"\"cut \\u12", u"cut "},
        {u"\"ends with \\", u"ends with "},
    };
    for (const Case& c : cases) {
        VJSONValue value;
        ASSERT_EQ(Parse(c.text, value), VE_OK) << Narrow(c.text);
        ASSERT_TRUE(value.IsString()) << Narrow(c.text);
        VString text;
        value.GetString(text);
        EXPECT_EQ(std::u16string(text.GetCPointer(), size_t(text.GetLength())), c.decoded) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterTest, FindsEveryUnitThatMattersWhereverItStandsInAString) {
    // The scan looks at several units at once: each unit that matters, and units that only look alike in one
    // byte, at every place in a block, with plain text of both widths around it.
    struct Case {
        std::u16string raw;
        std::u16string decoded;
    };
    const Case cases[] = {
        {u"\\n", u"\n"},        {u"\\\"", u"\""},       {u"\t", u"\t"},
        {u"\x001F", u"\x001F"}, {u"\r\n", u"\r\n"},     {u"\x8022", u"\x8022"},
        {u"\x5C5C", u"\x5C5C"}, {u"\x2200", u"\x2200"}, {std::u16string(1, u'\0'), u""},
    };
    const std::u16string fills[] = {u"x", u"\u00e9"};
    for (const Case& c : cases) {
        for (const std::u16string& fill : fills) {
            for (size_t before = 0; before < 18; ++before) {
                for (size_t after = 0; after < 10; ++after) {
                    std::u16string head(before, fill[0]);
                    std::u16string tail(after, fill[0]);
                    VJSONValue value;
                    ASSERT_EQ(Parse(u"[\"" + head + c.raw + tail + u"\",1]", value), VE_OK);
                    VString text;
                    value.GetArrayPtr()->GetAt(0).GetString(text);
                    ASSERT_EQ(Units(text), head + c.decoded + tail) << Narrow(c.raw) << " " << before << " " << after;
                    EXPECT_EQ(value.GetArrayPtr()->GetCount(), 2u);
                }
            }
        }
    }
}

TEST_F(VJSONImporterTest, ReadsNumbersInTheCLocale) {
    struct Case {
        std::u16string text;
        double value;
    };
    const Case cases[] = {
        {u"0", 0.0},
        {u"-0", -0.0},
        {u"3.25", 3.25},
        {u"1E400", INFINITY},
        {u"-1e400", -INFINITY},
        {u"1e-400", 0.0},
        {u"0.1", 0.1},
        {u"9007199254740993", 9007199254740992.0},
        {u"-.5", -0.5},
        {u"1E\u2212"
         u"2",
         0.01},
        // Long words, read by from_chars alone when their syntax allows.
        {u"1.2345678901234567E\u2212"
         u"300",
         1.2345678901234567e-300},
        {u"-1.7976931348623157e309", -INFINITY},
        {u"123456789012345678e-400", 0.0},
        {u"-0.000000000000000000", -0.0},
        {u"-.50000000000000000000", -0.5},
    };
    for (const Case& c : cases) {
        VJSONValue value;
        ASSERT_EQ(Parse(c.text, value), VE_OK) << Narrow(c.text);
        ASSERT_TRUE(value.IsNumber()) << Narrow(c.text);
        EXPECT_EQ(value.GetNumber(), c.value) << Narrow(c.text);
        EXPECT_EQ(std::signbit(value.GetNumber()), std::signbit(c.value)) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterTest, WordsEndAtEveryEndingUnitWhereverItFalls) {
    // Words are scanned eight units at a time: an ending unit at each place of a step, and a word ending the text.
    for (size_t length = 1; length <= 20; ++length) {
        std::u16string digits(length, u'7');
        double number = std::stod(std::string(length, '7'));
        for (const std::u16string end : {u",", u" ,", u"\t,", u"\n,", u"\r\n,", u"]"}) {
            std::u16string text = u"[" + digits + end + (end == u"]" ? u"" : u"1]");
            VJSONValue value;
            ASSERT_EQ(Parse(text, value), VE_OK) << Narrow(text);
            ASSERT_TRUE(value.IsArray()) << Narrow(text);
            ASSERT_EQ(value.GetArrayPtr()->GetAt(0).GetNumber(), number) << Narrow(text);
            EXPECT_EQ(value.GetArrayPtr()->GetCount(), end == u"]" ? 1u : 2u) << Narrow(text);
        }
        VJSONValue value;
        ASSERT_EQ(Parse(digits, value), VE_OK) << length;
        EXPECT_EQ(value.GetNumber(), number) << length;
        // A unit outside ASCII (whose low byte is a comma) belongs to the word.
        std::u16string word = u"x" + digits + u"\u012C" + digits;
        ASSERT_EQ(Parse(u"[" + word + u"]", value), VE_OK) << length;
        VString text;
        value.GetArrayPtr()->GetAt(0).GetString(text);
        EXPECT_EQ(Units(text), word);
    }
}

TEST_F(VJSONImporterTest, NumbersReadAsTheCLibraryReadsTheirText) {
    // Short plain numbers are read without the C library; every form must give the double nearest to its text.
    std::vector<std::string> words = {"9007199254740992",
                                      "9007199254740993",
                                      "1e22",
                                      "1e23",
                                      "4.35",
                                      "0.1e-22",
                                      "123456789.123456789",
                                      "1.5E+3",
                                      "0e99999",
                                      "-0.0",
                                      "1234567890123456789",
                                      "12345678901234567890",
                                      "7e-23",
                                      "2.5e-5",
                                      "1e+5",
                                      "-2.5E+300",
                                      "1.7976931348623157e308",
                                      "-12.345678901234567e-300",
                                      "4.9406564584124654e-324",
                                      "2.2250738585072011e-308",
                                      "-9223372036854775808",
                                      "123456789012345678901234567890",
                                      "0.30000000000000004441",
                                      "-1.7976931348623157e+308",
                                      "1.2345678901234567890123E+45"};
    std::mt19937 random(20240517);
    for (int i = 0; i < 3000; ++i) {
        std::string word = random() % 4 == 0 ? "-" : "";
        int digits = 1 + int(random() % 19);
        int point = int(random() % uint32(digits + 1));
        word += char('1' + random() % 9);
        for (int d = 1; d < digits; ++d)
            word += (d == point ? "." : "") + std::string(1, char('0' + random() % 10));
        if (random() % 2 == 0) word += "e" + std::to_string(int(random() % 61) - 30);
        words.push_back(word);
    }
    for (const std::string& word : words) {
        VJSONValue value;
        ASSERT_EQ(Parse(U(word), value), VE_OK) << word;
        ASSERT_TRUE(value.IsNumber()) << word;
        double expected = 0;
        std::from_chars(word.data(), word.data() + word.size(), expected); // locale-independent
        EXPECT_EQ(value.GetNumber(), expected) << word;
        EXPECT_EQ(std::signbit(value.GetNumber()), std::signbit(expected)) << word;
    }
}

// Every parse error kind, with the parameters of its error and of the 550 that follows it.
TEST_F(VJSONImporterTest, EveryFailurePushesItsErrorThenMalformedWithLineAndPosition) {
    struct Case {
        std::u16string text;
        uint32 options;
        SeenError specific;
        SeenError malformed;
    };
    const Case cases[] = {
        {u"{\"a\":1,}", 0, WithToken(VE_JSON_EXTRA_COMMA, u"}"), Malformed(1, 8)},
        {u"[1,]", 0, WithToken(VE_JSON_EXTRA_COMMA, u"]"), Malformed(1, 4)},
        {u"{a:1}", VJSONImporter::kStrict, Invalid(u"a", u"\""), Malformed(1, 2)},
        {u"[1 2]", 0, Invalid(u"2", u"] ,"), Malformed(1, 4)},
        {u"[01]", 0, Invalid(u"01", kExpectedNumber), Malformed(1, 2)},
        {u"[012345678901234567890]", 0, Invalid(u"012345678901234567890", kExpectedNumber), Malformed(1, 2)},
        {u"[1.2345678901234567e]", 0, Invalid(u"1.2345678901234567e", kExpectedNumber), Malformed(1, 2)},
        {u"[123456789012345678.e5]", 0, Invalid(u"123456789012345678.e5", kExpectedNumber), Malformed(1, 2)},
        {u"[1234567890123456789\u0661]", 0, Invalid(u"1234567890123456789\u0661", kExpectedNumber), Malformed(1, 2)},
        {u"[1.]", VJSONImporter::kStrict, Invalid(u"1.", kExpectedNumber), Malformed(1, 2)},
        {u"[1e]", 0, Invalid(u"1e", kExpectedNumber), Malformed(1, 2)},
        {u"[-a]", 0, Invalid(u"-a", kExpectedNumber), Malformed(1, 2)},
        {u"[abc]", VJSONImporter::kStrict, Invalid(u"abc", kExpectedElement), Malformed(1, 2)},
        {u"[1,abc]", VJSONImporter::kStrict, Invalid(u"abc", kExpectedElement), Malformed(1, 4)},
        {u"  \"abc", VJSONImporter::kStrict, WithToken(VE_JSON_UNTERMINATED_STRING, u"\""), Malformed(1, 3)},
        {u"[1,", 0, Invalid(u"", kExpectedValue), Malformed(1, 4)},
        {u"{\"a\"", 0, Invalid(u"", u":"), Malformed(1, 5)},
        {u"{\"a\" 1}", 0, Invalid(u"1", u":"), Malformed(1, 6)},
        {u"{\"a\":1 \"b\":2}", 0, Invalid(u"\"", u"} ,"), Malformed(1, 8)},
        {u"", 0, Invalid(u"", kExpectedValue), Malformed(1, 1)},
        {u"}", 0, Invalid(u"}", kExpectedValue), Malformed(1, 1)},
        {u"[}", 0, Invalid(u"}", kExpectedElement), Malformed(1, 2)},
        {u"[1,}", 0, Invalid(u"}", kExpectedValue), Malformed(1, 4)},
        {u"{,}", 0, Invalid(u",", u"\" }"), Malformed(1, 2)},
        {u"{\"a\":1,,}", 0, Invalid(u",", u"\""), Malformed(1, 8)},
        {u"[1,\r\n2,\r\n}", 0, Invalid(u"}", kExpectedValue), Malformed(3, 1)},
        {u"[1,\r2,\r  }", 0, Invalid(u"}", kExpectedValue), Malformed(3, 3)},
        {u"[\n\t\tx", VJSONImporter::kStrict, Invalid(u"x", kExpectedElement), Malformed(2, 3)},
        {u"{\"a\":\n\"b\n\"\n,,", 0, Invalid(u",", u"\""), Malformed(4, 2)},
    };
    for (const Case& c : cases) {
        VJSONValue value;
        EXPECT_EQ(Parse(c.text, value, c.options), VE_JSON_MALFORMED) << Narrow(c.text);
        EXPECT_EQ(fErrors, (std::vector<SeenError>{c.specific, c.malformed})) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterTest, QuietOptionSilencesOnlyInvalidAndMissingTokens) {
    VJSONValue value;
    EXPECT_EQ(Parse(u"[1 2]", value, VJSONImporter::kQuietTokens), VE_JSON_MALFORMED);
    EXPECT_TRUE(fErrors.empty());
    EXPECT_EQ(Parse(u"[1,", value, VJSONImporter::kQuietTokens), VE_JSON_MALFORMED);
    EXPECT_TRUE(fErrors.empty());
    EXPECT_EQ(Parse(u"[1,]", value, VJSONImporter::kQuietTokens), VE_JSON_MALFORMED);
    EXPECT_EQ(fErrors, (std::vector<SeenError>{WithToken(VE_JSON_EXTRA_COMMA, u"]"), Malformed(1, 4)}));
    EXPECT_EQ(Parse(u"\"abc", value, VJSONImporter::kQuietTokens | VJSONImporter::kStrict), VE_JSON_MALFORMED);
    EXPECT_EQ(fErrors, (std::vector<SeenError>{WithToken(VE_JSON_UNTERMINATED_STRING, u"\""), Malformed(1, 1)}));
}

TEST_F(VJSONImporterTest, FailureLeavesThePartialValueOrUndefined) {
    VJSONValue value;
    EXPECT_EQ(Parse(u"[1,{\"a\":2},{\"b\"", value), VE_JSON_MALFORMED);
    EXPECT_EQ(Compact(value), u"[1,{\"a\":2}]");
    EXPECT_EQ(Parse(u"[1,{\"a\":2},{\"b\"", value, VJSONImporter::kUndefinedOnFailure), VE_JSON_MALFORMED);
    EXPECT_TRUE(value.IsUndefined());
}

TEST_F(VJSONImporterTest, StrictModeRefusesWhatLenientModeTakesAsStrings) {
    const std::u16string texts[] = {u"{a:1}", u"[word]", u"\"open", u"True"};
    for (const std::u16string& text : texts) {
        VJSONValue value;
        EXPECT_EQ(Parse(text, value), VE_OK) << Narrow(text);
        EXPECT_EQ(Parse(text, value, VJSONImporter::kStrict), VE_JSON_MALFORMED) << Narrow(text);
    }
}

TEST_F(VJSONImporterTest, NestingIsBoundedWithAClearError) {
    auto nested = [](int depth) { return std::u16string(size_t(depth), u'[') + std::u16string(size_t(depth), u']'); };
    VJSONValue value;
    EXPECT_EQ(Parse(nested(kJSONTextMaxDepth), value), VE_OK);
    EXPECT_EQ(Parse(nested(kJSONTextMaxDepth + 1), value), VE_JSON_MALFORMED);
    EXPECT_EQ(fErrors, (std::vector<SeenError>{{VE_JSON_TOO_DEEP, {}}, Malformed(1, kJSONTextMaxDepth + 1)}));

    // Far deeper than any stack would take, as arrays and as objects: refused, never a crash.
    EXPECT_EQ(Parse(std::u16string(300000, u'['), value), VE_JSON_MALFORMED);
    std::u16string objects;
    for (int i = 0; i < 300000; ++i)
        objects += u"{\"a\":";
    EXPECT_EQ(Parse(objects, value), VE_JSON_MALFORMED);
    ASSERT_FALSE(fErrors.empty());
    EXPECT_EQ(fErrors.front().code, VE_JSON_TOO_DEEP);
}

TEST_F(VJSONImporterTest, RecordsPathsLinesAndOffsets) {
    VJSONImporter importer(Text(u"{\"a\": [1,\n  {\"b\": 2}, abc],\n \"c\"\t: {}\n}"), VJSONImporter::kPathsAndLines);
    VJSONValue value;
    ASSERT_EQ(importer.Parse(value), VE_OK);
    ASSERT_NE(importer.GetPathsLines(), nullptr);
    VJSONValue paths(importer.GetPathsLines());
    EXPECT_EQ(Compact(paths), u"{\"a\":{\"line\":1,\"offset\":1},\"a[0]\":{\"line\":1,\"offset\":7},"
                              u"\"a[1]\":{\"line\":2,\"offset\":2},\"a[1].b\":{\"line\":2,\"offset\":3},"
                              u"\"a[2]\":{\"line\":2,\"offset\":12},\"c\":{\"line\":3,\"offset\":1},"
                              u"\"}\":{\"line\":4,\"offset\":0}}");
    EXPECT_EQ(Units(VJSONImporter::sNameOfThePropertyWithPathsAndLines), u"__symbols");
}

TEST_F(VJSONImporterTest, BareWordKeysRecordTheColumnOfTheirFirstUnit) {
    VJSONImporter importer(Text(u"{ key :1, \"q\\\"uoted\": 2}"), VJSONImporter::kPathsAndLines);
    VJSONValue value;
    ASSERT_EQ(importer.Parse(value), VE_OK);
    VJSONValue paths(importer.GetPathsLines());
    EXPECT_EQ(Compact(paths.GetProperty(Text(u"key"))), u"{\"line\":1,\"offset\":2}");
    EXPECT_EQ(Compact(paths.GetProperty(Text(u"q\"uoted"))), u"{\"line\":1,\"offset\":10}");
}

TEST_F(VJSONImporterTest, DateOptionsTurnMarkedAndISOTextsIntoDates) {
    struct Case {
        uint32 options;
        std::u16string text;
        std::u16string written; // with writer options 1 + 512: dates as "YYYY-MM-DD"
    };
    const std::u16string text = u"[\"2024-05-17\",\"!!2024-06-01!!\",\"!!2024-06-02T23:30:00-01:00!!\",\"2024-5-17\"]";
    const Case cases[] = {
        {0, text, u"[\"2024-05-17\",\"!!2024-06-01!!\",\"!!2024-06-02T23:30:00-01:00!!\",\"2024-5-17\"]"},
        {VJSONImporter::kISODates, text,
         u"[\"2024-05-17\",\"!!2024-06-01!!\",\"!!2024-06-02T23:30:00-01:00!!\",\"2024-5-17\"]"},
        {VJSONImporter::kMarkedDates, text, u"[\"2024-05-17\",\"2024-06-01\",\"2024-06-03\",\"2024-5-17\"]"},
        {VJSONImporter::kMarkedDates | VJSONImporter::kAnyDate, text,
         u"[\"2024-05-17\",\"2024-06-01\",\"!!2024-06-02T23:30:00-01:00!!\",\"2024-5-17\"]"},
        {VJSONImporter::kAnyDate, text,
         u"[\"2024-05-17\",\"!!2024-06-01!!\",\"!!2024-06-02T23:30:00-01:00!!\",\"2024-5-17\"]"},
        {VJSONImporter::kMarkedDates, u"[\"!!not a date!!\",\"!!\"]", u"[null,\"!!\"]"},
    };
    for (const Case& c : cases) {
        VJSONValue value;
        ASSERT_EQ(Parse(c.text, value, c.options), VE_OK);
        EXPECT_EQ(Compact(value, VJSONWriter::kQuoted | VJSONWriter::kDateOnly), c.written) << c.options;
    }
    VJSONValue value;
    ASSERT_EQ(Parse(text, value, VJSONImporter::kISODates), VE_OK);
    EXPECT_TRUE(value.GetArrayPtr()->GetAt(0).IsTime());
    EXPECT_TRUE(value.GetArrayPtr()->GetAt(3).IsString());
}

TEST_F(VJSONImporterTest, SharedLockerOptionPutsEveryNodeUnderOneLocker) {
    VJSONValue value;
    ASSERT_EQ(Parse(u"{\"a\":[{\"b\":1}],\"c\":{}}", value, VJSONImporter::kSharedLocker), VE_OK);
    VJSONObject* root = value.GetObjectPtr();
    ASSERT_NE(root, nullptr);
    VRefPtr<VStorageLocker> locker = root->GetStorageLocker();
    ASSERT_NE(locker.Get(), nullptr);
    EXPECT_FALSE(locker->IsFresh());
    EXPECT_GT(root->GetSharedID(), 0);
    VJSONValue a = root->GetProperty(Text(u"a"));
    EXPECT_EQ(a.GetArrayPtr()->GetStorageLocker().Get(), locker.Get());
    EXPECT_EQ(a.GetArrayPtr()->GetAt(0).GetObjectPtr()->GetStorageLocker().Get(), locker.Get());
    EXPECT_EQ(root->GetProperty(Text(u"c")).GetObjectPtr()->GetStorageLocker().Get(), locker.Get());

    VJSONValue plain;
    ASSERT_EQ(Parse(u"{\"a\":[]}", plain), VE_OK);
    EXPECT_EQ(plain.GetObjectPtr()->GetStorageLocker().Get(), nullptr);
}

TEST_F(VJSONImporterTest, TokensComeOneByOneWithTheirTexts) {
    VJSONImporter importer(Text(u" {\"k\\n\" : [word, \"q\"]} "), 0);
    struct Expected {
        VJSONImporter::JsonToken kind;
        std::u16string text;
        bool quoted;
    };
    const Expected expected[] = {
        {VJSONImporter::jsonBeginObject, u"", false}, {VJSONImporter::jsonString, u"k\n", true},
        {VJSONImporter::jsonAssigner, u"", false},    {VJSONImporter::jsonBeginArray, u"", false},
        {VJSONImporter::jsonString, u"word", false},  {VJSONImporter::jsonSeparator, u"", false},
        {VJSONImporter::jsonString, u"q", true},      {VJSONImporter::jsonEndArray, u"", false},
        {VJSONImporter::jsonEndObject, u"", false},   {VJSONImporter::jsonNone, u"", false},
        {VJSONImporter::jsonNone, u"", false},
    };
    for (const Expected& e : expected) {
        VString token("stale");
        bool quoted = !e.quoted;
        EXPECT_EQ(importer.GetNextJSONToken(token, &quoted), e.kind);
        EXPECT_EQ(Units(token), e.text);
        EXPECT_EQ(quoted, e.quoted);
    }
}

TEST_F(VJSONImporterTest, StrictTokenizerReportsAnUnterminatedStringOnlyWhenAskedTo) {
    VJSONImporter quiet(Text(u"\"open"), VJSONImporter::kStrict);
    EXPECT_EQ(quiet.GetNextJSONToken(), VJSONImporter::jsonNone);
    VJSONImporter loud(Text(u"\"open"), VJSONImporter::kStrict);
    StErrorContextInstaller errors(false, true);
    VError err = VE_OK;
    EXPECT_EQ(loud.GetNextJSONToken(&err), VJSONImporter::jsonNone);
    EXPECT_EQ(err, VE_JSON_MALFORMED);
    EXPECT_EQ(test::ErrorsOf(*errors.GetContext()),
              (std::vector<SeenError>{WithToken(VE_JSON_UNTERMINATED_STRING, u"\""), Malformed(1, 1)}));
}

TEST_F(VJSONImporterTest, ParseFileNamesTheFileInItsErrors) {
    char path[] = "/tmp/vela-json-importer-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char content[] = "\xEF\xBB\xBF{\"caf\xC3\xA9\": [1,\r\n2,\r\n}";
    ASSERT_EQ(write(fd, content, sizeof(content) - 1), ssize_t(sizeof(content) - 1));
    close(fd);
    const VFile file(VFilePath(VString(path), FPS_POSIX));
    VJSONValue value;
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VJSONImporter::ParseFile(&file, value), VE_JSON_MALFORMED);
        std::vector<SeenError> seen = test::ErrorsOf(*errors.GetContext());
        EXPECT_EQ(seen, (std::vector<SeenError>{Invalid(u"}", kExpectedValue),
                                                Malformed(3, 1, U(std::string(path) + ", "))}));
    }
    EXPECT_EQ(Compact(value), u"{}"); // the partial object: the array failed before it was stored
    unlink(path);

    // A missing file: its error, and the value untouched.
    StErrorContextInstaller errors(false, true);
    value.SetNumber(7);
    EXPECT_EQ(VJSONImporter::ParseFile(&file, value), VE_FILE_NOT_FOUND);
    EXPECT_EQ(value.GetNumber(), 7);
    EXPECT_EQ(VJSONImporter::ParseFile(nullptr, value), VE_OK);
    EXPECT_TRUE(value.IsUndefined());
}

} // namespace
} // namespace vela
