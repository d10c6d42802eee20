#include "intl/VUTIManager.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "intl/VXMLParser.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::Utf8;

// One declaration: identifier, description, conformance targets and the raw content of its tags dict.
std::string Declaration(const std::string& id, const std::string& description, const std::vector<std::string>& parents,
                        const std::string& tags = "") {
    std::string xml = "<dict><key>UTTypeIdentifier</key><string>" + id + "</string>";
    if (!description.empty()) xml += "<key>UTTypeDescription</key><string>" + description + "</string>";
    if (!parents.empty()) {
        xml += "<key>UTTypeConformsTo</key><array>";
        for (const std::string& parent : parents)
            xml += "<string>" + parent + "</string>";
        xml += "</array>";
    }
    if (!tags.empty()) xml += "<key>UTTypeTagSpecification</key><dict>" + tags + "</dict>";
    return xml + "</dict>\n";
}

std::string PropertyList(const std::string& exported, const std::string& imported = "") {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
                      "<key>CFBundleIdentifier</key><string>com.example.app</string>\n";
    if (!exported.empty()) xml += "<key>UTExportedTypeDeclarations</key><array>\n" + exported + "</array>\n";
    if (!imported.empty()) xml += "<key>UTImportedTypeDeclarations</key><array>\n" + imported + "</array>\n";
    return xml + "</dict></plist>\n";
}

class VUTIManagerTest : public test::TestProcessFixture {
protected:
    VUTIManagerTest() {
        char pattern[] = "/tmp/vela_uti_XXXXXX";
        fRoot = ::mkdtemp(pattern);
        fManager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
    }
    ~VUTIManagerTest() override { std::filesystem::remove_all(fRoot); }

    VRefPtr<VFile> Write(const std::string& name, const std::string& content) const {
        std::ofstream(fRoot + "/" + name, std::ios::binary) << content;
        return File(name);
    }
    VRefPtr<VFile> File(const std::string& name) const {
        return VRefPtr<VFile>::Adopt(new VFile(VString((fRoot + "/" + name).c_str()), FPS_POSIX));
    }
    bool Load(const std::string& name, const std::string& content) {
        return fManager->LoadXMLFile(Write(name, content).Get());
    }
    VUTI* Find(const char* id) const { return fManager->FindUTI(VString(id)); }
    std::string Preferred(const char* tagClass, const char* tag, const char* conformingTo = "") const {
        VRefPtr<VUTI> uti = VRefPtr<VUTI>::Adopt(
            fManager->UTTypeCreatePreferredIdentifierForTag(VString(tagClass), VString(tag), VString(conformingTo)));
        return uti ? Utf8(uti->GetIdentifier()) : "(none)";
    }

    std::string fRoot;
    VRefPtr<VUTIManager> fManager;
};

TEST_F(VUTIManagerTest, ConformanceIsLinkedOnceTheTargetIsDeclaredInAnyLaterFile) {
    ASSERT_TRUE(Load("first.plist", PropertyList(Declaration("com.example.note", "Note", {"com.example.text"}) +
                                                 Declaration("com.example.text", "Text", {"public.text"}) +
                                                 Declaration("com.example.odd", "Odd", {"com.example.never"}))));
    EXPECT_TRUE(Find("com.example.note")->ConformsToIdentifier(VString("com.example.text")));
    EXPECT_FALSE(Find("com.example.note")->ConformsToIdentifier(VString("public.text")));

    ASSERT_TRUE(Load("second.plist", PropertyList("", Declaration("public.text", "Plain text", {"public.data"}))));
    struct Case {
        const char* uti;
        const char* target;
        bool conforms;
    };
    const Case cases[] = {
        {"com.example.note", "com.example.note", true},
        {"com.example.note", "com.example.text", true},
        {"com.example.note", "public.text", true},
        {"com.example.text", "com.example.note", false},
        {"com.example.note", "", false},                 // an empty identifier conforms to nothing
        {"com.example.odd", "com.example.never", false}, // a placeholder is not walked through
        {"public.text", "public.data", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.uti) + " -> " + c.target);
        EXPECT_EQ(Find(c.uti)->ConformsToIdentifier(VString(c.target)), c.conforms);
    }
    const VUTI::Map& oddParents = Find("com.example.odd")->GetParentUTIsMap();
    ASSERT_EQ(oddParents.size(), 1u);
    EXPECT_TRUE(oddParents.begin()->second->IsTemporary());
    EXPECT_FALSE(Find("com.example.text")->GetParentUTIsMap().begin()->second->IsTemporary());
    EXPECT_TRUE(Find("public.text")->IsChild(*Find("com.example.note")));
    EXPECT_TRUE(Find("com.example.note")->IsParent(*Find("public.text")));
}

