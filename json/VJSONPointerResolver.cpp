#include "json/VJSONPointerResolver.h"

#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "files/IFileSystemObject.h"
#include "files/VFilePath.h"
#include "files/VFileSystem.h"
#include "files/VURL.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONText.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

namespace vela {

namespace {

std::u16string KeyOf(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::u16string KeyOf(const VFilePath& path) {
    VString posix;
    path.GetPosixPath(posix);
    return KeyOf(posix);
}

// Scheme names compare without case (RFC 3986), and only ASCII letters take part.
bool BeginsWithScheme(const VString& text, const char* scheme) {
    int32 length = text.GetLength();
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; scheme[i] != 0; ++i) {
        if (i >= length) return false;
        UniChar c = units[i];
        if (c >= 'A' && c <= 'Z') c = UniChar(c - 'A' + 'a');
        if (c != UniChar(scheme[i])) return false;
    }
    return true;
}

bool IsRemoteDocument(const VString& document) {
    return BeginsWithScheme(document, "http:") || BeginsWithScheme(document, "https:") ||
           BeginsWithScheme(document, "file:");
}

// The "$ref" text of an object into out; false when it holds none.
bool GetReference(const VJSONObject* object, VString& out) {
    VJSONValue reference = object->GetProperty(VJSONPointerResolver::sRefPropertyName);
    if (!reference.IsString()) return false;
    reference.GetString(out);
    return true;
}

const void* NodeOf(const VJSONValue& value) noexcept {
    if (value.IsObject()) return value.GetObjectPtr();
    if (value.IsArray()) return value.GetArrayPtr();
    return nullptr;
}

// RFC 6901: "~1" first, then "~0", so that "~01" stays "~1".
void Unescape(VString& part) {
    part.ExchangeRawString(VString("~1"), VString("/"));
    part.ExchangeRawString(VString("~0"), VString("~"));
}

} // namespace

const VString VJSONPointerResolver::sRefPropertyName("$ref");

// ---- File cache

VJSONValue VJSONFileCache::GetValue(const VFilePath& path) const {
    auto found = fValues.find(KeyOf(path));
    return found == fValues.end() ? VJSONValue(JSON_undefined) : found->second;
}

void VJSONFileCache::SetValue(const VFilePath& path, const VJSONValue& value) {
    std::u16string key = KeyOf(path);
    if (value.IsUndefined()) {
        fValues.erase(key);
        return;
    }
    fValues.insert_or_assign(std::move(key), value);
}

// ---- One resolution run

class VJSONPointerResolver::Context {
public:
    Context(bool patch, bool resolveThrough) : fPatch(patch), fResolveThrough(resolveThrough) {}

    bool IsVisited(const void* node) const { return fVisited.contains(node); }
    // Keeps node alive while it is listed, so that its address cannot be taken by a new node during the run.
    void Visit(const VJSONValue& node) { fVisited.emplace(NodeOf(node), node); }
    void Forget(const void* node) { fVisited.erase(node); }
    bool IsInProgress(const void* node) const {
        return std::find(fInProgress.begin(), fInProgress.end(), node) != fInProgress.end();
    }

    // What a reference object resolved to in this run (its value undefined and no resolver when it failed).
    struct Outcome {
        VJSONValue fValue;
        VRefPtr<VJSONPointerResolver> fResolver;
    };
    const Outcome* FindOutcome(const void* reference) const {
        auto found = fOutcomes.find(reference);
        return found == fOutcomes.end() ? nullptr : &found->second.second;
    }
    void SetOutcome(const VJSONValue& reference, const VJSONValue& value,
                    const VRefPtr<VJSONPointerResolver>& resolver) {
        fOutcomes.insert_or_assign(NodeOf(reference), std::make_pair(reference, Outcome{value, resolver}));
    }

    void AddFile(IFile* file) {
        if (fFileKeys.insert(KeyOf(file->GetPath())).second) fFiles.emplace_back(file);
    }

    std::unordered_map<const void*, VJSONValue> fVisited;
    std::vector<const void*> fInProgress;
    // By reference object, kept alive with it.
    std::unordered_map<const void*, std::pair<VJSONValue, Outcome>> fOutcomes;
    std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> fPending;
    std::set<std::u16string> fFileKeys;
    std::vector<VRefPtr<IFile>> fFiles;
    bool fPatch;
    bool fResolveThrough;
    VString fCurrentURI;
};

// ---- Resolver

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root, IFolder* folder, VFileSystemNamespace* ns,
                                           VJSONFileCache* cache)
    : fRoot(root), fFolder(folder), fNamespace(ns), fCache(cache) {
    if (!fCache) fCache = VRefPtr<VJSONFileCache>::Adopt(new VJSONFileCache());
}

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& root, IFolder* folder, const VJSONPointerResolver& parent)
    : fRoot(root), fFolder(folder), fNamespace(parent.fNamespace), fCache(parent.fCache),
      fErrorOwner(parent.fErrorOwner ? parent.fErrorOwner
                                     : VRefPtr<VJSONPointerResolver>(const_cast<VJSONPointerResolver*>(&parent))) {}

