#include "intl/VXMLBagHandler.h"

#include "core/VErrorContext.h"
#include "core/VTask.h"
#include "files/IFileSystemObject.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "files/VPtrStream.h"
#include "files/platform/XPosixFaults.h"
#include "support/BagTestSupport.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"
#include "values/VBagArray.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vela {
namespace {

using test::BagRef;
using test::NewBag;

std::string Xml(const VValueBag& bag, const char* name) {
    VString text;
    EXPECT_EQ(bag.DumpXML(text, VString(name), false), VE_OK);
    std::string out;
    for (int32 i = 0; i < text.GetLength(); ++i)
        out += char(text.GetCPointer()[i]);
    return out;
}

VString Attribute(const VValueBag& bag, const char* name) {
    VString value;
    EXPECT_TRUE(bag.GetString(StPackedDictionaryKey(name), value)) << name;
    return value;
}

VError Load(const std::string& xml, const char* name, VValueBag& bag, uint32 options = 0) {
    return LoadBagFromXML(xml.data(), xml.size(), VString(name), bag, options);
}

// The bag the updater writes into the new bundle.
BagRef ServerLinkBag() {
    BagRef bag = NewBag();
    bag->SetBool("is_remote", true);
    bag->SetString("server_database_name", VString(u"Caf\u00E9 & <Co>"));
    bag->SetString("server_path", VString("10.0.0.7:19812"));
    bag->SetString("cache_folder_name", VString(""));
    bag->SetBool("remote_shared_resources", false);
    return bag;
}

class VXMLBagHandlerTest : public test::TestProcessFixture {};

TEST_F(VXMLBagHandlerTest, ServerLinkFileReadsBack) {
    BagRef written = ServerLinkBag();
    VString text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    ASSERT_EQ(written->DumpXML(text, VString("database_shortcut"), false), VE_OK);
    std::string utf8;
    {
        VMemoryBuffer<1024, 2, 1048576> buffer;
        ASSERT_TRUE(text.ToBuffer(buffer, VTC_UTF_8));
        utf8.assign(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
    }
    EXPECT_EQ(utf8, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><database_shortcut is_remote=\"true\" "
                    "server_database_name=\"Caf\xC3\xA9 &amp; &lt;Co&gt;\" server_path=\"10.0.0.7:19812\" "
                    "cache_folder_name=\"\" remote_shared_resources=\"false\"/>");

    BagRef read = NewBag();
    ASSERT_EQ(Load(utf8, "database_shortcut", *read), VE_OK);
    ASSERT_EQ(read->GetAttributesCount(), 5);
    bool remote = false;
    EXPECT_TRUE(read->GetBool("is_remote", remote));
    EXPECT_TRUE(remote);
    EXPECT_TRUE(Attribute(*read, "server_database_name").EqualToStringRaw(VString(u"Caf\u00E9 & <Co>")));
    EXPECT_TRUE(Attribute(*read, "server_path").EqualToStringRaw(VString("10.0.0.7:19812")));
    EXPECT_TRUE(Attribute(*read, "cache_folder_name").IsEmpty());
    EXPECT_TRUE(read->GetBool("remote_shared_resources", remote));
    EXPECT_FALSE(remote);
    // Attributes come back as texts, in document order.
    VString name;
    read->GetNthAttribute(3, &name);
    EXPECT_TRUE(name.EqualToStringRaw(VString("server_path")));
}

// A tree with repeated names, nesting, character data that needs a section and names beyond ASCII, all
// attributes texts so that it reads back equal.
BagRef Tree() {
    BagRef root = NewBag();
    root->SetString("title", VString(u"quote \" apostrophe ' tab\there"));
    for (const char* id : {"1", "2", "3"}) {
        BagRef item = NewBag();
        item->SetString("id", VString(id));
        root->AddElement("item", item.Get());
    }
    BagRef note = NewBag();
    note->AppendToCData(VString("a]]>b <markup> & more\nsecond line"));
    BagRef deeper = NewBag();
    deeper->SetString(StPackedDictionaryKey(VString(u"\u00E9l\u00E8ve")), VString(u"\u4E2D\u6587"));
    note->AddElement("deeper", deeper.Get());
    root->AddElement("note", note.Get());
    return root;
}

// A load raises the task's two load counters only while it runs, whether the document is read or refused.
TEST_F(VXMLBagHandlerTest, LoadsLeaveTheTaskCountersAsTheyFoundThem) {
    VTask* task = VTask::GetCurrent();
    ASSERT_NE(task, nullptr);
    StBagXMLLoad outer; // a load inside another load: the outer one's counts stay
    for (const char* xml : {"<root a=\"1\"/>", "<root><unclosed></root>", ""}) {
        BagRef bag = NewBag();
        Load(xml, "root", *bag);
        EXPECT_EQ(task->GetXMLParseDepth(), 1) << xml;
        EXPECT_EQ(task->GetBagLoadDepth(), 1) << xml;
    }
}

TEST_F(VXMLBagHandlerTest, StreamEnvelopeRoundTrip) {
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap);
        BagRef written = Tree();
        VPtrStream stream;
        stream.SetNeedSwap(swap);
        ASSERT_EQ(stream.OpenWriting(), VE_OK);
        ASSERT_EQ(WriteBagToStreamInXML(*written, &stream), VE_OK);
        stream.CloseWriting();

        ASSERT_EQ(stream.OpenReading(), VE_OK);
        BagRef read = NewBag();
        ASSERT_EQ(ReadBagFromStreamInXML(*read, &stream), VE_OK);
        EXPECT_TRUE(read->EqualTo(*written)) << Xml(*read, "bag") << "\n" << Xml(*written, "bag");
        ASSERT_EQ(read->GetElements("item")->GetCount(), 3);
        EXPECT_TRUE(Attribute(*read->GetElements("item")->GetNth(3), "id").EqualToStringRaw(VString("3")));
    }
}

