#include "intl/VUTIManager.h"

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "intl/VFileKind.h"
#include "intl/VLocalizationManager.h"
#include "intl/VXMLParser.h"

namespace vela {

namespace {

constexpr const char* kExported = "UTExportedTypeDeclarations";
constexpr const char* kImported = "UTImportedTypeDeclarations";
constexpr const char* kIdentifierKey = "UTTypeIdentifier";
constexpr const char* kDescriptionKey = "UTTypeDescription";
constexpr const char* kConformsToKey = "UTTypeConformsTo";
constexpr const char* kTagSpecificationKey = "UTTypeTagSpecification";

bool Is(const VString& text, const char* name) {
    return text.EqualToStringRaw(VString(name));
}

bool IsTagClass(const VString& key) {
    return Is(key, VUTIManager::kTagExtension) || Is(key, VUTIManager::kTagOSType) ||
           Is(key, VUTIManager::kTagMIMEType);
}

IXMLHandler* RetainSelf(IXMLHandler* handler) {
    handler->Retain();
    return handler;
}

// The strings of an "array": conformance targets (each becomes a placeholder parent) or tags of one class.
class ArrayStringHandler : public VObject, public IXMLHandler {
public:
    ArrayStringHandler(VUTI* uti, const VString& key) : fUTI(uti), fKey(key) {}

    IXMLHandler* StartElement(const VString& name) override {
        fCurrent = name;
        fInString = Is(name, "string");
        fPending.Clear();
        return RetainSelf(this);
    }
    void SetText(const VString& text) override {
        if (fInString) fPending.AppendString(text);
    }
    void EndElement(const VString&) override {
        if (fInString && !fPending.IsEmpty()) _Store();
        fPending.Clear();
        fInString = false;
    }

private:
    void _Store() {
        if (Is(fKey, kConformsToKey)) {
            VRefPtr<VUTI> placeholder = VRefPtr<VUTI>::Adopt(new VUTI(fPending, true));
            fUTI->AddParentUTI(placeholder.Get());
        } else if (Is(fKey, VUTIManager::kTagExtension)) {
            fUTI->AddExtension(fPending);
        } else if (Is(fKey, VUTIManager::kTagOSType)) {
            fUTI->AddOSType(fPending);
        } else if (Is(fKey, VUTIManager::kTagMIMEType)) {
            fUTI->AddMIMEType(fPending);
        }
    }

    VRefPtr<VUTI> fUTI;
    VString fKey;
    VString fCurrent;
    VString fPending;
    bool fInString = false;
};

// A "dict" of tag classes, each followed by one "string" or an "array" of them.
class TagSpecificationHandler : public VObject, public IXMLHandler {
public:
    explicit TagSpecificationHandler(VUTI* uti) : fUTI(uti) {}

    IXMLHandler* StartElement(const VString& name) override {
        if (!fLastKey.IsEmpty() && Is(name, "array")) return new ArrayStringHandler(fUTI.Get(), fLastKey);
        fPendingClass.Clear();
        if (Is(name, "string") && IsTagClass(fLastKey)) fPendingClass = fLastKey;
        fCurrent = name;
        fInText = Is(name, "key") || Is(name, "string");
        fLastKey.Clear();
        fPending.Clear();
        return RetainSelf(this);
    }
    void SetText(const VString& text) override {
        if (!fInText) return;
        if (Is(fCurrent, "key"))
            fLastKey.AppendString(text);
        else if (!fPendingClass.IsEmpty())
            fPending.AppendString(text);
    }
    void EndElement(const VString&) override {
        if (!fPending.IsEmpty()) {
            if (Is(fPendingClass, VUTIManager::kTagExtension))
                fUTI->AddExtension(fPending);
            else if (Is(fPendingClass, VUTIManager::kTagOSType))
                fUTI->AddOSType(fPending);
            else
                fUTI->AddMIMEType(fPending);
        }
        fPending.Clear();
        fPendingClass.Clear();
        fInText = false;
    }

private:
    VRefPtr<VUTI> fUTI;
    VString fCurrent;
    VString fLastKey;
    VString fPendingClass;
    VString fPending;
    bool fInText = false;
};

// One declaration ("dict"). Only its own keys are read: a key inside some other nested value is walked through.
class DeclarationHandler : public VObject, public IXMLHandler {
public:
    explicit DeclarationHandler(VUTIManager* manager) : fManager(manager), fUTI(VRefPtr<VUTI>::Adopt(new VUTI)) {}

