#include "intl/VLocalizationManager.h"

#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "intl/VIntlMgr.h"
#include "intl/VXMLParser.h"
#include "intl/platform/XercesSupport.h"
#include "support/RecordingXMLHandler.h"
#include "support/TestProcess.h"
#include "values/VBagArray.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::Utf8;

constexpr uint32 kFrench = 3084; // French (Canada): a tag with a region
constexpr uint32 kNoLanguage = 0xFFFFFFFE;

class VLocalizationManagerTest : public test::TestProcessFixture {
protected:
    VLocalizationManagerTest() {
        char pattern[] = "/tmp/vela_l10n_XXXXXX";
        fRoot = ::mkdtemp(pattern);
        EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(kFrench, fTag, '-'));
    }
    ~VLocalizationManagerTest() override { std::filesystem::remove_all(fRoot); }

    std::string Posix(const std::string& name) const { return fRoot + "/" + name; }
    VRefPtr<VFile> File(const std::string& name) const {
        return VRefPtr<VFile>::Adopt(new VFile(VString(Posix(name).c_str()), FPS_POSIX));
    }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Posix(name), std::ios::binary) << bytes;
    }
    // An XLIFF document of one "file" in language holding body.
    std::string Xliff(const std::string& language, const std::string& body) const {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xliff version=\"1.2\"><file original=\"x\" "
               "source-language=\"en\" target-language=\"" +
               language + "\"><body>" + body + "</body></file></xliff>";
    }
    static std::string Unit(const std::string& resname, const std::string& target) {
        return "<trans-unit resname=\"" + resname + "\"><source>src</source><target>" + target +
               "</target></trans-unit>";
    }
    std::string Keyed(VLocalizationManager& manager, const char* key) const {
        VString out("untouched");
        manager.LocalizeStringWithKey(VString(key), out);
        return Utf8(out);
    }

    std::string fRoot;
    VString fTag;
};

using Manager = VRefPtr<VLocalizationManager>;
Manager NewManager(uint32 dialect) {
    return Manager::Adopt(new VLocalizationManager(dialect));
}

TEST_F(VLocalizationManagerTest, UnitsAreStoredByNameNumberAndGroup) {
    Write("units.xlf",
          Xliff(Utf8(fTag), "<trans-unit resname=\"plain\"><source>Plain</source><target>Simple</target></trans-unit>"
                            "<trans-unit resname=\"emptyTarget\"><source>Kept source</source><target/></trans-unit>"
                            "<trans-unit resname=\"blankTarget\"><source>Source</source><target>  </target>"
                            "</trans-unit>"
                            "<group id=\"5\" resname=\"menu\">"
                            "<trans-unit id=\"3\" resname=\"third\"><source>Third</source></trans-unit>"
                            "<trans-unit id=\"1\" resname=\"first\"><source>First</source></trans-unit>"
                            "<trans-unit id=\"2\"><source>Second</source></trans-unit>"
                            "<trans-unit id=\"4\"><source>Fourth</source></trans-unit></group>"
                            "<group resname=\"[Window]\"><group resname=\"button\">"
                            "<trans-unit id=\"7\" resname=\"title\"><source>Composed</source></trans-unit>"
                            "</group></group>"));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("units.xlf").Get(), false), VE_OK);

    EXPECT_EQ(Keyed(*manager, "plain"), "Simple");
    EXPECT_EQ(Keyed(*manager, "emptyTarget"), "Kept source");
    EXPECT_EQ(Keyed(*manager, "blankTarget"), "  ");
    EXPECT_EQ(Keyed(*manager, "first"), "First");
    EXPECT_EQ(Keyed(*manager, "[Window]#}[{@button#}[{@title"), "Composed");
    EXPECT_EQ(Keyed(*manager, "title"), "untouched"); // the composed key only

    std::vector<VString> texts;
    ASSERT_TRUE(manager->GetOrderedStringsOfGroup(VString("menu"), texts));
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(Utf8(texts[0]), "First");
    EXPECT_EQ(Utf8(texts[2]), "Third");
    EXPECT_FALSE(manager->GetOrderedStringsOfGroup(VString("button"), texts));
    EXPECT_TRUE(texts.empty());

    VString text;
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes({5, 2}, text));
    EXPECT_EQ(Utf8(text), "Second");
    ASSERT_TRUE(manager->LocalizeGroupOfStringsWithAStrSharpID(5, texts));
    EXPECT_EQ(texts.size(), 4u);
    EXPECT_FALSE(manager->LocalizeGroupOfStringsWithAStrSharpID(6, texts));
}