TEST_F(VXMLBagHandlerTest, WrittenBagsReadBackTheSameWithOrWithoutIndentation) {
    for (bool indented : {false, true}) {
        SCOPED_TRACE(indented);
        BagRef written = Tree();
        VString text;
        ASSERT_EQ(written->DumpXML(text, VString("root"), indented), VE_OK);
        BagRef read = NewBag();
        ASSERT_EQ(LoadBagFromXML(text, VString("root"), *read, 0), VE_OK);
        EXPECT_TRUE(read->EqualTo(*written)) << Xml(*read, "root");
        // And again: nothing grows from one round to the next.
        VString again;
        ASSERT_EQ(read->DumpXML(again, VString("root"), indented), VE_OK);
        EXPECT_TRUE(again.EqualToStringRaw(text));
    }
}

TEST_F(VXMLBagHandlerTest, WhiteSpaceIsLeftOutOnlyBesideChildElements) {
    struct Case {
        const char* xml;
        const char16_t* text; // null: no character data
    } cases[] = {
        {"<r>  </r>", u"  "},         {"<r>\n<c/>\n\t<c/>\n</r>", nullptr}, {"<r>\n<c/> x </r>", u" x "},
        {"<r> x <c/>\n</r>", u" x "}, {"<r>a<c/>\n<c/>b</r>", u"ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        BagRef bag = NewBag();
        ASSERT_EQ(Load(c.xml, "r", *bag), VE_OK);
        VString text;
        const bool has = bag->GetString(VValueBag::CDataAttributeName(), text);
        EXPECT_EQ(has, c.text != nullptr);
        if (c.text != nullptr) {
            EXPECT_TRUE(text.EqualToStringRaw(VString(c.text)));
        }
    }
}

TEST_F(VXMLBagHandlerTest, AnOlderErrorOnTheTaskDoesNotFailAGoodRead) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    ASSERT_EQ(WriteBagToStreamInXML(*Tree(), &stream), VE_OK);
    stream.CloseWriting();
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    StErrorContextInstaller errors(false);
    _ThrowError(VE_UNIMPLEMENTED); // unrelated, earlier
    BagRef read = NewBag();
    EXPECT_EQ(ReadBagFromStreamInXML(*read, &stream), VE_OK);
    EXPECT_TRUE(read->EqualTo(*Tree()));
}

TEST_F(VXMLBagHandlerTest, AnotherEnvelopeVersionReadsNothing) {
    VPtrStream stream;
    ASSERT_EQ(stream.OpenWriting(), VE_OK);
    stream.PutLong(2);
    stream.PutLong(12345);
    stream.CloseWriting();
    ASSERT_EQ(stream.OpenReading(), VE_OK);
    BagRef bag = Tree();
    BagRef before = BagRef::Adopt(bag->Clone());
    EXPECT_EQ(ReadBagFromStreamInXML(*bag, &stream), VE_OK);
    EXPECT_EQ(stream.GetPos(), 4);
    EXPECT_TRUE(bag->EqualTo(*before));

    VPtrStream truncated;
    ASSERT_EQ(truncated.OpenWriting(), VE_OK);
    truncated.PutLong(1);
    truncated.CloseWriting();
    ASSERT_EQ(truncated.OpenReading(), VE_OK);
    EXPECT_NE(ReadBagFromStreamInXML(*bag, &truncated), VE_OK);
    EXPECT_TRUE(bag->EqualTo(*before));
}