VJSONPointerResolver::~VJSONPointerResolver() = default;

VJSONArray* VJSONPointerResolver::GetErrors() const noexcept {
    return fErrorOwner ? fErrorOwner->fErrors.Get() : fErrors.Get();
}

void VJSONPointerResolver::_ThrowError(VError code, const VString& value1, const char* name1, const VString& value2,
                                       const char* name2) {
    if (fErrorOwner) {
        fErrorOwner->_ThrowError(code, value1, name1, value2, name2);
        return;
    }
    bool has1 = name1 != nullptr && name1[0] != 0;
    bool has2 = name2 != nullptr && name2[0] != 0;
    VRefPtr<VErrorBase> error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
    if (has1) error->SetString(VString("p1"), value1);
    if (has2) error->SetString(VString("p2"), value2);
    VString message;
    error->GetErrorDescription(message);

    VRefPtr<VJSONObject> record = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    record->SetProperty(VString("code"), VJSONValue(double(NumberOfVError(code))));
    const uint32 signature = ComponentOfVError(code);
    const char component[5] = {char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature), 0};
    record->SetProperty(VString("component"), VJSONValue(VString(component)));
    record->SetProperty(VString("message"), VJSONValue(message));
    if (has1) record->SetProperty(VString(name1), VJSONValue(value1));
    if (has2) record->SetProperty(VString(name2), VJSONValue(value2));
    if (!fErrors) fErrors = VRefPtr<VJSONArray>::Adopt(new VJSONArray());
    fErrors->Push(VJSONValue(record.Get()));
}

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* referenceObject, bool resolveThrough, VJSONValue& result) {
    result = VJSONValue(referenceObject);
    if (referenceObject == nullptr) return false;
    Context context(false, resolveThrough);
    StErrorContextInstaller errors(false, true);
    VRefPtr<VJSONPointerResolver> newResolver;
    bool inProgress = false;
    bool descend = false;
    return _Resolve(context, result, newResolver, inProgress, descend);
}

void VJSONPointerResolver::ResolveRecursively(VJSONValue& value, bool patch, std::vector<VRefPtr<IFile>>* filesRead) {
    Context context(patch, true);
    StErrorContextInstaller errors(false, true);
    _ResolveRecursively(context, value, 0);
    // References inside a referred document are taken relative to that document, by its own resolver.
    while (!context.fPending.empty()) {
        std::vector<std::pair<VRefPtr<VJSONPointerResolver>, VJSONValue>> pending;
        pending.swap(context.fPending);
        for (auto& [resolver, referred] : pending)
            resolver->_ResolveRecursively(context, referred, 0);
    }
    if (filesRead != nullptr) filesRead->insert(filesRead->end(), context.fFiles.begin(), context.fFiles.end());
    if (VError last = errors.GetLastError(); last != VE_OK && GetErrors() == nullptr)
        _ThrowError(last, VString(), nullptr, VString(), nullptr);
}

bool VJSONPointerResolver::_Resolve(Context& context, VJSONValue& value, VRefPtr<VJSONPointerResolver>& newResolver,
                                    bool& inProgress, bool& descend) {
    newResolver = this;
    inProgress = false;
    descend = false;
    VJSONObject* object = value.GetObjectPtr();
    if (object == nullptr) {
        descend = value.IsArray();
        return false;
    }
    if (context.IsVisited(object) || context.IsInProgress(object)) {
        inProgress = context.IsInProgress(object);
        return false;
    }
    const VJSONValue start(value);
    context.Visit(start);
    VString uri;
    if (!GetReference(object, uri)) {
        descend = true;
        return false;
    }

    if (const Context::Outcome* known = context.FindOutcome(object); known != nullptr) {
        // Pointers may pass through one reference many times: each is resolved once per run.
        value = known->fValue;
        newResolver = known->fResolver;
    } else {
        VJSONValue referred;
        VJSONValue document;
        VRefPtr<IFolder> documentFolder;
        bool resolved = false;
        if (int32(context.fInProgress.size()) >= kJSONTextMaxDepth) {
            // A chain of references through pointers recurses once per link.
            _ThrowURIError(VE_JSON_TOO_DEEP, uri);
        } else {
            context.fInProgress.push_back(object);
            resolved = _ResolvePointerURI(context, uri, referred, document, documentFolder) &&
                       (!context.fResolveThrough || _FollowReference(context, uri, referred, document, documentFolder));
            context.fInProgress.pop_back();
        }
        if (!resolved) {
            value.SetUndefined();
        } else {
            value = referred;
            if (context.fPatch) _Patch(object, value);
        }
        newResolver =
            resolved
                ? VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(document, documentFolder.Get(), *this))
                : VRefPtr<VJSONPointerResolver>();
        context.SetOutcome(start, value, newResolver);
    }
    if (NodeOf(value) != object) context.Forget(object);
    descend = true;
    return true;
}