TEST_F(VLocalizationManagerTest, StrSharpGroupsStopAtTheFirstGap) {
    Write("gap.xlf", Xliff(Utf8(fTag), "<group id=\"5\"><trans-unit id=\"1\"><source>a</source></trans-unit>"
                                       "<trans-unit id=\"2\"><source>b</source></trans-unit>"
                                       "<trans-unit id=\"4\"><source>d</source></trans-unit></group>"));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("gap.xlf").Get(), false), VE_OK);
    std::vector<VString> texts;
    ASSERT_TRUE(manager->LocalizeGroupOfStringsWithAStrSharpID(5, texts));
    EXPECT_EQ(texts.size(), 2u);
}

TEST_F(VLocalizationManagerTest, TargetLanguageDecidesWhatIsTakenAndWhatWins) {
    const VString regional("fr");
    ASSERT_GE(VIntlMgr::Compare2RFC3066LanguageCodes(fTag, regional), 1);
    ASSERT_LE(VIntlMgr::Compare2RFC3066LanguageCodes(fTag, regional), 3);
    Write("1-exact.xlf", Xliff(Utf8(fTag), Unit("k", "exact")));
    Write("2-regional.xlf", Xliff("fr", Unit("k", "regional") + Unit("new", "added")));
    Write("3-other.xlf", Xliff("de", Unit("k", "other") + Unit("german", "deutsch")));
    Write("4-exact.xlf", Xliff(Utf8(fTag), Unit("k", "again")));
    Manager manager = NewManager(kFrench);
    for (const char* name : {"1-exact.xlf", "2-regional.xlf", "3-other.xlf"})
        ASSERT_EQ(manager->LoadFile(File(name).Get(), false), VE_OK);
    EXPECT_EQ(Keyed(*manager, "k"), "exact");
    EXPECT_EQ(Keyed(*manager, "new"), "added");
    EXPECT_EQ(Keyed(*manager, "german"), "untouched");
    ASSERT_EQ(manager->LoadFile(File("4-exact.xlf").Get(), false), VE_OK);
    EXPECT_EQ(Keyed(*manager, "k"), "again");
    // Loaded whatever its language, another language's file is read.
    ASSERT_EQ(manager->LoadFile(File("3-other.xlf").Get(), true), VE_OK);
    EXPECT_EQ(Keyed(*manager, "german"), "deutsch");
}

TEST_F(VLocalizationManagerTest, NoLanguageTakesOnlyWholeFoldersAndFallsBack) {
    Write("fr.xlf", Xliff(Utf8(fTag), Unit("MoreInformationsAvailableInLogFile", "Voir le journal")));
    Write("any.xlf", Xliff("en", Unit("whole", "from the resource folder")));
    Manager manager = NewManager(kNoLanguage);
    EXPECT_EQ(manager->GetLocalizationLanguage(), kNoLanguage);
    ASSERT_EQ(manager->LoadFile(File("fr.xlf").Get(), false), VE_OK);
    ASSERT_EQ(manager->LoadFile(File("any.xlf").Get(), true), VE_OK);
    EXPECT_EQ(Keyed(*manager, "whole"), "from the resource folder");

    SetProcessLocalizer(manager.Get());
    EXPECT_EQ(Utf8(LocalizeString(VString("MoreInformationsAvailableInLogFile"), "More information")),
              "More information");
    EXPECT_EQ(Utf8(LocalizeString(VString("whole"), "default")), "from the resource folder");
    EXPECT_TRUE(LocalizeString(VString("missing"), nullptr).IsEmpty());
    SetProcessLocalizer(nullptr);
    EXPECT_EQ(Utf8(LocalizeString(VString("whole"), "default")), "default");
    EXPECT_TRUE(LocalizeString(VString("whole"), nullptr).IsEmpty());
}

