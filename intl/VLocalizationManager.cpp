#include "intl/VLocalizationManager.h"

#include "core/VErrorContext.h"
#include "files/IFileSystemObject.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "intl/VIntlMgr.h"
#include "intl/VXMLParser.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>

namespace vela {

#ifdef __APPLE__
const char* const VLocalizationManager::kPlatformToken = "mac";
#else
const char* const VLocalizationManager::kPlatformToken = "linux";
#endif

namespace {

bool Is(const VString& text, const char* literal) {
    return text.EqualToUSASCIICString(literal);
}

// An upper bound of the units of an XLIFF text (its openings of elements beginning with "tr"), to size the tables
// once before the parse. One branch-free pass that the compiler turns into vector code: searching for the whole
// opening took 3% of the load of a 20,000-unit file, this pass half of that.
size_t CountUnits(const VString& text) {
    const UniChar* units = text.GetCPointer();
    const size_t length = size_t(text.GetLength());
    size_t count = 0;
    for (size_t i = 0; i + 2 < length; ++i)
        count += size_t(units[i] == u'<') & size_t(units[i + 1] == u't') & size_t(units[i + 2] == u'r');
    return count;
}

// The inline room of a unit's scratch texts: the texts of most units fit, and then reading a unit allocates
// nothing but the copy of its result that the tables keep.
constexpr int32 kUnitTextRoom = 128;

// A text that stays null until something is appended: an empty element differs from a missing one.
struct OptionalText {
    VStr<kUnitTextRoom> fText;
    bool fSet = false;

    void Append(const VString& text) {
        fText.AppendString(text);
        fSet = true;
    }
    void Reset() {
        fText.Clear();
        fSet = false;
    }
};

// What a unit and its alternatives share: the source and target texts, the child being read and the platform
// filter.
struct UnitTexts {
    enum EChild { eOther, eSource, eTarget };

    EChild fChild = eOther;
    OptionalText fSource;
    OptionalText fTarget;
    bool fExcluded = false;

    void Start(const VString& name) { fChild = Is(name, "source") ? eSource : Is(name, "target") ? eTarget : eOther; }
    void Attribute(const VString& name, const VString& value) {
        if (Is(name, "oz:excludeIf") || Is(name, "oz:includeIf"))
            fExcluded |= VLocalizationManager::IsExcludedOnPlatform(value, Is(name, "oz:includeIf"),
                                                                    VLocalizationManager::kPlatformToken);
    }
    void Text(const VString& text) {
        if (fChild == eSource) fSource.Append(text);
        if (fChild == eTarget) fTarget.Append(text);
    }
    // At an end tag: true (and the child forgotten) when it ends a source or target rather than the unit.
    bool EndsChild() {
        if (fChild == eOther) return false;
        fChild = eOther;
        return true;
    }
    // The target when one was given (even empty of all but blanks), else the source.
    const VString& Result() const { return fTarget.fSet ? fTarget.fText : fSource.fText; }
    void Reset() {
        fChild = eOther;
        fSource.Reset();
        fTarget.Reset();
        fExcluded = false;
    }
};

} // namespace

// ---- XLIFF handlers

// One "alt-trans" of a unit: recorded in the unit's bag only.
class VLocalizationAltTransHandler : public VObject, public IXMLHandler {
public:
    explicit VLocalizationAltTransHandler(VValueBag* unitBag) : fUnitBag(unitBag) {
        if (fUnitBag) fBag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    }

