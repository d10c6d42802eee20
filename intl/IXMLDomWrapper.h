#pragma once

#include "core/VString.h"
#include "core/VTypes.h"

#include <cstddef>

namespace vela {

class IXMLHandler;
class VBlob;
class VDuration;
class VFile;
class VFileStream;
class VTime;
class VURL;
class VValueSingle;

// Handles on the parser library's DOM objects: a node, an element (also a node), a document (also a node) and
// a memory output of the serialiser. Callers never look inside.
struct VXMLDOMNode_opaque;
struct VXMLDOMElement_opaque;
struct VXMLDOMDocument_opaque;
struct VXMLMemBufFormatTarget_opaque;

// A small API over the XML DOM: documents parsed from bytes, walked and queried, built with typed values,
// replayed into handler trees and serialised. Every operation keeps what the parser library throws inside and
// answers null, false or an empty text instead. Null handles are accepted everywhere and give those answers.
class IXMLDomWrapper {
public:
    IXMLDomWrapper() = delete;

    // ---- Documents
    // A new document parsed from size bytes (not copied; encoding from the document unless given), without
    // validation and without reading any external DTD; null when the bytes are not a well-formed document, name
    // an external entity, or expand more than 10,000 entity references (the error is pushed as VE_XML_ERROR or
    // VE_XML_FATAL_ERROR with its line and column). The caller owns it and frees it with ReleaseNode; it keeps
    // the parser library set up while it lives.
    static VXMLDOMNode_opaque* CreateNodeDocumentFromBuffer(const void* data, size_t size,
                                                            const VString* encoding = nullptr);
    // A deep copy of the node's document, owned by the caller like a parsed one.
    static VXMLDOMNode_opaque* CloneNodeDocument(VXMLDOMNode_opaque* node);
    static VXMLDOMNode_opaque* CloneNodeDocument(VXMLDOMDocument_opaque* document);
    // Frees a node; a document made above is freed whole.
    static void ReleaseNode(VXMLDOMNode_opaque* node);
    // The node itself when it is a document, else its owner document (borrowed).
    static VXMLDOMDocument_opaque* GetNodeDocument(VXMLDOMNode_opaque* node);
    static VXMLDOMNode_opaque* GetNodeFromDocument(VXMLDOMDocument_opaque* document);
    // The document element of the node's document (borrowed).
    static VXMLDOMElement_opaque* GetRootNodeElement(VXMLDOMNode_opaque* node);
    // The document URI of the node's document into url: a text beginning with "file://" read as an encoded URL,
    // any other as a POSIX path. False, url untouched, when the document has no URI or a path that is not
    // absolute; else whether url is a valid URL.
    static bool GetDocumentURL(VXMLDOMNode_opaque* node, VURL& url);
    // Marks the "id" attributes of every element of the node's document (prefixed ones by their namespace, the
    // prefixes "xml" and "xmlns" without declaration) as ID attributes, for FindNodeElementByID.
    static void RegisterNodeIDs(VXMLDOMNode_opaque* node);
    static VXMLDOMElement_opaque* FindNodeElementByID(VXMLDOMNode_opaque* node, const VString& id);

    // ---- Walking
    static int32 GetNumberOfChildrenNodes(VXMLDOMNode_opaque* node);
    // The child at index (0-based); null out of range.
    static VXMLDOMNode_opaque* GetChildNode(VXMLDOMNode_opaque* node, int32 index);
    // The node when it is an element, else null.
    static VXMLDOMElement_opaque* GetNodeElement(VXMLDOMNode_opaque* node);
    static VXMLDOMNode_opaque* GetNodeFromNodeElement(VXMLDOMElement_opaque* element);
    // The tag name; cleared when there is none.
    static void GetNodeElementName(VXMLDOMElement_opaque* element, VString& out);
    // The text of the element's first child when that child is a text node (a CDATA section); cleared otherwise.
    static void GetNodeElementValueString(VXMLDOMElement_opaque* element, VString& out);
    static void GetNodeElementCDATA(VXMLDOMElement_opaque* element, VString& out);
    // That text read by the value's XML form; false when the form refuses it (out then unchanged).
    static bool GetNodeElementValueBoolean(VXMLDOMElement_opaque* element, bool& out);
    static bool GetNodeElementValueLong(VXMLDOMElement_opaque* element, int32& out);
    static bool GetNodeElementValueReal(VXMLDOMElement_opaque* element, double& out);
    static bool GetNodeElementValueTime(VXMLDOMElement_opaque* element, VTime& out);
    static bool GetNodeElementValueDuration(VXMLDOMElement_opaque* element, VDuration& out);
    // The attribute's value ("prefix:name" by the prefix's namespace); false (out cleared) when absent.
    static bool GetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, VString& out);