TEST_F(VLocalizationManagerTest, PlatformListsExcludeUnits) {
    struct Case {
        const char* list;
        bool include;
        bool excludedOnMac;
        bool excludedOnLinux;
    } cases[] = {
        {"win linux", true, true, false}, {"win linux mac", true, false, false}, {"other words", true, false, false},
        {"mac", false, true, false},      {"LINUX", false, false, true},         {"", false, false, false},
        {"win", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(VLocalizationManager::IsExcludedOnPlatform(VString(c.list), c.include, "mac"), c.excludedOnMac);
        EXPECT_EQ(VLocalizationManager::IsExcludedOnPlatform(VString(c.list), c.include, "linux"), c.excludedOnLinux);
    }
    EXPECT_STREQ(VLocalizationManager::kPlatformToken, "linux");

    Write("platform.xlf", Xliff(Utf8(fTag), "<trans-unit resname=\"macOnly\" oz:includeIf=\"mac\"><source>m</source>"
                                            "</trans-unit><trans-unit resname=\"notMac\" oz:excludeIf=\"mac\">"
                                            "<source>n</source></trans-unit>"));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("platform.xlf").Get(), false), VE_OK);
    EXPECT_EQ(Keyed(*manager, "macOnly"), "untouched");
    EXPECT_EQ(Keyed(*manager, "notMac"), "n");
}

std::string Utf16BE(const std::u16string& text) {
    std::string bytes;
    for (char16_t c : text) {
        bytes += char(c >> 8);
        bytes += char(c & 0xFF);
    }
    return bytes;
}

TEST_F(VLocalizationManagerTest, StringsFilesFillTheKeyedStrings) {
    Write("Localizable.strings", Utf16BE(u"\"quoted\" = \"Quoted value\";\n"
                                         u"plain = Plain value;\n"
                                         u"\"withEquals\" = \"a=b\";\n"
                                         u"\"noSemicolon\" = \"x\"\n"
                                         u"bare = valueX\n"
                                         u"\n"
                                         u"justtext;\n"
                                         u"\"unicode\" = \"\u00E9t\u00E9\";"));
    Manager manager = NewManager(kFrench);
    EXPECT_EQ(manager->LoadFile(File("Localizable.strings").Get(), false), VE_FILE_CANNOT_LOAD_LOCALIZATION);
    EXPECT_EQ(Keyed(*manager, "quoted"), "Quoted value");
    EXPECT_EQ(Keyed(*manager, "plain"), "Plain value");
    EXPECT_EQ(Keyed(*manager, "withEquals"), "untouched");
    EXPECT_EQ(Keyed(*manager, "noSemicolon"), "untouched");
    EXPECT_EQ(Keyed(*manager, "bare"), "value");
    EXPECT_EQ(Keyed(*manager, "unicode"), "\\u00E9t\\u00E9");

    StErrorContextInstaller errors(false);
    EXPECT_EQ(manager->AnalyzeDotStringsFile(nullptr), VE_INVALID_PARAMETER);
    EXPECT_EQ(manager->AnalyzeDotStringsFile(File("missing.strings").Get()), VE_FILE_NOT_FOUND);
    EXPECT_EQ(manager->LoadFile(nullptr, false), VE_INVALID_PARAMETER);
    EXPECT_EQ(manager->LoadFile(File("missing.xlf").Get(), false), VE_FILE_NOT_FOUND);
    Write("notes.txt", "x");
    EXPECT_EQ(manager->LoadFile(File("notes.txt").Get(), false), VE_FILE_CANNOT_LOAD_LOCALIZATION);
}

