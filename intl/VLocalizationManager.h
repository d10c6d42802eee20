#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VError.h"
#include "core/VErrorBase.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFilePath.h"
#include "values/VTime.h"
#include "values/VValueBag.h"

#include <map>
#include <memory>
#include <memory_resource>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vela {

class IFile;
class IFolder;
class VLocalizationXMLHandler;
class VXMLParser;

// A numbered string: the resource id (the enclosing XLIFF group's "id") and the index (the unit's "id").
struct STRSharpCodes {
    int32 fID = 0;
    uint32 fIndex = 0;

    bool operator<(const STRSharpCodes& other) const noexcept {
        return fID != other.fID ? fID < other.fID : fIndex < other.fIndex;
    }
    bool operator==(const STRSharpCodes& other) const noexcept = default;
};

// Mixes the codes with a seed drawn once per process: codes come from files, and numbers chosen to fall in one
// bucket would make loading them quadratic.
struct STRSharpCodesHash {
    size_t operator()(const STRSharpCodes& codes) const noexcept;
};

// Orders strings by their UTF-16 code units.
struct VStringRawLess {
    bool operator()(const VString& a, const VString& b) const noexcept { return a.CompareToStringRaw(b) < 0; }
};

// Hashes and compares strings by all their UTF-16 code units (for tables looked up by exact key). The hash is
// deliberately not noexcept: the standard tables then keep each entry's hash, and neither a lookup nor a growth
// hashes or compares the stored keys again.
struct VStringRawHash {
    size_t operator()(const VString& text) const {
        return std::hash<std::u16string_view>()(std::u16string_view(text.GetCPointer(), size_t(text.GetLength())));
    }
};
struct VStringRawEqual {
    bool operator()(const VString& a, const VString& b) const noexcept { return a.EqualToStringRaw(b); }
};

// The translated strings of one dialect, read from XLIFF files (".xlf") and key-value files (".strings"), and
// looked up by key, by number, by group or by error code. Files are loaded on one thread before the manager is
// shared; lookups take the manager's lock and may then come from any thread. A dialect without a language tag
// (kNoDialect, -2) accepts only the files loaded whatever their language, so callers fall back to their default
// texts. Counted: made with a reference for the caller.
class VLocalizationManager : public VObject, public IRefCountable, public ILocalizer {
public:
    // The unit separator of composed keys: "[outer]" + it + group + it + resname.
    static constexpr const char* kComposedKeySeparator = "#}[{@";
    // The token of the running platform in "oz:includeIf" and "oz:excludeIf" lists.
    static const char* const kPlatformToken;

    explicit VLocalizationManager(uint32 dialect);
    ~VLocalizationManager() override;
    VLocalizationManager(const VLocalizationManager&) = delete;
    VLocalizationManager& operator=(const VLocalizationManager&) = delete;

    // ---- Loading (one thread at a time: before the manager is shared, or through UpdateIfNeeded)
    // LoadDefaultLocalizationFolders of the bundle's "Contents/Resources"; false for a null or missing bundle.
    bool LoadDefaultLocalizationFoldersForComponentOrPlugin(const IFolder* bundle);
    // Loads the files lying in the resource folder whatever their language, then the dialect's localization
    // folders in it (VIntlMgr::GetLocalizationFoldersWithDialect) filtered by language. True when at least one
    // dialect folder was loaded; a manager without language (kNoDialect) loads none.
    bool LoadDefaultLocalizationFolders(const IFolder* folder);
    // Loads the files lying directly in folder, in the order of their names, and records the folder for
    // reloads. VE_INVALID_PARAMETER for null, VE_FILE_NOT_FOUND for a missing folder, else 0.
    VError ScanAndLoadFolder(const IFolder* folder, bool wholeFolder);
    // Loads an ".xlf" file (its units filtered by target language unless wholeFolder) and records it for
    // reloads; answers 0 also when its XML is refused (the 'xmlc' errors stand, what was read before stays).
    // A ".strings" file is read into the keyed strings and answers VE_FILE_CANNOT_LOAD_LOCALIZATION, as does any
    // other extension. VE_INVALID_PARAMETER for a null file, VE_FILE_NOT_FOUND for a missing one.
    VError LoadFile(const IFile* file, bool wholeFolder);
    VError AnalyzeXLIFFFile(const IFile* file, bool wholeFolder);
    // Reads "key" = "value"; lines (UTF-16 big-endian unless a byte order mark says otherwise) into the keyed
    // strings. VE_INVALID_PARAMETER for a null file, VE_FILE_NOT_FOUND for a missing one, else 0.
    VError AnalyzeDotStringsFile(const IFile* file);
    // Whether a recorded file changed, vanished or appeared since it was loaded. Changes nothing.
    bool DoesNeedAnUpdate() const;
    // When DoesNeedAnUpdate: reloads every recorded file into new tables (each with the language filter it was
    // first loaded with) and puts them in place under the lock. Answers whether it reloaded.
    bool UpdateIfNeeded();
    // Empties every string and bag table (under the lock); the recorded files stay. True.
    bool ClearLocalizations();