    // ---- Building
    // A new element of document named qualifiedName: in the namespace its prefix has at parent when there is
    // one, else a plain element of that whole name. Not attached anywhere.
    static VXMLDOMElement_opaque* CreateElement(VXMLDOMDocument_opaque* document, VXMLDOMElement_opaque* parent,
                                                const UniChar* qualifiedName);
    // Appends child (an orphan of parent's document) to parent's children; false when the DOM refuses.
    static bool AppendChild(VXMLDOMNode_opaque* parent, VXMLDOMNode_opaque* child);
    // A new element appended to parent (borrowed), with the value's XML text as its text when one is given.
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                 const VString& value);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, bool value);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, int32 value);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, double value);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name, const VTime& value,
                                                 uint32 options);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                 const VDuration& value, uint32 options);
    static VXMLDOMElement_opaque* AddNodeElement(VXMLDOMElement_opaque* parent, const VString& name,
                                                 const VValueSingle* value);
    // Replaces the element's text: the first child's data when it is a text node, else all children by one text
    // node. False when the DOM refuses.
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VString& value);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, bool value);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, int32 value);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, double value);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VTime& value, uint32 options);
    static bool SetNodeElementValue(VXMLDOMElement_opaque* element, const VDuration& value, uint32 options);
    // Sets the attribute; an empty value removes it when removeWhenEmpty, else sets it empty. An attribute whose
    // (local) name is "id" is marked as ID attribute and *isID (when given) set. False when the DOM refuses
    // (a name that is no XML name, say).
    static bool SetNodeElementAttribute(VXMLDOMElement_opaque* element, const VString& name, const VString& value,
                                        bool removeWhenEmpty, bool* isID);

    // ---- Replaying and serialising
    // Replays node into handler as the SAX layer would: an element asks handler's StartElement for its own
    // handler (none: false), gives it the attributes, text, CDATA, instructions and child elements, then
    // EndElement. Any other node replays its children into handler. False when an element found no handler.
    static bool Parse(VXMLDOMNode_opaque* node, IXMLHandler* handler);
    // Serialises node's document (in its declared encoding, else UTF-8; no byte order mark) into blob at offset,
    // line ends written as one CR each; size receives the bytes written (0 on failure).
    static bool SerializeToBlob(VXMLDOMNode_opaque* node, VBlob* blob, int32 offset, size_t& size, bool prettyPrint);
    // SerializeToBlob's bytes put into stream (open for writing); size receives their count.
    static bool SerializeToFile(VXMLDOMNode_opaque* node, VFileStream& stream, size_t& size, bool prettyPrint);
    // Replaces file's content with SerializeToBlob's bytes, through a file beside it that takes its place only
    // once written whole: a failure leaves the file as it was. False when any step fails.
    static bool WriteToFile(VXMLDOMNode_opaque* node, const VFile& file, bool prettyPrint);
    // Copies what target holds into blob at offset (size: the bytes written); with convertLineEndings, for the
    // UTF-8, UTF-16 and UTF-32 families, each LF and each CR LF becomes one CR.
    static bool CopyMemBufFormatTargetToBlob(VBlob* blob, int32 offset, size_t& size,
                                             VXMLMemBufFormatTarget_opaque* target, const VString& encoding,
                                             bool convertLineEndings);
};

} // namespace vela