bool VJSONPointerResolver::_FollowReference(Context& context, const VString& uri, VJSONValue& referred,
                                            VJSONValue& document, VRefPtr<IFolder>& documentFolder) {
    VJSONObject* next = referred.GetObjectPtr();
    VString ignored;
    if (next == nullptr || !GetReference(next, ignored)) return true;
    if (context.IsInProgress(next)) {
        _ThrowURIError(VE_JSON_POINTER_CYCLE, uri);
        return false;
    }
    // The referred reference is taken relative to its own document.
    VRefPtr<VJSONPointerResolver> documentResolver =
        VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(document, documentFolder.Get(), *this));
    VRefPtr<VJSONPointerResolver> further;
    bool inProgress = false;
    bool descend = false;
    if (!documentResolver->_Resolve(context, referred, further, inProgress, descend)) return true;
    if (!further) return false;
    document = further->fRoot;
    documentFolder = further->fFolder;
    return true;
}

void VJSONPointerResolver::_Patch(const VJSONObject* reference, VJSONValue& value) const {
    const VJSONObject* referred = value.GetObjectPtr();
    if (referred == nullptr || reference->GetPropertyCount() <= 1) return;
    VRefPtr<VJSONObject> patched = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    for (const auto& [name, property] : referred->GetInternalProperties())
        patched->SetProperty(name, property);
    for (const auto& [name, property] : reference->GetInternalProperties()) {
        if (!name.EqualToStringRaw(sRefPropertyName)) patched->SetProperty(name, property);
    }
    value = VJSONValue(patched.Get());
}

bool VJSONPointerResolver::_ResolvePointerURI(Context& context, const VString& uri, VJSONValue& referred,
                                              VJSONValue& document, VRefPtr<IFolder>& documentFolder) {
    VString path(uri);
    VString pointer;
    if (int32 hash = uri.FindUniChar('#'); hash > 0) {
        uri.GetSubString(hash + 1, uri.GetLength() - hash, pointer);
        path.Truncate(hash - 1);
    }
    VURL::Decode(path);
    VURL::Decode(pointer);
    path.TrimUniChar(' ');
    if (IsRemoteDocument(path)) {
        _ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, uri);
        return false;
    }
    if (!_LoadDocument(context, uri, path, document, documentFolder)) return false;

    VString outerURI(context.fCurrentURI);
    context.fCurrentURI = uri;
    bool resolved = _ResolvePointerString(context, document, pointer, referred);
    context.fCurrentURI = outerURI;
    if (!resolved) document.SetUndefined();
    return resolved;
}

bool VJSONPointerResolver::_LoadDocument(Context& context, const VString& uri, const VString& path,
                                         VJSONValue& document, VRefPtr<IFolder>& folder) {
    if (path.IsEmpty()) {
        document = fRoot;
        folder = fFolder;
        return true;
    }
    VRefPtr<IFile> file;
    if (fNamespace) {
        file = VRefPtr<IFile>::Adopt(
            fNamespace->RetainFile(path, fFolder.Get(), FSN_SKIP_HIDDEN | FSN_SEARCH_PARENTS, false));
    } else if (fFolder && path.GetUniChar(1) != '/') {
        // Taken as POSIX text, as through a namespace: "$ref" documents name sub-folders with '/'.
        file = VRefPtr<IFile>::Adopt(fFolder->_RetainRelativeIFile(path, FPS_POSIX));
    }
    if (!file) {
        _ThrowError(VE_JSON_REFERRED_FILE_MISSING, uri, "pointerURI", path, "referredPath");
        return false;
    }
    context.AddFile(file.Get());

    const VFilePath filePath = file->GetPath();
    document = fCache->GetValue(filePath);
    if (document.IsUndefined()) {
        VString posix;
        filePath.GetPosixPath(posix);
        if (!file->Exists()) {
            _ThrowError(VE_JSON_REFERRED_FILE_MISSING, uri, "pointerURI", posix, "referredPath");
            return false;
        }
        VError error = VE_OK;
        {
            StErrorContextInstaller errors(false, true);
            error = VJSONImporter::ParseFile(file.Get(), document,
                                             VJSONImporter::kUndefinedOnFailure | VJSONImporter::kStrict |
                                                 VJSONImporter::kISODates);
        }
        if (error != VE_OK || document.IsUndefined()) {
            document.SetUndefined();
            _ThrowError(VE_JSON_REFERRED_FILE_INVALID, uri, "pointerURI", posix, "referredPath");
            return false;
        }
        fCache->SetValue(filePath, document);
    }
    folder = VRefPtr<IFolder>::Adopt(file->RetainParentFolder(true));
    return true;
}