    IXMLHandler* StartElement(const VString& name) override {
        const bool own = fOpen.empty();
        if (own && !fLastKey.IsEmpty()) {
            if (Is(name, "array") && Is(fLastKey, kConformsToKey)) return new ArrayStringHandler(fUTI.Get(), fLastKey);
            if (Is(name, "dict") && Is(fLastKey, kTagSpecificationKey)) return new TagSpecificationHandler(fUTI.Get());
        }
        fPendingKey.Clear();
        if (own && Is(name, "string") && (Is(fLastKey, kIdentifierKey) || Is(fLastKey, kDescriptionKey)))
            fPendingKey = fLastKey;
        fOpen.push_back(name);
        fInText = own && (Is(name, "key") || Is(name, "string"));
        fLastKey.Clear();
        return RetainSelf(this);
    }
    void SetText(const VString& text) override {
        if (!fInText) return;
        const VString& current = fOpen.back();
        if (Is(current, "key")) {
            fLastKey.AppendString(text);
        } else if (Is(fPendingKey, kIdentifierKey)) {
            fUTI->SetIdentifier(fUTI->GetIdentifier() + text);
        } else if (Is(fPendingKey, kDescriptionKey)) {
            fUTI->SetDescription(fUTI->GetDescription() + text);
        }
    }
    void EndElement(const VString&) override {
        if (fOpen.empty())
            fManager->_Stage(fUTI.Get());
        else
            fOpen.pop_back();
        fInText = false;
    }

private:
    VUTIManager* fManager;
    VRefPtr<VUTI> fUTI;
    VString fLastKey;
    VString fPendingKey;
    std::vector<VString> fOpen;
    bool fInText = false;
};

// The declarations "array".
class DeclarationArrayHandler : public VObject, public IXMLHandler {
public:
    explicit DeclarationArrayHandler(VUTIManager* manager) : fManager(manager) {}

    IXMLHandler* StartElement(const VString& name) override {
        return Is(name, "dict") ? new DeclarationHandler(fManager) : nullptr;
    }

private:
    VUTIManager* fManager;
};

// The document: finds the arrays that directly follow a declarations key.
class DocumentHandler : public VObject, public IXMLHandler {
public:
    explicit DocumentHandler(VUTIManager* manager) : fManager(manager) {}

    IXMLHandler* StartElement(const VString& name) override {
        if (Is(name, "array") && (Is(fLastKey, kExported) || Is(fLastKey, kImported)))
            return new DeclarationArrayHandler(fManager);
        fInKey = Is(name, "key");
        fLastKey.Clear();
        return RetainSelf(this);
    }
    void SetText(const VString& text) override {
        if (fInKey) fLastKey.AppendString(text);
    }
    void EndElement(const VString&) override { fInKey = false; }

private:
    VUTIManager* fManager;
    VString fLastKey;
    bool fInKey = false;
};

} // namespace

VUTIManager* VUTIManager::sSingleton = nullptr;

VUTIManager::VUTIManager() : fParser(std::make_unique<VXMLParser>()), fParserInited(VXMLParser::Init()) {}

VUTIManager::~VUTIManager() {
    for (VUTI* uti : fStaged)
        uti->Release();
    for (auto& [identifier, uti] : fRegistry)
        uti->_Detach();
    for (auto& [identifier, uti] : fRegistry)
        uti->Release();
    fParser.reset();
    if (fParserInited) VXMLParser::DeInit();
}

VUTIManager* VUTIManager::GetUTIManager() {
    if (sSingleton == nullptr) sSingleton = new VUTIManager;
    return sSingleton;
}

void VUTIManager::Delete() {
    ReleaseRefCountable(&sSingleton);
}

bool VUTIManager::DeInit() {
    Delete();
    return true;
}

bool VUTIManager::LoadXMLFile(VFile* file) {
    if (AnalyzeXMLFile(file) != VE_OK) return false;
    ProcessExtractedUTIs();
    return true;
}

VError VUTIManager::AnalyzeXMLFile(const VFile* file) {
    if (file == nullptr) return VE_INVALID_PARAMETER;
    if (!file->Exists()) return VE_FILE_NOT_FOUND;
    if (!fParserInited) return VE_XML_FATAL_ERROR;
    VRefPtr<DocumentHandler> root = VRefPtr<DocumentHandler>::Adopt(new DocumentHandler(this));
    const bool parsed = fParser->Parse(file, root.Get(), VXMLParser::kValidateNever);
    std::vector<VUTI*> staged = std::move(fStaged);
    fStaged.clear();
    for (VUTI* uti : staged) {
        if (parsed) AddNewUTI(uti);
        uti->Release();
    }
    return parsed ? VE_OK : VE_XML_FATAL_ERROR;
}

void VUTIManager::_Stage(VUTI* uti) {
    uti->Retain();
    fStaged.push_back(uti);
}

bool VUTIManager::AddNewUTI(VUTI* uti) {
    if (uti == nullptr || uti->GetIdentifier().IsEmpty()) return false;
    if (!fRegistry.emplace(uti->GetIdentifier(), uti).second) return false;
    uti->Retain();
    return true;
}

VUTI* VUTIManager::FindUTI(const VString& identifier) const {
    auto it = fRegistry.find(identifier);
    return it == fRegistry.end() ? nullptr : it->second;
}

VError VUTIManager::ProcessExtractedUTIs() {
    for (auto& [identifier, child] : fRegistry) {
        std::vector<VUTI*> placeholders;
        for (auto& [parentID, parent] : child->GetParentUTIsMap())
            if (parent->IsTemporary()) placeholders.push_back(parent);
        for (VUTI* placeholder : placeholders) {
            VUTI* declared = FindUTI(placeholder->GetIdentifier());
            if (declared == nullptr || declared == child) continue;
            // A declaration that conforms to its own descendant would close a loop: it stays a placeholder.
            if (declared->IsChildOrChildOfAParent(*child) || declared->IsParent(*placeholder) ||
                declared->ConformsToIdentifier(child->GetIdentifier()))
                continue;
            child->RemoveTemporaryUTI(declared->GetIdentifier());
            declared->AddChildUTI(child);
            child->AddParentUTI(declared);
        }
    }
    _RegisterFileKinds();
    return VE_OK;
}

void VUTIManager::_RegisterFileKinds() const {
    VFileKindManager* kinds = VFileKindManager::sManager;
    if (kinds == nullptr) return;
    for (const auto& [identifier, uti] : fRegistry) {
        VString description;
        if (fLocalizationManager == nullptr ||
            !fLocalizationManager->LocalizeStringWithDotStringsKey(uti->GetDescription(), description))
            description = uti->GetDescription();
        std::vector<VString> parents;
        for (const auto& [parentID, parent] : uti->GetParentUTIsMap())
            parents.push_back(parentID);
        kinds->RegisterPrivateFileKind(identifier, uti->GetOSTypesVector(), description, uti->GetExtensionsVector(),
                                       parents);
    }
}

namespace {

using TagFinder = VUTI* (VUTI::*)(const VString&) const;

TagFinder FinderForClass(const VString& tagClass) {
    if (Is(tagClass, VUTIManager::kTagExtension)) return &VUTI::GetHighestParentThatConformsToExtension;
    if (Is(tagClass, VUTIManager::kTagOSType)) return &VUTI::GetHighestParentThatConformsToOSType;
    if (Is(tagClass, VUTIManager::kTagMIMEType)) return &VUTI::GetHighestParentThatConformsToMIMEType;
    return nullptr;
}

} // namespace

std::vector<VUTI*>* VUTIManager::UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag,
                                                                  const VString&) const {
    if (tagClass.IsEmpty() || tag.IsEmpty()) return nullptr;
    auto* result = new std::vector<VUTI*>;
    TagFinder finder = FinderForClass(tagClass);
    if (finder == nullptr) return result;
    for (auto& [identifier, uti] : fRegistry) {
        VRefPtr<VUTI> found = VRefPtr<VUTI>::Adopt((uti->*finder)(tag));
        if (found) {
            uti->Retain();
            result->push_back(uti);
        }
    }
    return result;
}

