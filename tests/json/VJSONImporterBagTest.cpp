#include "json/VJSONImporter.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "values/VBagArray.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VValueBag.h"
#include "json/VJSONText.h"

#include "JSONTextTestSupport.h"

#include <cstdio>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::Invalid;
using test::Malformed;
using test::Narrow;
using test::SeenError;
using test::Text;
using test::U;
using test::Unterminated;

const std::u16string kExpectedValue = u"\" 0-9 null true false { [";

// A bag as one line: attributes as name=<kind letter><value> (B boolean, L 64-bit integer, R real, S string),
// then element names with their bags in brackets.
std::string Describe(const VValueBag& bag) {
    std::string out = "{";
    VString name;
    for (int32 n = 1; n <= bag.GetAttributesCount(); ++n) {
        const VValueSingle* value = bag.GetNthAttribute(n, &name);
        if (n > 1) out += ",";
        out += to_string(name) + "=";
        if (value == nullptr) {
            out += "?";
            continue;
        }
        VString text;
        char real[40];
        switch (value->GetTrueValueKind()) {
        case VBoolean::kKind:
            out += value->GetBoolean() ? "Btrue" : "Bfalse";
            break;
        case VLong8::kKind:
            out += "L" + std::to_string(value->GetLong8());
            break;
        case VReal::kKind:
            std::snprintf(real, sizeof(real), "R%.17g", value->GetReal());
            out += real;
            break;
        case VTime::kKind:
            value->GetJSONString(text, 512);
            out += "T" + to_string(text);
            break;
        case VString::kKind:
            value->GetString(text);
            out += "S\"" + to_string(text) + "\"";
            break;
        default:
            out += "kind" + std::to_string(value->GetTrueValueKind());
            break;
        }
    }
    for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n) {
        const VBagArray* list = bag.GetNthElementName(n, &name);
        out += (n > 1 || bag.GetAttributesCount() > 0 ? " " : "") + to_string(name) + "[";
        for (int32 i = 1; list != nullptr && i <= list->GetCount(); ++i)
            out += (i > 1 ? "," : "") + Describe(*list->GetNth(i));
        out += "]";
    }
    return out + "}";
}

class VJSONImporterBagTest : public test::JSONTextFixture {
protected:
    // Reads text into a new bag, keeping the errors raised meanwhile.
    VError Read(const std::u16string& text, VRefPtr<VValueBag>& bag, uint32 options = 0) {
        bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
        StErrorContextInstaller errors(false, true);
        VJSONImporter importer(Text(text), options);
        VError err = importer.JSONObjectToBag(*bag);
        fErrors = test::ErrorsOf(*errors.GetContext());
        return err;
    }
};