TEST_F(VUTIManagerTest, DeclarationsThatConformToEachOtherDoNotLoop) {
    ASSERT_TRUE(Load("loop.plist", PropertyList(Declaration("com.example.a", "", {"com.example.b"}) +
                                                Declaration("com.example.b", "", {"com.example.a"}) +
                                                Declaration("com.example.self", "", {"com.example.self"}))));
    EXPECT_TRUE(Find("com.example.b")->ConformsToIdentifier(VString("com.example.a")) ||
                Find("com.example.a")->ConformsToIdentifier(VString("com.example.b")));
    EXPECT_FALSE(Find("com.example.a")->ConformsToIdentifier(VString("com.example.zzz")));
    EXPECT_FALSE(Find("com.example.self")->ConformsToIdentifier(VString("com.example.zzz")));
    std::vector<VString> extensions;
    Find("com.example.a")->GetAllExtensionsVector(extensions);
    EXPECT_TRUE(extensions.empty());
}

TEST_F(VUTIManagerTest, TagsAreReadAsSingleStringsOrArraysAndStoredOnce) {
    const std::string tags = "<key>public.filename-extension</key><array><string>md</string><string>markdown</string>"
                             "<string>mdown</string><string>md</string></array>"
                             "<key>public.mime-type</key><string>text/markdown</string>"
                             "<key>com.apple.ostype</key><string>MDWN</string>";
    ASSERT_TRUE(Load("tags.plist", PropertyList(Declaration("net.example.markdown", "Markdown", {}, tags))));
    const VUTI* uti = Find("net.example.markdown");
    ASSERT_NE(uti, nullptr);
    std::vector<std::string> extensions;
    for (const VString& extension : uti->GetExtensionsVector())
        extensions.push_back(Utf8(extension));
    EXPECT_EQ(extensions, (std::vector<std::string>{"md", "markdown", "mdown"}));
    ASSERT_EQ(uti->GetMIMETypesVector().size(), 1u);
    EXPECT_EQ(Utf8(uti->GetMIMETypesVector()[0]), "text/markdown");
    ASSERT_EQ(uti->GetOSTypesVector().size(), 1u);
    EXPECT_EQ(Utf8(uti->GetOSTypesVector()[0]), "MDWN");
    EXPECT_EQ(Utf8(uti->GetDescription()), "Markdown");
}

