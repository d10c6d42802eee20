#include "intl/VFileKind.h"

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "intl/VUTIManager.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::Utf8;

constexpr const char* kDeclarations = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>UTImportedTypeDeclarations</key><array>
<dict><key>UTTypeIdentifier</key><string>public.text</string><key>UTTypeDescription</key><string>Text</string>
  <key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key><string>txt</string></dict></dict>
<dict><key>UTTypeIdentifier</key><string>com.example.note</string><key>UTTypeDescription</key><string>Note</string>
  <key>UTTypeConformsTo</key><array><string>public.text</string></array>
  <key>UTTypeTagSpecification</key><dict><key>public.filename-extension</key><array><string>note</string>
  <string>nte</string></array><key>com.apple.ostype</key><string>NOTE</string></dict></dict>
</array></dict></plist>
)";

class VFileKindTest : public test::TestProcessFixture {
protected:
    VFileKindTest() {
        char pattern[] = "/tmp/vela_kind_XXXXXX";
        fRoot = ::mkdtemp(pattern);
        std::ofstream(fRoot + "/types.plist") << kDeclarations;
    }
    ~VFileKindTest() override {
        VFileKindManager::DeInit();
        VUTIManager::DeInit();
        std::filesystem::remove_all(fRoot);
    }
    // Loads the declarations into the process registry.
    void LoadDeclarations() const {
        VRefPtr<VFile> file = VRefPtr<VFile>::Adopt(new VFile(VString((fRoot + "/types.plist").c_str()), FPS_POSIX));
        ASSERT_TRUE(VUTIManager::GetUTIManager()->LoadXMLFile(file.Get()));
    }
    static VRefPtr<VFileKind> Kind(const char* id) {
        return VRefPtr<VFileKind>::Adopt(VFileKindManager::sManager->RetainFileKind(VString(id)));
    }

    std::string fRoot;
};

TEST_F(VFileKindTest, LocalizedStringsStartWithTheirDefaults) {
    ASSERT_TRUE(VFileKindManager::Init());
    VFileKindManager* kinds = VFileKindManager::sManager;
    ASSERT_NE(kinds, nullptr);
    VString text;
    kinds->GetLocalizedString(1, text);
    EXPECT_EQ(Utf8(text), "All readable documents");
    kinds->RegisterLocalizedString(1, VString());
    kinds->RegisterLocalizedString(0, VString("Tout"));
    kinds->RegisterLocalizedString(2, VString("ignored"));
    kinds->GetLocalizedString(1, text);
    EXPECT_EQ(Utf8(text), "All readable documents");
    kinds->GetLocalizedString(0, text);
    EXPECT_EQ(Utf8(text), "Tout");
    kinds->GetLocalizedString(2, text);
    EXPECT_EQ(Utf8(text), "Tout");
}

TEST_F(VFileKindTest, PublicKindsAreMadeOnceFromTheDeclaredIdentifiers) {
    LoadDeclarations(); // before the manager runs: nothing is registered privately
    ASSERT_TRUE(VFileKindManager::Init());
    VRefPtr<VFileKind> first = Kind("public.text");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->IsPublic());
    EXPECT_EQ(Utf8(first->GetDescription()), "Text");
    EXPECT_EQ(Kind("public.text").Get(), first.Get());
    EXPECT_FALSE(Kind("public.unknown"));

    VFileKindManager::sManager->RegisterPrivateFileKind(VString("public.text"), VString("Mine"), {}, {});
    VRefPtr<VFileKind> mine = Kind("public.text");
    ASSERT_TRUE(mine);
    EXPECT_FALSE(mine->IsPublic());
    EXPECT_EQ(Utf8(mine->GetDescription()), "Mine");
    VString extension("stale");
    EXPECT_FALSE(mine->GetPreferredExtension(extension));
    EXPECT_TRUE(extension.IsEmpty());
}