    IXMLHandler* StartElement(const VString& name) override {
        fTexts.Start(name);
        if (fTexts.fChild == UnitTexts::eOther) return nullptr;
        Retain();
        return this;
    }
    void SetAttribute(const VString& name, const VString& value) override {
        if (fBag) fBag->SetString(StPackedDictionaryKey(name), value);
        fTexts.Attribute(name, value);
    }
    void SetText(const VString& text) override { fTexts.Text(text); }
    void EndElement(const VString&) override {
        if (fTexts.EndsChild() || fTexts.fExcluded || !fBag) return;
        fBag->SetString("target", fTexts.Result());
        fUnitBag->AddElement("alt-trans", fBag.Get());
    }

private:
    VRefPtr<VValueBag> fUnitBag;
    VRefPtr<VValueBag> fBag;
    UnitTexts fTexts;
};

// One "trans-unit": stored in the manager's tables at its end. groupNames, the names of the groups around it, is
// its group handler's, which holds still while the unit is read (a unit has no groups inside).
class VLocalizationTransUnitHandler : public VObject, public IXMLHandler {
public:
    VLocalizationTransUnitHandler(VLocalizationManager* manager, int32 groupID, const std::vector<VString>& groupNames,
                                  VValueBag* groupBag, bool overwrite)
        : fManager(manager), fGroupNames(groupNames) {
        Restart(groupID, groupBag, overwrite);
    }

    // Makes the handler new for the next unit of the same group handler.
    void Restart(int32 groupID, VValueBag* groupBag, bool overwrite) {
        fGroupID = groupID;
        fGroupBag = groupBag;
        fUnitBag = groupBag != nullptr ? VRefPtr<VValueBag>::Adopt(new VValueBag) : VRefPtr<VValueBag>();
        fUnitID = 0;
        fResname.Clear();
        fTexts.Reset();
        fStored = false;
        fOverwrite = overwrite;
    }

    IXMLHandler* StartElement(const VString& name) override {
        fTexts.Start(name);
        if (fTexts.fChild != UnitTexts::eOther) {
            Retain();
            return this;
        }
        if (Is(name, "alt-trans")) return new VLocalizationAltTransHandler(fUnitBag.Get());
        return nullptr;
    }
    void SetAttribute(const VString& name, const VString& value) override {
        if (fUnitBag) fUnitBag->SetString(StPackedDictionaryKey(name), value);
        if (Is(name, "id")) {
            const int32 id = value.GetLong();
            if (id > 0) fUnitID = uint32(id);
        } else if (Is(name, "resname")) {
            fResname = value;
        }
        fTexts.Attribute(name, value);
    }
    void SetText(const VString& text) override { fTexts.Text(text); }
    // Inline markup inside a source or target (<g>, say) ends the unit early: such units are not expected.
    void EndElement(const VString&) override {
        if (fTexts.EndsChild() || fTexts.fExcluded) return;
        const VString text = fTexts.Result();
        if (fUnitBag) {
            fUnitBag->SetString("target", text);
            fGroupBag->AddElement("trans-unit", fUnitBag.Get());
        }
        if (fStored) return;
        if (fUnitID != 0 && fGroupID != 0) {
            fManager->_InsertSTRSharpCodeAndString({fGroupID, fUnitID}, text, fOverwrite);
            fStored = true;
        }
        if (text.IsEmpty()) return;
        const size_t depth = fGroupNames.size();
        if (depth >= 2 && !fResname.IsEmpty() && !fGroupNames[depth - 1].IsEmpty()) {
            const VString& outer = fGroupNames[depth - 2];
            if (!outer.IsEmpty() && outer.GetUniChar(1) == u'[' && outer.GetUniChar(outer.GetLength()) == u']') {
                VString key(outer);
                key.AppendCString(VLocalizationManager::kComposedKeySeparator);
                key.AppendString(fGroupNames[depth - 1]);
                key.AppendCString(VLocalizationManager::kComposedKeySeparator);
                key.AppendString(fResname);
                fManager->_InsertObjectURLAndString(key, text, fOverwrite);
                fStored = true;
                return;
            }
        }
        if (!fResname.IsEmpty()) {
            fManager->_InsertObjectURLAndString(fResname, text, fOverwrite);
            fStored = true;
        }
        for (auto name = fGroupNames.rbegin(); name != fGroupNames.rend(); ++name) {
            fManager->_InsertIDAndStringInAGroup(fUnitID, text, *name);
            fStored = true;
        }
    }

private:
    VLocalizationManager* fManager;
    const std::vector<VString>& fGroupNames;
    int32 fGroupID = 0;
    VRefPtr<VValueBag> fGroupBag;
    VRefPtr<VValueBag> fUnitBag;
    uint32 fUnitID = 0;
    VStr<kUnitTextRoom> fResname;
    UnitTexts fTexts;
    bool fStored = false;
    bool fOverwrite = true;
};

// One "group" and the groups nested in it, which share this handler.
class VLocalizationGroupHandler : public VObject, public IXMLHandler {
public:
    VLocalizationGroupHandler(VLocalizationManager* manager, bool overwrite)
        : fManager(manager), fOverwrite(overwrite), fGroupNames(1) {}

