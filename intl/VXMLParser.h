#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VString.h"

#include <cstddef>

namespace vela {

class IFile;
class IFolder;
class VFile;

// XML parse errors: component 'xmlc', 2 for an error the parser went on after, 3 for the fatal error that stopped
// it. Each carries "message", "systemID", "publicID", "line" and "column".
constexpr uint32 kComponentXML = FourCC("xmlc");
constexpr VError VE_XML_ERROR = MakeVError(kComponentXML, 2);
constexpr VError VE_XML_FATAL_ERROR = MakeVError(kComponentXML, 3);

// The receiver of one element's events while a document is parsed. A handler answers StartElement with the
// handler of the child (a reference for the caller) or null to skip the child's whole subtree; it then receives
// the child's attributes in document order, its character data (possibly in several pieces) and its children,
// and finally EndElement with the same name. Names come without namespace prefix.
class IXMLHandler : public IRefCountable {
public:
    IXMLHandler() = default;
    IXMLHandler(const IXMLHandler&) = delete;
    IXMLHandler& operator=(const IXMLHandler&) = delete;
    ~IXMLHandler() override;

    // Null: the element and everything inside it is skipped.
    virtual IXMLHandler* StartElement(const VString& name);
    virtual void EndElement(const VString& name);
    virtual void SetAttribute(const VString& name, const VString& value);
    virtual void SetText(const VString& text);
    // An "xml-stylesheet" instruction becomes StartStyleSheet, one SetStyleSheetAttribute per name="value" pair
    // (quotes removed) and EndStyleSheet; other instructions are ignored.
    virtual void processingInstruction(const VString& target, const VString& data);
    virtual void StartStyleSheet();
    virtual void SetStyleSheetAttribute(const VString& name, const VString& value);
    virtual void EndStyleSheet();
    // The file an external entity's system identifier names, with a reference for the caller; null leaves it
    // to the parser's entities folder, and refuses it when that has none either. The default reads it from the
    // handler's entities folder (VXMLParser::ResolveEntityFromFolder).
    virtual VFile* ResolveEntity(const VString& systemID);

    // Entities whose system identifier begins with prefix are read from folder (retained; null: none).
    void SetEntitiesLocalFolder(const VString& prefix, IFolder* folder);

    // U+0020, tab, line feed, form feed and carriage return.
    static bool WCharIsSpace(UniChar c) noexcept;
    // Whether the code unit may appear in an XML 1.0 document (a surrogate half counts as allowed).
    static bool IsXMLChar(UniChar c) noexcept;

protected:
    // For handlers that hand their entities folder on to the handlers they make.
    const VString& GetEntitiesPrefix() const noexcept { return fEntitiesPrefix; }
    IFolder* GetEntitiesFolder() const noexcept { return fEntitiesFolder; }

private:
    VString fEntitiesPrefix;
    IFolder* fEntitiesFolder = nullptr;
};

// A handler that takes in a whole subtree and keeps nothing.
class VNullXMLHandler : public VObject, public IXMLHandler {
public:
    // Itself, retained.
    IXMLHandler* StartElement(const VString& name) override;
};

// The parsing front of the library. One object may serve several parses one after another; nothing of a parse
// survives into the next but the schema locations. Parse errors are pushed on the calling task's error context
// as VE_XML_ERROR / VE_XML_FATAL_ERROR; nothing is ever read from the network. External entities and DTDs are
// read only from the entities folders (the handlers' or the parser's): any other is refused with a fatal error.
// A document may expand at most 10,000 references to declared entities, nested ones included;
// one more is a fatal error where it stands.
//
// Option bits of Parse:
//   kValidateAlways 1   validate (else kValidateNever 2 turns validation off; neither: validate when the document
//                       declares a grammar)
//   kNamespaces 4       namespace processing
//   kLoadExternalDTD 8  read the external DTD when validation is off
//   kDefaultedAttributes 16  also pass attributes the DTD defaulted
//   kSchema 32          (without kValidateNever) schema processing, the schema locations, and namespaces
class VXMLParser : public VObject {
public:
    static constexpr uint32 kValidateAlways = 0x01;
    static constexpr uint32 kValidateNever = 0x02;
    static constexpr uint32 kNamespaces = 0x04;
    static constexpr uint32 kLoadExternalDTD = 0x08;
    static constexpr uint32 kDefaultedAttributes = 0x10;
    static constexpr uint32 kSchema = 0x20;

    VXMLParser() = default;
    VXMLParser(const VXMLParser&) = delete;
    VXMLParser& operator=(const VXMLParser&) = delete;
    ~VXMLParser() override;

    // Parses length bytes (encoding from their declaration or byte order mark) into root (which may be null);
    // the system identifier is "frommem". True when the parser met no error.
    bool Parse(const void* bytes, size_t length, IXMLHandler* root, uint32 options);
    // Parses a file, its POSIX path being the system identifier. A file
    // object of the library is read by the parser as it goes; any other IFile is read whole first, and when
    // that fails Parse answers false with the file layer's error standing.
    bool Parse(const IFile* file, IXMLHandler* root, uint32 options);
    // Parses the UTF-16 units of text, whatever encoding its declaration names.
    bool Parse(const VString& text, IXMLHandler* root, uint32 options);

    // Applied with kSchema: locations of schemas given outside the documents.
    void SetExternalSchemaLocation(const VString& location) { fExternalSchemaLocation = location; }
    void SetExternalNoNamespaceSchemaLocation(const VString& location) {
        fExternalNoNamespaceSchemaLocation = location;
    }

    // Entities that no handler resolves and whose system identifier begins with prefix are read from folder
    // (retained; null: none).
    void SetEntitiesLocalFolder(const VString& prefix, IFolder* folder);
    // The file of systemID in this parser's entities folder (ResolveEntityFromFolder), for the caller to release.
    VFile* ResolveEntity(const VString& systemID) const;
    // The file that systemID names inside folder when it begins with prefix (compared without regard to case):
    // the rest, its "/" separating folder names, read relative to folder. Null for a null folder, another
    // beginning, a rest that is not a file path or that has an empty, "." or ".." part (the folder is never
    // left). Whether the file exists is not looked at. The caller releases the file.
    static VFile* ResolveEntityFromFolder(const VString& prefix, const IFolder* folder, const VString& systemID);

    // The parser library is set up by the first Init and torn down by the DeInit that balances the last one;
    // each user (a manager, a parse, a document of the DOM wrapper) holds one count. Thread-safe. False when the
    // library could not be set up (the count is then not taken).
    static bool Init();
    static void DeInit();
    // Whether the parser library is set up now (tests).
    static bool IsInited();

private:
    // Parses source (an InputSource of the parser library, made by the caller after the set-up).
    template <class MakeSource> bool _Parse(MakeSource&& makeSource, IXMLHandler* root, uint32 options);

    VString fEntitiesPrefix;
    IFolder* fEntitiesFolder = nullptr;
    VString fExternalSchemaLocation;
    VString fExternalNoNamespaceSchemaLocation;
};

// Holds one count of the parser library for a block (VXMLParser::Init / DeInit). IsValid is false when it could
// not be set up.
class StXMLParserUser {
public:
    StXMLParserUser() noexcept : fValid(VXMLParser::Init()) {}
    ~StXMLParserUser() {
        if (fValid) VXMLParser::DeInit();
    }
    StXMLParserUser(const StXMLParserUser&) = delete;
    StXMLParserUser& operator=(const StXMLParserUser&) = delete;

    bool IsValid() const noexcept { return fValid; }

private:
    bool fValid;
};

} // namespace vela
