#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/RecordingRaiser.h"
#include "values/StoredBytes.h"
#include "values/VBagArray.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"
#include "values/VTime.h"
#include "values/VUUID.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vela {
namespace {

using test::BagRef;
using test::Chain;
using test::NewBag;

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::u16string Dump(const VValueBag& bag, bool indented = false, const VString& name = "n") {
    VString out;
    EXPECT_EQ(bag.DumpXML(out, name, indented), VE_OK);
    return Text(out);
}

BagRef WithCData(const VString& text) {
    BagRef bag = NewBag();
    bag->SetString(VValueBag::CDataAttributeName(), text);
    return bag;
}

// Lone surrogates cannot be written in literals.
const std::u16string kHigh(1, char16_t(0xD800));
const std::u16string kLow(1, char16_t(0xDC00));

TEST(VValueBagXML, CharacterData) {
    struct Case {
        std::u16string cdata;
        bool indented;
        std::u16string expected;
    } cases[] = {
        {u"x", false, u"<n>x</n>"},
        {u"x", true, u"<n>x</n>"},
        {u"a<b", false, u"<n><![CDATA[a<b]]></n>"},
        {u"a\nb", false, u"<n><![CDATA[a\nb]]></n>"},
        {u"a & 'b'", false, u"<n><![CDATA[a & 'b']]></n>"},
        {u" \n\t ", false, u"<n> \n\t </n>"}, // line ends among spaces only need no section
        {u"a]]>b", false, u"<n><![CDATA[a]]>]]<![CDATA[>b]]></n>"},
        {u"a]\u0001]>b", false, u"<n><![CDATA[a]]>]]<![CDATA[>b]]></n>"}, // dropped before the split
        {u"", true, u"<n>\n</n>"}, // nothing written: the closing tag on its own line
        {u"\u0001\uFFFE", false, u"<n></n>"},
        {u"\U0001F600" + kHigh + u"x" + kLow, false, u"<n>\U0001F600x</n>"}, // lone surrogates go, pairs stay
    };
    for (const Case& c : cases)
        EXPECT_EQ(Dump(*WithCData(VString(c.cdata.c_str())), c.indented), c.expected) << "case " << (&c - cases);
}

TEST(VValueBagXML, AttributesOfEveryKindAndEscapes) {
    BagRef bag = NewBag();
    bag->SetString("s", VString((u"a\"b<c>&'d\te\nf\rg\u0001h" + kHigh + u"i\U0001F600").c_str()));
    bag->SetLong("l", -12);
    bag->SetLong8("l8", int64(1) << 40);
    bag->SetBool("b", true);
    bag->SetReal("r", 0.5);
    bag->SetByte("y", -3);
    bag->SetWord("w", 300);
    bag->SetVUUID("u", VUUID("00112233445566778899AABBCCDDEEFF"));
    bag->SetBool("____objectunic", true);
    bag->SetString("____property_name_in_jsarray", VString("p"));
    EXPECT_EQ(Dump(*bag), u"<n s=\"a&quot;b&lt;c&gt;&amp;&apos;d&#9;e&#10;f&#13;ghi\U0001F600\" l=\"-12\" "
                          u"l8=\"1099511627776\" b=\"true\" r=\"0.5\" y=\"-3\" w=\"300\" "
                          u"u=\"00112233445566778899AABBCCDDEEFF\"/>");
}

TEST(VValueBagXML, ValuesWaitingForAPackAreWrittenAsTheyStand) {
    BagRef bag = NewBag();
    bag->SetString("s", VString("short"));
    bag->SetString("s", VString("a longer <text>")); // another size: kept aside until the next pack
    bag->SetLong("k", 1);
    bag->SetReal("k", 2.5); // another kind
    bag->AppendToCData(VString("x"));
    bag->AppendToCData(VString("<y>"));
    ASSERT_TRUE(bag->GetAttributes().IsPackNeeded());
    EXPECT_EQ(Dump(*bag), u"<n s=\"a longer &lt;text&gt;\" k=\"2.5\"><![CDATA[x<y>]]></n>");
}

// root (a="1") holding two "item" children (the second with a "sub" child) and a child with text.
BagRef Tree() {
    BagRef root = NewBag();
    root->SetLong("a", 1);
    BagRef first = NewBag();
    first->SetString("k", VString("v"));
    root->AddElement("item", first.Get());
    BagRef second = NewBag();
    second->AddElement("sub", NewBag().Get());
    root->AddElement("item", second.Get());
    root->AddElement("text", WithCData(VString("t")).Get());
    return root;
}

TEST(VValueBagXML, ChildrenOnTheirOwnLines) {
    EXPECT_EQ(Dump(*Tree(), true), u"<n a=\"1\">\n"
                                   u"\t<item k=\"v\"/>\n"
                                   u"\t<item>\n"
                                   u"\t\t<sub/>\n"
                                   u"\t</item>\n"
                                   u"\t<text>t</text>\n"
                                   u"</n>");
    EXPECT_EQ(Dump(*Tree(), false), u"<n a=\"1\">\n<item k=\"v\"/>\n<item>\n<sub/></item>\n<text>t</text></n>");

    // Character data after children ends the element right after it.
    BagRef mixed = Tree();
    mixed->AppendToCData(VString("end"));
    EXPECT_EQ(Dump(*mixed, true), u"<n a=\"1\">\n\t<item k=\"v\"/>\n\t<item>\n\t\t<sub/>\n\t</item>\n"
                                  u"\t<text>t</text>end</n>");

    // Names with empty lists only: an element without content.
    BagRef empty = NewBag();
    empty->SetElements("none", VRefPtr<VBagArray>::Adopt(new VBagArray).Get());
    EXPECT_EQ(Dump(*empty, true), u"<n></n>");
}

TEST(VValueBagXML, AppendsToWhatOutHolds) {
    VString out("<?xml?>\n");
    ASSERT_EQ(NewBag()->DumpXML(out, VString(u"r\u00E9"), true), VE_OK);
    EXPECT_EQ(Text(out), u"<?xml?>\n<r\u00E9/>");
}

TEST(VValueBagXML, NamesThatAreNotXMLNamesAreRefused) {
    struct Case {
        const char* what;
        std::function<void(VValueBag&)> fill;
        VString elementName;
    } cases[] = {
        {"empty element name", [](VValueBag&) {}, VString("")},
        {"element name with a space", [](VValueBag&) {}, VString("a b")},
        {"element name with a lone surrogate", [](VValueBag&) {}, VString((u"a" + kHigh).c_str())},
        {"attribute name beginning with a digit", [](VValueBag& b) { b.SetLong("1a", 1); }, VString("n")},
        {"attribute name with a quote", [](VValueBag& b) { b.SetLong("a\"", 1); }, VString("n")},
        {"empty attribute name", [](VValueBag& b) { b.SetLong("", 1); }, VString("n")},
        {"attribute name of a lone lead byte", [](VValueBag& b) { b.SetLong(StPackedDictionaryKey("\xC3", 1), 1); },
         VString("n")},
        {"attribute name of bad UTF-8", [](VValueBag& b) { b.SetLong(StPackedDictionaryKey("a\xC3", 2), 1); },
         VString("n")},
        {"child name with markup", [](VValueBag& b) { b.AddElement("a<b", NewBag().Get()); }, VString("n")},
        {"grandchild name",
         [](VValueBag& b) {
             BagRef child = NewBag();
             child->AddElement("x y", NewBag().Get());
             b.AddElement("c", child.Get());
         },
         VString("n")},
    };
    for (const Case& c : cases) {
        BagRef bag = NewBag();
        c.fill(*bag);
        test::RecordingRaiser raised;
        VString out("kept");
        EXPECT_EQ(bag->DumpXML(out, c.elementName, true), VE_INVALID_PARAMETER) << c.what;
        EXPECT_EQ(Text(out), u"kept") << c.what;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_INVALID_PARAMETER}) << c.what;
    }

    // Names XML allows, beyond ASCII too; a child name only matters where a child is written.
    BagRef bag = NewBag();
    bag->SetLong(VString(u"\u00E9t\u00E9-1.x:y"), 1);
    bag->SetElements("bad name", VRefPtr<VBagArray>::Adopt(new VBagArray).Get());
    bag->AddElement(VString(u"\u4E2D"), NewBag().Get());
    EXPECT_EQ(Dump(*bag, false, VString("_a")), u"<_a \u00E9t\u00E9-1.x:y=\"1\">\n<\u4E2D/></_a>");
}