    IXMLHandler* StartElement(const VString& name) override {
        if (Is(name, "trans-unit")) {
            // The handler of the previous unit serves the next one when nobody else holds it any more.
            VValueBag* bag = fRestype.IsEmpty() ? nullptr : fBag.Get();
            if (fUnit && fUnit->GetRefCount() == 1)
                fUnit->Restart(fGroupID, bag, fOverwrite);
            else
                fUnit = VRefPtr<VLocalizationTransUnitHandler>::Adopt(
                    new VLocalizationTransUnitHandler(fManager, fGroupID, fGroupNames, bag, fOverwrite));
            return RetainRefCountable(fUnit.Get());
        }
        if (Is(name, "group")) {
            fGroupNames.emplace_back();
            Retain();
            return this;
        }
        return nullptr;
    }
    void SetAttribute(const VString& name, const VString& value) override {
        if (!fBag) fBag = VRefPtr<VValueBag>::Adopt(new VValueBag);
        if (Is(name, "id")) {
            const int32 id = value.GetLong();
            if (id != 0) fGroupID = id;
        } else if (Is(name, "resname")) {
            if (!value.IsEmpty() && !fGroupNames.empty()) fGroupNames.back() = value;
        } else if (Is(name, "restype")) {
            fRestype = value;
        }
        fBag->SetString(StPackedDictionaryKey(name), value);
    }
    void EndElement(const VString&) override {
        const VString top = fGroupNames.empty() ? VString() : fGroupNames.back();
        if (fBag && !fRestype.IsEmpty()) {
            if (!top.IsEmpty()) fBag->SetString("resname", top);
            fManager->_InsertGroupBag(top, fRestype, fBag.Get());
        }
        fBag.Clear();
        fRestype.Clear();
        if (!fGroupNames.empty()) fGroupNames.pop_back();
    }

private:
    VLocalizationManager* fManager;
    bool fOverwrite;
    int32 fGroupID = 0;
    std::vector<VString> fGroupNames;
    VRefPtr<VValueBag> fBag;
    VString fRestype;
    // Declared last, destroyed first: it reads fGroupNames.
    VRefPtr<VLocalizationTransUnitHandler> fUnit;
};

// The root of every XLIFF file of one manager: decides from each "file"'s target language whether its units
// are taken and whether they replace texts already there. The decision lasts until the next "file" that
// names a target language.
class VLocalizationXMLHandler : public VObject, public IXMLHandler {
public:
    VLocalizationXMLHandler(VLocalizationManager* manager, uint32 dialect) : fManager(manager), fDialect(dialect) {}

    void SetWholeFolder(bool wholeFolder) noexcept { fWholeFolder = wholeFolder; }