TEST_F(VLocalizationManagerTest, ErrorMessagesByCode) {
    Write("errors.xlf", Xliff(Utf8(fTag), Unit("ERR_UPZo_11", "Update failed") + Unit("ERR_vela_123456", "cut")));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("errors.xlf").Get(), false), VE_OK);
    VString text;
    EXPECT_TRUE(manager->LocalizeErrorMessage(MakeVError(FourCC("UPZo"), 11), text));
    EXPECT_EQ(Utf8(text), "Update failed");
    EXPECT_TRUE(manager->LocalizeErrorMessage(MakeLibraryError(1234567), text));
    EXPECT_EQ(Utf8(text), "cut");
    EXPECT_FALSE(manager->LocalizeErrorMessage(MakeLibraryError(12), text));

    // Registered for a signature, it gives error descriptions their text.
    VErrorBase::RegisterLocalizer(FourCC("UPZo"), manager.Get());
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeVError(FourCC("UPZo"), 11)));
    VString description;
    error->GetErrorDescription(description);
    VErrorBase::UnregisterLocalizer(FourCC("UPZo"));
    EXPECT_EQ(Utf8(description), "Update failed");
}

TEST_F(VLocalizationManagerTest, LongErrorNumbersKeepTheirWholeKey) {
    Write("errors.xlf",
          Xliff(Utf8(fTag), Unit("ERR_vela_1234567", "seven") + Unit("ERR_vela_1234568", "eight") +
                                Unit("ERR_vela_-123456", "negative") + Unit("ERR_vela_765432", "older file")));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("errors.xlf").Get(), false), VE_OK);
    struct Case {
        int32 number;
        const char* text; // null: none
    } cases[] = {{1234567, "seven"},
                 {1234568, "eight"},      // not the text of the number sharing its first six digits
                 {-123456, "negative"},   // 15 characters with its sign
                 {7654321, "older file"}, // no whole key: the key cut to 15 characters
                 {-1234567, nullptr}};
    for (const Case& c : cases) {
        VString text("untouched");
        EXPECT_EQ(manager->LocalizeErrorMessage(MakeLibraryError(c.number), text), c.text != nullptr) << c.number;
        EXPECT_EQ(Utf8(text), c.text != nullptr ? c.text : "untouched") << c.number;
    }
}

TEST_F(VLocalizationManagerTest, GroupBagsByNameAndRestype) {
    Write("bags.xlf", Xliff(Utf8(fTag), "<group resname=\"dialog\" restype=\"x-form\" extra=\"1\">"
                                        "<trans-unit id=\"1\" resname=\"ok\"><source>OK</source></trans-unit>"
                                        "</group><group resname=\"other\" restype=\"x-form\"/>"));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("bags.xlf").Get(), false), VE_OK);
    VRefPtr<const VValueBag> bag = VRefPtr<const VValueBag>::Adopt(manager->RetainGroupBag(VString("DIALOG")));
    ASSERT_TRUE(bag);
    VString value;
    EXPECT_TRUE(bag->GetString("extra", value));
    ASSERT_NE(bag->GetElements("trans-unit"), nullptr);
    std::vector<VRefPtr<const VValueBag>> byType;
    manager->RetainGroupBagsByRestype(VString("x-form"), byType);
    EXPECT_EQ(byType.size(), 2u);
    EXPECT_EQ(manager->RetainGroupBag(VString("none")), nullptr);
}

// Texts and names longer than a unit's scratch room, between short ones: each unit keeps exactly its own texts,
// also after the tables were emptied and filled again.
TEST_F(VLocalizationManagerTest, LongAndShortUnitsKeepTheirOwnTexts) {
    const std::string longName(300, 'k');
    const std::string longText(500, 'x');
    Write("units.xlf", Xliff(Utf8(fTag), Unit(longName, longText) + Unit("short", "Court") +
                                             "<trans-unit resname=\"onlySource\"><source>" + longText +
                                             "y</source></trans-unit>" + Unit("last", "Fin")));
    Manager manager = NewManager(kFrench);
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(manager->LoadFile(File("units.xlf").Get(), false), VE_OK) << pass;
        EXPECT_EQ(Keyed(*manager, longName.c_str()), longText) << pass;
        EXPECT_EQ(Keyed(*manager, "short"), "Court") << pass;
        EXPECT_EQ(Keyed(*manager, "onlySource"), longText + "y") << pass;
        EXPECT_EQ(Keyed(*manager, "last"), "Fin") << pass;
        EXPECT_EQ(Keyed(*manager, std::string(longName, 0, 128).c_str()), "untouched") << pass;
        EXPECT_TRUE(manager->ClearLocalizations());
        EXPECT_EQ(Keyed(*manager, "short"), "untouched") << pass;
    }
}

