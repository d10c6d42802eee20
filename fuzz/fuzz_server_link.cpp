// Arbitrary bytes read as a server link file ("ZiduvozServer.Zolink", a bag under "database_shortcut" in XML) from
// disk: never crashes, no exception gets out, nothing is read from outside, and a refused file leaves the bag
// empty. The link's fields read from an accepted file without crashing; the bag, written to a link file by the
// writer the updater uses and read again, reads back, and from the second reading on it stays the same (the
// first may hold what XML normalises on the way back).
#include "FuzzScratch.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "intl/VXMLBagHandler.h"
#include "intl/VXMLParser.h"
#include "values/VValueBag.h"

#include <cstdint>
#include <string>

namespace {

using namespace vela;

const VString kRoot("database_shortcut");

VRefPtr<VValueBag> Read(const VFile& file) {
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (LoadBagFromXML(&file, kRoot, *bag, 0) != VE_OK) {
        if (!bag->IsEmpty()) __builtin_trap();
        return {};
    }
    bool flag = false;
    VString text;
    bag->GetBool(StPackedDictionaryKey("is_remote"), flag);
    bag->GetString(StPackedDictionaryKey("server_database_name"), text);
    bag->GetString(StPackedDictionaryKey("server_path"), text);
    bag->GetString(StPackedDictionaryKey("cache_folder_name"), text);
    bag->GetBool(StPackedDictionaryKey("remote_shared_resources"), flag);
    return bag;
}

// The bag through the writer and the reader; null when the writer refuses the tree.
VRefPtr<VValueBag> WriteAndRead(const VValueBag& bag) {
    const std::string path = fuzz::WriteScratchFile("written/ZiduvozServer.Zolink", "", 0);
    VFile file(VString(path.c_str()), FPS_POSIX);
    if (WriteBagToFileInXML(bag, kRoot, &file, false) != VE_OK) return {};
    VRefPtr<VValueBag> back = Read(file);
    if (back.Get() == nullptr) __builtin_trap(); // the writer's file reads back
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StXMLParserUser sUser;
    const std::string path = fuzz::WriteScratchFile("Contents/Database/ZiduvozServer.Zolink", data, size);
    VRefPtr<VValueBag> bag = Read(VFile(VString(path.c_str()), FPS_POSIX));
    if (bag.Get() == nullptr) return 0;
    VRefPtr<VValueBag> once = WriteAndRead(*bag);
    if (once.Get() == nullptr) return 0;
    VRefPtr<VValueBag> twice = WriteAndRead(*once);
    if (twice.Get() == nullptr || !twice->EqualTo(*once)) __builtin_trap();
    return 0;
}
