#include "intl/IXMLDomWrapper.h"

#include "core/VError.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFileStream.h"
#include "files/VURL.h"
#include "intl/VXMLParser.h"
#include "intl/platform/XercesSupport.h"
#include "values/VBlob.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cstring>
#include <vector>

namespace vela {

using namespace XERCES_CPP_NAMESPACE;

namespace {

// Elements nested deeper than this are not replayed: the walk recurses.
constexpr int32 kMaxReplayDepth = 1024;

DOMNode* AsNode(VXMLDOMNode_opaque* node) {
    return reinterpret_cast<DOMNode*>(node);
}
VXMLDOMNode_opaque* Opaque(DOMNode* node) {
    return reinterpret_cast<VXMLDOMNode_opaque*>(node);
}
DOMElement* AsElement(VXMLDOMElement_opaque* element) {
    return reinterpret_cast<DOMElement*>(element);
}
VXMLDOMElement_opaque* Opaque(DOMElement* element) {
    return reinterpret_cast<VXMLDOMElement_opaque*>(element);
}
DOMDocument* AsDocument(VXMLDOMDocument_opaque* document) {
    return reinterpret_cast<DOMDocument*>(document);
}
VXMLDOMDocument_opaque* Opaque(DOMDocument* document) {
    return reinterpret_cast<VXMLDOMDocument_opaque*>(document);
}

// Runs call, keeping whatever the DOM throws inside: answers failure then.
template <class Result, class Call> Result Guarded(Result failure, Call&& call) noexcept {
    try {
        return call();
    } catch (...) {
        return failure;
    }
}

DOMDocument* DocumentOf(DOMNode* node) {
    if (node == nullptr) return nullptr;
    if (node->getNodeType() == DOMNode::DOCUMENT_NODE) return static_cast<DOMDocument*>(node);
    return node->getOwnerDocument();
}

DOMImplementation* LoadAndSave() {
    return DOMImplementationRegistry::getDOMImplementation(u"LS");
}

const XMLCh* XMLNamespace() {
    return u"http://www.w3.org/XML/1998/namespace";
}
const XMLCh* XMLNSNamespace() {
    return u"http://www.w3.org/2000/xmlns/";
}

// The namespace of prefix at element: declared there or above, else the two fixed ones; null when unknown.
const XMLCh* NamespaceOfPrefix(DOMElement* element, const VString& prefix) {
    const XMLCh* uri = element->lookupNamespaceURI(prefix.GetCPointer());
    if (uri != nullptr) return uri;
    if (prefix.EqualToStringRaw(VString("xml"))) return XMLNamespace();
    if (prefix.EqualToStringRaw(VString("xmlns"))) return XMLNSNamespace();
    return nullptr;
}

// Splits "prefix:local" (a colon at position 2 or later); false for a name without prefix.
bool SplitPrefixed(const VString& name, VString& prefix, VString& local) {
    const int32 colon = name.FindUniChar(u':');
    if (colon < 2) return false;
    prefix = name.Before(colon);
    local = name.After(colon);
    return true;
}

// Records the first error, which stops the parse, and pushes it on the calling task with its place.
class FatalErrorRecorder : public DOMErrorHandler {
public:
    bool handleError(const DOMError& error) override {
        if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING) return false;
        fFailed = true;
        const DOMLocator* where = error.getLocation();
        XercesSupport::PushParseError(
            error.getSeverity() == DOMError::DOM_SEVERITY_ERROR ? VE_XML_ERROR : VE_XML_FATAL_ERROR, error.getMessage(),
            where != nullptr ? where->getURI() : nullptr, nullptr, where != nullptr ? int64(where->getLineNumber()) : 0,
            where != nullptr ? int64(where->getColumnNumber()) : 0);
        return false;
    }
    bool Failed() const noexcept { return fFailed; }

private:
    bool fFailed = false;
};

// Frees a parser-library object through release() at the end of a block.
template <class T> struct StReleaser {
    explicit StReleaser(T* object) noexcept : fObject(object) {}
    ~StReleaser() {
        if (fObject != nullptr) fObject->release();
    }
    StReleaser(const StReleaser&) = delete;
    StReleaser& operator=(const StReleaser&) = delete;
    T* fObject;
};

// A document made here keeps one count of the parser library set up, given back when it is released.
VXMLDOMNode_opaque* AdoptDocument(DOMDocument* document) {
    if (document == nullptr) return nullptr;
    if (!VXMLParser::Init()) {
        document->release();
        return nullptr;
    }
    return Opaque(static_cast<DOMNode*>(document));
}

} // namespace

