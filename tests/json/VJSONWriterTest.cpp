#include "json/VJSONWriter.h"

#include "values/VCompareOptions.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"

#include "JSONTestSupport.h"
#include "JSONTextTestSupport.h"
#include "support/StTimeZone.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <time.h>

namespace vela {
namespace {

using test::Compact;
using test::Text;
using test::Units;

VJSONValue Parsed(const std::u16string& text) {
    VJSONValue value;
    EXPECT_EQ(VJSONImporter::ParseString(Text(text), value, VJSONImporter::kStrict), VE_OK);
    return value;
}

std::u16string Written(const VJSONValue& value, uint32 options, VError expected = VE_OK) {
    VJSONWriter writer(options);
    VString text("kept");
    EXPECT_EQ(writer.StringifyValue(value, text), expected);
    return Units(text);
}

// An implementation that writes its object itself, with a binary signature on request.
class WritingImpl : public IJSONObject {
public:
    explicit WritingImpl(uint32 signature, EJSONStatus status) : fSignature(signature), fStatus(status) {}
    EJSONStatus IJSON_Stringify(const VJSONObject*, VJSONWriter& writer, VString& out, VError*) override {
        if (fStatus == EJSONStatus_done) out.Printf("\"level %d\"", writer.GetLevel());
        return fStatus;
    }
    uint32 IJSON_GetBinarySignature() override { return fSignature; }

private:
    uint32 fSignature;
    EJSONStatus fStatus;
};

VJSONValue ObjectWith(IJSONObject* impl) {
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, impl));
    impl->Release();
    object->SetProperty(Text(u"own"), VJSONValue(1));
    return VJSONValue(object.Get());
}

class VJSONWriterTest : public test::JSONTextFixture {};

TEST_F(VJSONWriterTest, WritesScalarsAsTheirJSONText) {
    VJSONValue array(JSON_array);
    VJSONArray* items = array.GetArrayPtr();
    const double numbers[] = {3.0,
                              0.1,
                              1e21,
                              -2.5e-7,
                              9007199254740991.0,
                              9007199254740992.0,
                              std::numeric_limits<double>::quiet_NaN(),
                              -INFINITY,
                              1.0 / 3};
    items->Push(VJSONValue(JSON_undefined));
    items->Push(VJSONValue(JSON_null));
    items->Push(VJSONValue(JSON_true));
    items->Push(VJSONValue(JSON_false));
    for (double number : numbers)
        items->Push(VJSONValue(number));
    EXPECT_EQ(Compact(array), u"[null,null,true,false,3,0.1,1E+21,-2.5E-07,9007199254740991,9.007199254741E+15,null,"
                              u"null,0.33333333333333]");
}

