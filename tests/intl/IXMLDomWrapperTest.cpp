#include "intl/IXMLDomWrapper.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VURL.h"
#include "files/platform/XPosixFaults.h"
#include "intl/VXMLBagHandler.h"
#include "support/BagTestSupport.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"
#include "values/VBagArray.h"
#include "values/VBlob.h"
#include "values/VScalar.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>
#include <xercesc/dom/DOMDocument.hpp>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::BagRef;
using test::NewBag;
using test::RecordingHandler;
using test::Utf8;
using Log = std::vector<std::string>;

// A parsed document, released at the end of the test.
class StDocument {
public:
    explicit StDocument(const std::string& xml)
        : fNode(IXMLDomWrapper::CreateNodeDocumentFromBuffer(xml.data(), xml.size())) {}
    ~StDocument() { IXMLDomWrapper::ReleaseNode(fNode); }
    StDocument(const StDocument&) = delete;
    StDocument& operator=(const StDocument&) = delete;

    VXMLDOMNode_opaque* Node() const { return fNode; }
    VXMLDOMElement_opaque* Root() const { return IXMLDomWrapper::GetRootNodeElement(fNode); }
    VXMLDOMDocument_opaque* Document() const { return IXMLDomWrapper::GetNodeDocument(fNode); }

private:
    VXMLDOMNode_opaque* fNode;
};

std::string Name(VXMLDOMElement_opaque* element) {
    VString name;
    IXMLDomWrapper::GetNodeElementName(element, name);
    return Utf8(name);
}

std::string Serialized(VXMLDOMNode_opaque* node, bool pretty) {
    VBlobWithPtr blob;
    size_t size = 0;
    EXPECT_TRUE(IXMLDomWrapper::SerializeToBlob(node, &blob, 0, size, pretty));
    EXPECT_EQ(size, blob.GetSize());
    return std::string(static_cast<const char*>(blob.GetDataPtr()), size);
}

class IXMLDomWrapperTest : public test::TestProcessFixture {};

TEST_F(IXMLDomWrapperTest, WalksAParsedDocument) {
    StDocument doc("<r xmlns:p=\"urn:p\" a=\"1\" p:b=\"2\"><t>text</t><c><![CDATA[<x>]]></c><n>42</n>"
                   "<f>2.5</f><yes>true</yes><e/></r>");
    ASSERT_NE(doc.Node(), nullptr);
    VXMLDOMElement_opaque* root = doc.Root();
    EXPECT_EQ(Name(root), "r");
    ASSERT_EQ(IXMLDomWrapper::GetNumberOfChildrenNodes(doc.Node()), 1);
    ASSERT_EQ(IXMLDomWrapper::GetNumberOfChildrenNodes(IXMLDomWrapper::GetNodeFromNodeElement(root)), 6);
    auto child = [&](int32 index) {
        return IXMLDomWrapper::GetNodeElement(
            IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(root), index));
    };
    EXPECT_EQ(IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(root), 6), nullptr);

    VString text;
    IXMLDomWrapper::GetNodeElementValueString(child(0), text);
    EXPECT_EQ(Utf8(text), "text");
    IXMLDomWrapper::GetNodeElementCDATA(child(0), text);
    EXPECT_TRUE(text.IsEmpty()); // a text node is no CDATA section
    IXMLDomWrapper::GetNodeElementCDATA(child(1), text);
    EXPECT_EQ(Utf8(text), "<x>");
    int32 number = 0;
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueLong(child(2), number));
    EXPECT_EQ(number, 42);
    double real = 0;
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueReal(child(3), real));
    EXPECT_EQ(real, 2.5);
    bool flag = false;
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementValueBoolean(child(4), flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(IXMLDomWrapper::GetNodeElementValueBoolean(child(0), flag)); // "text" is no boolean

    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementAttribute(root, VString("a"), text));
    EXPECT_EQ(Utf8(text), "1");
    EXPECT_TRUE(IXMLDomWrapper::GetNodeElementAttribute(root, VString("p:b"), text));
    EXPECT_EQ(Utf8(text), "2");
    EXPECT_FALSE(IXMLDomWrapper::GetNodeElementAttribute(root, VString("missing"), text));
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(IXMLDomWrapperTest, RefusedBuffersGiveNoDocument) {
    for (const std::string xml : {"", "<r>", "<r></s>", "<r a=\"1\" a=\"2\"/>", "<r/>junk"}) {
        SCOPED_TRACE(xml);
        StDocument doc(xml);
        EXPECT_EQ(doc.Node(), nullptr);
        EXPECT_EQ(doc.Root(), nullptr);
    }
    EXPECT_FALSE(VXMLParser::IsInited());
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(nullptr, VString("x")), nullptr);
}

