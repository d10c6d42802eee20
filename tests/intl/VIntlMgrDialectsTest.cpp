#include "intl/VIntlMgr.h"

#include "core/VString.h"
#include "files/VFile.h"
#include "files/VFolder.h"
#include "intl/VCollator.h"
#include "intl/platform/XPosixIntlMgr.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vela {
namespace {

std::u16string Units(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::vector<VString> Tags(std::initializer_list<const char*> tags) {
    std::vector<VString> list;
    for (const char* tag : tags)
        list.emplace_back(tag);
    return list;
}

// Sets the user's preferred languages for the scope (none: the environment's), the previous source back
// afterwards.
class StPreferredLanguages {
public:
    explicit StPreferredLanguages(std::initializer_list<const char*> tags)
        : fPrevious(XPosixIntlMgr::SetPreferredLanguages(Tags(tags))) {}
    explicit StPreferredLanguages(std::nullopt_t) : fPrevious(XPosixIntlMgr::SetPreferredLanguages(std::nullopt)) {}
    ~StPreferredLanguages() { XPosixIntlMgr::SetPreferredLanguages(fPrevious); }
    StPreferredLanguages(const StPreferredLanguages&) = delete;
    StPreferredLanguages& operator=(const StPreferredLanguages&) = delete;

private:
    std::optional<std::vector<VString>> fPrevious;
};

// Sets or unsets environment variables for the scope.
class StEnvironment {
public:
    StEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        for (auto [name, value] : values) {
            const char* old = std::getenv(name);
            fSaved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
            if (value != nullptr) {
                setenv(name, value, 1);
            } else {
                unsetenv(name);
            }
        }
    }
    ~StEnvironment() {
        for (auto& [name, value] : fSaved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> fSaved;
};

TEST(VIntlMgrDialects, TagsResolveWithRegionAndScriptFallBacks) {
    struct Case {
        const char* tag;
        bool fallback;
        bool primaryOnly;
        bool parses;
        uint32 dialect;
    } cases[] = {
        {"en-US", true, true, true, 1033},
        {"en_US", true, true, true, 1033},
        {"en-GB", true, true, true, 2057},
        {"fr-CA", true, true, true, 3084},
        {"FR-ca", true, true, true, 3084},
        {"zh-Hans", true, true, true, 2052},
        {"zh-Hant", true, true, true, 1028},
        {"zh-hk", true, true, true, 3076},
        {"pt-BR", true, true, true, 1046},
        {"pt-PT", true, true, true, 1046}, // the "pt" row without subtag is 2070, whose default form is 1046
        {"es-419", true, true, true, 1034},
        {"es", true, false, true, 3082},
        {"es", true, true, true, 1034},
        {"en", true, false, true, 1033},
        {"en", true, true, true, 1033},
        {"sr", true, false, true, 1050},
        {"en-ZZ", true, true, true, 1033},
        {"en-ZZ", false, true, false, kNoDialect},
        {"zh", true, true, false, kNoDialect}, // no Chinese row without a subtag
        {"xx", true, true, false, kNoDialect},
        {"xx-YY", true, true, false, kNoDialect},
        {"en-US-x", true, true, false, kNoDialect}, // three parts do not parse
        {"", true, true, false, kNoDialect},
    };
    for (const Case& c : cases) {
        uint32 dialect = 7;
        EXPECT_EQ(
            VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(VString(c.tag), dialect, c.fallback, c.primaryOnly),
            c.parses)
            << c.tag;
        EXPECT_EQ(dialect, c.dialect) << c.tag << " fallback " << c.fallback << " primary " << c.primaryOnly;
    }
}

TEST(VIntlMgrDialects, TableLookups) {
    VString text;
    EXPECT_TRUE(VIntlMgr::GetBCP47LanguageCode(1044, text)); // the first of the two 1044 rows
    EXPECT_EQ(Units(text), u"no-NO");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(2068, text, '-'));
    EXPECT_EQ(Units(text), u"nn-no");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(2052, text, '_'));
    EXPECT_EQ(Units(text), u"zh_Hans");
    EXPECT_TRUE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(1033, text));
    EXPECT_EQ(Units(text), u"en");
    EXPECT_TRUE(VIntlMgr::GetISO6391LanguageCode(1050, text)); // "sr" parses to 1050, whose first row is Croatian
    EXPECT_EQ(Units(text), u"hr");
    EXPECT_TRUE(VIntlMgr::GetISO6392LanguageCode(1031, text));
    EXPECT_EQ(Units(text), u"ger");
    EXPECT_TRUE(VIntlMgr::GetISO3166RegionCode(1028, text));
    EXPECT_EQ(Units(text), u"TW");
    EXPECT_FALSE(VIntlMgr::GetRFC3066BisSubTagRegionCode(1033, text));
    EXPECT_EQ(Units(text), u"");
    EXPECT_STREQ(VIntlMgr::GetISO6391LanguageCode(1036), "fr");
    EXPECT_STREQ(VIntlMgr::GetISO3166RegionCode(94), "");