TEST_F(VLocalizationManagerTest, KeyedStringsGrowAndKeepOrReplaceTheirTexts) {
    Manager manager = NewManager(kFrench);
    auto key = [](int i) { return "key" + std::to_string(i); };
    // Stored one by one, with no room made beforehand: the table grows many times.
    constexpr int kKeys = 5000;
    for (int i = 0; i < kKeys; ++i)
        manager->_InsertObjectURLAndString(VString(key(i).c_str()), VString(("text" + std::to_string(i)).c_str()),
                                           false);
    manager->_InsertObjectURLAndString(VString("key1"), VString("kept"), false);
    manager->_InsertObjectURLAndString(VString("key2"), VString("replaced"), true);
    manager->_InsertObjectURLAndString(VString(""), VString("empty key"), false);
    manager->_InsertObjectURLAndString(VString("no text"), VString(""), false);
    for (int i = 0; i < kKeys; ++i)
        ASSERT_EQ(Keyed(*manager, key(i).c_str()), i == 2 ? "replaced" : "text" + std::to_string(i)) << i;
    EXPECT_EQ(Keyed(*manager, ""), "empty key");
    EXPECT_EQ(Keyed(*manager, "no text"), "");
    EXPECT_EQ(Keyed(*manager, "key"), "untouched");
    EXPECT_EQ(Keyed(*manager, "key50000"), "untouched");

    // A text looked up is the caller's own: it outlives the tables.
    VString text;
    ASSERT_TRUE(manager->LocalizeStringWithKey(VString("key7"), text));
    EXPECT_TRUE(manager->ClearLocalizations());
    manager->_InsertObjectURLAndString(VString("key7"), VString("other"), false);
    EXPECT_EQ(Utf8(text), "text7");
    EXPECT_EQ(Keyed(*manager, "key7"), "other");
}

TEST(VLocalizationManagerHash, NumbersFromFilesDoNotShareOneBucket) {
    // Unit numbers a multiple of the bucket count apart: an unseeded hash of the number puts them all in one
    // bucket, and loading many of them becomes quadratic.
    constexpr uint32 kBuckets = 1024;
    std::set<size_t> buckets;
    for (uint32 i = 0; i < 64; ++i)
        buckets.insert(STRSharpCodesHash()({1, i * kBuckets}) % kBuckets);
    EXPECT_GT(buckets.size(), 32u);
}

TEST_F(VLocalizationManagerTest, EachUnitOfAGroupStartsAfresh) {
    Write("units.xlf", Xliff(Utf8(fTag), "<group id=\"9\" resname=\"form\" restype=\"x-form\">"
                                         "<trans-unit id=\"1\" resname=\"ok\" oz:excludeIf=\"win\">"
                                         "<source>OK</source></trans-unit>"
                                         "<trans-unit id=\"2\"><source>Cancel</source></trans-unit>"
                                         "<trans-unit><source>Nameless</source><target>Sans nom</target>"
                                         "</trans-unit></group>"));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("units.xlf").Get(), false), VE_OK);
    // A unit without resname or id takes nothing of the unit before it.
    EXPECT_EQ(Keyed(*manager, "ok"), "OK");
    VString text;
    EXPECT_TRUE(manager->LocalizeStringWithSTRSharpCodes({9, 2}, text));
    EXPECT_EQ(Utf8(text), "Cancel");
    std::vector<VString> texts;
    ASSERT_TRUE(manager->GetOrderedStringsOfGroup(VString("form"), texts));
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(Utf8(texts[0]), "Sans nom"); // unit id 0 sorts first

    VRefPtr<const VValueBag> form = VRefPtr<const VValueBag>::Adopt(manager->RetainGroupBag(VString("form")));
    ASSERT_TRUE(form);
    const VBagArray* units = form->GetElements("trans-unit");
    ASSERT_NE(units, nullptr);
    ASSERT_EQ(units->GetCount(), 3);
    struct Expected {
        const char* resname;
        const char* target;
    } expected[] = {{"ok", "OK"}, {nullptr, "Cancel"}, {nullptr, "Sans nom"}};
    for (int32 n = 1; n <= 3; ++n) {
        const VValueBag* unit = units->GetNth(n);
        ASSERT_NE(unit, nullptr);
        VString value;
        EXPECT_EQ(unit->GetString("resname", value), expected[n - 1].resname != nullptr) << n;
        if (expected[n - 1].resname != nullptr) {
            EXPECT_EQ(Utf8(value), expected[n - 1].resname);
        }
        EXPECT_EQ(unit->AttributeExists("oz:excludeIf"), n == 1) << n;
        ASSERT_TRUE(unit->GetString("target", value)) << n;
        EXPECT_EQ(Utf8(value), expected[n - 1].target);
    }
}