    IXMLHandler* StartElement(const VString& name) override {
        fElement = Is(name, "file") ? name : VString();
        const bool taken = fAccept || fWholeFolder;
        if (taken && Is(name, "group")) return new VLocalizationGroupHandler(fManager, fOverwrite);
        if (taken && Is(name, "trans-unit"))
            return new VLocalizationTransUnitHandler(fManager, 0, fNoGroups, nullptr, fOverwrite);
        Retain();
        return this;
    }
    void SetAttribute(const VString& name, const VString& value) override {
        if (!Is(fElement, "file") || !Is(name, "target-language")) return;
        VString tag;
        if (!VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(fDialect, tag, '-')) return;
        const int32 comparison = VIntlMgr::Compare2RFC3066LanguageCodes(tag, value);
        if (comparison <= 0) {
            fAccept = false;
        } else {
            fAccept = true;
            fOverwrite = comparison == 4;
        }
    }

private:
    VLocalizationManager* fManager;
    const uint32 fDialect;
    VString fElement;
    const std::vector<VString> fNoGroups;
    bool fAccept = false;
    bool fOverwrite = true;
    bool fWholeFolder = false;
};

// ---- The tables

size_t STRSharpCodesHash::operator()(const STRSharpCodes& codes) const noexcept {
    // The strings' hash is keyed by the process's seed: a hash of a fixed text is a seed of its own.
    static const uint64 seed = hash_VString()(VString("STR#"));
    uint64 x = (uint64(uint32(codes.fID)) << 32 | codes.fIndex) ^ seed;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return size_t(x ^ (x >> 31));
}

void VLocalizationManager::KeyedTexts::Reserve(size_t more) {
    size_t capacity = std::max<size_t>(fSlots.size(), 16);
    while ((fCount + more) * 4 > capacity * 3)
        capacity *= 2;
    if (capacity != fSlots.size()) _Resize(capacity);
}

void VLocalizationManager::KeyedTexts::Insert(const VString& key, const VString& text, bool overwrite) {
    Reserve(1);
    const uint64 hash = hash_VString()(key);
    auto& slot = const_cast<Slot&>(_Find(key, hash));
    if (slot.fKey == nullptr) {
        slot.fHash = hash;
        slot.fKey = _ArenaCopy(key);
        slot.fKeyLength = key.GetLength();
        ++fCount;
    } else if (!overwrite) {
        return;
    }
    // A replaced text stays unused in the arena: a unit is stored at most once per file read.
    slot.fText = _ArenaCopy(text);
    slot.fTextLength = text.GetLength();
}

bool VLocalizationManager::KeyedTexts::Copy(const VString& key, VString& out) const {
    if (fCount == 0) return false;
    const Slot& slot = _Find(key, hash_VString()(key));
    if (slot.fKey == nullptr) return false;
    // Copied from the wrapping string: out never points into the arena.
    const VString text(const_cast<UniChar*>(slot.fText), slot.fTextLength,
                       (size_t(slot.fTextLength) + 1) * sizeof(UniChar));
    out = text;
    return true;
}

const VLocalizationManager::KeyedTexts::Slot& VLocalizationManager::KeyedTexts::_Find(const VString& key,
                                                                                      uint64 hash) const {
    const size_t mask = fSlots.size() - 1;
    const int32 length = key.GetLength();
    for (size_t i = size_t(hash) & mask;; i = (i + 1) & mask) {
        const Slot& slot = fSlots[i];
        if (slot.fKey == nullptr) return slot;
        if (slot.fHash == hash && slot.fKeyLength == length &&
            std::memcmp(slot.fKey, key.GetCPointer(), size_t(length) * sizeof(UniChar)) == 0)
            return slot;
    }
}

const UniChar* VLocalizationManager::KeyedTexts::_ArenaCopy(const VString& text) {
    if (text.IsNull()) return nullptr;
    const size_t length = size_t(text.GetLength());
    auto* units = static_cast<UniChar*>(fArena.allocate((length + 1) * sizeof(UniChar), alignof(UniChar)));
    std::memcpy(units, text.GetCPointer(), length * sizeof(UniChar));
    units[length] = 0;
    return units;
}

void VLocalizationManager::KeyedTexts::_Resize(size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(fSlots);
    const size_t mask = capacity - 1;
    for (const Slot& slot : old) {
        if (slot.fKey == nullptr) continue;
        size_t i = size_t(slot.fHash) & mask;
        while (fSlots[i].fKey != nullptr)
            i = (i + 1) & mask;
        fSlots[i] = slot;
    }
}

VLocalizationManager::Tables::Tables() : fSTRSharp(&fArena), fKeyed(fArena), fGroups(&fArena) {}

void VLocalizationManager::Tables::Reserve(size_t units) {
    fSTRSharp.reserve(fSTRSharp.size() + units);
    fKeyed.Reserve(units);
}

// ---- The manager

VLocalizationManager::VLocalizationManager(uint32 dialect)
    : fDialect(dialect), fTables(std::make_unique<Tables>()), fParser(std::make_unique<VXMLParser>()),
      fXLIFFHandler(new VLocalizationXMLHandler(this, dialect)), fParserInited(VXMLParser::Init()) {}

VLocalizationManager::~VLocalizationManager() {
    fParser.reset();
    fXLIFFHandler->Release();
    fTables.reset();
    if (fParserInited) VXMLParser::DeInit();
}

bool VLocalizationManager::IsExcludedOnPlatform(const VString& list, bool include, const char* token) {
    std::vector<VString> tokens;
    list.GetSubStrings(u' ', tokens, false);
    bool known = false;
    bool platform = false;
    for (const VString& word : tokens) {
        for (const char* name : {"mac", "win", "linux"}) {
            if (!word.EqualToString(VString(name), false)) continue;
            known = true;
            if (std::strcmp(name, token) == 0) platform = true;
        }
    }
    return known && platform != include;
}

// ---- Loading

bool VLocalizationManager::LoadDefaultLocalizationFoldersForComponentOrPlugin(const IFolder* bundle) {
    if (bundle == nullptr || !bundle->Exists()) return false;
    VFilePath resources = bundle->GetPath();
    resources.ToSubFolder(VString("Contents")).ToSubFolder(VString("Resources"));
    const VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(resources));
    return LoadDefaultLocalizationFolders(folder.Get());
}