TEST_F(IXMLDomWrapperTest, ADocumentKeepsTheParserSetUpWhileItLives) {
    ASSERT_FALSE(VXMLParser::IsInited());
    {
        StDocument doc("<r/>");
        ASSERT_NE(doc.Node(), nullptr);
        EXPECT_TRUE(VXMLParser::IsInited());
        VXMLDOMNode_opaque* copy = IXMLDomWrapper::CloneNodeDocument(doc.Node());
        ASSERT_NE(copy, nullptr);
        IXMLDomWrapper::ReleaseNode(copy);
        // The same through the document handle: a copy of its own, with the same root.
        copy = IXMLDomWrapper::CloneNodeDocument(doc.Document());
        ASSERT_NE(copy, nullptr);
        EXPECT_NE(copy, doc.Node());
        EXPECT_EQ(Name(IXMLDomWrapper::GetRootNodeElement(copy)), "r");
        IXMLDomWrapper::ReleaseNode(copy);
        EXPECT_EQ(IXMLDomWrapper::CloneNodeDocument(static_cast<VXMLDOMDocument_opaque*>(nullptr)), nullptr);
        EXPECT_TRUE(VXMLParser::IsInited());
        EXPECT_EQ(Name(doc.Root()), "r");
    }
    EXPECT_FALSE(VXMLParser::IsInited());
}

TEST_F(IXMLDomWrapperTest, RemoteDTDsAreNotFetched) {
    test::StConnectionCounter server;
    const std::string xml =
        "<!DOCTYPE r SYSTEM \"http://127.0.0.1:" + std::to_string(server.Port()) + "/r.dtd\"><r a=\"1\"/>";
    StDocument doc(xml);
    EXPECT_NE(doc.Node(), nullptr);
    EXPECT_EQ(server.Connections(), 0);
}

TEST_F(IXMLDomWrapperTest, HostileEntitiesGiveNoDocument) {
    const std::string secret =
        std::filesystem::temp_directory_path() / ("vela_dom_secret_" + std::to_string(::getpid()));
    std::ofstream(secret) << "SECRET";
    std::string laughs = "<!DOCTYPE r [<!ENTITY e0 \"lol\">";
    for (int level = 1; level <= 5; ++level) {
        laughs += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&e" + std::to_string(level - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><r>&e5;</r>";
    const std::string documents[] = {
        laughs,
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + secret + "\">]><r>&e;</r>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + secret + "\">]><r>&e;</r>",
    };
    for (const std::string& xml : documents) {
        SCOPED_TRACE(xml.substr(0, 80));
        StErrorContextInstaller errors(false);
        StDocument doc(xml);
        VString text;
        if (doc.Root() != nullptr) IXMLDomWrapper::GetNodeElementValueString(doc.Root(), text);
        EXPECT_EQ(Utf8(text).find("SECRET"), std::string::npos);
        EXPECT_EQ(doc.Node(), nullptr);
        // Refused with the place of the fault.
        const auto& reported = errors.GetContext()->GetErrors();
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back()->GetError(), VE_XML_FATAL_ERROR);
        EXPECT_EQ(reported.back()->GetParameters()->GetProperty(VString("line")).GetNumber(), 1);
    }
    std::filesystem::remove(secret);
}

