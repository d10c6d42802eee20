// Arbitrary bytes into the XML DOM wrapper's buffer parse: never crashes, no exception gets out, nothing is read
// from outside (no validation, no external DTD). A parsed document is walked whole (names, texts, typed values,
// attributes, IDs) and written out; written in a Unicode form, the bytes parse again and, written once more, give
// the same bytes.
#include "intl/IXMLDomWrapper.h"
#include "intl/VXMLParser.h"
#include "values/VBlob.h"
#include "values/VDuration.h"
#include "values/VTime.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using namespace vela;

// A parsed document that frees itself.
struct Document {
    explicit Document(VXMLDOMNode_opaque* node) : fNode(node) {}
    ~Document() { IXMLDomWrapper::ReleaseNode(fNode); }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    VXMLDOMNode_opaque* fNode;
};

void Walk(VXMLDOMNode_opaque* document, VXMLDOMNode_opaque* node) {
    if (VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(node)) {
        VString text;
        IXMLDomWrapper::GetNodeElementName(element, text);
        IXMLDomWrapper::GetNodeElementValueString(element, text);
        IXMLDomWrapper::GetNodeElementCDATA(element, text);
        bool flag;
        int32 number;
        double real;
        VTime time;
        VDuration duration;
        IXMLDomWrapper::GetNodeElementValueBoolean(element, flag);
        IXMLDomWrapper::GetNodeElementValueLong(element, number);
        IXMLDomWrapper::GetNodeElementValueReal(element, real);
        IXMLDomWrapper::GetNodeElementValueTime(element, time);
        IXMLDomWrapper::GetNodeElementValueDuration(element, duration);
        // An element found by its "id" is an element of the same document.
        if (IXMLDomWrapper::GetNodeElementAttribute(element, VString("id"), text)) {
            VXMLDOMElement_opaque* found = IXMLDomWrapper::FindNodeElementByID(document, text);
            if (found != nullptr && IXMLDomWrapper::GetNodeDocument(IXMLDomWrapper::GetNodeFromNodeElement(found)) !=
                                        IXMLDomWrapper::GetNodeDocument(document))
                __builtin_trap();
        }
    }
    const int32 count = IXMLDomWrapper::GetNumberOfChildrenNodes(node);
    for (int32 i = 0; i < count; ++i) {
        VXMLDOMNode_opaque* child = IXMLDomWrapper::GetChildNode(node, i);
        if (child == nullptr) __builtin_trap(); // within the count
        Walk(document, child);
    }
    if (IXMLDomWrapper::GetChildNode(node, count) != nullptr) __builtin_trap();
}

// Whether the written bytes are in a Unicode form (UTF-8, UTF-16 or UTF-32, told by the declaration or by the
// zero bytes of a wide form): only these are required to read back and to give the same bytes for the same tree.
// Legacy and 7-bit forms are not: the parser library's UTF-7 writer, for one, writes text it cannot read back.
bool IsUnicodeForm(const VBlobWithPtr& blob) {
    const auto* bytes = static_cast<const char*>(blob.GetDataPtr());
    const size_t size = blob.GetSize();
    if (size >= 2 && (bytes[0] == 0 || bytes[1] == 0)) return true;
    const std::string head(bytes, size < 100 ? size : 100);
    const size_t at = head.find("encoding=\"");
    if (at == std::string::npos) return true; // UTF-8 by default
    std::string name = head.substr(at + 10, 6);
    for (char& c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name.compare(0, 5, "UTF-8") == 0 || name.compare(0, 6, "UTF-16") == 0 || name.compare(0, 6, "UTF-32") == 0;
}

bool Serialize(VXMLDOMNode_opaque* node, VBlobWithPtr& blob) {
    size_t size = 0;
    if (!IXMLDomWrapper::SerializeToBlob(node, &blob, 0, size, false)) return false;
    if (size != blob.GetSize()) __builtin_trap();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Held for the whole run, as a process that parses holds it: otherwise every document sets the parser library
    // up and tears it down again.
    static StXMLParserUser sUser;
    Document document(IXMLDomWrapper::CreateNodeDocumentFromBuffer(data, size));
    if (document.fNode == nullptr) return 0;
    IXMLDomWrapper::RegisterNodeIDs(document.fNode);
    Walk(document.fNode, document.fNode);
    {
        Document copy(IXMLDomWrapper::CloneNodeDocument(document.fNode));
        if (copy.fNode == nullptr) __builtin_trap();
    }

    VBlobWithPtr first;
    if (!Serialize(document.fNode, first)) return 0; // an encoding the writer cannot produce, say
    if (!IsUnicodeForm(first)) return 0;
    Document again(IXMLDomWrapper::CreateNodeDocumentFromBuffer(first.GetDataPtr(), first.GetSize()));
    if (again.fNode == nullptr) __builtin_trap(); // the writer's XML reads back
    VBlobWithPtr second;
    if (!Serialize(again.fNode, second)) __builtin_trap();
    if (second.GetSize() != first.GetSize() ||
        std::memcmp(second.GetDataPtr(), first.GetDataPtr(), first.GetSize()) != 0)
        __builtin_trap();
    return 0;
}