TEST_F(VXMLBagHandlerTest, ElementNameDecidesWhatIsRead) {
    struct Case {
        const char* expected;
        const char* xml;
        int32 attributes;
    } cases[] = {
        {"", "<anything a=\"1\"/>", 1},
        {"root", "<root a=\"1\" b=\"2\"/>", 2},
        {"root", "<ROOT a=\"1\"/>", 1}, // the name is compared without regard to case
        {"root", "<other a=\"1\"/>", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        BagRef bag = NewBag();
        EXPECT_EQ(Load(c.xml, c.expected, *bag), VE_OK);
        EXPECT_EQ(bag->GetAttributesCount(), c.attributes);
    }
}

TEST_F(VXMLBagHandlerTest, CharacterDataInPiecesIsJoined) {
    BagRef bag = NewBag();
    ASSERT_EQ(Load("<r>one &amp; two<![CDATA[ <three> ]]>four<c/>five</r>", "r", *bag), VE_OK);
    VString text;
    ASSERT_TRUE(bag->GetString(VValueBag::CDataAttributeName(), text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("one & two <three> fourfive")));
    EXPECT_EQ(bag->GetElements("c")->GetCount(), 1);
}

TEST_F(VXMLBagHandlerTest, ABagWithContentReceivesTheDocumentWhole) {
    BagRef bag = NewBag();
    bag->SetString("kept", VString("k"));
    bag->SetString("a", VString("old"));
    bag->AppendToCData(VString("before "));
    bag->AddElement("c", NewBag().Get());
    ASSERT_EQ(Load("<r a=\"new\">after<c x=\"1\"/></r>", "r", *bag), VE_OK);
    EXPECT_TRUE(Attribute(*bag, "kept").EqualToStringRaw(VString("k")));
    EXPECT_TRUE(Attribute(*bag, "a").EqualToStringRaw(VString("new")));
    VString text;
    ASSERT_TRUE(bag->GetString(VValueBag::CDataAttributeName(), text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("before after")));
    ASSERT_EQ(bag->GetElements("c")->GetCount(), 2);
    EXPECT_TRUE(Attribute(*bag->GetElements("c")->GetNth(2), "x").EqualToStringRaw(VString("1")));
}

std::string Nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i)
        xml += "<e>";
    for (int i = 0; i < depth; ++i)
        xml += "</e>";
    return xml;
}

TEST_F(VXMLBagHandlerTest, MalformedInputNeverHalfFillsABag) {
    const std::string longName(300, 'n');
    struct Case {
        std::string xml;
        VError code;
    } cases[] = {
        {"<r a=\"1\"><c x=\"1\"/><d>text", VE_XML_FATAL_ERROR},          // cut short
        {"<r a=\"1\"><c/><c x=\"1\" x=\"2\"/></r>", VE_XML_FATAL_ERROR}, // attribute twice
        {"<r a=\"1\"><c/></r><r/>", VE_XML_FATAL_ERROR},                 // junk after the document
        {"<r a=\"1\">\x01</r>", VE_XML_FATAL_ERROR},                     // a character XML forbids
        {"<r a=\"1\"><" + longName + "/></r>", VE_INVALID_PARAMETER},    // a name no bag can hold
        {"<r a=\"1\" " + longName + "=\"v\"/>", VE_INVALID_PARAMETER},   // the same for an attribute
        {"<r a=\"1\">" + Nested(400) + "</r>", VE_INVALID_PARAMETER},    // deeper than bags go
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml.substr(0, 60));
        for (bool withContent : {false, true}) {
            BagRef bag = NewBag();
            if (withContent) {
                bag->SetString("a", VString("old"));
                bag->AddElement("c", NewBag().Get());
            }
            BagRef before = BagRef::Adopt(bag->Clone());
            StErrorContextInstaller errors(false);
            EXPECT_EQ(Load(c.xml, "r", *bag), c.code);
            EXPECT_TRUE(bag->EqualTo(*before)) << Xml(*bag, "r");
        }
    }
}

