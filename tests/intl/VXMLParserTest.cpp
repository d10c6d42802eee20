#include "intl/VXMLParser.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "files/VFolder.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::RecordingHandler;
using test::StConnectionCounter;
using test::Utf8;

struct ParseResult {
    bool ok = false;
    std::vector<std::string> log;
};

// entities: the parser's entities folder, read for system identifiers that begin with prefix.
ParseResult ParseBytes(const std::string& xml, uint32 options = 0, IFolder* entities = nullptr,
                       const VString& prefix = VString()) {
    ParseResult result;
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(result.log));
    VXMLParser parser;
    parser.SetEntitiesLocalFolder(prefix, entities);
    result.ok = parser.Parse(xml.data(), xml.size(), root.Get(), options);
    return result;
}

using Log = std::vector<std::string>;

class VXMLParserTest : public test::TestProcessFixture {};

TEST_F(VXMLParserTest, EventsReachTheHandlersInDocumentOrder) {
    const ParseResult r = ParseBytes("<?xml version=\"1.0\"?>\n"
                                     "<!-- not passed on -->"
                                     "<root a=\"1\" b='two'>hello<child x=\"y\"/>"
                                     "<skipped k=\"v\"><inner>lost</inner></skipped>world</root>");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log, (Log{"start root", "attr a=1", "attr b=two", "text hello", "start child", "attr x=y", "end child",
                          "start skipped", "text world", "end root"}));
}

// Keeps a copy of every name, value and text it is given, for reading after the parse.
class KeepingHandler : public VObject, public IXMLHandler {
public:
    IXMLHandler* StartElement(const VString& name) override {
        fKept.push_back(name);
        Retain();
        return this;
    }
    void EndElement(const VString& name) override { fKept.push_back(name); }
    void SetAttribute(const VString& name, const VString& value) override {
        fKept.push_back(name);
        fKept.push_back(value);
    }
    void SetText(const VString& text) override { fKept.push_back(text); }
    void processingInstruction(const VString& target, const VString& data) override {
        fKept.push_back(target);
        fKept.push_back(data);
    }

    std::vector<VString> fKept;
};

TEST_F(VXMLParserTest, WhatHandlersKeepOutlivesTheParse) {
    const std::string xml = "<root attribute=\"value\"><?target data?>text<child/>tail</root>";
    VRefPtr<KeepingHandler> handler = VRefPtr<KeepingHandler>::Adopt(new KeepingHandler);
    {
        VXMLParser parser;
        ASSERT_TRUE(parser.Parse(xml.data(), xml.size(), handler.Get(), 0));
    }
    std::vector<std::string> kept;
    for (const VString& text : handler->fKept)
        kept.push_back(Utf8(text));
    EXPECT_EQ(kept, (Log{"root", "attribute", "value", "target", "data", "text", "child", "child", "tail", "root"}));
}

TEST_F(VXMLParserTest, EntitiesAndCDATAAreDecoded) {
    const ParseResult r = ParseBytes("<!DOCTYPE r [<!ENTITY who \"world &amp; co\">]>"
                                     "<r v=\"&lt;&#x41;&quot;\">&who;|&#233;|<![CDATA[<b>&amp;</b>]]></r>",
                                     VXMLParser::kValidateNever);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.log, (Log{"start r", "attr v=<A\"", "text world & co|\\u00E9|<b>&amp;</b>", "end r"}));
}