    // ---- Lookups (under the lock unless said otherwise)
    uint32 GetLocalizationLanguage() const override { return fDialect; }
    // "ERR_" + the four signature characters + "_" + the number in the keyed strings; when a number of more
    // than six characters finds nothing, the key cut to 15 characters that older files use.
    bool LocalizeErrorMessage(VError code, VString& out) override;
    bool LocalizeStringWithKey(const VString& key, VString& out) override;
    bool LocalizeStringWithDotStringsKey(const VString& key, VString& out) override;
    bool LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& out);
    // The texts of {id, 1}, {id, 2}, ... up to the first missing index (out replaced); true when any.
    bool LocalizeGroupOfStringsWithAStrSharpID(int32 id, std::vector<VString>& out);
    // The texts of the group in ascending unit id (out replaced); true when any.
    bool GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& out);
    // The first group bag stored under name (compared without regard to case or diacritics), retained.
    const VValueBag* RetainGroupBag(const VString& name) override;
    // Appends every group bag of restype in the order they were stored.
    void RetainGroupBagsByRestype(const VString& restype, std::vector<VRefPtr<const VValueBag>>& out) const;

    // ---- Stores used by the XLIFF handlers
    void _InsertSTRSharpCodeAndString(const STRSharpCodes& codes, const VString& text, bool overwrite);
    void _InsertObjectURLAndString(const VString& key, const VString& text, bool overwrite);
    void _InsertIDAndStringInAGroup(uint32 id, const VString& text, const VString& group);
    void _InsertGroupBag(const VString& name, const VString& restype, const VValueBag* bag);

    // Whether an "oz:includeIf" (include) or "oz:excludeIf" list excludes a unit on the platform of token: a
    // list naming none of "mac", "win" and "linux" never does.
    static bool IsExcludedOnPlatform(const VString& list, bool include, const char* token);

private:
    // The string tables of one load. Their entries, and the keys of the keyed strings, come from one arena
    // that goes as a whole: a file of tens of thousands of units allocated and freed them one by one.
    // Texts by exact key, in one open-addressing array (a lookup reads a slot or two, not a bucket then a
    // node): the keys' and texts' units are copies in the arena, so an entry is never freed alone. Keys come
    // from files: they are hashed with the process's seed, so crafted keys cannot make them collide.
    class KeyedTexts {
    public:
        explicit KeyedTexts(std::pmr::memory_resource& arena) : fArena(arena) {}
        // Sizes the array once for more entries.
        void Reserve(size_t more);
        // Stores text under key; a key already there keeps its text unless overwrite.
        void Insert(const VString& key, const VString& text, bool overwrite);
        // The text stored under key into out; false (out untouched) when there is none.
        bool Copy(const VString& key, VString& out) const;

    private:
        struct Slot {
            uint64 fHash = 0;
            // Null: a free slot.
            const UniChar* fKey = nullptr;
            // Null for a null text.
            const UniChar* fText = nullptr;
            int32 fKeyLength = 0;
            int32 fTextLength = 0;
        };
        // The slot holding key, else the free slot where it would go.
        const Slot& _Find(const VString& key, uint64 hash) const;
        // A copy of text's units in the arena (null for a null text).
        const UniChar* _ArenaCopy(const VString& text);
        void _Resize(size_t capacity);

        std::pmr::memory_resource& fArena;
        // A power of two of slots, at most three quarters used.
        std::vector<Slot> fSlots;
        size_t fCount = 0;
    };

    struct Tables {
        Tables();
        Tables(const Tables&) = delete;
        Tables& operator=(const Tables&) = delete;

        // Sizes the per-unit tables once for units more entries.
        void Reserve(size_t units);

        // Declared first, destroyed last.
        std::pmr::monotonic_buffer_resource fArena;
        std::pmr::unordered_map<STRSharpCodes, VString, STRSharpCodesHash> fSTRSharp;
        // Looked up by exact key only: hashed, as a file of tens of thousands of units fills them.
        KeyedTexts fKeyed;
        std::pmr::unordered_map<VString, std::pmr::map<uint32, VString>, VStringRawHash, VStringRawEqual> fGroups;
        std::unordered_map<VString, VString, VStringRawHash, VStringRawEqual> fDotStrings;
        std::vector<std::pair<VString, VRefPtr<const VValueBag>>> fBagsByName;
        std::multimap<VString, VRefPtr<const VValueBag>, VStringRawLess> fBagsByRestype;
    };
    // A file or folder loaded through the entry points, with the language filter it was loaded with.
    struct LoadedFile {
        VFilePath fPath;
        bool fWholeFolder = false;
        bool fFolder = false;
    };

    VError _LoadFile(const IFile* file, bool record, bool wholeFolder);
    void _AnalyseDotString(const VString& line);
    using Stamps = std::map<VString, VTime, VStringRawLess>;
    // The modification times of the recorded files now; changed tells whether any differs, vanished or
    // appeared.
    Stamps _ReadStamps(bool& changed) const;

    mutable VCriticalSection fLock;
    const uint32 fDialect;
    // Written while loading, read under fLock; UpdateIfNeeded swaps a new set in under fLock.
    std::unique_ptr<Tables> fTables;
    std::unique_ptr<VXMLParser> fParser;
    VLocalizationXMLHandler* fXLIFFHandler = nullptr;
    // Whether the constructor's set-up of the parser library took a count, which the destructor gives back.
    const bool fParserInited;
    // fLoadedFiles and fStamps: written while loading and by UpdateIfNeeded, read by DoesNeedAnUpdate from any
    // thread; under fLock.
    std::vector<LoadedFile> fLoadedFiles;
    std::vector<VRefPtr<IFolder>> fLocalizationFolders;
    // By the files' path texts.
    Stamps fStamps;
};

// The process localizer that LocalizeString asks (not owned; null: none). The process installs it at start-up
// and removes it before it goes.
void SetProcessLocalizer(ILocalizer* localizer) noexcept;
ILocalizer* GetProcessLocalizer() noexcept;

// The process localizer's text for key; when it has none (or there is no localizer): defaultText, or an empty
// string when defaultText is null.
VString LocalizeString(const VString& key, const char* defaultText);

} // namespace vela