    // A code without a row: empty results, no C string.
    text = VString("stale");
    EXPECT_FALSE(VIntlMgr::GetISOLanguageName(4242, text));
    EXPECT_EQ(Units(text), u"");
    EXPECT_FALSE(VIntlMgr::GetBCP47LanguageCode(4242, text));
    EXPECT_FALSE(VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(4242, text));
    EXPECT_EQ(VIntlMgr::GetISO6391LanguageCode(4242), nullptr);
    EXPECT_FALSE(VIntlMgr::IsDialectCode(4242));
    EXPECT_TRUE(VIntlMgr::IsDialectCode(20490));

    std::vector<uint32> all{99};
    VIntlMgr::GetAllDialects(all); // appended, duplicates included
    ASSERT_EQ(all.size(), 155u);
    EXPECT_EQ(all[1], 1078u);
    EXPECT_EQ(all.back(), 1077u);
    std::vector<std::pair<VString, uint32>> collators;
    VIntlMgr::GetDialectsHavingCollator(collators);
    ASSERT_EQ(collators.size(), 154u);
    for (const auto& [language, code] : collators) {
        if (code == 1044) { // the second 1044 row ("nb") names the first's
            EXPECT_EQ(Units(language), u"no");
        }
    }
}

TEST(VIntlMgrDialects, LanguageNamesGiveTheDefaultFormOfTheFirstRowWithoutSubtag) {
    struct Case {
        const char* name;
        bool found;
        uint32 dialect;
    } cases[] = {
        {"spanish", true, 1110}, // Galician: the first "spanish" row whose subtag is empty
        {"French", true, 1036},  {"CHINESE", false, 0}, {"klingon", false, 0},
        {"english", true, 1033}, {"Sami", true, 1083},  {"sami", true, 1083}, // a row the table writes capitalised
    };
    for (const Case& c : cases) {
        uint32 dialect = 0;
        EXPECT_EQ(VIntlMgr::GetDialectCodeWithISOLanguageName(VString(c.name), dialect), c.found) << c.name;
        if (c.found) {
            EXPECT_EQ(dialect, c.dialect) << c.name;
        }
    }
}

