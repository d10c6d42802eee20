#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "files/VFilePath.h"

#include <functional>
#include <map>
#include <vector>

namespace vela {

// Orders identifiers as the registry does: the intl manager's comparison, diacritics ignored.
struct VUTIIdentifierLess {
    bool operator()(const VString& a, const VString& b) const { return a.CompareToString(b, false) == CR_SMALLER; }
};

// One uniform type identifier: its tags and its conformance links. Parents are what it conforms to, children what
// conforms to it; both maps hold a reference on each entry, so linked UTIs form cycles that _Detach breaks. A
// temporary UTI is a placeholder for a conformance target not declared yet; the walks below never pass through
// one (except CouldBeAParent / CouldBeAChild). Every walk visits a UTI at most once, so declarations that conform
// to each other cannot make it loop. Strings are compared with EqualToString, diacritics ignored.
class VUTI : public VObject, public IRefCountable {
public:
    using Map = std::map<VString, VUTI*, VUTIIdentifierLess>;

    VUTI() = default;
    explicit VUTI(const VString& identifier, bool temporary = false) : fTemporary(temporary), fIdentifier(identifier) {}
    VUTI(const VUTI&) = delete;
    VUTI& operator=(const VUTI&) = delete;
    ~VUTI() override;

    const VString& GetIdentifier() const noexcept { return fIdentifier; }
    void SetIdentifier(const VString& identifier) { fIdentifier = identifier; }
    const VString& GetDescription() const noexcept { return fDescription; }
    void SetDescription(const VString& description) { fDescription = description; }
    const VString& GetReference() const noexcept { return fReference; }
    void SetReference(const VString& reference) { fReference = reference; }
    const VFilePath& GetImagePath() const noexcept { return fImagePath; }
    void SetImagePath(const VFilePath& path) { fImagePath = path; }
    const std::vector<VString>& GetOSTypesVector() const noexcept { return fOSTypes; }
    void SetOSTypesVector(const std::vector<VString>& types) { fOSTypes = types; }
    const std::vector<VString>& GetExtensionsVector() const noexcept { return fExtensions; }
    void SetExtensionsVector(const std::vector<VString>& extensions) { fExtensions = extensions; }
    const std::vector<VString>& GetMIMETypesVector() const noexcept { return fMIMETypes; }
    void SetMIMETypesVector(const std::vector<VString>& types) { fMIMETypes = types; }
    // The links, without references for the caller.
    const Map& GetParentUTIsMap() const noexcept { return fParents; }
    const Map& GetChildrenUTIsMap() const noexcept { return fChildren; }
    bool IsTemporary() const noexcept { return fTemporary; }
    void SetTemporary(bool temporary) noexcept { fTemporary = temporary; }
    bool IsDynamic() const noexcept { return fDynamic; }
    void SetDynamic(bool dynamic) noexcept { fDynamic = dynamic; }
    // The identifier begins with "public".
    bool IsPublic() const;

    // Append unless an equal entry is there; empty text is ignored.
    void AddExtension(const VString& extension);
    void AddOSType(const VString& type);
    void AddMIMEType(const VString& type);
    // Insert under the other's identifier, retaining it, unless one is there or the identifier is empty.
    void AddParentUTI(VUTI* parent);
    void AddChildUTI(VUTI* child);

    // This UTI or one of its ancestors has the identifier (false for an empty one).
    bool ConformsToIdentifier(const VString& identifier) const;
    bool ConformsToExtension(const VString& extension) const;
    bool ConformsToOSType(const VString& type) const;
    bool ConformsToMIMEType(const VString& type) const;
    // The first of this UTI and its ancestors (depth first, parents in identifier order) whose own list holds the
    // tag, retained for the caller; null when none does.
    VUTI* GetHighestParentThatConformsToExtension(const VString& extension) const;
    VUTI* GetHighestParentThatConformsToOSType(const VString& type) const;
    VUTI* GetHighestParentThatConformsToMIMEType(const VString& type) const;
    // Appends the extensions of this UTI and its ancestors that out does not hold yet.
    void GetAllExtensionsVector(std::vector<VString>& out) const;

    // A UTI with other's identifier is an ancestor (IsParent) or a descendant (IsChild) of this one. The Could...
    // forms also pass through placeholders.
    bool IsParent(const VUTI& other) const;
    bool CouldBeAParent(const VUTI& other) const;
    bool IsChild(const VUTI& other) const;
    bool CouldBeAChild(const VUTI& other) const;
    // other is a descendant of this UTI or of one of its ancestors.
    bool IsChildOrChildOfAParent(const VUTI& other) const;

    // Drops the parent and child entries of identifier that are placeholders.
    void RemoveTemporaryUTI(const VString& identifier);
    // Empties both maps, releasing every UTI in them.
    void _Detach();

private:
    // Visits this UTI (when withSelf) and then what its parents (upward) or children lead to, depth first in
    // identifier order, each UTI once; answers the first visited UTI for which match is true.
    const VUTI* _Find(bool upward, bool withSelf, bool withTemporary,
                      const std::function<bool(const VUTI&)>& match) const;
    VUTI* _RetainFirstHolding(const std::vector<VString> VUTI::*list, const VString& tag) const;

    bool fTemporary = false;
    VString fIdentifier;
    VString fDescription;
    VString fReference;
    VFilePath fImagePath;
    bool fDynamic = false;
    std::vector<VString> fOSTypes;
    std::vector<VString> fExtensions;
    std::vector<VString> fMIMETypes;
    Map fParents;
    Map fChildren;
};

} // namespace vela
