#include "intl/VFileKind.h"

#include "core/VRefPtr.h"
#include "intl/VUTIManager.h"

#include <set>

namespace vela {

namespace {

bool HoldsLike(const std::vector<VString>& list, const VString& text, bool diacritical) {
    for (const VString& entry : list)
        if (entry.EqualToString(text, diacritical)) return true;
    return false;
}

bool First(const std::vector<VString>& list, VString& out) {
    if (list.empty()) {
        out.Clear();
        return false;
    }
    out = list.front();
    return true;
}

// A public kind made from a declared type identifier.
VFileKind* CreateKindFromUTI(const VUTI* uti) {
    if (uti == nullptr) return nullptr;
    std::vector<VString> parents;
    for (const auto& [id, parent] : uti->GetParentUTIsMap())
        parents.push_back(id);
    return VFileKind::Create(uti->GetIdentifier(), uti->GetOSTypesVector(), uti->GetDescription(),
                             uti->GetExtensionsVector(), parents, true);
}

VFileKind* CreatePublicFileKindForTag(const char* tagClass, const VString& tag) {
    VUTIManager* utis = VUTIManager::GetExistingUTIManager();
    if (utis == nullptr) return nullptr;
    VRefPtr<VUTI> uti =
        VRefPtr<VUTI>::Adopt(utis->UTTypeCreatePreferredIdentifierForTag(VString(tagClass), tag, VString()));
    return CreateKindFromUTI(uti.Get());
}

} // namespace

VFileKind* VFileKind::Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                             const std::vector<VString>& extensions, const std::vector<VString>& parents,
                             bool isPublic) {
    auto* kind = new VFileKind;
    kind->fID = id;
    kind->fOsKinds = osKinds;
    kind->fDescription = description;
    kind->fExtensions = extensions;
    kind->fParents = parents;
    kind->fIsPublic = isPublic;
    return kind;
}

bool VFileKind::MatchExtension(const VString& extension) const {
    return HoldsLike(fExtensions, extension, false);
}
bool VFileKind::MatchOsKind(const VString& osKind) const {
    return HoldsLike(fOsKinds, osKind, true);
}
bool VFileKind::GetPreferredExtension(VString& out) const {
    return First(fExtensions, out);
}
bool VFileKind::GetPreferredOsKind(VString& out) const {
    return First(fOsKinds, out);
}

bool VFileKind::GetParentIDs(std::vector<VString>& out) const {
    out = fParents;
    return !out.empty();
}

bool VFileKind::ConformsTo(const VFileKind& other) const {
    std::set<VString, VUTIIdentifierLess> visited{fID};
    std::vector<VString> pending = fParents;
    if (fID.EqualToString(other.fID, false)) return true;
    while (!pending.empty()) {
        VString id = std::move(pending.back());
        pending.pop_back();
        if (!visited.insert(id).second) continue;
        if (id.EqualToString(other.fID, false)) return true;
        if (VFileKindManager::sManager == nullptr) continue;
        VRefPtr<VFileKind> kind = VRefPtr<VFileKind>::Adopt(VFileKindManager::sManager->RetainFileKind(id));
        if (kind) pending.insert(pending.end(), kind->fParents.begin(), kind->fParents.end());
    }
    return false;
}

bool VFileKind::ConformsTo(const VString& id) const {
    if (VFileKindManager::sManager == nullptr) return false;
    VRefPtr<VFileKind> kind = VRefPtr<VFileKind>::Adopt(VFileKindManager::sManager->RetainFileKind(id));
    return kind && ConformsTo(*kind);
}

VFileKindManager* VFileKindManager::sManager = nullptr;

VFileKindManager::VFileKindManager() : fStrings{VString("All"), VString("All readable documents")} {}

VFileKindManager::~VFileKindManager() {
    for (auto& [id, kind] : fKinds)
        kind->Release();
}

bool VFileKindManager::Init() {
    if (sManager == nullptr) sManager = new VFileKindManager;
    return true;
}

void VFileKindManager::DeInit() {
    ReleaseRefCountable(&sManager);
}

void VFileKindManager::_Store(VFileKind* kind) {
    auto [it, added] = fKinds.emplace(kind->GetID(), kind);
    if (!added) {
        it->second->Release();
        it->second = kind;
    }
    kind->Retain();
}

VFileKind* VFileKindManager::RetainFileKind(const VString& id) {
    StLocker<VCriticalSection> locker(fLock);
    auto it = fKinds.find(id);
    if (it != fKinds.end()) return RetainRefCountable(it->second);
    VUTIManager* utis = VUTIManager::GetExistingUTIManager();
    VFileKind* kind = utis != nullptr ? CreateKindFromUTI(utis->FindUTI(id)) : nullptr;
    if (kind != nullptr) _Store(kind);
    return kind;
}

void VFileKindManager::RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds,
                                               const VString& description, const std::vector<VString>& extensions,
                                               const std::vector<VString>& parents) {
    VRefPtr<VFileKind> kind =
        VRefPtr<VFileKind>::Adopt(VFileKind::Create(id, osKinds, description, extensions, parents, false));
    StLocker<VCriticalSection> locker(fLock);
    _Store(kind.Get());
}

void VFileKindManager::RegisterPrivateFileKind(const VString& id, const VString& description,
                                               const std::vector<VString>& extensions,
                                               const std::vector<VString>& parents) {
    RegisterPrivateFileKind(id, {}, description, extensions, parents);
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithExtension(const VString& extension) {
    StLocker<VCriticalSection> locker(fLock);
    for (auto& [id, kind] : fKinds)
        if (kind->MatchExtension(extension)) return RetainRefCountable(kind);
    VFileKind* kind = CreatePublicFileKindForTag(VUTIManager::kTagExtension, extension);
    if (kind != nullptr) _Store(kind);
    return kind;
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithOsKind(const VString& osKind) {
    StLocker<VCriticalSection> locker(fLock);
    for (auto& [id, kind] : fKinds)
        if (kind->MatchOsKind(osKind)) return RetainRefCountable(kind);
    return CreatePublicFileKindForTag(VUTIManager::kTagOSType, osKind);
}

void VFileKindManager::RegisterLocalizedString(int32 id, const VString& text) {
    if ((id != 0 && id != 1) || text.IsEmpty()) return;
    StLocker<VCriticalSection> locker(fLock);
    fStrings[id] = text;
}

void VFileKindManager::GetLocalizedString(int32 id, VString& out) const {
    if (id != 0 && id != 1) return;
    StLocker<VCriticalSection> locker(fLock);
    out = fStrings[id];
}

} // namespace vela