// ---- Documents

VXMLDOMNode_opaque* IXMLDomWrapper::CreateNodeDocumentFromBuffer(const void* data, size_t size,
                                                                 const VString* encoding) {
    StXMLParserUser user;
    if (!user.IsValid()) return nullptr;
    return Guarded<VXMLDOMNode_opaque*>(nullptr, [&]() -> VXMLDOMNode_opaque* {
        DOMImplementation* implementation = LoadAndSave();
        if (implementation == nullptr) return nullptr;
        // Outlive the parser, which keeps pointers to them.
        SecurityManager security;
        security.setEntityExpansionLimit(XercesSupport::kMaxEntityExpansions);
        FatalErrorRecorder errors;
        StReleaser<DOMLSParser> parser(implementation->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr,
                                                                      XMLPlatformUtils::fgMemoryManager));
        DOMConfiguration* config = parser.fObject->getDomConfig();
        // No entities folder here: every external entity is refused.
        config->setParameter(XMLUni::fgXercesSecurityManager, &security);
        config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
        config->setParameter(XMLUni::fgDOMEntities, true);
        config->setParameter(XMLUni::fgDOMNamespaces, true);
        config->setParameter(XMLUni::fgXercesValidationErrorAsFatal, true);
        config->setParameter(XMLUni::fgXercesContinueAfterFatalError, false);
        config->setParameter(XMLUni::fgDOMValidate, false);
        config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
        config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
        config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&errors));

        auto* source = new MemBufInputSource(static_cast<const XMLByte*>(data), size, "Blob", false);
        if (encoding != nullptr) source->setEncoding(encoding->GetCPointer());
        Wrapper4InputSource input(source, true);
        DOMDocument* document = parser.fObject->parse(&input);
        if (errors.Failed() && document != nullptr) {
            document->release();
            document = nullptr;
        }
        return AdoptDocument(document);
    });
}

VXMLDOMNode_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMNode_opaque* node) {
    return Guarded<VXMLDOMNode_opaque*>(nullptr, [&]() -> VXMLDOMNode_opaque* {
        DOMDocument* document = DocumentOf(AsNode(node));
        if (document == nullptr) return nullptr;
        auto* copy = static_cast<DOMDocument*>(document->cloneNode(true));
        if (copy != nullptr) copy->setDocumentURI(document->getDocumentURI());
        return AdoptDocument(copy);
    });
}

VXMLDOMNode_opaque* IXMLDomWrapper::CloneNodeDocument(VXMLDOMDocument_opaque* document) {
    return CloneNodeDocument(GetNodeFromDocument(document));
}

void IXMLDomWrapper::ReleaseNode(VXMLDOMNode_opaque* node) {
    DOMNode* dom = AsNode(node);
    if (dom == nullptr) return;
    const bool document = Guarded(false, [&] { return dom->getNodeType() == DOMNode::DOCUMENT_NODE; });
    Guarded(false, [&] {
        dom->release();
        return true;
    });
    if (document) VXMLParser::DeInit();
}