bool VLocalizationManager::LoadDefaultLocalizationFolders(const IFolder* folder) {
    if (folder == nullptr || !folder->Exists()) return false;
    ScanAndLoadFolder(folder, true);
    if (fDialect == kNoDialect) return false;
    std::vector<VRefPtr<IFolder>> found;
    if (!VIntlMgr::GetLocalizationFoldersWithDialect(fDialect, folder, found)) return false;
    fLocalizationFolders = found;
    bool loaded = false;
    for (const VRefPtr<IFolder>& localization : found)
        loaded = ScanAndLoadFolder(localization.Get(), false) == VE_OK || loaded;
    return loaded;
}

VError VLocalizationManager::ScanAndLoadFolder(const IFolder* folder, bool wholeFolder) {
    if (folder == nullptr) return VE_INVALID_PARAMETER;
    if (!folder->Exists()) return VE_FILE_NOT_FOUND;
    std::vector<VRefPtr<VFile>> files;
    VFolder(folder->GetPath()).GetContents(&files, nullptr);
    // Directory order is not fixed: the file read last wins a key, so the order must be.
    std::sort(files.begin(), files.end(), [](const VRefPtr<VFile>& a, const VRefPtr<VFile>& b) {
        return a->GetPath().GetPath().CompareToStringRaw(b->GetPath().GetPath()) < 0;
    });
    for (const VRefPtr<VFile>& file : files)
        _LoadFile(file.Get(), false, wholeFolder);
    const VString path = folder->GetPath().GetPath();
    std::lock_guard<VCriticalSection> guard(fLock);
    const bool known = std::any_of(fLoadedFiles.begin(), fLoadedFiles.end(), [&](const LoadedFile& loaded) {
        return loaded.fFolder && loaded.fPath.GetPath().EqualToStringRaw(path);
    });
    if (!known) fLoadedFiles.push_back({folder->GetPath(), wholeFolder, true});
    return VE_OK;
}

