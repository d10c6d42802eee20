#include "intl/VXMLBagHandler.h"

#include "core/VErrorContext.h"
#include "core/VTask.h"
#include "files/IFileSystemObject.h"
#include "files/VStream.h"
#include "intl/IXMLDomWrapper.h"
#include "values/StPackedDictionaryKey.h"
#include "values/VBagArray.h"
#include "values/VStoredData.h"
#include "values/VValueInfo.h"

#include <algorithm>
#include <functional>

namespace vela {

namespace {

// The bag name of an XML name, converted on the stack. A bag name holds at most 255 UTF-8 bytes; a longer XML
// name would silently become another name, so it does not fit.
class StBagName {
public:
    explicit StBagName(const VString& name) noexcept : fKey(name.GetCPointer(), name.GetLength(), fBuffer) {}
    StBagName(const StBagName&) = delete;
    StBagName& operator=(const StBagName&) = delete;

    bool Fits() const noexcept { return fKey.GetKeyLength() > 0; }
    const StPackedDictionaryKey& Key() const noexcept { return fKey; }

private:
    char fBuffer[StPackedDictionaryKey::kMaxLength + 1];
    StPackedDictionaryKey fKey;
};

} // namespace

// ---- VXMLBagHandler

VXMLBagHandler::VXMLBagHandler(VValueBag& bag) {
    fStack.push_back(Level{VRefPtr<VValueBag>(&bag), false});
}

void VXMLBagHandler::_Flush(Level& level, bool nextToChild) {
    if (fPending.IsEmpty()) return;
    const UniChar* text = fPending.GetCPointer();
    const bool blank = std::all_of(text, text + fPending.GetLength(),
                                   [](UniChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; });
    if (!(blank && nextToChild)) level.fBag->AppendToCData(fPending);
    fPending.Clear();
}

void VXMLBagHandler::_Refuse(const VString& name) {
    if (!fFailed) _ThrowError(VE_INVALID_PARAMETER, &name);
    fFailed = true;
}

IXMLHandler* VXMLBagHandler::StartElement(const VString& name) {
    if (fFailed) return nullptr;
    const StBagName key(name);
    if (fStack.size() >= size_t(kStoredDataMaxDepth) || !key.Fits()) {
        _Refuse(name);
        return nullptr;
    }
    Level& parent = fStack.back();
    _Flush(parent, true);
    parent.fHasChildren = true;
    VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag);
    parent.fBag->AddElement(key.Key(), child.Get());
    fStack.push_back(Level{std::move(child), false});
    Retain();
    return this;
}

void VXMLBagHandler::EndElement(const VString&) {
    if (fFailed) return;
    _Flush(fStack.back(), fStack.back().fHasChildren);
    // The bottom bag is the one this handler was made for: its own end tag leaves it in place.
    if (fStack.size() > 1) fStack.pop_back();
}

void VXMLBagHandler::SetAttribute(const VString& name, const VString& value) {
    if (fFailed) return;
    const StBagName key(name);
    if (!key.Fits()) {
        _Refuse(name);
        return;
    }
    fStack.back().fBag->SetString(key.Key(), value);
}

void VXMLBagHandler::SetText(const VString& text) {
    if (!fFailed) fPending.AppendString(text);
}

// ---- VXMLBagHandler_UniqueElement

VXMLBagHandler_UniqueElement::VXMLBagHandler_UniqueElement(VValueBag& bag, const VString& elementName)
    : fBag(&bag), fElementName(elementName) {}

IXMLHandler* VXMLBagHandler_UniqueElement::StartElement(const VString& name) {
    ++fElementCount;
    // The same units need no comparison by the rules of the language, whose set-up cost a bag read of 10,000
    // elements 2% of its instructions.
    if (!fElementName.IsEmpty() && !name.EqualToStringRaw(fElementName) && !name.EqualToString(fElementName, false))
        return nullptr;
    if (fElementCount != 1) return nullptr;
    if (fElementName.IsEmpty()) fElementName = name;
    fChild = VRefPtr<VXMLBagHandler>::Adopt(new VXMLBagHandler(*fBag));
    // Entities met inside the document element are resolved by the handler on top then: the child.
    fChild->SetEntitiesLocalFolder(GetEntitiesPrefix(), GetEntitiesFolder());
    fChild->Retain();
    return fChild.Get();
}