TEST_F(IXMLDomWrapperTest, DocumentURLsFromURIsAndPaths) {
    struct Case {
        const char16_t* uri; // set on the parsed document; null: none
        bool valid;
        const char* url; // decoded, when valid
    } cases[] = {
        {u"file:///tmp/a%20b.xml", true, "file:///tmp/a b.xml"},
        {u"/tmp/plain path.xml", true, "file:///tmp/plain path.xml"},
        {u"relative.xml", false, ""},
        {u"", false, ""},
        {nullptr, false, ""},
    };
    for (const Case& c : cases) {
        StDocument doc("<r/>");
        ASSERT_NE(doc.Node(), nullptr);
        // The handle stands for the parser library's document: the URI is set through it.
        reinterpret_cast<XERCES_CPP_NAMESPACE::DOMDocument*>(doc.Document())->setDocumentURI(c.uri);
        VURL url(VString("http://untouched/"), false);
        const VString context(c.uri != nullptr ? c.uri : u"(none)");
        EXPECT_EQ(IXMLDomWrapper::GetDocumentURL(IXMLDomWrapper::GetNodeFromNodeElement(doc.Root()), url), c.valid)
            << Utf8(context);
        VString text;
        url.GetAbsoluteURL(text, false);
        if (c.valid) {
            EXPECT_EQ(Utf8(text), c.url) << Utf8(context);
        } else {
            EXPECT_EQ(Utf8(text), "http://untouched/") << Utf8(context); // nothing it could locate: the URL stays
        }
    }
    VURL url;
    EXPECT_FALSE(IXMLDomWrapper::GetDocumentURL(nullptr, url));
}

TEST_F(IXMLDomWrapperTest, LineEndsSerialiseAsOneCarriageReturn) {
    StDocument doc("<r>one\r\ntwo\nthree</r>");
    ASSERT_NE(doc.Node(), nullptr);
    for (bool pretty : {false, true}) {
        SCOPED_TRACE(pretty);
        const std::string text = Serialized(doc.Node(), pretty);
        EXPECT_NE(text.find("<r>one\rtwo\rthree</r>"), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
}

TEST_F(IXMLDomWrapperTest, IDsAreRegisteredAlsoInTheXMLNamespace) {
    StDocument doc("<r><a xml:id=\"first\"/><b id=\"second\"><c id=\"third\"/></b></r>");
    ASSERT_NE(doc.Node(), nullptr);
    IXMLDomWrapper::RegisterNodeIDs(doc.Node());
    EXPECT_EQ(Name(IXMLDomWrapper::FindNodeElementByID(doc.Node(), VString("first"))), "a");
    EXPECT_EQ(Name(IXMLDomWrapper::FindNodeElementByID(doc.Node(), VString("second"))), "b");
    EXPECT_EQ(Name(IXMLDomWrapper::FindNodeElementByID(doc.Node(), VString("third"))), "c");
    EXPECT_EQ(IXMLDomWrapper::FindNodeElementByID(doc.Node(), VString("none")), nullptr);
}

TEST_F(IXMLDomWrapperTest, BuildingElementsAndValues) {
    StDocument doc("<r xmlns:p=\"urn:p\"><v><inner/>tail</v></r>");
    ASSERT_NE(doc.Node(), nullptr);
    VXMLDOMElement_opaque* root = doc.Root();
    IXMLDomWrapper::AddNodeElement(root, VString("flag"), true);
    IXMLDomWrapper::AddNodeElement(root, VString("count"), int32(-7));
    IXMLDomWrapper::AddNodeElement(root, VString("ratio"), 0.25);
    VLong boxed(12);
    IXMLDomWrapper::AddNodeElement(root, VString("boxed"), &boxed);

    VXMLDOMElement_opaque* v =
        IXMLDomWrapper::GetNodeElement(IXMLDomWrapper::GetChildNode(IXMLDomWrapper::GetNodeFromNodeElement(root), 0));
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementValue(v, VString("replaced")));
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementValue(
        IXMLDomWrapper::AddNodeElement(root, VString("again"), VString("first")), VString("second")));

    VXMLDOMElement_opaque* plain = IXMLDomWrapper::CreateElement(doc.Document(), root, u"q:plain");
    VXMLDOMElement_opaque* spaced = IXMLDomWrapper::CreateElement(doc.Document(), root, u"p:spaced");
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(spaced, nullptr);
    IXMLDomWrapper::AppendChild(IXMLDomWrapper::GetNodeFromNodeElement(root),
                                IXMLDomWrapper::GetNodeFromNodeElement(plain));
    IXMLDomWrapper::AppendChild(IXMLDomWrapper::GetNodeFromNodeElement(root),
                                IXMLDomWrapper::GetNodeFromNodeElement(spaced));

    bool isID = false;
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("id"), VString("main"), false, &isID));
    EXPECT_TRUE(isID);
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("gone"), VString("x"), false, &isID));
    EXPECT_FALSE(isID);
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("gone"), VString(), true, nullptr));
    EXPECT_TRUE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("kept"), VString(), false, nullptr));
    EXPECT_FALSE(IXMLDomWrapper::SetNodeElementAttribute(root, VString("<>"), VString("x"), false, nullptr));
    EXPECT_EQ(Name(IXMLDomWrapper::FindNodeElementByID(doc.Node(), VString("main"))), "r");

    EXPECT_EQ(Serialized(doc.Node(), false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><r id=\"main\" kept=\"\" "
              "xmlns:p=\"urn:p\"><v>replaced</v><flag>true</flag><count>-7</count><ratio>0.25</ratio><boxed>12</boxed>"
              "<again>second</again><q:plain/><p:spaced/></r>");
}