TEST_F(VFileKindTest, LoadedIdentifiersBecomePrivateKindsFoundByTheirTags) {
    ASSERT_TRUE(VFileKindManager::Init());
    LoadDeclarations();
    VFileKindManager* kinds = VFileKindManager::sManager;
    struct Case {
        const char* tag;
        bool byExtension;
        const char* expected;
    };
    const Case cases[] = {
        {"note", true, "com.example.note"},  {"NTE", true, "com.example.note"},
        {"txt", true, "public.text"},        {"pdf", true, "(none)"},
        {"NOTE", false, "com.example.note"}, {"ABCD", false, "(none)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        VRefPtr<VFileKind> kind =
            VRefPtr<VFileKind>::Adopt(c.byExtension ? kinds->RetainFirstFileKindMatchingWithExtension(VString(c.tag))
                                                    : kinds->RetainFirstFileKindMatchingWithOsKind(VString(c.tag)));
        EXPECT_EQ(kind ? Utf8(kind->GetID()) : "(none)", c.expected);
        if (kind) {
            EXPECT_FALSE(kind->IsPublic());
        }
    }
    VRefPtr<VFileKind> note = Kind("com.example.note");
    ASSERT_TRUE(note);
    VString preferred;
    EXPECT_TRUE(note->GetPreferredExtension(preferred));
    EXPECT_EQ(Utf8(preferred), "note");
    std::vector<VString> parents;
    EXPECT_TRUE(note->GetParentIDs(parents));
    ASSERT_EQ(parents.size(), 1u);
    EXPECT_EQ(Utf8(parents[0]), "public.text");
    EXPECT_TRUE(note->ConformsTo(VString("public.text")));
    EXPECT_TRUE(note->ConformsTo(VString("com.example.note")));
    EXPECT_FALSE(Kind("public.text")->ConformsTo(*note));
    EXPECT_FALSE(note->ConformsTo(VString("public.unknown")));
}

TEST_F(VFileKindTest, FilesConformByTheirTypeIdentifierOrTheirExtension) {
    auto file = [&](const char* name, bool create) {
        const std::string path = fRoot + "/" + name;
        if (create) std::ofstream(path) << "x";
        return VRefPtr<VFile>::Adopt(new VFile(VString(path.c_str()), FPS_POSIX));
    };
    // Without the file-kind manager no kind is known.
    EXPECT_FALSE(file("early.note", true)->ConformsTo(VString("com.example.note")));

    LoadDeclarations();
    ASSERT_TRUE(VFileKindManager::Init());
    struct Case {
        const char* name;
        bool exists;
        const char* kind;
        bool conforms;
    } cases[] = {
        {"a.note", true, "com.example.note", true},
        {"b.note", true, "public.text", true}, // through the declared parent
        {"c.txt", true, "com.example.note", false},
        {"d.NOTE", true, "com.example.note", true},     // extensions compare without regard to case
        {"gone.note", false, "com.example.note", true}, // the extension still tells
        {"gone.note", false, "public.text", false},     // the identifier is asked of existing files only
        {"plain", true, "public.text", false},
        {"a.note", true, "public.unknown", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(file(c.name, c.exists)->ConformsTo(VString(c.kind)), c.conforms) << c.name << " " << c.kind;

    // A kind without identifier is a list of extensions.
    VRefPtr<VFileKind> bare =
        VRefPtr<VFileKind>::Adopt(VFileKind::Create(VString(), {}, VString("Bare"), {VString("abc")}, {}, false));
    EXPECT_TRUE(file("x.ABC", false)->ConformsTo(*bare));
    EXPECT_FALSE(file("x.note", true)->ConformsTo(*bare));
}

TEST_F(VFileKindTest, KindsAreLookedUpFromSeveralThreadsAtOnce) {
    LoadDeclarations();
    ASSERT_TRUE(VFileKindManager::Init());
    auto lookUp = [] {
        for (int i = 0; i < 50; ++i) {
            VRefPtr<VFileKind> text = Kind("public.text");
            VRefPtr<VFileKind> note = VRefPtr<VFileKind>::Adopt(
                VFileKindManager::sManager->RetainFirstFileKindMatchingWithExtension(VString("nte")));
            EXPECT_TRUE(text && note);
        }
    };
    std::thread other(lookUp);
    lookUp();
    other.join();
}

} // namespace
} // namespace vela