// ---- Loading

namespace {

// Runs parse into bag so that a failure leaves bag as it was: an empty bag is filled in place (and emptied
// again on failure), a bag with content receives a separate result only once the whole document has been read.
// failure is the code of a parse that failed without reporting why.
VError LoadInto(VValueBag& bag, const VString& elementName, VError failure,
                const std::function<bool(VXMLParser&, IXMLHandler*)>& parse, const VString* entitiesPrefix = nullptr,
                IFolder* entitiesFolder = nullptr) {
    StBagXMLLoad loading;
    StErrorContextInstaller errors;
    const bool inPlace = bag.IsEmpty();
    VRefPtr<VValueBag> target = inPlace ? VRefPtr<VValueBag>(&bag) : VRefPtr<VValueBag>::Adopt(new VValueBag);
    VRefPtr<VXMLBagHandler_UniqueElement> root =
        VRefPtr<VXMLBagHandler_UniqueElement>::Adopt(new VXMLBagHandler_UniqueElement(*target, elementName));
    if (entitiesPrefix != nullptr && entitiesFolder != nullptr && entitiesFolder->Exists())
        root->SetEntitiesLocalFolder(*entitiesPrefix, entitiesFolder);
    VXMLParser parser;
    const bool parsed = parse(parser, root.Get());
    VError error = errors.GetLastError();
    if (error == VE_OK && root->Failed()) error = VE_INVALID_PARAMETER;
    if (error == VE_OK && !parsed) error = failure;
    if (error != VE_OK) {
        if (inPlace) bag.Destroy();
        return error;
    }
    if (inPlace) return VE_OK;

    const StPackedDictionaryKey& cdata = VValueBag::CDataAttributeName();
    VString text;
    if (target->GetString(cdata, text)) {
        target->RemoveAttribute(cdata);
        bag.AppendToCData(text);
    }
    return bag.UnionClone(target.Get()) ? VE_OK : VE_MEMORY_FULL;
}

} // namespace

VError LoadBagFromXML(const VString& xml, const VString& elementName, VValueBag& bag, uint32 options) {
    return LoadInto(bag, elementName, VE_XML_FATAL_ERROR,
                    [&](VXMLParser& parser, IXMLHandler* root) { return parser.Parse(xml, root, options); });
}

VError LoadBagFromXML(const void* bytes, size_t length, const VString& elementName, VValueBag& bag, uint32 options) {
    return LoadInto(bag, elementName, VE_XML_FATAL_ERROR,
                    [&](VXMLParser& parser, IXMLHandler* root) { return parser.Parse(bytes, length, root, options); });
}

VError LoadBagFromXML(const IFile* file, const VString& elementName, VValueBag& bag, uint32 options) {
    return LoadInto(bag, elementName, VE_XML_FATAL_ERROR,
                    [&](VXMLParser& parser, IXMLHandler* root) { return parser.Parse(file, root, options); });
}

VError LoadBagFromXML(const IFile* file, const VString& elementName, VValueBag& bag, uint32 options,
                      const VString* entitiesPrefix, IFolder* entitiesFolder) {
    return LoadInto(
        bag, elementName, VE_XML_FATAL_ERROR,
        [&](VXMLParser& parser, IXMLHandler* root) { return parser.Parse(file, root, options); }, entitiesPrefix,
        entitiesFolder);
}

VError LoadBagFromXML(const VString& xml, const VString& elementName, VValueBag& bag, uint32 options,
                      const VString* entitiesPrefix, IFolder* entitiesFolder) {
    return LoadInto(
        bag, elementName, VE_XML_FATAL_ERROR,
        [&](VXMLParser& parser, IXMLHandler* root) { return parser.Parse(xml, root, options); }, entitiesPrefix,
        entitiesFolder);
}

VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, const IFile* file, bool indent) {
    if (file == nullptr) return VE_OK;
    VString text("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    // A bag that has no XML form leaves the file alone.
    if (const VError refused = bag.DumpXML(text, rootName, indent); refused != VE_OK) return refused;
    return file->SetContentAsString(text, VTC_UTF_8, eCRM_NATIVE, false);
}

// ---- Stream envelope

namespace {

constexpr int32 kEnvelopeVersion = 1;

} // namespace

VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream) {
    VString text("<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
    const VError dumped = bag.DumpXML(text, VString("bag"), false);
    if (dumped != VE_OK) return dumped;
    stream->PutLong(kEnvelopeVersion);
    return text.WriteToStream(stream);
}

VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream) {
    StErrorContextInstaller errors;
    int32 version = 0;
    if (const VError error = stream->GetLong(version); error != VE_OK) return error;
    if (version != kEnvelopeVersion) return VE_OK;
    VString text;
    if (const VError error = text.ReadFromStream(stream); error != VE_OK) return error;
    return LoadBagFromXML(text, VString("bag"), bag, 0);
}

// ---- DOM copy

VError ReadBagFromDomXML(VXMLDOMNode_opaque* node, VValueBag& bag) {
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(node);
    if (element == nullptr) return VE_XML_ERROR;
    VString name;
    IXMLDomWrapper::GetNodeElementName(element, name);
    return LoadInto(bag, name, VE_XML_ERROR,
                    [&](VXMLParser&, IXMLHandler* root) { return IXMLDomWrapper::Parse(node, root); });
}

VError WriteBagToDomXML(const VValueBag& bag, VXMLDOMNode_opaque* node, std::vector<VXMLDOMNode_opaque*>* newNodes) {
    VXMLDOMElement_opaque* element = IXMLDomWrapper::GetNodeElement(node);
    if (element == nullptr) return VE_INVALID_PARAMETER;
    return WriteBagToDomXMLElement(bag, element, newNodes) ? VE_OK : VE_UNKNOWN_ERROR;
}

namespace {

bool WriteBagToElement(const VValueBag& bag, VXMLDOMDocument_opaque* document, VXMLDOMElement_opaque* element,
                       std::vector<VXMLDOMNode_opaque*>* newNodes, int32 depth) {
    if (depth > kStoredDataMaxDepth) return false;
    const StPackedDictionaryKey& cdata = VValueBag::CDataAttributeName();
    for (int32 i = 1; i <= bag.GetAttributesCount(); ++i) {
        VString name;
        const VValueSingle* value = bag.GetNthAttribute(i, &name);
        // Character data is no attribute: "<>" is not even an XML name.
        if (value == nullptr || StPackedDictionaryKey(name) == cdata) continue;
        VString text;
        if (value->GetValueInfo()->GetKind() == VString::kKind) {
            value->GetString(text);
        } else {
            // The DOM escapes on output: the value goes in as plain text.
            value->GetXMLString(text, 1);
            text.TranscodeFromXML();
        }
        if (!IXMLDomWrapper::SetNodeElementAttribute(element, name, text, false, nullptr)) return false;
    }
    for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n) {
        VString name;
        VBagArray* list = bag.GetNthElementName(n, &name);
        for (int32 k = 1; list != nullptr && k <= list->GetCount(); ++k) {
            const VValueBag* child = list->GetNth(k);
            if (child == nullptr) continue;
            VXMLDOMElement_opaque* made = IXMLDomWrapper::CreateElement(document, element, name.GetCPointer());
            if (made == nullptr) return false;
            VXMLDOMNode_opaque* madeNode = IXMLDomWrapper::GetNodeFromNodeElement(made);
            if (!IXMLDomWrapper::AppendChild(IXMLDomWrapper::GetNodeFromNodeElement(element), madeNode)) {
                IXMLDomWrapper::ReleaseNode(madeNode);
                return false;
            }
            if (newNodes != nullptr) newNodes->push_back(madeNode);
            if (!WriteBagToElement(*child, document, made, newNodes, depth + 1)) return false;
        }
    }
    return true;
}

} // namespace

bool WriteBagToDomXMLElement(const VValueBag& bag, VXMLDOMElement_opaque* element,
                             std::vector<VXMLDOMNode_opaque*>* newNodes) {
    VXMLDOMDocument_opaque* document = IXMLDomWrapper::GetNodeDocument(IXMLDomWrapper::GetNodeFromNodeElement(element));
    if (document == nullptr) return false;
    return WriteBagToElement(bag, document, element, newNodes, 1);
}

} // namespace vela