VError VLocalizationManager::LoadFile(const IFile* file, bool wholeFolder) {
    return _LoadFile(file, true, wholeFolder);
}

VError VLocalizationManager::_LoadFile(const IFile* file, bool record, bool wholeFolder) {
    if (file == nullptr) return VE_INVALID_PARAMETER;
    if (!file->Exists()) return VE_FILE_NOT_FOUND;
    if (file->MatchExtension(VString("xlf"))) {
        if (AnalyzeXLIFFFile(file, wholeFolder) != VE_OK) return VE_OK;
        const VString path = file->GetPath().GetPath();
        VTime modified;
        const bool stamped = file->GetTimeAttributes(&modified) == VE_OK;
        std::lock_guard<VCriticalSection> guard(fLock);
        if (record) {
            const bool known = std::any_of(fLoadedFiles.begin(), fLoadedFiles.end(), [&](const LoadedFile& loaded) {
                return !loaded.fFolder && loaded.fPath.GetPath().EqualToStringRaw(path);
            });
            if (!known) fLoadedFiles.push_back({file->GetPath(), wholeFolder, false});
        }
        if (stamped) fStamps[path] = modified;
        return VE_OK;
    }
    if (file->MatchExtension(VString("strings"))) AnalyzeDotStringsFile(file);
    return VE_FILE_CANNOT_LOAD_LOCALIZATION;
}

VError VLocalizationManager::AnalyzeXLIFFFile(const IFile* file, bool wholeFolder) {
    if (file == nullptr) return VE_INVALID_PARAMETER;
    fXLIFFHandler->SetWholeFolder(wholeFolder);
    VString text;
    const VError error = file->GetContentAsString(text, VTC_UTF_8, eCRM_NATIVE);
    if (error == VE_OK) {
        {
            std::lock_guard<VCriticalSection> guard(fLock);
            fTables->Reserve(CountUnits(text));
        }
        fParser->Parse(text, fXLIFFHandler, VXMLParser::kValidateNever);
    }
    fXLIFFHandler->SetWholeFolder(false);
    return error;
}

VError VLocalizationManager::AnalyzeDotStringsFile(const IFile* file) {
    if (file == nullptr) return VE_INVALID_PARAMETER;
    if (!file->Exists()) return VE_FILE_NOT_FOUND;
    VString text;
    {
        StErrorContextInstaller quiet(false, true);
        if (file->GetContentAsString(text, VTC_UTF_16_BigEndian, eCRM_LF) != VE_OK) return VE_OK;
    }
    std::vector<VString> lines;
    text.GetSubStrings(u'\n', lines, false);
    for (const VString& line : lines)
        _AnalyseDotString(line);
    return VE_OK;
}

void VLocalizationManager::_AnalyseDotString(const VString& line) {
    VString copy(line);
    if (copy.IsEmpty()) return;
    copy.Truncate(copy.GetLength() - 1);
    std::vector<VString> parts;
    copy.GetSubStrings(u'=', parts, false);
    if (parts.size() != 2) return;
    VString key = parts[0];
    VString value = parts[1];
    key.RemoveWhiteSpaces();
    value.RemoveWhiteSpaces();
    auto unquote = [](VString& text) {
        if (text.IsEmpty() || text.GetUniChar(1) != u'"') return;
        if (text.GetLength() < 2)
            text.Clear();
        else
            text.SubString(2, text.GetLength() - 2);
    };
    unquote(key);
    unquote(value);
    if (key.IsEmpty() || value.IsEmpty()) return;
    std::lock_guard<VCriticalSection> guard(fLock);
    fTables->fKeyed.Insert(key, value, true);
}