TEST_F(VJSONWriterTest, EscapesStringsAndKeysAsOptionsSay) {
    VJSONValue object(JSON_object);
    std::u16string tricky = u"/\u00e9\x0001\"\\\b\t\n\f\r\x007F&'";
    object.SetProperty(Text(tricky), VJSONValue(Text(tricky)));
    struct Case {
        uint32 options;
        std::u16string written;
    };
    const std::u16string escaped = u"/\u00e9\\u0001\\\"\\\\\\b\\t\\n\\f\\r\\u007F";
    const Case cases[] = {
        {VJSONWriter::kQuoted, u"{\"" + escaped + u"&'\":\"" + escaped + u"&'\"}"},
        {VJSONWriter::kQuoted | VJSONWriter::kEscapeAmpersandApostrophe,
         u"{\"" + escaped + u"\\u0026\\u0027\":\"" + escaped + u"\\u0026\\u0027\"}"},
        {0, u"{" + escaped + u"&':" + escaped + u"&'}"},
        {VJSONWriter::kQuoted | VJSONWriter::kRaw, u"{\"" + tricky + u"\":\"" + tricky + u"\"}"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Written(object, c.options), c.written) << c.options;
}

// Numbers that are not small integers are written exactly as C's "%.14G" writes them.
TEST(VJSONNumberText, MatchesPrintfWith14Digits) {
    std::mt19937_64 random(20240517);
    auto check = [](double value) {
        char ours[kJSONNumberTextSize];
        char printed[64];
        FormatJSONNumber(value, ours);
        std::snprintf(printed, sizeof(printed), "%.14G", value);
        EXPECT_STREQ(ours, printed);
    };
    const double edges[] = {0.5,
                            -0.5,
                            1e-4,
                            1e-5,
                            0.00012,
                            1.5e-7,
                            123456789012.5,
                            1.5e16,
                            1e14 + 0.5,
                            1e21,
                            -1e21,
                            9007199254740993.0,
                            1.2345678901234e17,
                            5e-324,
                            1.7976931348623157e308,
                            2.2250738585072014e-308,
                            2.2250738585072009e-308,
                            0.1 + 0.2,
                            1.0 / 3};
    for (double value : edges)
        check(value);
    for (int i = 0; i < 20000; ++i) {
        uint64 bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (std::isfinite(value) && (value != std::trunc(value) || std::fabs(value) > 9007199254740991.0)) check(value);
        char text[40];
        std::snprintf(text, sizeof(text), "%.*g", int(1 + random() % 17),
                      (double(random()) - 9.2e18) / std::pow(10.0, double(random() % 40)));
        double rounded = std::strtod(text, nullptr);
        if (rounded != std::trunc(rounded) || std::fabs(rounded) > 9007199254740991.0) check(rounded);
    }
}

// Integers within 2^53 - 1 keep every digit; past it a number is a real like any other, 64-bit identifiers
// included.
TEST(VJSONNumberText, IntegersPast2To53AreWrittenAsReals) {
    struct Case {
        double value;
        const char* text;
    };
    for (Case c : {Case{9007199254740991.0, "9007199254740991"}, Case{-9007199254740991.0, "-9007199254740991"},
                   Case{9007199254740992.0, "9.007199254741E+15"}, Case{505874924095815700.0, "5.0587492409582E+17"},
                   Case{-0.0, "0"}}) {
        char text[kJSONNumberTextSize];
        EXPECT_EQ(FormatJSONNumber(c.value, text), int32(std::strlen(c.text)));
        EXPECT_STREQ(text, c.text);
    }
}

// Every ASCII unit at every place of texts of every length up to 24 is escaped as the string encoder escapes it,
// alone or after a first escape (texts are copied in runs of eight and four, and their last units in one run).
TEST_F(VJSONWriterTest, EscapesMatchTheStringEncoderAtEveryPlace) {
    const std::u16string letters = u"abcdefghijklmnopqrstuvwx";
    for (uint32 options : {1u, 1u | 1024u}) {
        for (size_t length = 0; length <= letters.size(); ++length) {
            for (UniChar c = 0; c < 0xA0; ++c) {
                for (size_t place = 0; place <= length; ++place) {
                    for (bool firstEscape : {false, true}) {
                        std::u16string text = letters.substr(0, length);
                        text.insert(place, 1, c);
                        if (firstEscape) text.insert(0, 1, u'\n');
                        VString string = Text(text);
                        VString expected;
                        ASSERT_EQ(string.GetJSONString(expected, options), VE_OK);
                        EXPECT_EQ(Written(VJSONValue(string), options), Units(expected))
                            << int(c) << " at " << place << " of " << length << (firstEscape ? " after \\n" : "");
                    }
                }
            }
        }
    }
}

TEST_F(VJSONWriterTest, PrettyTextIndentsWithTabs) {
    EXPECT_EQ(Written(Parsed(u"{\"a\":[1,2]}"), 9), u"{\n\t\"a\": [\n\t\t1,\n\t\t2\n\t]\n}");
    EXPECT_EQ(Written(Parsed(u"{\"e\":{},\"f\":[],\"g\":[{}]}"), 9),
              u"{\n\t\"e\": {},\n\t\"f\": [],\n\t\"g\": [\n\t\t{}\n\t]\n}");
    EXPECT_EQ(Written(Parsed(u"[]"), 9), u"[]");
    EXPECT_EQ(Written(Parsed(u"\"x\""), 9), u"\"x\"");
}

TEST_F(VJSONWriterTest, DatesFollowTheDateOptions) {
    VJSONValue date;
    date.SetDate(2024, 5, 17);
    EXPECT_EQ(Written(date, 1), u"\"2024-05-17T00:00:00.000Z\"");
    EXPECT_EQ(Written(date, 1 | 512), u"\"2024-05-17\"");
    EXPECT_EQ(Written(date, 1 | 4096), u"\"!!2024-05-17T00:00:00.000Z!!\"");
    EXPECT_EQ(Written(date, 0), u"2024-05-17T00:00:00.000Z");
    VJSONValue zero;
    zero.SetDate(0, 0, 0);
    EXPECT_EQ(Written(zero, 1), u"\"0000-00-00T00:00:00.000Z\""); // the zero date: a time of day 0
    VJSONValue impossible;
    impossible.SetDate(2023, 2, 29);
    EXPECT_EQ(Written(impossible, 1), u"\"0000-00-00T00:00:00Z\""); // a null time
}

TEST_F(VJSONWriterTest, LocalMidnightOptionWritesTheDaysStartInTheLocalZone) {
    test::StTimeZone zone("EST5"); // five hours behind UTC, no daylight saving
    VJSONValue date;
    date.SetDate(2024, 5, 17);
    EXPECT_EQ(Written(date, 1 | 128 | 512), u"\"2024-05-17T05:00:00.000Z\"");
}

TEST_F(VJSONWriterTest, CyclesFailOrAreNamedAndTheTextIsKept) {
    VJSONValue object(JSON_object);
    object.SetProperty(Text(u"self"), object);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(Written(object, 1, VE_JSON_CYCLE), u"kept");
    EXPECT_EQ(errors.GetLastError(), VE_JSON_CYCLE);
    EXPECT_EQ(Written(object, 1 | VJSONWriter::kCircularAsText), u"{\"self\":\"[circular]\"}");

    VJSONValue array(JSON_array);
    array.GetArrayPtr()->Push(VJSONValue(1));
    array.GetArrayPtr()->Push(array);
    EXPECT_EQ(Written(array, 1 | VJSONWriter::kCircularAsText, VE_JSON_CYCLE), u"kept");

    // Broken so that the graphs are freed.
    object.GetObjectPtr()->RemoveProperty(Text(u"self"));
    array.GetArrayPtr()->Clear();
}

// Arrays too: the binary fall-back that the refusal leads to keeps them shared.
TEST_F(VJSONWriterTest, ANodeMetTwiceIsWrittenTwiceUnlessRefused) {
    for (const char16_t* node : {u"{\"x\":1}", u"[1]"}) {
        VJSONValue shared = Parsed(node);
        VJSONValue pair(JSON_array);
        pair.GetArrayPtr()->Push(shared);
        pair.GetArrayPtr()->Push(shared);
        EXPECT_EQ(Written(pair, 1), u"[" + std::u16string(node) + u"," + node + u"]");
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(Written(pair, 1 | VJSONWriter::kRefuseWrittenTwice, VE_JSON_WRITTEN_TWICE), u"kept");

        // The written set lives as long as the writer.
        VJSONWriter writer(1 | VJSONWriter::kRefuseWrittenTwice);
        VString text;
        EXPECT_EQ(writer.StringifyValue(shared, text), VE_OK);
        EXPECT_EQ(writer.StringifyValue(shared, text), VE_JSON_WRITTEN_TWICE);
    }
}

TEST_F(VJSONWriterTest, TruncationStopsAfterAbout512UnitsWithOneEllipsis) {
    VJSONValue array(JSON_array);
    for (int i = 0; i < 1000; ++i)
        array.GetArrayPtr()->Push(VJSONValue(1));
    std::u16string expected = u"[";
    for (int i = 0; i < 513; ++i)
        expected += u"1,";
    expected += u"1...";
    EXPECT_EQ(Written(array, 1 | VJSONWriter::kTruncate), expected);

    VJSONValue nested(JSON_array);
    nested.GetArrayPtr()->Push(array);
    nested.GetArrayPtr()->Push(array);
    std::u16string text = Written(nested, 1 | VJSONWriter::kTruncate);
    EXPECT_EQ(text, u"[" + expected);

    VJSONValue object(JSON_object);
    for (int i = 0; i < 100; ++i)
        object.SetProperty(Text(u"key" + std::u16string(1, u'a' + i % 26) + std::u16string(1, u'a' + i / 26)),
                           VJSONValue(12345));
    std::u16string members = Written(object, 1 | VJSONWriter::kTruncate);
    // Each member "keyXY":12345 is 13 units: the counter passes 512 after 40 members; the 41st stays.
    EXPECT_EQ(members.size(), size_t(1 + 41 * 13 + 40 + 3));
    EXPECT_EQ(members.substr(members.size() - 4), u"5...");
}

TEST_F(VJSONWriterTest, NestingIsBoundedWithAClearError) {
    VJSONValue root(JSON_array);
    VJSONValue level = root;
    for (int i = 1; i < kJSONTextMaxDepth; ++i) {
        VJSONValue child(JSON_array);
        level.GetArrayPtr()->Push(child);
        level = child;
    }
    EXPECT_EQ(Written(root, 1).size(), size_t(2 * kJSONTextMaxDepth));
    VJSONValue deeper(JSON_array);
    deeper.GetArrayPtr()->Push(VJSONValue(1));
    level.GetArrayPtr()->Push(deeper);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(Written(root, 1, VE_JSON_TOO_DEEP), u"kept");
    EXPECT_EQ(errors.GetLastError(), VE_JSON_TOO_DEEP);
}

TEST_F(VJSONWriterTest, ImplementationsMayWriteTheirObjects) {
    VJSONValue custom = ObjectWith(new WritingImpl(0, EJSONStatus_done));
    VJSONValue array(JSON_array);
    array.GetArrayPtr()->Push(custom);
    EXPECT_EQ(Written(array, 1), u"[\"level 1\"]");
    EXPECT_EQ(Written(ObjectWith(new WritingImpl(0, EJSONStatus_notHandled)), 1), u"{\"own\":1}");

    VJSONValue signed_ = ObjectWith(new WritingImpl(FourCC("JBlb"), EJSONStatus_notHandled));
    EXPECT_EQ(Written(signed_, 1), u"{\"own\":1}");
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(Written(signed_, 1 | VJSONWriter::kRefuseBinarySignature, VE_JSON_BINARY_SIGNATURE), u"kept");
}

TEST_F(VJSONWriterTest, NullContainersAreUndefined) {
    VJSONWriter writer;
    VString text;
    EXPECT_EQ(writer.StringifyArray(nullptr, text), VE_OK);
    EXPECT_EQ(Units(text), u"undefined");
    EXPECT_EQ(writer.StringifyObject(nullptr, text), VE_OK);
    EXPECT_EQ(Units(text), u"undefined");
}

TEST_F(VJSONWriterTest, IndentationHelpersFollowTheLevel) {
    VJSONWriter pretty(9);
    pretty.IncrementLevel();
    pretty.IncrementLevel();
    VString text("x");
    pretty.InsertIndentString(text);
    pretty.AppendIndentString(text);
    EXPECT_EQ(Units(text), u"\n\t\tx\n\t\t");
    pretty.DecrementLevel();
    EXPECT_EQ(pretty.GetLevel(), 1);
    VJSONWriter compact(1);
    compact.IncrementLevel();
    compact.InsertIndentString(text);
    EXPECT_EQ(Units(text), u"\n\t\tx\n\t\t");
}

TEST_F(VJSONWriterTest, WrittenTextReadsBackToAnEqualTree) {
    const std::u16string texts[] = {
        u"{\"a\":[1,-2.5,1e-300,1.2345678901234E+200,\"\\u0000\\u001f\\\\ \\\" \u00e9\U0001F600\"],\"b\":{\"c\":{}},"
        u"\"\":[[],[[null]],true,false]}",
        u"[{\"k\":\"v\",\"k2\":[{\"deep\":[1,2,3]}]},0,\"\"]",
    };
    VCompareOptions options;
    options.SetDiacritical(true);
    for (const std::u16string& text : texts) {
        VJSONValue tree = Parsed(text);
        for (uint32 writerOptions : {1u, 9u}) {
            VJSONValue back = Parsed(Written(tree, writerOptions));
            EXPECT_TRUE(tree.DeepEqualTo(back, options)) << writerOptions;
            EXPECT_EQ(Compact(back), Compact(tree));
        }
    }
}

} // namespace
} // namespace vela