TEST_F(VXMLParserTest, EncodingsOfBytesAndStrings) {
    // Latin-1 bytes by their declaration; UTF-16 by its byte order mark; a string is UTF-16 whatever it declares.
    const ParseResult latin1 = ParseBytes("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\xE9t\xE9</r>");
    ASSERT_TRUE(latin1.ok);
    EXPECT_EQ(latin1.log, (Log{"start r", "text \\u00E9t\\u00E9", "end r"}));

    const std::u16string utf16 = u"\uFEFF<r>\u20AC</r>";
    const ParseResult wide =
        ParseBytes(std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * sizeof(char16_t)));
    ASSERT_TRUE(wide.ok);
    EXPECT_EQ(wide.log, (Log{"start r", "text \\u20AC", "end r"}));

    Log log;
    VRefPtr<RecordingHandler> root = VRefPtr<RecordingHandler>::Adopt(new RecordingHandler(log));
    VXMLParser parser;
    EXPECT_TRUE(
        parser.Parse(VString(u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>\u0153\u20AC</r>"), root.Get(), 0));
    EXPECT_EQ(log, (Log{"start r", "text \\u0153\\u20AC", "end r"}));
}

struct ReportedError {
    VError code = VE_OK;
    std::string message;
    int64 line = 0;
    int64 column = 0;
};

std::vector<ReportedError> ErrorsOf(const VErrorContext& context) {
    std::vector<ReportedError> out;
    for (const VRefPtr<VErrorBase>& error : context.GetErrors()) {
        ReportedError reported;
        reported.code = error->GetError();
        VJSONObject* parameters = error->GetParameters();
        VString message;
        parameters->GetProperty(VString("message")).GetString(message);
        reported.message = Utf8(message);
        reported.line = int64(parameters->GetProperty(VString("line")).GetNumber());
        reported.column = int64(parameters->GetProperty(VString("column")).GetNumber());
        out.push_back(reported);
    }
    return out;
}

TEST_F(VXMLParserTest, ParseErrorsAreLocated) {
    struct Case {
        const char* xml;
        VError code;
        int64 line;
        int64 column;
    } cases[] = {
        {"<a>\n  <b></a>", VE_XML_FATAL_ERROR, 2, 8},        // mismatched end tag
        {"<a x=\"1\" x=\"2\"/>", VE_XML_FATAL_ERROR, 1, 12}, // attribute given twice
        {"<a>\n\n&nope;</a>", VE_XML_FATAL_ERROR, 3, 7},     // undeclared entity
        {"", VE_XML_FATAL_ERROR, 1, 1},                      // no root element
        {"<a/><b/>", VE_XML_FATAL_ERROR, 1, 5},              // a second root
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        StErrorContextInstaller errors(false);
        const ParseResult r = ParseBytes(c.xml);
        EXPECT_FALSE(r.ok);
        const std::vector<ReportedError> reported = ErrorsOf(*errors.GetContext());
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back().code, c.code);
        EXPECT_FALSE(reported.back().message.empty());
        EXPECT_EQ(reported.back().line, c.line);
        EXPECT_EQ(reported.back().column, c.column);
    }
}

TEST_F(VXMLParserTest, ValidationErrorsLetTheParseGoOn) {
    StErrorContextInstaller errors(false);
    const ParseResult r =
        ParseBytes("<!DOCTYPE r [<!ELEMENT r (#PCDATA)>]><r a=\"1\">text</r>", VXMLParser::kValidateAlways);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.log, (Log{"start r", "attr a=1", "text text", "end r"}));
    const std::vector<ReportedError> reported = ErrorsOf(*errors.GetContext());
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front().code, VE_XML_ERROR);
    EXPECT_EQ(reported.front().line, 1);
}