VXMLDOMDocument_opaque* IXMLDomWrapper::GetNodeDocument(VXMLDOMNode_opaque* node) {
    return Guarded<VXMLDOMDocument_opaque*>(nullptr, [&] { return Opaque(DocumentOf(AsNode(node))); });
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromDocument(VXMLDOMDocument_opaque* document) {
    return Opaque(static_cast<DOMNode*>(AsDocument(document)));
}

bool IXMLDomWrapper::GetDocumentURL(VXMLDOMNode_opaque* node, VURL& url) {
    return Guarded(false, [&] {
        const DOMDocument* document = DocumentOf(AsNode(node));
        const XMLCh* uri = document != nullptr ? document->getDocumentURI() : nullptr;
        if (uri == nullptr || uri[0] == 0) return false;
        const VString text(uri);
        if (text.BeginsWithRawString(VString("file://"))) {
            url.FromString(text, true);
            return url.IsParsed();
        }
        // A relative path would be read as a volume name: it locates nothing.
        if (text.GetUniChar(1) != u'/') return false;
        url.FromFilePath(VFilePath(text, FPS_POSIX));
        return url.IsParsed();
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetRootNodeElement(VXMLDOMNode_opaque* node) {
    return Guarded<VXMLDOMElement_opaque*>(nullptr, [&]() -> VXMLDOMElement_opaque* {
        DOMDocument* document = DocumentOf(AsNode(node));
        return document != nullptr ? Opaque(document->getDocumentElement()) : nullptr;
    });
}

namespace {

void RegisterIDs(DOMElement* element, int32 depth) {
    if (depth > kMaxReplayDepth) return;
    DOMNamedNodeMap* attributes = element->getAttributes();
    for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i) {
        const VString name(attributes->item(i)->getNodeName());
        VString prefix, local;
        if (SplitPrefixed(name, prefix, local)) {
            if (const XMLCh* uri = NamespaceOfPrefix(element, prefix)) {
                if (local.EqualToStringRaw(VString("id"))) element->setIdAttributeNS(uri, local.GetCPointer(), true);
                continue;
            }
        }
        if (name.EqualToStringRaw(VString("id"))) element->setIdAttribute(name.GetCPointer(), true);
    }
    for (DOMElement* child = element->getFirstElementChild(); child != nullptr; child = child->getNextElementSibling())
        RegisterIDs(child, depth + 1);
}

} // namespace

void IXMLDomWrapper::RegisterNodeIDs(VXMLDOMNode_opaque* node) {
    Guarded(false, [&] {
        DOMDocument* document = DocumentOf(AsNode(node));
        if (document == nullptr) return false;
        if (DOMElement* root = document->getDocumentElement()) RegisterIDs(root, 1);
        return true;
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::FindNodeElementByID(VXMLDOMNode_opaque* node, const VString& id) {
    return Guarded<VXMLDOMElement_opaque*>(nullptr, [&]() -> VXMLDOMElement_opaque* {
        DOMDocument* document = DocumentOf(AsNode(node));
        return document != nullptr ? Opaque(document->getElementById(id.GetCPointer())) : nullptr;
    });
}

// ---- Walking

int32 IXMLDomWrapper::GetNumberOfChildrenNodes(VXMLDOMNode_opaque* node) {
    return Guarded(0, [&] { return node != nullptr ? int32(AsNode(node)->getChildNodes()->getLength()) : 0; });
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetChildNode(VXMLDOMNode_opaque* node, int32 index) {
    return Guarded<VXMLDOMNode_opaque*>(nullptr, [&]() -> VXMLDOMNode_opaque* {
        if (node == nullptr || index < 0) return nullptr;
        return Opaque(AsNode(node)->getChildNodes()->item(XMLSize_t(index)));
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::GetNodeElement(VXMLDOMNode_opaque* node) {
    DOMNode* dom = AsNode(node);
    if (dom == nullptr || dom->getNodeType() != DOMNode::ELEMENT_NODE) return nullptr;
    return Opaque(static_cast<DOMElement*>(dom));
}

VXMLDOMNode_opaque* IXMLDomWrapper::GetNodeFromNodeElement(VXMLDOMElement_opaque* element) {
    return Opaque(static_cast<DOMNode*>(AsElement(element)));
}

void IXMLDomWrapper::GetNodeElementName(VXMLDOMElement_opaque* element, VString& out) {
    out.Clear();
    if (element == nullptr) return;
    Guarded(false, [&] {
        if (const XMLCh* name = AsElement(element)->getTagName()) out.FromUniCString(name);
        return true;
    });
}

namespace {

// The text of the element's first child when that child is of type; empty otherwise.
VString FirstChildText(VXMLDOMElement_opaque* element, DOMNode::NodeType type) {
    VString text;
    if (element == nullptr) return text;
    Guarded(false, [&] {
        DOMNode* child = AsElement(element)->getFirstChild();
        if (child != nullptr && child->getNodeType() == type && child->getNodeValue() != nullptr)
            text.FromUniCString(child->getNodeValue());
        return true;
    });
    return text;
}

} // namespace

void IXMLDomWrapper::GetNodeElementValueString(VXMLDOMElement_opaque* element, VString& out) {
    out = FirstChildText(element, DOMNode::TEXT_NODE);
}

void IXMLDomWrapper::GetNodeElementCDATA(VXMLDOMElement_opaque* element, VString& out) {
    out = FirstChildText(element, DOMNode::CDATA_SECTION_NODE);
}

bool IXMLDomWrapper::GetNodeElementValueBoolean(VXMLDOMElement_opaque* element, bool& out) {
    VBoolean value;
    if (!value.FromXMLString(FirstChildText(element, DOMNode::TEXT_NODE))) return false;
    out = value.GetBoolean();
    return true;
}

bool IXMLDomWrapper::GetNodeElementValueLong(VXMLDOMElement_opaque* element, int32& out) {
    VLong value;
    if (!value.FromXMLString(FirstChildText(element, DOMNode::TEXT_NODE))) return false;
    out = value.GetLong();
    return true;
}

bool IXMLDomWrapper::GetNodeElementValueReal(VXMLDOMElement_opaque* element, double& out) {
    VReal value;
    if (!value.FromXMLString(FirstChildText(element, DOMNode::TEXT_NODE))) return false;
    out = value.GetReal();
    return true;
}

bool IXMLDomWrapper::GetNodeElementValueTime(VXMLDOMElement_opaque* element, VTime& out) {
    VTime value;
    if (!value.FromXMLString(FirstChildText(element, DOMNode::TEXT_NODE))) return false;
    out.FromTime(value);
    return true;
}

bool IXMLDomWrapper::GetNodeElementValueDuration(VXMLDOMElement_opaque* element, VDuration& out) {
    VDuration value;
    if (!value.FromXMLString(FirstChildText(element, DOMNode::TEXT_NODE))) return false;
    out.FromDuration(value);
    return true;
}

bool IXMLDomWrapper::GetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, VString& out) {
    out.Clear();
    if (element == nullptr) return false;
    return Guarded(false, [&] {
        DOMElement* dom = AsElement(element);
        VString prefix, local;
        const DOMAttr* attribute = nullptr;
        const XMLCh* uri = SplitPrefixed(name, prefix, local) ? NamespaceOfPrefix(dom, prefix) : nullptr;
        if (uri != nullptr)
            attribute = dom->getAttributeNodeNS(uri, local.GetCPointer());
        else
            attribute = dom->getAttributeNode(name.GetCPointer());
        if (attribute == nullptr) return false;
        out.FromUniCString(attribute->getValue());
        return true;
    });
}

// ---- Building

VXMLDOMElement_opaque* IXMLDomWrapper::CreateElement(VXMLDOMDocument_opaque* document, VXMLDOMElement_opaque* parent,
                                                     const UniChar* qualifiedName) {
    if (document == nullptr || qualifiedName == nullptr) return nullptr;
    return Guarded<VXMLDOMElement_opaque*>(nullptr, [&]() -> VXMLDOMElement_opaque* {
        const VString name(qualifiedName);
        VString prefix, local;
        const XMLCh* uri = nullptr;
        if (parent != nullptr && SplitPrefixed(name, prefix, local))
            uri = AsElement(parent)->lookupNamespaceURI(prefix.GetCPointer());
        if (uri != nullptr) {
            DOMElement* element = AsDocument(document)->createElementNS(uri, name.GetCPointer());
            element->setPrefix(prefix.GetCPointer());
            return Opaque(element);
        }
        return Opaque(AsDocument(document)->createElement(name.GetCPointer()));
    });
}

bool IXMLDomWrapper::AppendChild(VXMLDOMNode_opaque* parent, VXMLDOMNode_opaque* child) {
    if (parent == nullptr || child == nullptr) return false;
    return Guarded(false, [&] {
        AsNode(parent)->appendChild(AsNode(child));
        return true;
    });
}

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name) {
    if (parent == nullptr) return nullptr;
    return Guarded<VXMLDOMElement_opaque*>(nullptr, [&]() -> VXMLDOMElement_opaque* {
        DOMDocument* document = AsElement(parent)->getOwnerDocument();
        if (document == nullptr) return nullptr;
        DOMElement* element = document->createElement(name.GetCPointer());
        AsElement(parent)->appendChild(element);
        return Opaque(element);
    });
}

namespace {

VXMLDOMElement_opaque* AddWithText(VXMLDOMElement_opaque* parent, const VString& name, const VString& text) {
    VXMLDOMElement_opaque* element = IXMLDomWrapper::AddNodeElement(parent, name);
    if (element == nullptr) return nullptr;
    const bool added = Guarded(false, [&] {
        DOMElement* dom = AsElement(element);
        dom->appendChild(dom->getOwnerDocument()->createTextNode(text.GetCPointer()));
        return true;
    });
    return added ? element : nullptr;
}

VString XMLText(const VValueSingle& value, uint32 options = 0) {
    VString text;
    value.GetXMLString(text, options);
    return text;
}

VString RealText(double value) {
    VString text;
    VReal::RealToXMLString(value, text);
    return text;
}

VString BooleanText(bool value) {
    return VString(value ? "true" : "false");
}

} // namespace

VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                      const VString& value) {
    return AddWithText(parent, name, value);
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, bool value) {
    return AddWithText(parent, name, BooleanText(value));
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, int32 value) {
    return AddWithText(parent, name, VString::ToString(value));
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                      double value) {
    return AddWithText(parent, name, RealText(value));
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                      const VTime& value, uint32 options) {
    return AddWithText(parent, name, XMLText(value, options));
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                      const VDuration& value, uint32 options) {
    return AddWithText(parent, name, XMLText(value, options));
}
VXMLDOMElement_opaque* IXMLDomWrapper::AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                      const VValueSingle* value) {
    return value != nullptr ? AddWithText(parent, name, XMLText(*value)) : AddNodeElement(parent, name);
}

bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VString& value) {
    if (element == nullptr) return false;
    return Guarded(false, [&] {
        DOMElement* dom = AsElement(element);
        DOMNode* first = dom->getFirstChild();
        if (first != nullptr && first->getNodeType() == DOMNode::TEXT_NODE) {
            first->setNodeValue(value.GetCPointer());
            return true;
        }
        while (DOMNode* child = dom->getFirstChild())
            dom->removeChild(child)->release();
        dom->appendChild(dom->getOwnerDocument()->createTextNode(value.GetCPointer()));
        return true;
    });
}
bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, bool value) {
    return SetNodeElementValue(element, BooleanText(value));
}
bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, int32 value) {
    return SetNodeElementValue(element, VString::ToString(value));
}
bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, double value) {
    return SetNodeElementValue(element, RealText(value));
}
bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VTime& value, uint32 options) {
    return SetNodeElementValue(element, XMLText(value, options));
}
bool IXMLDomWrapper::SetNodeElementValue(VXMLDOMElement_opaque* element, const VDuration& value, uint32 options) {
    return SetNodeElementValue(element, XMLText(value, options));
}

bool IXMLDomWrapper::SetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, const VString& value,
                                             bool removeWhenEmpty, bool* isID) {
    if (isID != nullptr) *isID = false;
    if (element == nullptr) return false;
    return Guarded(false, [&] {
        DOMElement* dom = AsElement(element);
        VString prefix, local;
        const XMLCh* uri = SplitPrefixed(name, prefix, local) ? NamespaceOfPrefix(dom, prefix) : nullptr;
        const VString& localName = uri != nullptr ? local : name;
        if (value.IsEmpty() && removeWhenEmpty) {
            if (uri != nullptr)
                dom->removeAttributeNS(uri, local.GetCPointer());
            else
                dom->removeAttribute(name.GetCPointer());
            return true;
        }
        if (uri != nullptr)
            dom->setAttributeNS(uri, name.GetCPointer(), value.GetCPointer());
        else
            dom->setAttribute(name.GetCPointer(), value.GetCPointer());
        if (localName.EqualToStringRaw(VString("id"))) {
            if (uri != nullptr)
                dom->setIdAttributeNS(uri, local.GetCPointer(), true);
            else
                dom->setIdAttribute(name.GetCPointer(), true);
            if (isID != nullptr) *isID = true;
        }
        return true;
    });
}