TEST_F(VXMLBagHandlerTest, DeepButAllowedNestingReadsWhole) {
    BagRef bag = NewBag();
    ASSERT_EQ(Load("<r>" + Nested(200) + "</r>", "r", *bag), VE_OK);
    int depth = 0;
    for (VValueBag* b = bag.Get(); b->GetElements("e") != nullptr; b = b->GetElements("e")->GetNth(1))
        ++depth;
    EXPECT_EQ(depth, 200);
}

TEST(VXMLBagHandlerNoProcess, FailuresAreAnsweredWithoutATask) {
    BagRef bag = NewBag();
    EXPECT_EQ(Load("<r a=\"1\"><c>", "r", *bag), VE_XML_FATAL_ERROR);
    EXPECT_TRUE(bag->IsEmpty());
    EXPECT_EQ(Load("<r a=\"1\"/>", "r", *bag), VE_OK);
    EXPECT_EQ(bag->GetAttributesCount(), 1);
}

// ---- Files

class VXMLBagFileTest : public test::TestProcessFixture {
protected:
    VXMLBagFileTest() {
        char pattern[] = "/tmp/vela_bagxml_XXXXXX";
        fRoot = ::mkdtemp(pattern);
    }
    ~VXMLBagFileTest() override { std::filesystem::remove_all(fRoot); }

    std::string Posix(const char* name) const { return fRoot + "/" + name; }
    VRefPtr<VFile> File(const char* name) const {
        return VRefPtr<VFile>::Adopt(new VFile(VString(Posix(name).c_str()), FPS_POSIX));
    }
    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string fRoot;
};

TEST_F(VXMLBagFileTest, ServerLinkFileIsWrittenAndReadBack) {
    BagRef written = ServerLinkBag();
    VRefPtr<VFile> file = File("ZiduvozServer.Zolink");
    ASSERT_EQ(WriteBagToFileInXML(*written, VString("database_shortcut"), file.Get(), false), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("ZiduvozServer.Zolink")),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><database_shortcut is_remote=\"true\" "
              "server_database_name=\"Caf\xC3\xA9 &amp; &lt;Co&gt;\" server_path=\"10.0.0.7:19812\" "
              "cache_folder_name=\"\" remote_shared_resources=\"false\"/>");

    BagRef read = NewBag();
    ASSERT_EQ(LoadBagFromXML(file.Get(), VString("database_shortcut"), *read, 0), VE_OK);
    EXPECT_TRUE(Attribute(*read, "server_database_name").EqualToStringRaw(VString(u"Caf\u00E9 & <Co>")));

    // Indented, a tree reads back the same from its file too.
    BagRef tree = Tree();
    ASSERT_EQ(WriteBagToFileInXML(*tree, VString("root"), file.Get(), true), VE_OK);
    BagRef treeRead = NewBag();
    ASSERT_EQ(LoadBagFromXML(file.Get(), VString("root"), *treeRead, 0), VE_OK);
    EXPECT_TRUE(treeRead->EqualTo(*tree));
}

TEST_F(VXMLBagFileTest, NothingIsWrittenWithoutAFileOrAnXMLForm) {
    EXPECT_EQ(WriteBagToFileInXML(*ServerLinkBag(), VString("r"), nullptr, false), VE_OK);
    std::ofstream(Posix("kept")) << "old";
    BagRef bad = NewBag();
    bad->SetString("not a name", VString("x"));
    StErrorContextInstaller errors(false);
    EXPECT_NE(WriteBagToFileInXML(*bad, VString("r"), File("kept").Get(), false), VE_OK);
    EXPECT_EQ(ReadBytes(Posix("kept")), "old");
}

TEST_F(VXMLBagFileTest, AFailedWriteLeavesNoPartialFile) {
    StErrorContextInstaller errors(false, true);
    StPosixFault full("pwrite", ENOSPC);
    EXPECT_NE(WriteBagToFileInXML(*ServerLinkBag(), VString("database_shortcut"), File("link").Get(), false), VE_OK);
    EXPECT_FALSE(std::filesystem::exists(Posix("link")));
    EXPECT_TRUE(std::filesystem::is_empty(fRoot));
}

// An existing file that cannot be opened (a read-only one) or a full disk: the old file stays whole, never
// emptied and never deleted.
TEST_F(VXMLBagFileTest, AFailedWriteKeepsThePreviousFile) {
    for (const char* op : {"open", "pwrite"}) {
        std::ofstream(Posix("link")) << "previous";
        StErrorContextInstaller errors(false, true);
        StPosixFault refused(op, std::string(op) == "open" ? EACCES : ENOSPC);
        EXPECT_NE(WriteBagToFileInXML(*ServerLinkBag(), VString("database_shortcut"), File("link").Get(), false),
                  VE_OK);
        EXPECT_EQ(ReadBytes(Posix("link")), "previous") << op;
    }
}

