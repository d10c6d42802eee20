// Reads arbitrary text straight into a bag: never crashes, never recurses without bound, and a bag that was read
// writes JSON text (compact or indented) that reads back to an equal bag. The comparison starts from the bag read
// back twice: the first reading may hold what the writer does not keep as it is (integral reals come back as
// integers, marker attributes are left out, objects under one repeated key come back as array items), and a real
// of more than 14 significant digits is written to 14, which may make it integral for the second trip. The first
// byte gives the options: bit 0 the marked date form, bit 1 strict strings, bit 7 UTF-16 text (else UTF-8).
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VValueBag.h"
#include "json/VJSONImporter.h"

#include <cstdint>

namespace {

using namespace vela;

VRefPtr<VValueBag> Read(const VString& text, uint32 options, VError& error) {
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    VJSONImporter importer(text, options);
    error = importer.JSONObjectToBag(*bag);
    return bag;
}

// The bag's text with writerOptions, read again; null when the writer refuses the tree (too deep).
VRefPtr<VValueBag> WriteAndRead(const VValueBag& bag, uint32 writerOptions, uint32 readOptions) {
    VString text;
    if (bag.GetJSONString(text, writerOptions) != VE_OK) return {};
    VError error = VE_OK;
    VRefPtr<VValueBag> back = Read(text, readOptions, error);
    if (error != VE_OK) __builtin_trap(); // the writer's text is always readable
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32 options =
        ((data[0] & 1) != 0 ? VJSONImporter::kAnyDate : 0) | ((data[0] & 2) != 0 ? VJSONImporter::kStrict : 0);
    VString text;
    text.FromBlock(data + 1, size - 1, (data[0] & 0x80) != 0 ? VTC_UTF_16 : VTC_UTF_8);

    VError error = VE_OK;
    VRefPtr<VValueBag> first = Read(text, options, error);
    if (error != VE_OK) return 0;
    VRefPtr<VValueBag> once = WriteAndRead(*first, 0, options);
    if (once.Get() == nullptr) return 0;
    VRefPtr<VValueBag> settled = WriteAndRead(*once, 0, options);
    if (settled.Get() == nullptr) return 0;
    for (uint32 writerOptions : {0u, 8u}) {
        VRefPtr<VValueBag> again = WriteAndRead(*settled, writerOptions, options);
        if (again.Get() == nullptr || !again->EqualTo(*settled)) __builtin_trap();
    }
    return 0;
}
