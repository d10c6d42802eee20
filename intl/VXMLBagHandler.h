#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/VXMLParser.h"
#include "values/VValueBag.h"

#include <vector>

namespace vela {

class IFile;
class IFolder;
class VStream;
struct VXMLDOMElement_opaque;
struct VXMLDOMNode_opaque;

// Fills a bag tree while a document is parsed: each element becomes a child bag (appended to the list of its
// name), its attributes string attributes of that bag, its character data the bag's "<>". Only white space
// between child elements (the line breaks and indentation that DumpXML puts there) is left out, so that a bag
// written and read back is the same bag. One instance serves a whole subtree. Nesting deeper than stored bags may go,
// or a name longer than a bag name may be, makes it refuse the rest of the document (Failed) after raising
// VE_INVALID_PARAMETER.
class VXMLBagHandler : public VObject, public IXMLHandler {
public:
    // bag (retained) receives the content of the element this handler is given for.
    explicit VXMLBagHandler(VValueBag& bag);

    IXMLHandler* StartElement(const VString& name) override;
    void EndElement(const VString& name) override;
    void SetAttribute(const VString& name, const VString& value) override;
    void SetText(const VString& text) override;

    bool Failed() const noexcept { return fFailed; }

private:
    struct Level {
        VRefPtr<VValueBag> fBag;
        bool fHasChildren = false;
    };

    void _Refuse(const VString& name);
    // Stores the pending text in level's bag, unless it is white space next to a child element.
    void _Flush(Level& level, bool nextToChild);

    std::vector<Level> fStack;
    // Character data of the top level not yet stored: white space is kept back until what follows it is known.
    // Only the top level ever has some (a child's start flushes its parent's), and the line breaks between
    // elements fit the inline area.
    VStr63 fPending;
    bool fFailed = false;
};

// The root handler of a bag document: accepts one document element, named elementName (compared without regard
// to case or diacritics; empty: any name), whose content goes into the bag itself. Another element name is
// skipped without error. Its entities folder serves the whole document.
class VXMLBagHandler_UniqueElement : public VObject, public IXMLHandler {
public:
    VXMLBagHandler_UniqueElement(VValueBag& bag, const VString& elementName);

    IXMLHandler* StartElement(const VString& name) override;

    // Whether the handler of the document element refused part of it.
    bool Failed() const noexcept { return fChild && fChild->Failed(); }

private:
    VRefPtr<VValueBag> fBag;
    VString fElementName;
    uint32 fElementCount = 0;
    VRefPtr<VXMLBagHandler> fChild;
};

// Reads the document element named elementName (empty: any) of the XML text into bag, with the parse options
// of VXMLParser. Answers the error that stopped it (the last one raised meanwhile, else VE_XML_FATAL_ERROR for a
// parse that failed without a report) and then leaves the bag exactly as it was; VE_OK otherwise, also when the
// document element has another name (the bag then stays as it was).
VError LoadBagFromXML(const VString& xml, const VString& elementName, VValueBag& bag, uint32 options);
// The same over the bytes of a document (encoding from its declaration or byte order mark).
VError LoadBagFromXML(const void* bytes, size_t length, const VString& elementName, VValueBag& bag, uint32 options);

// The same over a file (VXMLParser::Parse of a file): a file that cannot be read answers the file layer's error.
VError LoadBagFromXML(const IFile* file, const VString& elementName, VValueBag& bag, uint32 options);

// The same, reading the external entities whose system identifier begins with entitiesPrefix from
// entitiesFolder (when both are given and the folder exists).
VError LoadBagFromXML(const IFile* file, const VString& elementName, VValueBag& bag, uint32 options,
                      const VString* entitiesPrefix, IFolder* entitiesFolder);
VError LoadBagFromXML(const VString& xml, const VString& elementName, VValueBag& bag, uint32 options,
                      const VString* entitiesPrefix, IFolder* entitiesFolder);

// Replaces the content of file with, in UTF-8, the XML declaration directly followed by the bag's XML under the
// element rootName (indented when asked). A null file answers VE_OK and writes nothing; when writing fails the
// error is answered and the file stays as it was (IFile::SetContent replaces it whole).
VError WriteBagToFileInXML(const VValueBag& bag, const VString& rootName, const IFile* file, bool indent);

// The stream envelope of a bag: a 32-bit 1 in the stream's byte order, then, as a string in its stream form, the
// XML declaration for UTF-16 followed by the bag's XML under the element "bag". Answers the error of writing
// the text, or DumpXML's refusal (nothing written).
VError WriteBagToStreamInXML(const VValueBag& bag, VStream* stream);
// Reads that envelope into bag as LoadBagFromXML does. Another version than 1 reads nothing more and answers
// VE_OK; a stream error is answered with the bag unchanged.
VError ReadBagFromStreamInXML(VValueBag& bag, VStream* stream);

// Reads the DOM element node (named as it is) into bag as LoadBagFromXML reads a document. A node that is not an
// element, or a walk that failed without a report, answers VE_XML_ERROR.
VError ReadBagFromDomXML(VXMLDOMNode_opaque* node, VValueBag& bag);
// Writes bag into the DOM element node: its attributes as attributes (values by their XML form), its element
// lists as child elements, recursively; its character data is not written. newNodes (when given) receives each
// element made. VE_INVALID_PARAMETER when node is not an element, VE_UNKNOWN_ERROR when the DOM refused a name.
VError WriteBagToDomXML(const VValueBag& bag, VXMLDOMNode_opaque* node,
                        std::vector<VXMLDOMNode_opaque*>* newNodes = nullptr);
// The same on an element; false when the element has no document or the DOM refused a name (what was written
// before stays).
bool WriteBagToDomXMLElement(const VValueBag& bag, VXMLDOMElement_opaque* element,
                             std::vector<VXMLDOMNode_opaque*>* newNodes = nullptr);

} // namespace vela