TEST_F(IXMLDomWrapperTest, ReplaysIntoHandlers) {
    StDocument doc("<r a=\"1\">x<c k=\"v\"><![CDATA[<y>]]></c><?xml-stylesheet href=\"s.css\"?><skip><d/></skip></r>");
    ASSERT_NE(doc.Node(), nullptr);
    Log log;
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log));
    // "skip" finds no handler: the walk goes on but reports it.
    EXPECT_FALSE(IXMLDomWrapper::Parse(doc.Node(), root.Get()));
    EXPECT_EQ(log, (Log{"start r", "attr a=1", "text x", "start c", "attr k=v", "text <y>", "end c", "sheet{",
                        "sheet href=s.css", "}sheet", "start skip", "end r"}));
}

TEST_F(IXMLDomWrapperTest, BagsGoIntoAndOutOfDOMElements) {
    StDocument doc("<root/>");
    ASSERT_NE(doc.Node(), nullptr);
    BagRef bag = NewBag();
    bag->SetString("name", VString("a & b"));
    bag->SetLong("count", 3);
    bag->SetBool("on", true);
    bag->AppendToCData(VString("character data is not written"));
    for (const char* id : {"1", "2"}) {
        BagRef item = NewBag();
        item->SetString("id", VString(id));
        bag->AddElement("item", item.Get());
    }
    std::vector<VXMLDOMNode_opaque*> made;
    VXMLDOMNode_opaque* rootNode = IXMLDomWrapper::GetNodeFromNodeElement(doc.Root());
    ASSERT_EQ(WriteBagToDomXML(*bag, rootNode, &made), VE_OK);
    EXPECT_EQ(made.size(), 2u);
    EXPECT_EQ(Serialized(doc.Node(), false),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><root count=\"3\" name=\"a &amp; b\" "
              "on=\"true\"><item id=\"1\"/><item id=\"2\"/></root>");

    BagRef read = NewBag();
    ASSERT_EQ(ReadBagFromDomXML(rootNode, *read), VE_OK);
    VString text;
    EXPECT_TRUE(read->GetString("name", text));
    EXPECT_EQ(Utf8(text), "a & b");
    EXPECT_TRUE(read->GetString("count", text));
    EXPECT_EQ(Utf8(text), "3");
    ASSERT_NE(read->GetElements("item"), nullptr);
    EXPECT_EQ(read->GetElements("item")->GetCount(), 2);
    EXPECT_FALSE(read->AttributeExists(VValueBag::CDataAttributeName()));

    EXPECT_EQ(ReadBagFromDomXML(doc.Node(), *read), VE_XML_ERROR); // the document node is no element
    EXPECT_EQ(WriteBagToDomXML(*bag, doc.Node(), nullptr), VE_INVALID_PARAMETER);
}

TEST_F(IXMLDomWrapperTest, WritingAFileReplacesItWholeOrNotAtAll) {
    char pattern[] = "/tmp/vela_dom_XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    const std::string path = root + "/doc.xml";
    std::ofstream(path) << "old";
    const VFile file(VString(path.c_str()), FPS_POSIX);
    StDocument doc("<r a=\"1\">x\ny</r>");
    ASSERT_NE(doc.Node(), nullptr);
    {
        StErrorContextInstaller errors(false, true);
        StPosixFault full("pwrite", ENOSPC);
        EXPECT_FALSE(IXMLDomWrapper::WriteToFile(doc.Node(), file, false));
    }
    auto contents = [&]() {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(contents(), "old");
    EXPECT_TRUE(IXMLDomWrapper::WriteToFile(doc.Node(), file, false));
    EXPECT_EQ(contents(), "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?><r a=\"1\">x\ry</r>");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(root))
        ++entries;
    EXPECT_EQ(entries, 1); // nothing left beside it
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace vela