// ---- Replaying

namespace {

bool ReplayChildren(DOMNode* node, IXMLHandler* handler, int32 depth);

bool ReplayElement(DOMElement* element, IXMLHandler* handler, int32 depth) {
    if (depth > kMaxReplayDepth) return false;
    const VString tag(element->getTagName());
    IXMLHandler* child = handler->StartElement(tag);
    if (child == nullptr) return false;
    struct StRelease {
        IXMLHandler* fHandler;
        ~StRelease() { fHandler->Release(); }
    } release{child};
    DOMNamedNodeMap* attributes = element->getAttributes();
    for (XMLSize_t i = 0; attributes != nullptr && i < attributes->getLength(); ++i) {
        DOMNode* attribute = attributes->item(i);
        child->SetAttribute(VString(attribute->getNodeName()), VString(attribute->getNodeValue()));
    }
    const bool result = ReplayChildren(element, child, depth);
    child->EndElement(tag);
    return result;
}

bool ReplayChildren(DOMNode* node, IXMLHandler* handler, int32 depth) {
    bool result = true;
    for (DOMNode* child = node->getFirstChild(); child != nullptr; child = child->getNextSibling()) {
        switch (child->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
            result = ReplayElement(static_cast<DOMElement*>(child), handler, depth + 1);
            break;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            handler->SetText(VString(child->getNodeValue()));
            break;
        case DOMNode::PROCESSING_INSTRUCTION_NODE: {
            auto* instruction = static_cast<DOMProcessingInstruction*>(child);
            if (instruction->getTarget() != nullptr && instruction->getData() != nullptr)
                handler->processingInstruction(VString(instruction->getTarget()), VString(instruction->getData()));
            break;
        }
        default:
            break;
        }
    }
    return result;
}

} // namespace