TEST(VIntlMgrDialects, CompareLanguageTags) {
    struct Case {
        const char* a;
        const char* b;
        int32 expected;
    } cases[] = {
        {"fr-CA", "fr", 3},    {"fr", "fr-CA", 2},    {"fr-CA", "fr-FR", 1}, {"fr", "de", 0}, {"xx", "fr", -1},
        {"fr", "xx", -1},      {"FR", "fr", 4},       {"en_US", "en", 0}, // "_" is no region separator here
        {"fr-CA", "de-DE", 0}, {"zh", "zh-Hans", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VIntlMgr::Compare2RFC3066LanguageCodes(VString(c.a), VString(c.b)), c.expected) << c.a << " " << c.b;
}

TEST(VIntlMgrDialects, ScriptFamiliesAndWritingDirection) {
    struct Case {
        uint32 dialect;
        uint32 family;
    } cases[] = {{1033, 0},  {1041, 1},  {1028, 2},  {4100, 2},  {2052, 3},  {3076, 3},          {1042, 4},
                 {1025, 5},  {1037, 6},  {1032, 7},  {1049, 8},  {1029, 9},  {1050, 10},         {1039, 11},
                 {1065, 12}, {1048, 13}, {1054, 14}, {1066, 15}, {1055, 16}, {1056, 0xFFFFFFFF}, {4242, 0xFFFFFFFF}};
    for (const Case& c : cases)
        EXPECT_EQ(VIntlMgr::DialectCodeToScriptCode(c.dialect), c.family) << c.dialect;

    for (uint32 rtl : {1025u, 14337u, 1037u, 1056u, 1065u})
        EXPECT_TRUE(VIntlMgr::IsRightToLeftDialect(rtl)) << rtl;
    for (uint32 ltr : {1033u, 1041u, 1049u})
        EXPECT_FALSE(VIntlMgr::IsRightToLeftDialect(ltr)) << ltr;
}

TEST(VIntlMgrDialects, PosixLocaleNamesBecomeTags) {
    struct Case {
        const char* name;
        const char16_t* tag;
    } cases[] = {
        {"de_CH.UTF-8@euro", u"de-CH"},
        {"fr_CA", u"fr-CA"},
        {"en", u"en"},
        {"C", u""},
        {"POSIX", u""},
        {"C.UTF-8", u""},
        {"", u""},
        {"zh_CN.GB2312", u"zh-Hans"},
        {"zh", u"zh-Hans"},
        {"zh_TW.Big5", u"zh-Hant"},
        {"zh_HK", u"zh-HK"},
        {"zh_SG", u"zh-SG"},
        {"sr_RS@latin", u"sr-RS"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Units(XPosixIntlMgr::TagFromPosixLocale(c.name)), c.tag) << c.name;
}

TEST(VIntlMgrDialects, PreferredLanguagesComeFromTheEnvironment) {
    StPreferredLanguages fromEnvironment(std::nullopt);
    {
        StEnvironment env{
            {"LANGUAGE", "fr_FR:de::C"}, {"LC_ALL", nullptr}, {"LC_MESSAGES", "it_IT.UTF-8"}, {"LANG", "en_GB.UTF-8"}};
        std::vector<VString> tags = XPosixIntlMgr::GetPreferredLanguages();
        ASSERT_EQ(tags.size(), 3u);
        EXPECT_EQ(Units(tags[0]), u"fr-FR");
        EXPECT_EQ(Units(tags[1]), u"de");
        EXPECT_EQ(Units(tags[2]), u"it-IT"); // LC_MESSAGES before LANG, and only the first of them
    }
    {
        StEnvironment env{{"LANGUAGE", nullptr}, {"LC_ALL", "C"}, {"LC_MESSAGES", nullptr}, {"LANG", "en_US"}};
        EXPECT_TRUE(XPosixIntlMgr::GetPreferredLanguages().empty()); // LC_ALL wins, and names no language
    }
}

TEST(VIntlMgrDialects, SystemDialectFollowsThePreferredLanguages) {
    {
        StPreferredLanguages languages{"de-CH", "xx", "zh-Hans"};
        EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 2055u);
        EXPECT_EQ(VIntlMgr::ResolveDialectCode(kSystemDialect), 2055u);
        EXPECT_EQ(VIntlMgr::ResolveDialectCode(kNoDialect), 2055u);
        EXPECT_EQ(VIntlMgr::GetSystemUIDialectCode(), 2055u);
        std::vector<uint32> codes{1};
        VIntlMgr::GetSystemUIDialectCodes(codes);
        EXPECT_EQ(codes, (std::vector<uint32>{2055, 1033, 2052}));
        EXPECT_FALSE(VIntlMgr::IsSystemUIDialectIdeographic());
    }
    {
        StPreferredLanguages languages{"ja"};
        EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 1041u);
        EXPECT_TRUE(VIntlMgr::IsSystemUIDialectIdeographic());
    }
    {
        StPreferredLanguages languages{"xx-YY"}; // nothing parses: English
        EXPECT_EQ(VIntlMgr::ResolveDialectCode(0), 1033u);
        std::vector<uint32> codes;
        VIntlMgr::GetSystemUIDialectCodes(codes);
        EXPECT_EQ(codes, std::vector<uint32>{1033});
    }
    {
        StPreferredLanguages none{};
        EXPECT_EQ(VIntlMgr::GetSystemUIDialectCode(), 1033u);
        std::vector<uint32> codes{5};
        VIntlMgr::GetSystemUIDialectCodes(codes);
        EXPECT_TRUE(codes.empty());
    }
    EXPECT_EQ(VIntlMgr::ResolveDialectCode(0x12345), 0x12345u); // not a system value: unchanged
}

TEST(VIntlMgrDialects, CreateFallsBackToKnownDialects) {
    struct Case {
        uint32 dialect;
        uint32 collatorDialect;
        uint32 expectedDialect;
        uint32 expectedCollator;
    } cases[] = {
        {1036, 1036, 1036, 1036},
        {0x7C0C, 0x7C0C, 1036, 1036},   // French with an unknown sublanguage: its default form
        {0x12345, 0x12345, 1033, 1033}, // not even the language is known
        {1033, 1038, 1033, 1033},       // Hungarian collation: English stands in
        {1054, 1054, 1054, 1033},       // Thai too
        {1031, 1053, 1031, 1053},
    };
    for (const Case& c : cases) {
        VRefPtr<VIntlMgr> manager = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(c.dialect, c.collatorDialect, 1));
        ASSERT_TRUE(manager) << c.dialect;
        EXPECT_EQ(manager->GetDialectCode(), c.expectedDialect) << c.dialect;
        EXPECT_EQ(manager->GetCollator()->GetDialect(), c.expectedCollator) << c.dialect;
        EXPECT_EQ(manager->GetWildChar(), u'@');
    }
    StPreferredLanguages languages{"fr-CA"};
    VRefPtr<VIntlMgr> system = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(0, 0, 1));
    ASSERT_TRUE(system);
    EXPECT_EQ(system->GetDialectCode(), 3084u);
}