bool VJSONPointerResolver::_ResolvePointerString(Context& context, const VJSONValue& document, const VString& pointer,
                                                 VJSONValue& result) {
    result = document;
    if (pointer.IsEmpty()) return true;
    if (pointer.GetUniChar(1) != '/') {
        _ThrowURIError(VE_JSON_POINTER_MALFORMED, context.fCurrentURI);
        return false;
    }
    std::vector<VString> parts;
    pointer.GetSubStrings('/', parts, true);
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!_ResolveOnePart(context, result, std::move(parts[i]))) return false;
    }
    return true;
}

bool VJSONPointerResolver::_ResolveOnePart(Context& context, VJSONValue& current, VString part) {
    Unescape(part);
    if (VJSONObject* object = current.GetObjectPtr(); object != nullptr && context.fResolveThrough) {
        if (context.IsInProgress(object)) {
            _ThrowURIError(VE_JSON_POINTER_CYCLE, context.fCurrentURI);
            return false;
        }
        // An object met along a pointer is not walked yet: only a reference it is stays examined.
        const bool wasVisited = context.IsVisited(object);
        VRefPtr<VJSONPointerResolver> newResolver;
        bool inProgress = false;
        bool descend = false;
        const bool wasReference = _Resolve(context, current, newResolver, inProgress, descend);
        if (!wasReference && !wasVisited) context.Forget(object);
        // The failed reference has recorded why.
        if (wasReference && current.IsUndefined()) return false;
    }
    if (VJSONObject* object = current.GetObjectPtr(); object != nullptr) {
        current = object->GetProperty(part);
        if (current.IsUndefined()) {
            _ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.fCurrentURI);
            return false;
        }
        return true;
    }
    if (current.IsArray()) return _ResolveArrayPart(context, current, part);
    _ThrowURIError(VE_JSON_POINTER_INTO_SCALAR, context.fCurrentURI);
    return false;
}

bool VJSONPointerResolver::_ResolveArrayPart(Context& context, VJSONValue& current, const VString& part) {
    const int32 length = part.GetLength();
    if (length == 1 && part.GetUniChar(1) == '-') {
        _ThrowURIError(VE_JSON_POINTER_UNSUPPORTED, context.fCurrentURI);
        return false;
    }
    const UniChar* units = part.GetCPointer();
    bool malformed = length == 0 || (length > 1 && units[0] == '0');
    for (int32 i = 0; i < length && !malformed; ++i)
        malformed = units[i] < '0' || units[i] > '9';
    if (malformed) {
        _ThrowURIError(VE_JSON_POINTER_MALFORMED, context.fCurrentURI);
        return false;
    }
    // The index grows no further once it reaches the count, so any number of digits is safe.
    const VJSONArray* array = current.GetArrayPtr();
    const size_t count = array->GetCount();
    size_t index = 0;
    for (int32 i = 0; i < length && index < count; ++i)
        index = index * 10 + size_t(units[i] - '0');
    if (index >= count || !array->GetAt(index, current) || current.IsUndefined()) {
        _ThrowURIError(VE_JSON_POINTER_NOT_FOUND, context.fCurrentURI);
        return false;
    }
    return true;
}

bool VJSONPointerResolver::_ResolveRecursively(Context& context, VJSONValue& value, int32 depth) {
    if (depth > kJSONTextMaxDepth) {
        _ThrowURIError(VE_JSON_TOO_DEEP, context.fCurrentURI);
        return false;
    }
    if (value.IsObject()) {
        VRefPtr<VJSONPointerResolver> newResolver;
        bool inProgress = false;
        bool descend = false;
        if (_Resolve(context, value, newResolver, inProgress, descend)) {
            if (newResolver) context.fPending.emplace_back(newResolver, value);
            return true;
        }
        if (!descend) return false;
        VJSONObject* object = value.GetObjectPtr();
        for (VJSONPropertyConstOrderedIterator it(object, 3); it.IsValid(); ++it) {
            VJSONValue property = it.GetValue();
            if (_ResolveRecursively(context, property, depth + 1) && !property.IsUndefined())
                object->SetProperty(it.GetName(), property);
        }
        return false;
    }
    VJSONArray* array = value.GetArrayPtr();
    // Arrays are listed too: a reference may make an array hold itself.
    if (array == nullptr || context.IsVisited(array)) return false;
    context.Visit(value);
    for (size_t i = 0; i < array->GetCount(); ++i) {
        VJSONValue item = array->GetAt(i);
        if (_ResolveRecursively(context, item, depth + 1)) array->SetAt(i, item);
    }
    return false;
}

} // namespace vela
