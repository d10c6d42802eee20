#pragma once

// File kinds live beside the type identifiers they are made from, not among the files: the file layer sits below
// the identifiers.

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "intl/VUTI.h"

#include <map>
#include <vector>

namespace vela {

// A type of document: an identifier, its OS kinds and extensions (the first of each preferred) and the
// identifiers of the kinds it conforms to. Immutable once made.
class VFileKind : public VObject, public IRefCountable {
public:
    // A new kind, for the caller to release.
    static VFileKind* Create(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                             const std::vector<VString>& extensions, const std::vector<VString>& parents,
                             bool isPublic);

    const VString& GetID() const noexcept { return fID; }
    const VString& GetDescription() const noexcept { return fDescription; }
    bool IsPublic() const noexcept { return fIsPublic; }
    // Extensions compare without regard to case or diacritics; OS kinds exactly.
    bool MatchExtension(const VString& extension) const;
    bool MatchOsKind(const VString& osKind) const;
    // The first entry, or out cleared; whether there was one.
    bool GetPreferredExtension(VString& out) const;
    bool GetPreferredOsKind(VString& out) const;
    // out = the parents' identifiers; whether there is any.
    bool GetParentIDs(std::vector<VString>& out) const;
    // This kind is other, or one of the kinds its parents lead to (each visited once).
    bool ConformsTo(const VFileKind& other) const;
    // The same with the kind the manager knows for id; false when it knows none.
    bool ConformsTo(const VString& id) const;

private:
    VFileKind() = default;

    VString fID;
    VString fDescription;
    std::vector<VString> fOsKinds;
    std::vector<VString> fExtensions;
    std::vector<VString> fParents;
    bool fIsPublic = false;
};

// The process's file kinds: private kinds the application registers (from its type declarations) and public
// kinds made on demand from the identifiers that the type-identifier registry holds. Thread-safe.
//
// Start-up calls Init and shut-down DeInit, once each.
class VFileKindManager : public VObject, public IRefCountable {
public:
    // Makes the process instance (sManager); true.
    static bool Init();
    // Releases it and clears sManager.
    static void DeInit();
    static VFileKindManager* sManager;

    // The kind of id, retained; a public kind is made (and kept) from the type identifier of that name when
    // there is one; else null.
    VFileKind* RetainFileKind(const VString& id);
    // A private kind that replaces whatever id named.
    void RegisterPrivateFileKind(const VString& id, const std::vector<VString>& osKinds, const VString& description,
                                 const std::vector<VString>& extensions, const std::vector<VString>& parents);
    void RegisterPrivateFileKind(const VString& id, const VString& description, const std::vector<VString>& extensions,
                                 const std::vector<VString>& parents);
    // The first known kind in identifier order that lists the extension, else a public one made (and kept) from
    // the preferred type identifier for it; retained, or null.
    VFileKind* RetainFirstFileKindMatchingWithExtension(const VString& extension);
    // The same by OS kind; a public kind made for it is not kept.
    VFileKind* RetainFirstFileKindMatchingWithOsKind(const VString& osKind);

    // Texts 0 ("All") and 1 ("All readable documents"); a non-empty text replaces one, other ids are ignored.
    void RegisterLocalizedString(int32 id, const VString& text);
    // out = text 0 or 1; another id leaves out as it is.
    void GetLocalizedString(int32 id, VString& out) const;

private:
    VFileKindManager();
    ~VFileKindManager() override;
    void _Store(VFileKind* kind);

    mutable VCriticalSection fLock;
    std::map<VString, VFileKind*, VUTIIdentifierLess> fKinds;
    VString fStrings[2];
};

} // namespace vela
