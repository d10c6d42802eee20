// Arbitrary bytes read as a "fileSystems.json" definition file into a namespace that already holds a file system
// and whose parent holds another (so that "parent" entries can find one): never crashes, no exception gets out. A
// refused definition leaves the namespace exactly as it was. An accepted one, written back as a definition of
// absolute paths (names, root folders and writability) and read into a new namespace, gives the same file systems.
#include "FuzzScratch.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/IFileSystemObject.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

namespace {

using namespace vela;

// Name (UTF-8) to root path and flags of the namespace's own file systems.
using Summary = std::map<std::string, std::tuple<std::u16string, uint32>>;

Summary Summarize(const VFileSystemNamespace& ns) {
    VFileSystemNamespace::FileSystemMap map;
    ns.RetainMapOfFileSystems(map, 0);
    Summary summary;
    for (const auto& [name, fileSystem] : map) {
        const VFilePath root = fileSystem->GetRoot();
        const VString& text = root.GetPath();
        summary[name] = {std::u16string(text.GetCPointer(), size_t(text.GetLength())), fileSystem->GetFlags()};
    }
    return summary;
}

VString Quoted(const VString& text) {
    VString out;
    if (text.GetJSONString(out, 1) != VE_OK) __builtin_trap();
    return out;
}

VString Definition(const VFileSystemNamespace& ns) {
    VFileSystemNamespace::FileSystemMap map;
    ns.RetainMapOfFileSystems(map, 0);
    VString json("[");
    for (const auto& [name, fileSystem] : map) {
        if (json.GetLength() > 1) json.AppendUniChar(u',');
        json.AppendCString("{\"name\":");
        json.AppendString(Quoted(fileSystem->GetName()));
        json.AppendCString(",\"path\":");
        const VFilePath root = fileSystem->GetRoot();
        json.AppendString(Quoted(root.GetPath(FPS_POSIX)));
        json.AppendCString((fileSystem->GetFlags() & FS_CAN_REQUEST_SPACE) != 0 ? ",\"writable\":true}"
                                                                                : ",\"writable\":false}");
    }
    json.AppendUniChar(u']');
    return json;
}

VRefPtr<VFileSystemNamespace> NewNamespace(VFileSystemNamespace* parent, const char* name, const std::string& root) {
    auto ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(parent));
    auto folder = VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(VString((root + "/").c_str()), FPS_POSIX)));
    if (ns->RegisterFileSystem(VString(name), folder.Get(), 0) != VE_OK) __builtin_trap();
    return ns;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& scratch = fuzz::ScratchFolder();
    VRefPtr<VFileSystemNamespace> parent = NewNamespace(nullptr, "base", scratch);
    VRefPtr<VFileSystemNamespace> ns = NewNamespace(parent.Get(), "resources", scratch + "/resources");
    const Summary before = Summarize(*ns);

    const std::string path = fuzz::WriteScratchFile("resources/fileSystems.json", data, size);
    VFile file(VString(path.c_str()), FPS_POSIX);
    if (ns->LoadFromDefinitionFile(&file) != VE_OK) {
        if (Summarize(*ns) != before) __builtin_trap(); // nothing of a refused definition
        return 0;
    }

    const Summary loaded = Summarize(*ns);
    VFile written(VString(fuzz::WriteScratchFile("written.json", "", 0).c_str()), FPS_POSIX);
    if (written.SetContentAsString(Definition(*ns), VTC_UTF_8, eCRM_NATIVE, false) != VE_OK) __builtin_trap();
    auto back = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    if (back->LoadFromDefinitionFile(&written) != VE_OK) __builtin_trap();
    if (Summarize(*back) != loaded) __builtin_trap();
    return 0;
}