bool IXMLDomWrapper::Parse(VXMLDOMNode_opaque* node, IXMLHandler* handler) {
    if (node == nullptr || handler == nullptr) return false;
    return Guarded(false, [&] {
        DOMNode* dom = AsNode(node);
        if (dom->getNodeType() == DOMNode::ELEMENT_NODE)
            return ReplayElement(static_cast<DOMElement*>(dom), handler, 1);
        return ReplayChildren(dom, handler, 0);
    });
}

// ---- Serialising

namespace {

// Each LF and each CR LF of units (Unit wide) becomes one CR; answers the new count.
template <class Unit> size_t LineEndsToCR(Unit* units, size_t count) {
    size_t out = 0;
    for (size_t i = 0; i < count; ++i) {
        Unit unit = units[i];
        if (unit == Unit('\r') && i + 1 < count && units[i + 1] == Unit('\n')) ++i;
        if (unit == Unit('\n')) unit = Unit('\r');
        units[out++] = unit;
    }
    return out;
}

// The width of the units of encoding whose line ends are converted; 0 for the others.
size_t UnitWidth(const VString& encoding) {
    auto is = [&](const char* name) { return encoding.EqualToString(VString(name), false); };
    if (is("UTF-8")) return 1;
    if (is("UTF-16")) return 2;
    if (is("UTF-32") || is("UCS4") || is("UCS-4") || is("UCS_4")) return 4;
    return 0;
}

} // namespace

