// Named file systems read from JSON: members of VFileSystemNamespace that need the JSON layer, which sits above
// files.

#include "core/VError.h"
#include "files/IFileSystemObject.h"
#include "files/VFileError.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

namespace {

struct Definition {
    VString name;
    VString path;
    VString parent;
    bool writable = false;
};

Definition ReadDefinition(const VJSONObject& object) {
    Definition definition;
    const VJSONValue name = object.GetProperty(VString("name"));
    const VJSONValue path = object.GetProperty(VString("path"));
    const VJSONValue parent = object.GetProperty(VString("parent"));
    const VJSONValue writable = object.GetProperty(VString("writable"));
    if (name.IsString()) name.GetString(definition.name);
    if (path.IsString()) path.GetString(definition.path);
    if (parent.IsString()) parent.GetString(definition.parent);
    if (writable.IsBool()) definition.writable = writable.GetBool();
    const int32 length = definition.path.GetLength();
    if (length > 0 && definition.path.GetUniChar(length) != '/' && definition.path.GetUniChar(length) != '\\')
        definition.path.AppendUniChar('/');
    return definition;
}

VError RefuseDefinition(const VString& path) {
    _ThrowErrorWithParam(VE_FILESYSTEM_BAD_DEFINITION, "path", path);
    return VE_FILESYSTEM_BAD_DEFINITION;
}

VFileSystem* FindStaged(const std::vector<VRefPtr<VFileSystem>>& staged, const VString& name) {
    for (auto it = staged.rbegin(); it != staged.rend(); ++it)
        if ((*it)->GetName().EqualToStringRaw(name)) return it->Get();
    return nullptr;
}

} // namespace

VError VFileSystemNamespace::LoadFromDefinitionFile(const IFile* file) {
    if (file == nullptr) {
        _ThrowError(VE_UNKNOWN_ERROR);
        return VE_UNKNOWN_ERROR;
    }
    VJSONValue value;
    const VError parsed =
        VJSONImporter::ParseFile(file, value, VJSONImporter::kUndefinedOnFailure | VJSONImporter::kStrict);
    if (parsed != VE_OK) {
        _ThrowErrorWithParam(VE_FILESYSTEM_BAD_DEFINITION, "path", file->GetPath().GetPath());
        return parsed;
    }
    if (value.IsArray()) return LoadFromJSONArray(value.GetArrayPtr());
    return VE_OK;
}

VError VFileSystemNamespace::LoadFromJSONArray(const VJSONArray* array) {
    if (array == nullptr) return VE_OK;
    // Everything is made first, so that a refused entry leaves the namespace as it was.
    std::vector<VRefPtr<VFileSystem>> staged;
    const size_t count = array->GetCount();
    for (size_t i = 0; i < count; ++i) {
        const VJSONValue element = array->GetAt(i);
        if (!element.IsObject()) continue;
        const Definition definition = ReadDefinition(*element.GetObjectPtr());
        if (definition.path.IsEmpty()) return RefuseDefinition(definition.path);
        VRefPtr<IFolder> folder;
        if (!definition.parent.IsEmpty()) {
            VRefPtr<VFileSystem> parent(FindStaged(staged, definition.parent));
            if (!parent) parent = VRefPtr<VFileSystem>::Adopt(RetainFileSystem(definition.parent, FSN_SEARCH_PARENTS));
            if (!parent) return RefuseDefinition(definition.path);
            VRefPtr<IFolder> root = VRefPtr<IFolder>::Adopt(parent->RetainRootFolder());
            if (root)
                folder = VRefPtr<IFolder>::Adopt(root->RetainRelativeFolder(definition.path, FPS_POSIX, parent.Get()));
        } else if (definition.path.GetUniChar(1) == u'/') {
            // Only an absolute text: a relative one would be read as naming a volume.
            const VFilePath path(definition.path, FPS_POSIX);
            if (path.IsValid() && path.IsFolder()) folder = VRefPtr<IFolder>::Adopt(new VFolder(path));
        }
        if (!folder) return RefuseDefinition(definition.path);
        VError error = VE_OK;
        VFileSystem* fileSystem = VFileSystem::Create(
            definition.name, folder.Get(), definition.writable ? uint32(FS_CAN_REQUEST_SPACE) : 0u, 0, 0, &error);
        if (fileSystem == nullptr) return error;
        staged.push_back(VRefPtr<VFileSystem>::Adopt(fileSystem));
    }
    StLocker<VCriticalSection> lock(fLock);
    for (const auto& fileSystem : staged)
        RegisterFileSystem(fileSystem.Get());
    return VE_OK;
}

VFileSystemNamespace* VFileSystemNamespace::CreateProcessNamespace(IFolder* userDocuments, IFolder* resources,
                                                                   VError* outError) {
    auto* ns = new VFileSystemNamespace(nullptr);
    VError result = VE_OK;
    if (userDocuments != nullptr) ns->RegisterFileSystem(VString(".USER_HOME_DIRECTORY"), userDocuments, FS_HIDDEN);
    if (resources != nullptr) {
        ns->RegisterFileSystem(VString(".PRODUCT_RESOURCES"), resources, 0);
        VRefPtr<IFile> definition =
            VRefPtr<IFile>::Adopt(resources->_RetainRelativeIFile(VString("fileSystems.json"), FPS_POSIX));
        if (definition && definition->Exists()) result = ns->LoadFromDefinitionFile(definition.Get());
    }
    if (outError != nullptr) *outError = result;
    return ns;
}

} // namespace vela