VUTI* VUTIManager::UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag,
                                                         const VString& conformingTo) const {
    TagFinder finder = FinderForClass(tagClass);
    if (tag.IsEmpty() || finder == nullptr || fRegistry.empty()) return nullptr;
    std::vector<VRefPtr<VUTI>> candidates;
    bool anyPublic = false;
    for (auto& [identifier, uti] : fRegistry) {
        VRefPtr<VUTI> found = VRefPtr<VUTI>::Adopt((uti->*finder)(tag));
        if (!found) continue;
        if (!conformingTo.IsEmpty() && !found->ConformsToIdentifier(conformingTo)) continue;
        bool known = false;
        for (const VRefPtr<VUTI>& candidate : candidates)
            known = known || candidate.Get() == found.Get();
        if (known) continue;
        anyPublic = anyPublic || found->IsPublic();
        candidates.push_back(std::move(found));
    }
    for (VRefPtr<VUTI>& candidate : candidates) {
        if (anyPublic && !candidate->IsPublic()) continue;
        candidate->Retain();
        return candidate.Get();
    }
    return nullptr;
}

bool VUTIManager::UTTypeConformsTo(VFile* file, const VString& identifier) const {
    if (file == nullptr || identifier.IsEmpty() || !file->Exists()) return false;
    VRefPtr<VUTI> byExtension;
    VString extension;
    file->GetExtension(extension);
    if (!extension.IsEmpty())
        byExtension =
            VRefPtr<VUTI>::Adopt(UTTypeCreatePreferredIdentifierForTag(VString(kTagExtension), extension, {}));
    VRefPtr<VUTI> byCode;
    uint32 kind = 0;
    if (file->MAC_GetKind(&kind) == VE_OK && kind != 0) {
        VString code;
        code.FromOsType(kind);
        byCode = VRefPtr<VUTI>::Adopt(UTTypeCreatePreferredIdentifierForTag(VString(kTagOSType), code, {}));
    }
    VUTI* chosen = byExtension ? byExtension.Get() : byCode.Get();
    // The type code names the more specific kind when the extension's UTI is one of its ancestors.
    if (byExtension && byCode && !UTTypeEqual(byExtension->GetIdentifier(), byCode->GetIdentifier()) &&
        byCode->IsParent(*byExtension))
        chosen = byCode.Get();
    return chosen != nullptr && chosen->ConformsToIdentifier(identifier);
}

} // namespace vela
