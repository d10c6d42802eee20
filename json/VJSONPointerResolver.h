#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/VJSONValue.h"

#include <map>
#include <string>
#include <vector>

namespace vela {

class IFile;
class IFolder;
class VFilePath;
class VFileSystemNamespace;
class VJSONArray;
class VJSONObject;

// JSON documents read from files, by the file's POSIX path (compared unit by unit: Linux names differ by case).
// One file referred to many times is parsed once. Shared by reference count (1 when made); used by one task at a
// time.
class VJSONFileCache : public VObject, public IRefCountable {
public:
    VJSONFileCache() = default;
    VJSONFileCache(const VJSONFileCache&) = delete;
    VJSONFileCache& operator=(const VJSONFileCache&) = delete;

    // The cached document (sharing its objects and arrays), or undefined.
    VJSONValue GetValue(const VFilePath& path) const;
    // Stores or replaces the document; undefined removes the entry, so that the next use reads the file again.
    void SetValue(const VFilePath& path, const VJSONValue& value);

private:
    std::map<std::u16string, VJSONValue> fValues;
};

// Replaces reference objects (objects whose "$ref" holds a URI text) by the values their URIs designate. A URI is
// a document part, then "#" and a JSON Pointer (RFC 6901); the document part names a JSON file, relative to the
// resolver's folder or through its file-system namespace, and an empty one stands for the root document.
// Failures never stop a walk: an unresolved reference becomes undefined (inside an object it stays in place) and
// one record per failure goes to the error list; errors are not raised. Library errors recorded: 906 a step
// names nothing, 907 a malformed pointer or array step, 908 a step through a reference still being resolved (a
// cycle), 909 a remote document ("http:", "https:", "file:") or the array step "-", 910 a step into a scalar,
// 912 a file that is no valid JSON, 913 a file that cannot be found (also a relative one without folder), 108
// references chained or nested too deep. Shared by reference count (1 when made); used by one task at a time.
class VJSONPointerResolver : public VObject, public IRefCountable {
public:
    // "$ref".
    static const VString sRefPropertyName;

    // root is the document being resolved (its objects and arrays shared, not copied). folder, ns and cache are
    // retained and may be null; without cache the resolver makes its own.
    VJSONPointerResolver(const VJSONValue& root, IFolder* folder, VFileSystemNamespace* ns, VJSONFileCache* cache);
    ~VJSONPointerResolver() override;
    VJSONPointerResolver(const VJSONPointerResolver&) = delete;
    VJSONPointerResolver& operator=(const VJSONPointerResolver&) = delete;

    // result = the value referenceObject designates, resolving references met along its pointer when
    // resolveThrough; undefined when it cannot be resolved, the object itself when it is no reference. Nothing
    // inside result is resolved. True when the object holds a "$ref" text.
    bool ResolveOnePointer(VJSONObject* referenceObject, bool resolveThrough, VJSONValue& result);
    // Resolves every reference inside value in place, references inside referred documents relative to those
    // documents. With patch, a reference object holding more than "$ref" becomes a new object: the referred
    // object's properties, then its own (except "$ref") replacing same-named ones. filesRead (when given)
    // receives every file read, once each, in the order first read.
    void ResolveRecursively(VJSONValue& value, bool patch, std::vector<VRefPtr<IFile>>* filesRead = nullptr);

    // The failures recorded so far, each an object {"code", "component", "message"} with the parameters
    // "pointerURI" and, for files, "referredPath"; borrowed, null when nothing failed.
    VJSONArray* GetErrors() const noexcept;
    // Borrowed.
    VJSONFileCache* GetFileCache() const noexcept { return fCache.Get(); }

private:
    class Context;

    // A resolver for a referred document: it shares this one's namespace, cache and error list.
    VJSONPointerResolver(const VJSONValue& root, IFolder* folder, const VJSONPointerResolver& parent);

    // One value: an object with a "$ref" text is replaced by what it designates (true). newResolver: the resolver
    // for references inside the new value (null when it failed); inProgress: the object is a reference being
    // resolved; descend: the walk should look inside value.
    bool _Resolve(Context& context, VJSONValue& value, VRefPtr<VJSONPointerResolver>& newResolver, bool& inProgress,
                  bool& descend);
    // With resolve-through, a referred value that is itself a reference is replaced by what it designates, in
    // its own document (document and documentFolder follow); false when that fails.
    bool _FollowReference(Context& context, const VString& uri, VJSONValue& referred, VJSONValue& document,
                          VRefPtr<IFolder>& documentFolder);
    bool _ResolvePointerURI(Context& context, const VString& uri, VJSONValue& referred, VJSONValue& document,
                            VRefPtr<IFolder>& documentFolder);
    // uri is only named by the errors.
    bool _LoadDocument(Context& context, const VString& uri, const VString& path, VJSONValue& document,
                       VRefPtr<IFolder>& folder);
    bool _ResolvePointerString(Context& context, const VJSONValue& document, const VString& pointer,
                               VJSONValue& result);
    bool _ResolveOnePart(Context& context, VJSONValue& current, VString part);
    bool _ResolveArrayPart(Context& context, VJSONValue& current, const VString& part);
    void _Patch(const VJSONObject* reference, VJSONValue& value) const;
    bool _ResolveRecursively(Context& context, VJSONValue& value, int32 depth);

    void _ThrowError(VError code, const VString& value1, const char* name1, const VString& value2, const char* name2);
    void _ThrowURIError(VError code, const VString& uri) { _ThrowError(code, uri, "pointerURI", VString(), nullptr); }

    VJSONValue fRoot;
    VRefPtr<IFolder> fFolder;
    VRefPtr<VFileSystemNamespace> fNamespace;
    VRefPtr<VJSONFileCache> fCache;
    // The resolver whose error list this one records into; null for the one the caller made.
    VRefPtr<VJSONPointerResolver> fErrorOwner;
    VRefPtr<VJSONArray> fErrors;
};

} // namespace vela