VLocalizationManager::Stamps VLocalizationManager::_ReadStamps(bool& changed) const {
    changed = false;
    // Read from copies: a reload may replace the stamps meanwhile, and the disk is not read under the lock.
    Stamps stamps;
    std::vector<LoadedFile> loadedFiles;
    {
        std::lock_guard<VCriticalSection> guard(fLock);
        stamps = fStamps;
        loadedFiles = fLoadedFiles;
    }
    Stamps now;
    for (const auto& [path, stored] : stamps) {
        const VFile file{VFilePath(path)};
        if (!file.Exists()) {
            changed = true;
            continue;
        }
        VTime modified;
        if (file.GetTimeAttributes(&modified) != VE_OK) continue;
        now[path] = modified;
        changed = changed || !(stored == modified);
    }
    // A new XLIFF file in a loaded folder.
    for (const LoadedFile& loaded : loadedFiles) {
        if (changed) break;
        if (!loaded.fFolder) continue;
        std::vector<VRefPtr<VFile>> files;
        VFolder(loaded.fPath).GetContents(&files, nullptr);
        for (const VRefPtr<VFile>& file : files) {
            if (file->MatchExtension(VString("xlf")) && stamps.count(file->GetPath().GetPath()) == 0) changed = true;
        }
    }
    return now;
}

bool VLocalizationManager::DoesNeedAnUpdate() const {
    bool changed = false;
    _ReadStamps(changed);
    return changed;
}

bool VLocalizationManager::UpdateIfNeeded() {
    if (!DoesNeedAnUpdate()) return false;
    // The new texts are read into a manager of their own and put in place at once: lookups meanwhile see the
    // old tables whole.
    VRefPtr<VLocalizationManager> fresh = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(fDialect));
    std::vector<LoadedFile> loadedFiles;
    {
        std::lock_guard<VCriticalSection> guard(fLock);
        loadedFiles = fLoadedFiles;
    }
    for (const LoadedFile& loaded : loadedFiles) {
        if (loaded.fFolder) {
            const VRefPtr<VFolder> folder = VRefPtr<VFolder>::Adopt(new VFolder(loaded.fPath));
            if (folder->Exists()) fresh->ScanAndLoadFolder(folder.Get(), loaded.fWholeFolder);
            continue;
        }
        const VFile file(loaded.fPath);
        if (file.Exists()) fresh->_LoadFile(&file, true, loaded.fWholeFolder);
    }
    {
        std::lock_guard<VCriticalSection> guard(fLock);
        std::swap(fTables, fresh->fTables);
        fStamps = fresh->fStamps;
    }
    return true;
}

bool VLocalizationManager::ClearLocalizations() {
    auto old = std::make_unique<Tables>();
    {
        std::lock_guard<VCriticalSection> guard(fLock);
        std::swap(fTables, old);
    }
    return true;
}

// ---- Stores

void VLocalizationManager::_InsertSTRSharpCodeAndString(const STRSharpCodes& codes, const VString& text,
                                                        bool overwrite) {
    std::lock_guard<VCriticalSection> guard(fLock);
    auto [entry, inserted] = fTables->fSTRSharp.emplace(codes, text);
    if (!inserted && overwrite) entry->second = text;
}

void VLocalizationManager::_InsertObjectURLAndString(const VString& key, const VString& text, bool overwrite) {
    std::lock_guard<VCriticalSection> guard(fLock);
    fTables->fKeyed.Insert(key, text, overwrite);
}

void VLocalizationManager::_InsertIDAndStringInAGroup(uint32 id, const VString& text, const VString& group) {
    std::lock_guard<VCriticalSection> guard(fLock);
    fTables->fGroups[group][id] = text;
}

void VLocalizationManager::_InsertGroupBag(const VString& name, const VString& restype, const VValueBag* bag) {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (!name.IsEmpty()) {
        bool known = false;
        for (const auto& [stored, _] : fTables->fBagsByName)
            known = known || stored.EqualToString(name, false);
        if (!known) fTables->fBagsByName.emplace_back(name, VRefPtr<const VValueBag>(bag));
    }
    fTables->fBagsByRestype.emplace(restype, VRefPtr<const VValueBag>(bag));
}

// ---- Lookups