TEST_F(VXMLBagFileTest, FilesThatCannotBeReadOrParsedLeaveTheBag) {
    std::ofstream(Posix("broken.xml")) << "<r a=\"1\"><c>";
    std::ofstream(Posix("relative.xml")) << "<!DOCTYPE r [<!ENTITY e SYSTEM \"part.xml\">]><r>&e;</r>";
    std::ofstream(Posix("part.xml")) << "<c x=\"from beside\"/>";
    StErrorContextInstaller errors(false);
    BagRef bag = NewBag();
    EXPECT_NE(LoadBagFromXML(File("missing.xml").Get(), VString("r"), *bag, 0), VE_OK);
    EXPECT_EQ(LoadBagFromXML(File("broken.xml").Get(), VString("r"), *bag, 0), VE_XML_FATAL_ERROR);
    EXPECT_TRUE(bag->IsEmpty());
    // Entities come only from the entities folder: not even from beside the file.
    EXPECT_EQ(LoadBagFromXML(File("relative.xml").Get(), VString("r"), *bag, VXMLParser::kValidateNever),
              VE_XML_FATAL_ERROR);
    EXPECT_TRUE(bag->IsEmpty());
}

TEST_F(VXMLBagFileTest, EntitiesAreReadFromTheEntitiesFolderOnly) {
    std::filesystem::create_directories(Posix("entities/sub"));
    std::ofstream(Posix("entities/sub/part.xml")) << "<c x=\"from the folder\"/>";
    std::ofstream(Posix("secret.xml")) << "<c x=\"secret\"/>";
    VRefPtr<VFolder> folder =
        VRefPtr<VFolder>::Adopt(new VFolder(VString((Posix("entities") + "/").c_str()), FPS_POSIX));
    const VString prefix("res://");

    struct Case {
        const char* id;
        const char* expected; // the path below the test folder; null: not resolved
    } cases[] = {
        {"res://sub/part.xml", "entities/sub/part.xml"},
        {"RES://sub/part.xml", "entities/sub/part.xml"},
        {"other://sub/part.xml", nullptr},
        {"res://../secret.xml", nullptr},
        {"res://sub/../../secret.xml", nullptr},
        {"res://sub//part.xml", nullptr},
        {"res://./sub/part.xml", nullptr},
        {"res://sub/", nullptr},
        {"res://", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        VRefPtr<VFile> file =
            VRefPtr<VFile>::Adopt(VXMLParser::ResolveEntityFromFolder(prefix, folder.Get(), VString(c.id)));
        if (c.expected == nullptr) {
            EXPECT_FALSE(file);
            continue;
        }
        ASSERT_TRUE(file);
        VString posix;
        ASSERT_EQ(file->GetPlatformPath(posix, FPS_POSIX), VE_OK);
        EXPECT_EQ(test::Utf8(posix), Posix(c.expected));
    }
    EXPECT_EQ(VXMLParser::ResolveEntityFromFolder(prefix, nullptr, VString("res://sub/part.xml")), nullptr);

    // Through a bag load: the entity inside the document element comes from the folder.
    const VString xml("<!DOCTYPE r [<!ENTITY e SYSTEM \"res://sub/part.xml\">]><r>&e;</r>");
    BagRef bag = NewBag();
    ASSERT_EQ(LoadBagFromXML(xml, VString("r"), *bag, VXMLParser::kValidateNever, &prefix, folder.Get()), VE_OK);
    ASSERT_NE(bag->GetElements("c"), nullptr);
    EXPECT_TRUE(Attribute(*bag->GetElements("c")->GetNth(1), "x").EqualToStringRaw(VString("from the folder")));
    // An identifier that would leave the folder is not ours to resolve, and the parser cannot open it.
    StErrorContextInstaller errors(false);
    BagRef refused = NewBag();
    EXPECT_NE(LoadBagFromXML(VString("<!DOCTYPE r [<!ENTITY e SYSTEM \"res://../secret.xml\">]><r>&e;</r>"),
                             VString("r"), *refused, VXMLParser::kValidateNever, &prefix, folder.Get()),
              VE_OK);
    EXPECT_TRUE(refused->IsEmpty());
}

} // namespace
} // namespace vela