TEST_F(VLocalizationManagerTest, ReloadsChangedFilesKeepingTheirLanguageFilter) {
    Write("main.xlf", Xliff(Utf8(fTag), Unit("k", "first")));
    Write("any.xlf", Xliff("de", Unit("whole", "kept")));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("main.xlf").Get(), false), VE_OK);
    ASSERT_EQ(manager->LoadFile(File("any.xlf").Get(), true), VE_OK);
    EXPECT_FALSE(manager->DoesNeedAnUpdate());
    EXPECT_FALSE(manager->UpdateIfNeeded());

    Write("main.xlf", Xliff(Utf8(fTag), Unit("k", "second")));
    const auto path = std::filesystem::path(Posix("main.xlf"));
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(10));
    // Asking first does not use the change up.
    EXPECT_TRUE(manager->DoesNeedAnUpdate());
    EXPECT_TRUE(manager->DoesNeedAnUpdate());
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Keyed(*manager, "k"), "second");
    EXPECT_EQ(Keyed(*manager, "whole"), "kept");
    EXPECT_FALSE(manager->DoesNeedAnUpdate());

    std::filesystem::remove(Posix("main.xlf"));
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Keyed(*manager, "k"), "untouched");
    EXPECT_EQ(Keyed(*manager, "whole"), "kept");
}

TEST(VLocalizationManagerSetUp, OnlyASucceededParserSetUpIsGivenBack) {
#ifndef VELA_TEST_SEAMS
    GTEST_SKIP() << "needs the parser set-up seam (VELA_TEST_SEAMS)";
#endif
    ASSERT_FALSE(VXMLParser::IsInited());
    XercesSupport::sFailSetUp = true;
    Manager manager = NewManager(kFrench);
    XercesSupport::sFailSetUp = false;
    ASSERT_FALSE(VXMLParser::IsInited());
    ASSERT_TRUE(VXMLParser::Init()); // another user's count
    manager = nullptr;
    EXPECT_TRUE(VXMLParser::IsInited());
    VXMLParser::DeInit();
    EXPECT_FALSE(VXMLParser::IsInited());
}

// Reloads on one thread while others look texts and bags up and ask for updates: run under ThreadSanitizer.
class VLocalizationManagerConcurrency : public VLocalizationManagerTest {};

TEST_F(VLocalizationManagerConcurrency, ReloadsAndLookupsRunTogether) {
    const std::string bags = "<group resname=\"dialog\" restype=\"x-form\"/>";
    Write("main.xlf", Xliff(Utf8(fTag), Unit("k", "first") + bags));
    Manager manager = NewManager(kFrench);
    ASSERT_EQ(manager->LoadFile(File("main.xlf").Get(), false), VE_OK);
    const auto path = std::filesystem::path(Posix("main.xlf"));
    // Each version gets a time of its own: writes within one clock tick would share one.
    const auto loadedAt = std::filesystem::last_write_time(path);
    constexpr int kReloads = 20;
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    std::atomic<int> found{0};
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done.load()) {
                VString text;
                if (manager->LocalizeStringWithKey(VString("k"), text)) ++found;
                std::vector<VRefPtr<const VValueBag>> byType;
                manager->RetainGroupBagsByRestype(VString("x-form"), byType);
                manager->DoesNeedAnUpdate();
            }
        });
    }
    int reloaded = 0;
    for (int i = 0; i < kReloads; ++i) {
        Write("main.xlf", Xliff(Utf8(fTag), Unit("k", "v" + std::to_string(i)) + bags));
        std::filesystem::last_write_time(path, loadedAt + std::chrono::seconds(10 * (i + 1)));
        if (manager->UpdateIfNeeded()) ++reloaded;
    }
    done = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(reloaded, kReloads);
    EXPECT_EQ(Keyed(*manager, "k"), "v" + std::to_string(kReloads - 1));
    EXPECT_GT(found.load(), 0);
}

