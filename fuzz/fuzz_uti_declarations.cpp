// Arbitrary bytes loaded as a property list of type-identifier declarations: never crashes, no exception gets out,
// nothing is read from outside, and a refused document registers nothing. The identifiers a document declared,
// written back as declarations of their own (description, tags, conformance targets, texts escaped) into a new
// registry, read back with the same identifiers, descriptions and tags.
#include "FuzzScratch.h"

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "intl/VUTI.h"
#include "intl/VUTIManager.h"
#include "intl/VXMLParser.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace vela;

// The text as XML 1.1 character data: markup characters, controls and the characters that XML 1.1 reads as line
// ends as character references, so that nothing changes on the way back.
std::string Escaped(const VString& text) {
    std::string out;
    for (int32 i = 0; i < text.GetLength(); ++i) {
        const uint32 c = text.GetCPointer()[i];
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == '&' || c == '<' || c == '>' || c == '"' ||
            c == '\'') {
            out += "&#" + std::to_string(c) + ";";
        } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.GetLength()) {
            const uint32 low = text.GetCPointer()[++i];
            const uint32 point = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            out += "&#" + std::to_string(point) + ";";
        } else if (c < 0x80) {
            out += char(c);
        } else {
            out += "&#" + std::to_string(c) + ";";
        }
    }
    return out;
}

std::string Strings(const std::vector<VString>& texts) {
    std::string out = "<array>";
    for (const VString& text : texts)
        out += "<string>" + Escaped(text) + "</string>";
    return out + "</array>";
}

std::string Declarations(const VUTIManager& manager) {
    std::string xml = "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                      "<key>UTExportedTypeDeclarations</key><array>\n";
    for (const auto& [identifier, uti] : manager.GetRegistry()) {
        xml += "<dict><key>UTTypeIdentifier</key><string>" + Escaped(uti->GetIdentifier()) + "</string>";
        xml += "<key>UTTypeDescription</key><string>" + Escaped(uti->GetDescription()) + "</string>";
        std::vector<VString> parents;
        for (const auto& [parent, link] : uti->GetParentUTIsMap())
            parents.push_back(parent);
        xml += "<key>UTTypeConformsTo</key>" + Strings(parents);
        xml += "<key>UTTypeTagSpecification</key><dict>";
        xml += std::string("<key>") + VUTIManager::kTagExtension + "</key>" + Strings(uti->GetExtensionsVector());
        xml += std::string("<key>") + VUTIManager::kTagOSType + "</key>" + Strings(uti->GetOSTypesVector());
        xml += std::string("<key>") + VUTIManager::kTagMIMEType + "</key>" + Strings(uti->GetMIMETypesVector());
        xml += "</dict></dict>\n";
    }
    return xml + "</array></dict></plist>\n";
}

bool SameTexts(const std::vector<VString>& a, const std::vector<VString>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!a[i].EqualToStringRaw(b[i])) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StXMLParserUser sUser;
    const std::string path = fuzz::WriteScratchFile("declared.plist", data, size);
    VFile file(VString(path.c_str()), FPS_POSIX);
    auto manager = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
    if (!manager->LoadXMLFile(&file)) {
        if (!manager->GetRegistry().empty()) __builtin_trap(); // never half of a refused document
        return 0;
    }

    const std::string written = Declarations(*manager);
    const std::string again = fuzz::WriteScratchFile("written.plist", written.data(), written.size());
    VFile writtenFile(VString(again.c_str()), FPS_POSIX);
    auto back = VRefPtr<VUTIManager>::Adopt(new VUTIManager);
    if (!back->LoadXMLFile(&writtenFile)) __builtin_trap();
    if (back->GetRegistry().size() != manager->GetRegistry().size()) __builtin_trap();
    for (const auto& [identifier, uti] : manager->GetRegistry()) {
        const VUTI* read = back->FindUTI(identifier);
        if (read == nullptr || !read->GetIdentifier().EqualToStringRaw(uti->GetIdentifier()) ||
            !read->GetDescription().EqualToStringRaw(uti->GetDescription()) ||
            !SameTexts(read->GetExtensionsVector(), uti->GetExtensionsVector()) ||
            !SameTexts(read->GetOSTypesVector(), uti->GetOSTypesVector()) ||
            !SameTexts(read->GetMIMETypesVector(), uti->GetMIMETypesVector()) ||
            read->GetParentUTIsMap().size() != uti->GetParentUTIsMap().size())
            __builtin_trap();
    }
    return 0;
}