bool IXMLDomWrapper::CopyMemBufFormatTargetToBlob(VBlob* blob, int32 offset, size_t& size,
                                                  VXMLMemBufFormatTarget_opaque* target, const VString& encoding,
                                                  bool convertLineEndings) {
    size = 0;
    if (blob == nullptr || target == nullptr || offset < 0) return false;
    auto* buffer = reinterpret_cast<MemBufFormatTarget*>(target);
    const XMLByte* bytes = buffer->getRawBuffer();
    size_t count = buffer->getLen();
    const size_t width = convertLineEndings ? UnitWidth(encoding) : 0;
    std::vector<uint8> converted;
    if (width != 0) {
        try {
            converted.assign(bytes, bytes + count);
        } catch (const std::bad_alloc&) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        count -= count % width;
        switch (width) {
        case 1:
            count = LineEndsToCR(converted.data(), count);
            break;
        case 2:
            count = LineEndsToCR(reinterpret_cast<uint16*>(converted.data()), count / 2) * 2;
            break;
        default:
            count = LineEndsToCR(reinterpret_cast<uint32*>(converted.data()), count / 4) * 4;
            break;
        }
        bytes = converted.data();
    }
    if (blob->PutData(bytes, count, offset) != VE_OK) return false;
    size = count;
    return true;
}

