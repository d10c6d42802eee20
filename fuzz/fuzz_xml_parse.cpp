// Arbitrary bytes into the XML parser and into bags read from XML: never crashes, no exception gets out, nothing
// is fetched from the network (the parser has no network access). A refused document leaves the bag exactly as
// it was; a bag that was read writes XML that reads back, and from the second reading on the text is stable
// (the first reading may hold what XML normalises on the way back: carriage returns, line breaks in attributes).
// The first byte gives the parse options (bits 0-5) and whether the bag starts with content (bit 7).
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/VXMLBagHandler.h"
#include "intl/VXMLParser.h"
#include "values/VValueBag.h"

#include <cstdint>

namespace {

using namespace vela;

VRefPtr<VValueBag> NewBag(bool withContent) {
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (withContent) {
        bag->SetString("a", VString("old"));
        bag->AddElement("c", VRefPtr<VValueBag>::Adopt(new VValueBag).Get());
    }
    return bag;
}

// The bag's XML read back into a new bag; null when the writer refuses the tree.
VRefPtr<VValueBag> WriteAndRead(const VValueBag& bag, VString& text) {
    text.Clear();
    if (bag.DumpXML(text, VString("r"), false) != VE_OK) return {};
    VRefPtr<VValueBag> back = NewBag(false);
    if (LoadBagFromXML(text, VString("r"), *back, 0) != VE_OK) __builtin_trap(); // the writer's XML reads back
    return back;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Held for the whole run, as a manager that parses holds it in a process: without it every parse sets the
    // parser library up and tears it down again.
    static StXMLParserUser sUser;
    if (size < 1) return 0;
    // Validation and external DTDs stay as the caller chose; schemas are not explored (nothing to resolve them).
    const uint32 options = data[0] & (VXMLParser::kValidateAlways | VXMLParser::kValidateNever |
                                      VXMLParser::kNamespaces | VXMLParser::kDefaultedAttributes);
    const bool withContent = (data[0] & 0x80) != 0;
    ++data, --size;

    {
        VXMLParser parser;
        VRefPtr<VNullXMLHandler> root = VRefPtr<VNullXMLHandler>::Adopt(new VNullXMLHandler);
        parser.Parse(data, size, root.Get(), options);
    }

    VRefPtr<VValueBag> bag = NewBag(withContent);
    VRefPtr<VValueBag> before = VRefPtr<VValueBag>::Adopt(bag->Clone());
    if (LoadBagFromXML(data, size, VString(), *bag, options) != VE_OK) {
        if (!bag->EqualTo(*before)) __builtin_trap(); // never half filled
        return 0;
    }
    VString first, second, third;
    VRefPtr<VValueBag> once = WriteAndRead(*bag, first);
    if (once.Get() == nullptr) return 0;
    VRefPtr<VValueBag> twice = WriteAndRead(*once, second);
    if (twice.Get() == nullptr) __builtin_trap();
    WriteAndRead(*twice, third);
    if (!third.EqualToStringRaw(second)) __builtin_trap();
    return 0;
}