TEST(VValueBagXML, DepthIsBoundedAndIndentationCapped) {
    VString out;
    ASSERT_EQ(Chain(kStoredDataMaxDepth, "c")->DumpXML(out, "c", true), VE_OK);
    const std::u16string text = Text(out);
    EXPECT_NE(text.find(std::u16string(100, u'\t') + u"<c/>"), std::u16string::npos);
    EXPECT_EQ(text.find(std::u16string(101, u'\t')), std::u16string::npos);

    test::RecordingRaiser raised;
    VString refused("kept");
    EXPECT_EQ(Chain(kStoredDataMaxDepth + 1, "c")->DumpXML(refused, "c", false), VE_INVALID_PARAMETER);
    EXPECT_EQ(Text(refused), u"kept");
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_INVALID_PARAMETER});
}

TEST(VValueBagXML, NeedsEscapeSequence) {
    const UniChar set[] = {u'&', u'<'};
    struct Case {
        const char16_t* text;
        bool withSet;
        bool expected;
    } cases[] = {
        {u"a&b", true, true}, {u"a&b", false, false}, {u"a\tb", false, true},     {u"\t \n", true, false},
        {u"ab", true, false}, {u"", true, false},     {u"\r\u00E9", false, true},
    };
    for (const Case& c : cases) {
        const UniChar* end = c.withSet ? std::end(set) : std::begin(set);
        EXPECT_EQ(VValueBag::NeedsEscapeSequence(VString(c.text), std::begin(set), end), c.expected)
            << "case " << (&c - cases);
    }
}

// Times and durations go by their own text forms, and through the binary form unchanged.
TEST(VValueBagXML, TimesAndDurationsUseTheirOwnForms) {
    VTime time;
    time.FromUTCTime(2020, 3, 4, 5, 6, 1, 1);
    const VDuration duration(90061001);
    BagRef bag = NewBag();
    bag->SetAttribute("t", time);
    bag->SetAttribute("d", duration);

    VString timeText;
    VString durationText;
    time.GetXMLString(timeText, 1);
    duration.GetXMLString(durationText, 1);
    EXPECT_EQ(Dump(*bag), u"<n t=\"" + Text(timeText) + u"\" d=\"" + Text(durationText) + u"\"/>");

    time.GetJSONString(timeText, 513);
    duration.GetJSONString(durationText, 513);
    VString json;
    ASSERT_EQ(bag->GetJSONString(json, 0), VE_OK);
    EXPECT_EQ(Text(json), u"{\"t\":" + Text(timeText) + u",\"d\":" + Text(durationText) + u"}");

    const std::string bytes = test::WrittenBytes([&](VStream* s) { bag->WriteToStream(s); }, true);
    BagRef read = NewBag();
    ASSERT_EQ(test::ReadBytes(
                  bytes, [&](VStream* s) { return read->ReadFromStream(s); }, true),
              VE_OK);
    EXPECT_TRUE(read->EqualTo(*bag));
}

} // namespace
} // namespace vela
