// The static dialect catalogue of VIntlMgr: lookups, language tags, the system's languages, folder names.

#include "intl/VIntlMgr.h"

#include "files/IFileSystemObject.h"
#include "intl/DialectTable.h"

#include <atomic>
#include <cstring>
#include <string>

namespace vela {

using Private::DialectRow;
using Private::DialectRows;
using Private::FindDialectRow;

namespace {

constexpr uint32 PrimaryForm(uint32 code) noexcept {
    return (code & 1023) | 1024;
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) noexcept {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a >= 'A' && *a <= 'Z' ? char(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? char(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// The text as a C string, each unit cut to a byte (the tags and names looked up are ASCII); at most 255 bytes.
std::string Narrow(const UniChar* text, int32 length) {
    std::string narrow;
    for (int32 i = 0; i < length && narrow.size() < 255; ++i)
        narrow.push_back(text[i] < 128 ? char(text[i]) : '?');
    return narrow;
}

std::string Narrow(const VString& text) {
    return Narrow(text.GetCPointer(), text.GetLength());
}

// The non-empty parts of text between separators; *found tells whether the separator occurred.
std::vector<std::string> Split(const std::string& text, char separator, bool* found) {
    std::vector<std::string> parts;
    *found = false;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at != std::string::npos) *found = true;
        std::string part = text.substr(start, at == std::string::npos ? std::string::npos : at - start);
        if (!part.empty()) parts.push_back(part);
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// Fills out with a column of the dialect's first row; true when not empty.
bool GetColumn(uint32 dialect, const char* DialectRow::*column, VString& out) {
    out.Clear();
    const DialectRow* row = FindDialectRow(dialect);
    if (row != nullptr) out.FromCString(row->*column);
    return out.GetLength() > 0;
}

// The script families of the dialects that have one.
struct ScriptFamily {
    uint32 dialect;
    uint32 family;
};

constexpr ScriptFamily kScriptFamilies[] = {
    {1027, 0},  {1030, 0},  {1031, 0},  {1033, 0},  {1034, 0},  {1035, 0},  {1036, 0},  {1040, 0},  {1043, 0},
    {1044, 0},  {1046, 0},  {1052, 0},  {1053, 0},  {1057, 0},  {1068, 0},  {1069, 0},  {1070, 0},  {1078, 0},
    {1083, 0},  {1086, 0},  {1106, 0},  {1122, 0},  {1134, 0},  {2055, 0},  {2057, 0},  {2058, 0},  {2060, 0},
    {2064, 0},  {2067, 0},  {2068, 0},  {2070, 0},  {2077, 0},  {2094, 0},  {2107, 0},  {2108, 0},  {3079, 0},
    {3081, 0},  {3082, 0},  {3084, 0},  {3131, 0},  {4103, 0},  {4105, 0},  {4106, 0},  {4108, 0},  {4155, 0},
    {5127, 0},  {5129, 0},  {5130, 0},  {5132, 0},  {5146, 0},  {5179, 0},  {6153, 0},  {6154, 0},  {6203, 0},
    {7177, 0},  {7178, 0},  {7227, 0},  {8192, 0},  {8201, 0},  {8202, 0},  {8251, 0},  {9225, 0},  {9226, 0},
    {9275, 0},  {10249, 0}, {10250, 0}, {11273, 0}, {11274, 0}, {12298, 0}, {13322, 0}, {14346, 0}, {15370, 0},
    {16394, 0}, {17418, 0}, {18441, 0}, {18442, 0}, {19466, 0}, {20490, 0}, {1041, 1},  {1028, 2},  {4100, 2},
    {2052, 3},  {3076, 3},  {1042, 4},  {2066, 4},  {1025, 5},  {2049, 5},  {3073, 5},  {4097, 5},  {5121, 5},
    {6145, 5},  {7169, 5},  {8193, 5},  {9217, 5},  {10241, 5}, {11265, 5}, {12289, 5}, {13313, 5}, {14337, 5},
    {15361, 5}, {16385, 5}, {1037, 6},  {1032, 7},  {1026, 8},  {1049, 8},  {1058, 8},  {1059, 8},  {1064, 8},
    {1071, 8},  {1092, 8},  {1104, 8},  {2092, 8},  {2115, 8},  {3098, 8},  {7194, 8},  {1029, 9},  {1038, 9},
    {1045, 9},  {1051, 9},  {1061, 9},  {1062, 9},  {1063, 9},  {1091, 9},  {2074, 9},  {6170, 9},  {1050, 10},
    {1060, 10}, {4122, 10}, {1039, 11}, {1080, 11}, {1065, 12}, {1048, 13}, {1054, 14}, {1066, 15}, {1055, 16},
}; // namespace vela

// The resolved system dialect with the preferences generation it was resolved under (high half), or
// kUnresolved.
constexpr uint64 kUnresolved = ~uint64(0);
std::atomic<uint64> sSystemDialect{kUnresolved};

// The first preferred language that parses, else 1033.
uint32 FirstPreferredDialect() {
    std::vector<VString> languages = XPosixIntlMgr::GetPreferredLanguages();
    uint32 dialect = kNoDialect;
    if (languages.empty() || !VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(languages[0], dialect, true, true)) {
        return DC_ENGLISH_US;
    }
    return dialect;
}

} // namespace

uint32 VIntlMgr::ResolveDialectCode(uint32 dialect) {
    if (dialect != 0 && dialect != kSystemDialect && dialect != kNoDialect) return dialect;
    // Resolved once (concurrent first calls compute the same value), again only after the preferences seam
    // changed the languages.
    uint64 generation = XPosixIntlMgr::GetPreferencesGeneration();
    uint64 cached = sSystemDialect.load(std::memory_order_acquire);
    if (cached != kUnresolved && (cached >> 32) == generation) return uint32(cached);
    uint32 resolved = FirstPreferredDialect();
    sSystemDialect.store(generation << 32 | resolved, std::memory_order_release);
    return resolved;
}

bool VIntlMgr::IsDialectCode(uint32 dialect) noexcept {
    return FindDialectRow(dialect) != nullptr;
}

const char* VIntlMgr::GetISO6391LanguageCode(uint32 dialect) noexcept {
    const DialectRow* row = FindDialectRow(dialect);
    return row != nullptr ? row->iso6391 : nullptr;
}

bool VIntlMgr::GetISO6391LanguageCode(uint32 dialect, VString& out) {
    return GetColumn(dialect, &DialectRow::iso6391, out);
}

bool VIntlMgr::GetISO6392LanguageCode(uint32 dialect, VString& out) {
    return GetColumn(dialect, &DialectRow::iso6392, out);
}

bool VIntlMgr::GetISOLanguageName(uint32 dialect, VString& out) {
    return GetColumn(dialect, &DialectRow::name, out);
}

const char* VIntlMgr::GetISO3166RegionCode(uint32 dialect) noexcept {
    const DialectRow* row = FindDialectRow(dialect);
    return row != nullptr ? row->region : nullptr;
}

bool VIntlMgr::GetISO3166RegionCode(uint32 dialect, VString& out) {
    return GetColumn(dialect, &DialectRow::region, out);
}

bool VIntlMgr::GetRFC3066BisSubTagRegionCode(uint32 dialect, VString& out) {
    return GetColumn(dialect, &DialectRow::subtag, out);
}

bool VIntlMgr::GetBCP47LanguageCode(uint32 dialect, VString& out) {
    out.Clear();
    const DialectRow* row = FindDialectRow(dialect);
    if (row == nullptr) return false;
    out.FromCString(row->iso6391);
    if (*row->region != '\0') {
        out.AppendUniChar(u'-');
        out.AppendCString(row->region);
    }
    return out.GetLength() > 0;
}

bool VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(uint32 dialect, VString& out, char separator) {
    out.Clear();
    const DialectRow* row = FindDialectRow(dialect);
    if (row == nullptr || *row->iso6391 == '\0') return false;
    out.FromCString(row->iso6391);
    if (*row->subtag != '\0') {
        out.AppendUniChar(UniChar(static_cast<unsigned char>(separator)));
        out.AppendCString(row->subtag);
    }
    return true;
}

void VIntlMgr::GetAllDialects(std::vector<uint32>& dialects) {
    for (const DialectRow& row : DialectRows())
        dialects.push_back(row.code);
}

void VIntlMgr::GetDialectsHavingCollator(std::vector<std::pair<VString, uint32>>& dialects) {
    for (const DialectRow& row : DialectRows())
        dialects.emplace_back(VString(FindDialectRow(row.code)->iso6391), row.code);
}

bool VIntlMgr::IsRightToLeftDialect(uint32 dialect) {
    uint32 primary = ResolveDialectCode(dialect) & 1023;
    return primary == 1 || primary == 13 || primary == 32 || primary == 41;
}

uint32 VIntlMgr::DialectCodeToScriptCode(uint32 dialect) noexcept {
    for (const ScriptFamily& entry : kScriptFamilies) {
        if (entry.dialect == dialect) return entry.family;
    }
    return 0xFFFFFFFF;
}

// ---- Language tags

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const VString& tag, uint32& dialect, bool fallbackToLanguage,
                                                        bool primaryOnly) {
    std::string text = Narrow(tag);
    bool dashed = false, underscored = false;
    std::vector<std::string> byDash = Split(text, '-', &dashed);
    std::vector<std::string> byUnderscore = Split(text, '_', &underscored);
    if (byDash.size() == 1 && !dashed && !underscored) {
        return GetDialectCodeWithRFC3066BisLanguageCode(byDash[0].c_str(), nullptr, dialect, fallbackToLanguage,
                                                        primaryOnly);
    }
    if (byDash.size() == 2) {
        return GetDialectCodeWithRFC3066BisLanguageCode(byDash[0].c_str(), byDash[1].c_str(), dialect,
                                                        fallbackToLanguage, primaryOnly);
    }
    if (byUnderscore.size() == 2) {
        return GetDialectCodeWithRFC3066BisLanguageCode(byUnderscore[0].c_str(), byUnderscore[1].c_str(), dialect,
                                                        fallbackToLanguage, primaryOnly);
    }
    dialect = kNoDialect; // three parts or more do not parse
    return false;
}

bool VIntlMgr::GetDialectCodeWithRFC3066BisLanguageCode(const char* language, const char* subtag, uint32& dialect,
                                                        bool fallbackToLanguage, bool primaryOnly) {
    dialect = kNoDialect;
    if (language == nullptr) return false;
    auto firstWithoutSubtag = [language]() -> const DialectRow* {
        for (const DialectRow& row : DialectRows()) {
            if (*row.subtag == '\0' && EqualsIgnoringAsciiCase(row.iso6391, language)) return &row;
        }
        return nullptr;
    };
    if (subtag != nullptr) {
        for (const DialectRow& row : DialectRows()) {
            if (EqualsIgnoringAsciiCase(row.iso6391, language) && EqualsIgnoringAsciiCase(row.subtag, subtag)) {
                dialect = row.code;
                return true;
            }
        }
        if (!fallbackToLanguage) return false;
        const DialectRow* row = firstWithoutSubtag();
        if (row == nullptr) return false;
        dialect = PrimaryForm(row->code);
        return true;
    }
    const DialectRow* row = firstWithoutSubtag();
    if (row == nullptr) return false;
    dialect = primaryOnly ? PrimaryForm(row->code) : row->code;
    return true;
}

bool VIntlMgr::GetDialectCodeWithISOLanguageName(const VString& name, uint32& dialect) {
    // The table writes most names in lower case but some capitalised ("Sami"): both sides go without case.
    const std::string narrow = Narrow(name);
    for (const DialectRow& row : DialectRows()) {
        if (*row.subtag == '\0' && EqualsIgnoringAsciiCase(narrow.c_str(), row.name)) {
            dialect = PrimaryForm(row.code);
            return true;
        }
    }
    return false;
}

int32 VIntlMgr::Compare2RFC3066LanguageCodes(const VString& a, const VString& b) {
    std::string tagA = Narrow(a), tagB = Narrow(b);
    for (std::string* tag : {&tagA, &tagB}) {
        for (char& c : *tag) {
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        }
    }
    uint32 ignored = 0;
    if (!GetDialectCodeWithRFC3066BisLanguageCode(VString(tagA.c_str()), ignored, true, true) ||
        !GetDialectCodeWithRFC3066BisLanguageCode(VString(tagB.c_str()), ignored, true, true)) {
        return -1;
    }
    if (tagA == tagB) return 4;
    bool found = false;
    std::vector<std::string> partsA = Split(tagA, '-', &found), partsB = Split(tagB, '-', &found);
    if (partsA.empty() || partsB.empty()) return 0;
    bool sameLanguage = partsA[0] == partsB[0];
    if (partsA.size() == 2 && partsB.size() == 1) return sameLanguage ? 3 : 0;
    if (partsA.size() == 1 && partsB.size() == 2) return sameLanguage ? 2 : 0;
    if (partsA.size() == 2 && partsB.size() == 2) return sameLanguage ? 1 : 0;
    return 0;
}

// ---- The system's languages

uint32 VIntlMgr::GetSystemUIDialectCode() {
    return FirstPreferredDialect();
}

void VIntlMgr::GetSystemUIDialectCodes(std::vector<uint32>& dialects) {
    dialects.clear();
    for (const VString& language : XPosixIntlMgr::GetPreferredLanguages()) {
        uint32 dialect = kNoDialect;
        dialects.push_back(GetDialectCodeWithRFC3066BisLanguageCode(language, dialect, true, true) ? dialect
                                                                                                   : DC_ENGLISH_US);
    }
}

bool VIntlMgr::IsSystemUIDialectIdeographic() {
    switch (GetSystemUIDialectCode()) {
    case 1028:
    case 1041:
    case 1042:
    case 2052:
    case 2066:
    case 3076:
    case 4100:
        return true;
    default:
        return false;
    }
}

void VIntlMgr::GetLocalizationFolderNames(uint32 dialect, std::vector<VString>& names) {
    names.clear();
    const VString suffix(".lproj");
    VString first;
    GetRFC3066BisLanguageCodeWithDialectCode(dialect, first, '-');
    first += suffix;
    names.push_back(first);
    auto addUnlessFirst = [&](VString candidate) {
        candidate += suffix;
        if (!(Narrow(candidate) == Narrow(first))) names.push_back(candidate);
    };
    VString underscored;
    GetRFC3066BisLanguageCodeWithDialectCode(dialect, underscored, '_');
    addUnlessFirst(underscored);
    VString language;
    GetISO6391LanguageCode(dialect, language);
    addUnlessFirst(language);
    VString region;
    if (GetISO3166RegionCode(dialect, region)) {
        VString regional(language);
        regional.AppendUniChar(u'_');
        regional += region;
        addUnlessFirst(regional);
    }
    VString name;
    GetISOLanguageName(dialect, name);
    if (name.GetLength() > 0) {
        UniChar* units = name.GetCPointerForWrite(name.GetLength());
        if (units != nullptr && units[0] >= u'a' && units[0] <= u'z') units[0] = UniChar(units[0] - u'a' + u'A');
    }
    name += suffix;
    names.push_back(name);
}

bool VIntlMgr::GetLocalizationFoldersWithDialect(uint32 dialect, const IFolder* parent,
                                                 std::vector<VRefPtr<IFolder>>& folders) {
    if (parent == nullptr) return !folders.empty();
    std::vector<VString> names;
    GetLocalizationFolderNames(dialect, names);
    for (const VString& name : names) {
        VRefPtr<IFolder> folder = VRefPtr<IFolder>::Adopt(parent->RetainRelativeFolder(name, FPS_POSIX));
        if (folder && folder->Exists()) folders.push_back(std::move(folder));
    }
    return !folders.empty();
}

IFile* VIntlMgr::RetainLocalizationFile(const IFolder* parent, const VString& name, uint32 dialect, bool* folderFound) {
    std::vector<VRefPtr<IFolder>> folders;
    GetLocalizationFoldersWithDialect(dialect, parent, folders);
    if (folderFound != nullptr) *folderFound = !folders.empty();
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        VRefPtr<IFile> file = VRefPtr<IFile>::Adopt((*folder)->_RetainRelativeIFile(name, FPS_POSIX));
        if (file && file->Exists()) return file.Forget();
    }
    return nullptr;
}

} // namespace vela