TEST(VIntlMgrDialects, CreateClonesTheCurrentManagerOfTheSameDialectsWithItsWildcardReset) {
    VRefPtr<VIntlMgr> current = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(1031, 1031, 1));
    ASSERT_TRUE(current);
    current->GetCollator()->SetWildChar(u'*');
    StCurrentIntlMgr scope(current.Get());

    VRefPtr<VIntlMgr> same = VRefPtr<VIntlMgr>::Adopt(VIntlMgr::Create(1031, 1031, 1));
    ASSERT_TRUE(same);
    EXPECT_NE(same.Get(), current.Get());
    EXPECT_NE(same->GetCollator(), current->GetCollator());
    EXPECT_EQ(same->GetWildChar(), u'@');
    EXPECT_EQ(current->GetWildChar(), u'*'); // the original keeps its own
    EXPECT_EQ(Units(same->GetDecimalSeparator()), Units(current->GetDecimalSeparator()));

    VRefPtr<VIntlMgr> clone = VRefPtr<VIntlMgr>::Adopt(current->Clone());
    EXPECT_EQ(clone->GetWildChar(), u'*');
    EXPECT_EQ(clone->GetDialectCode(), 1031u);
    EXPECT_EQ(clone->CompareString(u"\u00F6", 1, u"z", 1, true), CR_SMALLER);
}

TEST(VIntlMgrDialects, LocalizationFolderNames) {
    struct Case {
        uint32 dialect;
        std::vector<std::u16string> names;
    } cases[] = {
        {1033, {u"en.lproj", u"en_US.lproj", u"English.lproj"}},
        {2057, {u"en-gb.lproj", u"en_gb.lproj", u"en.lproj", u"en_GB.lproj", u"English.lproj"}},
        {2052, {u"zh-Hans.lproj", u"zh_Hans.lproj", u"zh.lproj", u"zh_CN.lproj", u"Chinese.lproj"}},
        {94, {u"am.lproj", u"Amharic.lproj"}},
        {4242, {u".lproj", u".lproj"}},
    };
    for (const Case& c : cases) {
        std::vector<VString> names;
        VIntlMgr::GetLocalizationFolderNames(c.dialect, names);
        std::vector<std::u16string> units;
        for (const VString& name : names)
            units.push_back(Units(name));
        EXPECT_EQ(units, c.names) << c.dialect;
    }
}

TEST(VIntlMgrDialects, LocalizationFilesAreTakenFromTheMostGeneralFolderFirst) {
    char pattern[] = "/tmp/vela-intl-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::filesystem::path root(pattern);
    for (const char* folder : {"en.lproj", "English.lproj", "fr.lproj", "empty"})
        std::filesystem::create_directory(root / folder);
    for (const char* file : {"en.lproj/a.strings", "en.lproj/only.strings", "English.lproj/a.strings"})
        std::ofstream(root / file) << "x";
    VRefPtr<VFolder> parent = VRefPtr<VFolder>::Adopt(new VFolder(VString((root.string() + "/").c_str()), FPS_POSIX));

    std::vector<VRefPtr<IFolder>> folders;
    EXPECT_TRUE(VIntlMgr::GetLocalizationFoldersWithDialect(1033, parent.Get(), folders));
    std::vector<std::u16string> names;
    for (const VRefPtr<IFolder>& folder : folders) {
        VString name;
        folder->GetName(name);
        names.push_back(Units(name));
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"en.lproj", u"English.lproj"})); // no en_US.lproj here

    auto found = [&](const char* file, bool* folderFound, const VFolder* in) {
        VRefPtr<IFile> hit =
            VRefPtr<IFile>::Adopt(VIntlMgr::RetainLocalizationFile(in, VString(file), 1033, folderFound));
        if (!hit) return std::string();
        VString path;
        hit->GetPlatformPath(path, FPS_POSIX);
        std::string narrow;
        for (int32 i = 0; i < path.GetLength(); ++i)
            narrow.push_back(char(path.GetCPointer()[i]));
        return std::filesystem::path(narrow).lexically_relative(root).string();
    };
    bool folderFound = false;
    EXPECT_EQ(found("a.strings", &folderFound, parent.Get()), "English.lproj/a.strings");
    EXPECT_TRUE(folderFound);
    EXPECT_EQ(found("only.strings", &folderFound, parent.Get()), "en.lproj/only.strings");
    EXPECT_EQ(found("none.strings", &folderFound, parent.Get()), "");
    EXPECT_TRUE(folderFound); // folders there, the file in none of them

    VRefPtr<VFolder> empty =
        VRefPtr<VFolder>::Adopt(new VFolder(VString((root.string() + "/empty/").c_str()), FPS_POSIX));
    EXPECT_EQ(found("a.strings", &folderFound, empty.Get()), "");
    EXPECT_FALSE(folderFound);
    std::filesystem::remove_all(root);
}

} // namespace
} // namespace vela