TEST_F(VLocalizationManagerTest, MalformedXLIFFKeepsWhatWasReadBefore) {
    Write("broken.xlf", Xliff(Utf8(fTag), Unit("before", "ok")).substr(0, 0) + "<xliff><file target-language=\"" +
                            Utf8(fTag) +
                            "\"><body><trans-unit resname=\"before\"><source>ok</source></trans-unit><trans-unit");
    Manager manager = NewManager(kFrench);
    StErrorContextInstaller errors(false);
    EXPECT_EQ(manager->LoadFile(File("broken.xlf").Get(), false), VE_OK);
    EXPECT_EQ(Keyed(*manager, "before"), "ok");
    EXPECT_EQ(errors.GetContext()->GetLastError(), VE_XML_FATAL_ERROR);
}

TEST_F(VLocalizationManagerTest, BundleFoldersLoadInNameOrder) {
    std::vector<VString> names;
    VIntlMgr::GetLocalizationFolderNames(kFrench, names);
    ASSERT_FALSE(names.empty());
    const std::string resources = "Bundle.app/Contents/Resources/";
    const std::string dialectFolder = resources + Utf8(names.front()) + "/";
    std::filesystem::create_directories(Posix(dialectFolder));
    Write(resources + "any.xlf", Xliff("de", Unit("whole", "from the resource folder")));
    Write(dialectFolder + "b.xlf", Xliff(Utf8(fTag), Unit("k", "from b")));
    Write(dialectFolder + "a.xlf", Xliff(Utf8(fTag), Unit("k", "from a")));
    Write(dialectFolder + "c.xlf", Xliff("de", Unit("german", "deutsch")));
    const VRefPtr<VFolder> bundle =
        VRefPtr<VFolder>::Adopt(new VFolder(VString(Posix("Bundle.app/").c_str()), FPS_POSIX));

    Manager manager = NewManager(kFrench);
    EXPECT_TRUE(manager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
    EXPECT_EQ(Keyed(*manager, "whole"), "from the resource folder");
    EXPECT_EQ(Keyed(*manager, "k"), "from b"); // the last by name wins, whatever the directory order
    EXPECT_EQ(Keyed(*manager, "german"), "untouched");

    // A new file in a loaded folder is picked up; the resource folder keeps taking every language.
    EXPECT_FALSE(manager->DoesNeedAnUpdate());
    Write(dialectFolder + "d.xlf", Xliff(Utf8(fTag), Unit("added", "later")));
    EXPECT_TRUE(manager->UpdateIfNeeded());
    EXPECT_EQ(Keyed(*manager, "added"), "later");
    EXPECT_EQ(Keyed(*manager, "whole"), "from the resource folder");
    EXPECT_EQ(Keyed(*manager, "k"), "from b");

    // Without a language, or without a dialect folder, only the resource folder's own files are read.
    Manager none = NewManager(kNoLanguage);
    EXPECT_FALSE(none->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
    EXPECT_EQ(Keyed(*none, "whole"), "from the resource folder");
    EXPECT_EQ(Keyed(*none, "k"), "untouched");
    std::filesystem::remove_all(Posix(dialectFolder));
    Manager bare = NewManager(kFrench);
    EXPECT_FALSE(bare->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get()));
    EXPECT_EQ(Keyed(*bare, "whole"), "from the resource folder");
    EXPECT_FALSE(bare->LoadDefaultLocalizationFoldersForComponentOrPlugin(nullptr));
}

} // namespace
} // namespace vela
