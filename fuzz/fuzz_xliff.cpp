// Arbitrary bytes loaded as an XLIFF file (".xlf") by a localization manager: never crashes, no exception gets out,
// nothing is read from outside, and a document the parser refuses still answers 0 (what was read before stays).
// Every lookup then answers without crashing, and loading the same file again, into the tables already filled,
// is accepted too. The first byte picks the manager's dialect and whether the language filter applies.
#include "FuzzScratch.h"

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "intl/VLocalizationManager.h"
#include "intl/VXMLParser.h"
#include "values/VValueBag.h"

#include <cstdint>
#include <vector>

namespace {

using namespace vela;

constexpr uint32 kFrenchCanada = 3084;
constexpr uint32 kNoLanguage = 0xFFFFFFFE;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StXMLParserUser sUser;
    if (size < 1) return 0;
    const uint32 dialect = (data[0] & 1) != 0 ? kFrenchCanada : kNoLanguage;
    const bool wholeFolder = (data[0] & 2) != 0;
    ++data, --size;

    const std::string path = fuzz::WriteScratchFile("units.xlf", data, size);
    VFile file(VString(path.c_str()), FPS_POSIX);
    auto manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(dialect));
    if (manager->LoadFile(&file, wholeFolder) != VE_OK) __builtin_trap();
    if (manager->LoadFile(&file, !wholeFolder) != VE_OK) __builtin_trap();

    VString out;
    manager->LocalizeStringWithKey(VString("title"), out);
    manager->LocalizeErrorMessage(MakeLibraryError(3), out);
    std::vector<VString> texts;
    manager->LocalizeGroupOfStringsWithAStrSharpID(1, texts);
    manager->GetOrderedStringsOfGroup(VString("menu"), texts);
    std::vector<VRefPtr<const VValueBag>> bags;
    manager->RetainGroupBagsByRestype(VString("x-menu"), bags);
    if (const VValueBag* bag = manager->RetainGroupBag(VString("menu"))) bag->Release();
    manager->ClearLocalizations();
    return 0;
}