TEST_F(VJSONImporterBagTest, MapsMembersToAttributesAndChildren) {
    struct Case {
        std::u16string text;
        std::string bag;
    };
    const Case cases[] = {
        {u"{}", "{}"},
        {u" {\"s\":\"x\",\"t\":true,\"f\":false,\"z\":null}", "{s=S\"x\",t=Btrue,f=Bfalse,z=S\"\"}"},
        // Integers only for plain digits that fit 64 bits; every other number word is a real.
        {u"{\"i\":42,\"n\":-7,\"max\":9223372036854775807,\"min\":-9223372036854775808,\"zeros\":007}",
         "{i=L42,n=L-7,max=L9223372036854775807,min=L-9223372036854775808,zeros=L7}"},
        {u"{\"h\":-0.5,\"e\":1E+21,\"x\":-1E-05,\"k\":1e5,\"over\":9223372036854775808,\"m\":1e\u22122}",
         "{h=R-0.5,e=R1e+21,x=R-1.0000000000000001e-05,k=R100000,over=R9.2233720368547758e+18,m=R0.01}"},
        {u"{\"o\":{\"a\":1},\"e\":{}}", "{o[{____objectunic=Btrue,a=L1}] e[{____objectunic=Btrue}]}"},
        {u"{\"l\":[1,\"x\",{\"b\":2},null],\"none\":[]}",
         "{l[{____FakeArrayElement=L1},{____FakeArrayElement=S\"x\"},{b=L2},{____FakeArrayElement=S\"\"}]}"},
        {u"{\"__CDATA\":\"text\",\"a\":1}", "{<>=S\"text\",a=L1}"},
        // The binary wrapper fills the bag with the object it holds ({"a":true}).
        {u"{\"__PRIVATE_BINARY_OBJECT\":\"BQEAYQAC//8=\"}", "{a=Btrue}"},
        {u"{\"a\":1,\"b\":2,\"a\":\"x\"}", "{a=S\"x\",b=L2}"}, // a repeated attribute keeps its place
        {u"{\"a\":{\"v\":1},\"a\":{\"v\":2}}", "{a[{____objectunic=Btrue,v=L1},{____objectunic=Btrue,v=L2}]}"},
        // Lenient: bare keys, optional commas, a trailing comma, text that stops early, text after the object.
        {u"{a:1 b:\"y\",}", "{a=L1,b=S\"y\"}"},
        {u"{\"a\":1,\"b\":{\"c\":[2", "{a=L1 b[{____objectunic=Btrue c[{____FakeArrayElement=L2}]}]}"},
        {u"{\"a\":1} ] junk", "{a=L1}"},
    };
    for (const Case& c : cases) {
        VRefPtr<VValueBag> bag;
        EXPECT_EQ(Read(c.text, bag), VE_OK) << Narrow(c.text);
        EXPECT_EQ(Describe(*bag), c.bag) << Narrow(c.text);
        EXPECT_TRUE(fErrors.empty()) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterBagTest, ACutBinaryWrapperFails) {
    VRefPtr<VValueBag> bag;
    EXPECT_EQ(Read(u"{\"__PRIVATE_BINARY_OBJECT\":\"BQEA\"}", bag), VE_STREAM_EOF);
}

TEST_F(VJSONImporterBagTest, QuotedDatesOfTheSelectedFormBecomeTimes) {
    const std::u16string text = u"{\"d\":\"2024-05-06\",\"m\":\"!!2024-05-06!!\",\"x\":\"2024-02-30\","
                                u"\"y\":\"!!2024-02-30!!\",\"w\":2024-05-06}";
    VRefPtr<VValueBag> bag;
    EXPECT_EQ(Read(text, bag), VE_OK);
    EXPECT_EQ(Describe(*bag), "{d=T2024-05-06,m=S\"!!2024-05-06!!\",x=S\"2024-02-30\",y=S\"!!2024-02-30!!\",w=R2024}");
    EXPECT_EQ(Read(text, bag, VJSONImporter::kAnyDate), VE_OK);
    EXPECT_EQ(Describe(*bag), "{d=S\"2024-05-06\",m=T2024-05-06,x=S\"2024-02-30\",y=S\"!!2024-02-30!!\",w=R2024}");
}

TEST_F(VJSONImporterBagTest, FailuresPushTheirErrorThenMalformed) {
    struct Case {
        std::u16string text;
        uint32 options;
        SeenError specific;
        SeenError malformed;
    };
    const Case cases[] = {
        {u"", 0, Invalid(u"", u"{"), Malformed(1, 1)},
        {u"  [1]", 0, Invalid(u"[", u"{"), Malformed(1, 3)},
        {u"\"a\"", 0, Invalid(u"\"", u"{"), Malformed(1, 1)},
        {u"{,}", 0, Invalid(u",", u"\" }"), Malformed(1, 2)},
        {u"{\"a\":1,:}", 0, Invalid(u":", u"\""), Malformed(1, 8)},
        {u"{\"a\" 1}", 0, Invalid(u"1", u":"), Malformed(1, 6)},
        {u"{\"a\"", 0, Invalid(u"", u":"), Malformed(1, 5)},
        {u"{\"a\":", 0, Invalid(u"", kExpectedValue), Malformed(1, 6)},
        {u"{\"a\":]}", 0, Invalid(u"]", kExpectedValue), Malformed(1, 6)},
        {u"{\"a\":[[1]]}", 0, Invalid(u"]", u"\""), Malformed(1, 10)}, // no arrays inside arrays
        {u"{\r\n\"a\":1,\r\n[", 0, Invalid(u"[", u"\""), Malformed(3, 1)},
        {u"{\"a\":\"x", VJSONImporter::kStrict, Unterminated(u"\""), Malformed(1, 6)},
    };
    for (const Case& c : cases) {
        VRefPtr<VValueBag> bag;
        EXPECT_EQ(Read(c.text, bag, c.options), VE_JSON_MALFORMED) << Narrow(c.text);
        EXPECT_EQ(fErrors, (std::vector<SeenError>{c.specific, c.malformed})) << Narrow(c.text);
    }
}

TEST_F(VJSONImporterBagTest, FailureKeepsWhatWasReadBefore) {
    VRefPtr<VValueBag> bag;
    EXPECT_EQ(Read(u"{\"a\":1,\"b\":{\"c\":2},\"l\":[3,{\"d\":4}],\"e\":,\"f\":5}", bag), VE_JSON_MALFORMED);
    EXPECT_EQ(Describe(*bag), "{a=L1 b[{____objectunic=Btrue,c=L2}] l[{____FakeArrayElement=L3},{d=L4}]}");
    // A child that fails is not added.
    EXPECT_EQ(Read(u"{\"a\":1,\"b\":{\"c\":}}", bag), VE_JSON_MALFORMED);
    EXPECT_EQ(Describe(*bag), "{a=L1}");
}

TEST_F(VJSONImporterBagTest, NestingIsBoundedWithAClearError) {
    auto nested = [](int depth, const std::u16string& open) {
        std::u16string text;
        for (int i = 0; i < depth; ++i)
            text += open;
        return text;
    };
    VRefPtr<VValueBag> bag;
    EXPECT_EQ(Read(u"{" + nested(kJSONTextMaxDepth - 1, u"\"a\":{"), bag), VE_OK);
    const VValueBag* deepest = bag.Get();
    for (int i = 1; i < kJSONTextMaxDepth && deepest != nullptr; ++i)
        deepest = deepest->GetUniqueElementByPath(VString("a"));
    EXPECT_NE(deepest, nullptr);

    EXPECT_EQ(Read(u"{" + nested(kJSONTextMaxDepth, u"\"a\":{"), bag), VE_JSON_MALFORMED);
    EXPECT_EQ(fErrors, (std::vector<SeenError>{{VE_JSON_TOO_DEEP, {}}, Malformed(1, 1 + 5 * kJSONTextMaxDepth)}));

    // Far deeper than any stack would take, also through arrays of objects: refused, never a crash.
    EXPECT_EQ(Read(u"{" + nested(300000, u"\"a\":[{"), bag), VE_JSON_MALFORMED);
    ASSERT_FALSE(fErrors.empty());
    EXPECT_EQ(fErrors.front().code, VE_JSON_TOO_DEEP);
}

} // namespace
} // namespace vela