TEST_F(VUTIManagerTest, PreferredIdentifierForATag) {
    const std::string txt = "<key>public.filename-extension</key><string>txt</string>"
                            "<key>public.mime-type</key><string>text/plain</string>";
    const std::string log = "<key>public.filename-extension</key><string>log</string>";
    ASSERT_TRUE(Load("tags.plist",
                     PropertyList(Declaration("com.example.mytext", "", {"public.plain-text"}, txt) +
                                  Declaration("public.plain-text", "", {"public.text"}, txt) +
                                  Declaration("public.aaa-text", "", {}, txt) + Declaration("public.text", "", {}) +
                                  Declaration("com.example.log", "", {"public.text"}, log) +
                                  Declaration("com.example.zlog", "", {}, log))));
    struct Case {
        const char* tagClass;
        const char* tag;
        const char* conformingTo;
        const char* expected;
    };
    const Case cases[] = {
        // public before private; among public ones, identifier order
        {"public.filename-extension", "txt", "", "public.aaa-text"},
        {"public.filename-extension", "txt", "public.text", "public.plain-text"},
        {"public.filename-extension", "TXT", "", "public.aaa-text"}, // tags compare without case
        {"public.mime-type", "text/plain", "", "public.aaa-text"},
        // only private UTIs: the first in identifier order
        {"public.filename-extension", "log", "", "com.example.log"},
        {"public.filename-extension", "log", "public.text", "com.example.log"},
        {"public.filename-extension", "log", "com.example.nothing", "(none)"},
        {"com.apple.ostype", "txt", "", "(none)"},
        {"public.folder", "txt", "", "(none)"}, // not a tag class
        {"", "txt", "", "(none)"},
        {"public.filename-extension", "", "", "(none)"},
        {"public.filename-extension", "pdf", "", "(none)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.tagClass) + " " + c.tag + " " + c.conformingTo);
        EXPECT_EQ(Preferred(c.tagClass, c.tag, c.conformingTo), c.expected);
    }

    std::vector<VUTI*>* all =
        fManager->UTTypeCreateAllIdentifiersForTag(VString("public.filename-extension"), VString("log"), VString());
    ASSERT_NE(all, nullptr);
    std::vector<std::string> ids;
    for (VUTI* uti : *all) {
        ids.push_back(Utf8(uti->GetIdentifier()));
        uti->Release();
    }
    delete all;
    EXPECT_EQ(ids, (std::vector<std::string>{"com.example.log", "com.example.zlog"}));
    EXPECT_EQ(fManager->UTTypeCreateAllIdentifiersForTag(VString(), VString("log"), VString()), nullptr);
}

TEST_F(VUTIManagerTest, TheFirstDeclarationOfAnIdentifierWins) {
    ASSERT_TRUE(Load("a.plist", PropertyList(Declaration("com.example.doc", "First", {}))));
    ASSERT_TRUE(Load(
        "b.plist", PropertyList(Declaration("com.example.doc", "Second", {}) + Declaration("", "No identifier", {}))));
    EXPECT_EQ(Utf8(Find("com.example.doc")->GetDescription()), "First");
    EXPECT_EQ(fManager->GetRegistry().size(), 1u);
}

TEST_F(VUTIManagerTest, OnlyTheDeclarationsOwnKeysAreRead) {
    // A nested dict that happens to hold an identifier key must not rename the declaration.
    const std::string xml = PropertyList("<dict><key>UTTypeIdentifier</key><string>com.example.real</string>"
                                         "<key>UTTypeIconFiles</key><dict><key>UTTypeIdentifier</key>"
                                         "<string>com.example.fake</string></dict>"
                                         "<key>UTTypeDescription</key><string>Real</string></dict>");
    ASSERT_TRUE(Load("nested.plist", xml));
    ASSERT_NE(Find("com.example.real"), nullptr);
    EXPECT_EQ(Utf8(Find("com.example.real")->GetDescription()), "Real");
    EXPECT_EQ(fManager->GetRegistry().size(), 1u);
}

TEST_F(VUTIManagerTest, DeclarationsOutsideTheDeclarationArraysAreIgnored) {
    const std::string xml = "<plist><dict><key>UTExportedTypeDeclarations</key><string>x</string><array>" +
                            Declaration("com.example.stray", "", {}) + "</array><key>Other</key><array>" +
                            Declaration("com.example.other", "", {}) + "</array></dict></plist>";
    ASSERT_TRUE(Load("stray.plist", xml));
    EXPECT_TRUE(fManager->GetRegistry().empty());
}

TEST_F(VUTIManagerTest, AMalformedFileAddsNothing) {
    ASSERT_TRUE(Load("good.plist", PropertyList(Declaration("com.example.good", "", {}))));
    const std::string broken = PropertyList(Declaration("com.example.early", "", {"com.example.good"})) + "<oops>";
    StErrorContextInstaller errors(false);
    EXPECT_FALSE(Load("broken.plist", broken));
    EXPECT_EQ(errors.GetLastError(), VE_XML_FATAL_ERROR);
    EXPECT_EQ(Find("com.example.early"), nullptr);
    EXPECT_EQ(fManager->GetRegistry().size(), 1u);
    EXPECT_TRUE(Find("com.example.good")->GetChildrenUTIsMap().empty());
}

TEST_F(VUTIManagerTest, MissingFilesAreRefused) {
    EXPECT_FALSE(fManager->LoadXMLFile(nullptr));
    EXPECT_FALSE(fManager->LoadXMLFile(File("absent.plist").Get()));
}

TEST_F(VUTIManagerTest, AnalysingRegistersDeclarationsWithoutLinkingThem) {
    EXPECT_EQ(fManager->AnalyzeXMLFile(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(fManager->AnalyzeXMLFile(File("absent.plist").Get()), VE_FILE_NOT_FOUND);
    {
        StErrorContextInstaller errors(false);
        EXPECT_EQ(fManager->AnalyzeXMLFile(Write("broken.plist", PropertyList("") + "<oops>").Get()),
                  VE_XML_FATAL_ERROR);
    }
    const std::string declarations = PropertyList(Declaration("com.example.note", "", {"com.example.text"}) +
                                                  Declaration("com.example.text", "", {}));
    ASSERT_EQ(fManager->AnalyzeXMLFile(Write("types.plist", declarations).Get()), VE_OK);
    ASSERT_NE(Find("com.example.note"), nullptr);
    EXPECT_FALSE(Find("com.example.note")->ConformsToIdentifier(VString("com.example.text")));
    fManager->ProcessExtractedUTIs();
    EXPECT_TRUE(Find("com.example.note")->ConformsToIdentifier(VString("com.example.text")));
}

TEST_F(VUTIManagerTest, AFileConformsByItsExtension) {
    ASSERT_TRUE(
        Load("types.plist", PropertyList(Declaration("com.example.note", "", {"public.text"},
                                                     "<key>public.filename-extension</key><string>note</string>") +
                                         Declaration("public.text", "", {}))));
    Write("a.note", "x");
    Write("a.other", "x");
    Write("noextension", "x");
    struct Case {
        const char* file;
        const char* identifier;
        bool conforms;
    };
    const Case cases[] = {
        {"a.note", "public.text", true},        {"a.note", "com.example.note", true},
        {"a.note", "public.image", false},      {"a.note", "", false},
        {"a.other", "public.text", false},      {"noextension", "public.text", false},
        {"missing.note", "public.text", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.identifier);
        EXPECT_EQ(fManager->UTTypeConformsTo(File(c.file).Get(), VString(c.identifier)), c.conforms);
    }
    EXPECT_FALSE(fManager->UTTypeConformsTo(nullptr, VString("public.text")));
}

TEST_F(VUTIManagerTest, TheProcessInstanceIsMadeOnceAndHoldsTheParserLibrary) {
    VUTIManager* first = VUTIManager::GetUTIManager();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(VUTIManager::GetUTIManager(), first);
    EXPECT_TRUE(VXMLParser::IsInited());
    EXPECT_TRUE(VUTIManager::DeInit());
    VUTIManager* second = VUTIManager::GetUTIManager();
    EXPECT_NE(second, nullptr);
    VUTIManager::Delete();
}

} // namespace
} // namespace vela