TEST_F(VXMLParserTest, AttributeNamesFollowNamespaceProcessing) {
    const std::string xml = "<r xmlns:oz=\"urn:oz\" oz:includeIf=\"linux\"/>";
    struct Case {
        uint32 options;
        const char* name;
    } cases[] = {
        {0, "oz:includeIf"},
        {VXMLParser::kValidateNever, "oz:includeIf"},
        {VXMLParser::kNamespaces, "includeIf"},
        {VXMLParser::kSchema, "includeIf"}, // schema processing brings namespaces with it
        {VXMLParser::kSchema | VXMLParser::kValidateNever, "oz:includeIf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const ParseResult r = ParseBytes(xml, c.options);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.log.size(), 4u);
        EXPECT_EQ(r.log[2], std::string("attr ") + c.name + "=linux");
    }
}

// A folder of its own for the files a test writes.
class StTempFolder {
public:
    StTempFolder() {
        char pattern[] = "/tmp/vela_xml_XXXXXX";
        fPath = ::mkdtemp(pattern);
    }
    ~StTempFolder() { std::filesystem::remove_all(fPath); }
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string path = fPath + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    const std::string& Path() const { return fPath; }

private:
    std::string fPath;
};

TEST_F(VXMLParserTest, DefaultedAttributesComeOnlyWhenAsked) {
    StTempFolder folder;
    folder.Write("r.dtd", "<!ELEMENT r EMPTY><!ATTLIST r given CDATA #IMPLIED defaulted CDATA \"yes\">");
    VRefPtr<VFolder> entities = VRefPtr<VFolder>::Adopt(new VFolder(VString((folder.Path() + "/").c_str()), FPS_POSIX));
    const std::string xml = "<!DOCTYPE r SYSTEM \"dtd://r.dtd\"><r given=\"1\"/>";
    struct Case {
        uint32 options;
        Log log;
    } cases[] = {
        {VXMLParser::kValidateNever, {"start r", "attr given=1", "end r"}}, // external DTD not read
        {VXMLParser::kValidateNever | VXMLParser::kDefaultedAttributes, {"start r", "attr given=1", "end r"}},
        {VXMLParser::kValidateNever | VXMLParser::kLoadExternalDTD, {"start r", "attr given=1", "end r"}},
        {VXMLParser::kValidateNever | VXMLParser::kLoadExternalDTD | VXMLParser::kDefaultedAttributes,
         {"start r", "attr given=1", "attr defaulted=yes", "end r"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const ParseResult r = ParseBytes(xml, c.options, entities.Get(), VString("dtd://"));
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.log, c.log);
    }
}

TEST_F(VXMLParserTest, ExternalEntitiesComeOnlyFromTheEntitiesFolder) {
    StTempFolder folder;
    const std::string secret = folder.Write("secret.txt", "SECRET");
    const std::string dtd = folder.Write("secret.dtd", "<!ATTLIST r leaked CDATA \"SECRET\">");
    VRefPtr<VFolder> entities = VRefPtr<VFolder>::Adopt(new VFolder(VString((folder.Path() + "/").c_str()), FPS_POSIX));
    const std::string documents[] = {
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + secret + "\">]><r>&e;</r>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"file://" + secret + "\">]><r>&e;</r>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"secret.txt\">]><r>&e;</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + dtd + "\"> %p;]><r/>",
        "<!DOCTYPE r SYSTEM \"" + dtd + "\"><r/>",
    };
    const uint32 options = VXMLParser::kValidateNever | VXMLParser::kLoadExternalDTD | VXMLParser::kDefaultedAttributes;
    for (const std::string& xml : documents) {
        // With an entities folder or without one: a path outside it is refused, not read.
        for (IFolder* folderGiven : {static_cast<IFolder*>(nullptr), static_cast<IFolder*>(entities.Get())}) {
            SCOPED_TRACE(xml + (folderGiven != nullptr ? " with a folder" : ""));
            StErrorContextInstaller errors(false);
            const ParseResult r = ParseBytes(xml, options, folderGiven, VString("res://"));
            for (const std::string& line : r.log)
                EXPECT_EQ(line.find("SECRET"), std::string::npos) << line;
            EXPECT_FALSE(r.ok);
            const std::vector<ReportedError> reported = ErrorsOf(*errors.GetContext());
            ASSERT_FALSE(reported.empty());
            EXPECT_EQ(reported.back().code, VE_XML_FATAL_ERROR);
            EXPECT_EQ(reported.back().line, 1);
        }
    }
    // The same file through the folder's prefix is read.
    const ParseResult r = ParseBytes("<!DOCTYPE r [<!ENTITY e SYSTEM \"res://secret.txt\">]><r>&e;</r>", options,
                                     entities.Get(), VString("res://"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.log, (Log{"start r", "text SECRET", "end r"}));
    // Inside an element nobody handles too: its content is skipped, but the document reads on.
    const ParseResult skipped =
        ParseBytes("<!DOCTYPE r [<!ENTITY e SYSTEM \"res://secret.txt\">]><r><skipped>&e;</skipped>after</r>", options,
                   entities.Get(), VString("res://"));
    EXPECT_TRUE(skipped.ok);
    EXPECT_EQ(skipped.log, (Log{"start r", "start skipped", "text after", "end r"}));
}

// Entity eN holds ten references to e(N-1), e0 holds "lol": using eN asks for 10^N expansions.
std::string NestedEntities(int levels, const std::string& body) {
    std::string xml = "<!DOCTYPE r [<!ENTITY e0 \"lol\">";
    for (int level = 1; level <= levels; ++level) {
        xml += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int k = 0; k < 10; ++k)
            xml += "&e" + std::to_string(level - 1) + ";";
        xml += "\">";
    }
    return xml + "]>" + body;
}

TEST_F(VXMLParserTest, NestedEntitiesAreRefusedPastTheExpansionLimit) {
    for (const char* body : {"<r>&e5;</r>", "<r a=\"&e5;\"/>"}) {
        SCOPED_TRACE(body);
        StErrorContextInstaller errors(false);
        const ParseResult r = ParseBytes(NestedEntities(5, body), VXMLParser::kValidateNever);
        EXPECT_FALSE(r.ok);
        const std::vector<ReportedError> reported = ErrorsOf(*errors.GetContext());
        ASSERT_FALSE(reported.empty());
        EXPECT_EQ(reported.back().code, VE_XML_FATAL_ERROR);
        EXPECT_FALSE(reported.back().message.empty());
        EXPECT_EQ(reported.back().line, 1);
        EXPECT_GT(reported.back().column, 1);
    }
    // A few levels stay under the limit; predefined and character references are no expansions at all.
    const ParseResult few = ParseBytes(NestedEntities(2, "<r>&e2;</r>"), VXMLParser::kValidateNever);
    EXPECT_TRUE(few.ok);
    std::string references = "<r>";
    for (int i = 0; i < 60000; ++i)
        references += "&amp;&#65;";
    EXPECT_TRUE(ParseBytes(references + "</r>").ok);
}

TEST_F(VXMLParserTest, RemoteDTDsAndEntitiesAreNeverFetched) {
    StConnectionCounter server;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    const std::string documents[] = {
        "<!DOCTYPE r SYSTEM \"" + url + "/r.dtd\"><r/>",
        "<!DOCTYPE r PUBLIC \"-//X//DTD R//EN\" \"" + url + "/r.dtd\"><r/>",
        "<!DOCTYPE r [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><r>&e;</r>",
    };
    for (const std::string& xml : documents) {
        for (uint32 options : {0u, VXMLParser::kValidateAlways, VXMLParser::kValidateNever,
                               VXMLParser::kValidateNever | VXMLParser::kLoadExternalDTD, VXMLParser::kSchema}) {
            SCOPED_TRACE(xml + " options " + std::to_string(options));
            StErrorContextInstaller errors(false);
            ParseBytes(xml, options);
            EXPECT_EQ(server.Connections(), 0);
        }
    }
}

TEST_F(VXMLParserTest, StyleSheetInstructions) {
    struct Case {
        const char* data;
        Log log;
    } cases[] = {
        {"href=\"a.css\" type='text/css'", {"sheet{", "sheet href=a.css", "sheet type=text/css", "}sheet"}},
        {"href = \"a.css\"", {"sheet{", "sheet href=a.css", "}sheet"}},
        {"href=\"a.css\"", {"sheet{", "sheet href=a.css", "}sheet"}}, // last pair with no blank after it
        {"lonely", {"sheet{", "}sheet"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const ParseResult r = ParseBytes(std::string("<r><?xml-stylesheet ") + c.data + "?><?other x=\"1\"?></r>");
        ASSERT_TRUE(r.ok);
        Log expected{"start r"};
        expected.insert(expected.end(), c.log.begin(), c.log.end());
        expected.push_back("end r");
        EXPECT_EQ(r.log, expected);
    }
}

TEST(VXMLParserSetUp, ParsesWithoutAnyUserAndCountsItsUsers) {
    ASSERT_FALSE(VXMLParser::IsInited());
    const ParseResult r = ParseBytes("<r/>");
    EXPECT_TRUE(r.ok);
    EXPECT_FALSE(VXMLParser::IsInited());

    ASSERT_TRUE(VXMLParser::Init());
    {
        StXMLParserUser user;
        EXPECT_TRUE(user.IsValid());
    }
    EXPECT_TRUE(VXMLParser::IsInited());
    EXPECT_TRUE(ParseBytes("<r/>").ok);
    VXMLParser::DeInit();
    EXPECT_FALSE(VXMLParser::IsInited());
    VXMLParser::DeInit(); // one too many does nothing
    EXPECT_FALSE(VXMLParser::IsInited());
}

TEST(VXMLParserSetUp, ThreadsParseTogether) {
    std::vector<std::thread> threads;
    std::atomic<int> parsed{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&parsed] {
            for (int i = 0; i < 20; ++i)
                if (ParseBytes("<r a=\"1\"><c/></r>").ok) ++parsed;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(parsed.load(), 80);
    EXPECT_FALSE(VXMLParser::IsInited());
}

TEST(VXMLParserCharacters, SpacesAndXMLCharacters) {
    for (UniChar c : {u' ', u'\t', u'\n', u'\f', u'\r'})
        EXPECT_TRUE(IXMLHandler::WCharIsSpace(c)) << int(c);
    for (UniChar c : {u'\v', u'a', u'\u00A0', u'\u2028'})
        EXPECT_FALSE(IXMLHandler::WCharIsSpace(c)) << int(c);
    for (UniChar c : {u'\t', u'\n', u'\r', u' ', u'a', u'\uD7FF', u'\uE000', u'\uFFFD'})
        EXPECT_TRUE(IXMLHandler::IsXMLChar(c)) << int(c);
    for (UniChar c : {u'\0', u'\x01', u'\x0B', u'\x1F', u'\uFFFE', u'\uFFFF'})
        EXPECT_FALSE(IXMLHandler::IsXMLChar(c)) << int(c);
}

} // namespace
} // namespace vela