bool VLocalizationManager::LocalizeErrorMessage(VError code, VString& out) {
    const uint32 signature = ComponentOfVError(code);
    char key[32];
    std::snprintf(key, sizeof key, "ERR_%c%c%c%c_%d", char(signature >> 24), char(signature >> 16),
                  char(signature >> 8), char(signature), NumberOfVError(code));
    if (LocalizeStringWithKey(VString(key), out)) return true;
    // Files written for a 16-byte key buffer hold numbers of more than six characters cut to 15 characters:
    // those answer when no whole key does.
    constexpr size_t kStoredKeyLength = 15;
    if (std::strlen(key) <= kStoredKeyLength) return false;
    key[kStoredKeyLength] = 0;
    return LocalizeStringWithKey(VString(key), out);
}

namespace {

// Copies the text of key into out; false (out untouched) when map has no such key.
template <class Map, class Key> bool CopyText(const Map& map, const Key& key, VString& out) {
    const auto found = map.find(key);
    if (found == map.end()) return false;
    out = found->second;
    return true;
}

} // namespace

bool VLocalizationManager::LocalizeStringWithKey(const VString& key, VString& out) {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fTables->fKeyed.Copy(key, out);
}

bool VLocalizationManager::LocalizeStringWithDotStringsKey(const VString& key, VString& out) {
    std::lock_guard<VCriticalSection> guard(fLock);
    return CopyText(fTables->fDotStrings, key, out);
}

bool VLocalizationManager::LocalizeStringWithSTRSharpCodes(const STRSharpCodes& codes, VString& out) {
    std::lock_guard<VCriticalSection> guard(fLock);
    return CopyText(fTables->fSTRSharp, codes, out);
}

bool VLocalizationManager::LocalizeGroupOfStringsWithAStrSharpID(int32 id, std::vector<VString>& out) {
    out.clear();
    std::lock_guard<VCriticalSection> guard(fLock);
    for (uint32 index = 1;; ++index) {
        const auto found = fTables->fSTRSharp.find({id, index});
        if (found == fTables->fSTRSharp.end()) break;
        out.push_back(found->second);
    }
    return !out.empty();
}

bool VLocalizationManager::GetOrderedStringsOfGroup(const VString& group, std::vector<VString>& out) {
    out.clear();
    std::lock_guard<VCriticalSection> guard(fLock);
    const auto found = fTables->fGroups.find(group);
    if (found == fTables->fGroups.end()) return false;
    for (const auto& [id, text] : found->second)
        out.push_back(text);
    return !out.empty();
}

const VValueBag* VLocalizationManager::RetainGroupBag(const VString& name) {
    std::lock_guard<VCriticalSection> guard(fLock);
    for (const auto& [stored, bag] : fTables->fBagsByName) {
        if (stored.EqualToString(name, false)) return RetainRefCountable(bag.Get());
    }
    return nullptr;
}

void VLocalizationManager::RetainGroupBagsByRestype(const VString& restype,
                                                    std::vector<VRefPtr<const VValueBag>>& out) const {
    std::lock_guard<VCriticalSection> guard(fLock);
    const auto [first, last] = fTables->fBagsByRestype.equal_range(restype);
    for (auto entry = first; entry != last; ++entry)
        out.push_back(entry->second);
}

// ---- The process localizer

namespace {

std::atomic<ILocalizer*> sProcessLocalizer{nullptr};

} // namespace

void SetProcessLocalizer(ILocalizer* localizer) noexcept {
    sProcessLocalizer.store(localizer, std::memory_order_release);
}

ILocalizer* GetProcessLocalizer() noexcept {
    return sProcessLocalizer.load(std::memory_order_acquire);
}

VString LocalizeString(const VString& key, const char* defaultText) {
    VString result;
    ILocalizer* localizer = GetProcessLocalizer();
    const bool found = localizer != nullptr && localizer->LocalizeStringWithKey(key, result);
    if (!found && defaultText != nullptr) result.FromCString(defaultText);
    return result;
}

} // namespace vela