bool IXMLDomWrapper::SerializeToBlob(VXMLDOMNode_opaque* node, VBlob* blob, int32 offset, size_t& size,
                                     bool prettyPrint) {
    size = 0;
    if (node == nullptr || blob == nullptr) return false;
    return Guarded(false, [&] {
        DOMDocument* document = DocumentOf(AsNode(node));
        DOMImplementation* implementation = LoadAndSave();
        if (document == nullptr || implementation == nullptr) return false;
        StReleaser<DOMLSSerializer> serializer(static_cast<DOMImplementationLS*>(implementation)->createLSSerializer());
        if (serializer.fObject == nullptr) return false;
        DOMConfiguration* config = serializer.fObject->getDomConfig();
        if (config->canSetParameter(XMLUni::fgDOMWRTFormatPrettyPrint, prettyPrint))
            config->setParameter(XMLUni::fgDOMWRTFormatPrettyPrint, prettyPrint);
        if (config->canSetParameter(XMLUni::fgDOMWRTBOM, false)) config->setParameter(XMLUni::fgDOMWRTBOM, false);
        serializer.fObject->setNewLine(u"\n");
        StReleaser<DOMLSOutput> output(static_cast<DOMImplementationLS*>(implementation)->createLSOutput());
        const XMLCh* declared = document->getXmlEncoding();
        const VString encoding(declared != nullptr && *declared != 0 ? declared : u"UTF-8");
        output.fObject->setEncoding(encoding.GetCPointer());
        MemBufFormatTarget target(1023);
        output.fObject->setByteStream(&target);
        if (!serializer.fObject->write(AsNode(node), output.fObject)) return false;
        return CopyMemBufFormatTargetToBlob(blob, offset, size,
                                            reinterpret_cast<VXMLMemBufFormatTarget_opaque*>(&target), encoding, true);
    });
}

bool IXMLDomWrapper::SerializeToFile(VXMLDOMNode_opaque* node, VFileStream& stream, size_t& size, bool prettyPrint) {
    VBlobWithPtr blob;
    if (!SerializeToBlob(node, &blob, 0, size, prettyPrint)) return false;
    if (stream.PutData(blob.GetDataPtr(), size) == VE_OK) return true;
    size = 0;
    return false;
}

bool IXMLDomWrapper::WriteToFile(VXMLDOMNode_opaque* node, const VFile& file, bool prettyPrint) {
    VBlobWithPtr blob;
    size_t size = 0;
    if (!SerializeToBlob(node, &blob, 0, size, prettyPrint)) return false;
    return file.SetContent(blob.GetDataPtr(), size) == VE_OK;
}

} // namespace vela
