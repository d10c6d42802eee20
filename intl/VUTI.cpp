#include "intl/VUTI.h"

#include <set>

namespace vela {

namespace {

bool Holds(const std::vector<VString>& list, const VString& text) {
    for (const VString& entry : list)
        if (entry.EqualToString(text, false)) return true;
    return false;
}

void AppendOnce(std::vector<VString>& list, const VString& text) {
    if (!text.IsEmpty() && !Holds(list, text)) list.push_back(text);
}

void Link(VUTI::Map& map, VUTI* other) {
    if (other == nullptr || other->GetIdentifier().IsEmpty()) return;
    if (map.emplace(other->GetIdentifier(), other).second) other->Retain();
}

} // namespace

VUTI::~VUTI() {
    _Detach();
}

bool VUTI::IsPublic() const {
    return fIdentifier.BeginsWith(VString("public"), false);
}

void VUTI::AddExtension(const VString& extension) {
    AppendOnce(fExtensions, extension);
}
void VUTI::AddOSType(const VString& type) {
    AppendOnce(fOSTypes, type);
}
void VUTI::AddMIMEType(const VString& type) {
    AppendOnce(fMIMETypes, type);
}
void VUTI::AddParentUTI(VUTI* parent) {
    Link(fParents, parent);
}
void VUTI::AddChildUTI(VUTI* child) {
    Link(fChildren, child);
}

const VUTI* VUTI::_Find(bool upward, bool withSelf, bool withTemporary,
                        const std::function<bool(const VUTI&)>& match) const {
    std::set<const VUTI*> visited{this};
    std::vector<const VUTI*> pending;
    auto pushLinks = [&](const VUTI& uti) {
        const Map& links = upward ? uti.fParents : uti.fChildren;
        // Reversed, so that the stack hands them out in identifier order.
        for (auto it = links.rbegin(); it != links.rend(); ++it)
            if ((withTemporary || !it->second->fTemporary) && !visited.contains(it->second))
                pending.push_back(it->second);
    };
    if (withSelf && match(*this)) return this;
    pushLinks(*this);
    while (!pending.empty()) {
        const VUTI* uti = pending.back();
        pending.pop_back();
        if (!visited.insert(uti).second) continue;
        if (match(*uti)) return uti;
        pushLinks(*uti);
    }
    return nullptr;
}

bool VUTI::ConformsToIdentifier(const VString& identifier) const {
    if (identifier.IsEmpty()) return false;
    return _Find(true, true, false, [&](const VUTI& uti) { return uti.fIdentifier.EqualToString(identifier, false); });
}

VUTI* VUTI::_RetainFirstHolding(const std::vector<VString> VUTI::*list, const VString& tag) const {
    const VUTI* found = _Find(true, true, false, [&](const VUTI& uti) { return Holds(uti.*list, tag); });
    if (found != nullptr) found->Retain();
    return const_cast<VUTI*>(found);
}

VUTI* VUTI::GetHighestParentThatConformsToExtension(const VString& extension) const {
    return _RetainFirstHolding(&VUTI::fExtensions, extension);
}
VUTI* VUTI::GetHighestParentThatConformsToOSType(const VString& type) const {
    return _RetainFirstHolding(&VUTI::fOSTypes, type);
}
VUTI* VUTI::GetHighestParentThatConformsToMIMEType(const VString& type) const {
    return _RetainFirstHolding(&VUTI::fMIMETypes, type);
}

bool VUTI::ConformsToExtension(const VString& extension) const {
    return _Find(true, true, false, [&](const VUTI& uti) { return Holds(uti.fExtensions, extension); });
}
bool VUTI::ConformsToOSType(const VString& type) const {
    return _Find(true, true, false, [&](const VUTI& uti) { return Holds(uti.fOSTypes, type); });
}
bool VUTI::ConformsToMIMEType(const VString& type) const {
    return _Find(true, true, false, [&](const VUTI& uti) { return Holds(uti.fMIMETypes, type); });
}

void VUTI::GetAllExtensionsVector(std::vector<VString>& out) const {
    _Find(true, true, false, [&](const VUTI& uti) {
        for (const VString& extension : uti.fExtensions)
            AppendOnce(out, extension);
        return false;
    });
}

namespace {
std::function<bool(const VUTI&)> Named(const VUTI& other) {
    return [&other](const VUTI& uti) { return uti.GetIdentifier().EqualToString(other.GetIdentifier(), false); };
}
} // namespace

bool VUTI::IsParent(const VUTI& other) const {
    return _Find(true, false, false, Named(other));
}
bool VUTI::CouldBeAParent(const VUTI& other) const {
    return _Find(true, false, true, Named(other));
}
bool VUTI::IsChild(const VUTI& other) const {
    return _Find(false, false, false, Named(other));
}
bool VUTI::CouldBeAChild(const VUTI& other) const {
    return _Find(false, false, true, Named(other));
}

bool VUTI::IsChildOrChildOfAParent(const VUTI& other) const {
    return _Find(true, true, false, [&](const VUTI& uti) { return uti.IsChild(other); });
}

void VUTI::RemoveTemporaryUTI(const VString& identifier) {
    for (Map* map : {&fParents, &fChildren}) {
        auto it = map->find(identifier);
        if (it == map->end() || !it->second->fTemporary) continue;
        VUTI* placeholder = it->second;
        map->erase(it);
        placeholder->Release();
    }
}

void VUTI::_Detach() {
    Map parents = std::move(fParents);
    Map children = std::move(fChildren);
    fParents.clear();
    fChildren.clear();
    for (auto& [identifier, uti] : parents)
        uti->Release();
    for (auto& [identifier, uti] : children)
        uti->Release();
}

} // namespace vela
