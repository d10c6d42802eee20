#include "intl/VXMLParser.h"

#include "core/CVSTR.h"
#include "core/VErrorBase.h"
#include "core/VMemoryBuffer.h"
#include "core/VRefPtr.h"
#include "files/IFileSystemObject.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "intl/platform/XercesSupport.h"

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLDocumentHandler.hpp>
#include <xercesc/framework/XMLElementDecl.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/EntityResolver.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLChar.hpp>
#include <xercesc/util/XMLException.hpp>

#include <algorithm>
#include <bit>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vela {

using namespace XERCES_CPP_NAMESPACE;

// ---- IXMLHandler defaults

IXMLHandler::~IXMLHandler() {
    ReleaseRefCountable(&fEntitiesFolder);
}

void IXMLHandler::SetEntitiesLocalFolder(const VString& prefix, IFolder* folder) {
    RetainRefCountable(folder);
    ReleaseRefCountable(&fEntitiesFolder);
    fEntitiesFolder = folder;
    fEntitiesPrefix = prefix;
}

VFile* IXMLHandler::ResolveEntity(const VString& systemID) {
    return VXMLParser::ResolveEntityFromFolder(fEntitiesPrefix, fEntitiesFolder, systemID);
}

IXMLHandler* IXMLHandler::StartElement(const VString&) {
    return nullptr;
}
void IXMLHandler::EndElement(const VString&) {}
void IXMLHandler::SetAttribute(const VString&, const VString&) {}
void IXMLHandler::SetText(const VString&) {}
void IXMLHandler::StartStyleSheet() {}
void IXMLHandler::SetStyleSheetAttribute(const VString&, const VString&) {}
void IXMLHandler::EndStyleSheet() {}

bool IXMLHandler::WCharIsSpace(UniChar c) noexcept {
    return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D;
}

bool IXMLHandler::IsXMLChar(UniChar c) noexcept {
    return XMLChar1_0::isXMLChar(c);
}

namespace {

// A name="value" token of a style-sheet instruction: quotes (double, else single) removed, then blanks.
void UnquoteStyleSheetToken(VString& token) {
    const int32 length = token.GetLength();
    if (length >= 2) {
        const UniChar first = token.GetUniChar(1);
        const UniChar last = token.GetUniChar(length);
        if ((first == u'"' && last == u'"') || (first == u'\'' && last == u'\'')) token.SubString(2, length - 2);
    }
    token.RemoveWhiteSpaces();
}

} // namespace

void IXMLHandler::processingInstruction(const VString& target, const VString& data) {
    if (target.IsEmpty() || data.IsEmpty() || !target.EqualToString(VString("xml-stylesheet"), true)) return;
    StartStyleSheet();
    VString token;
    VString name;
    bool haveName = false;
    auto finish = [&]() {
        UnquoteStyleSheetToken(token);
        if (haveName) {
            if (!name.IsEmpty()) SetStyleSheetAttribute(name, token);
            haveName = false;
        } else {
            name = token;
        }
    };
    const UniChar* units = data.GetCPointer();
    for (int32 i = 0; i < data.GetLength(); ++i) {
        const UniChar c = units[i];
        if (c == u'=') {
            if (!token.IsEmpty()) name = token;
            haveName = true;
            token.Clear();
        } else if (WCharIsSpace(c)) {
            if (!token.IsEmpty()) {
                finish();
                token.Clear();
            }
        } else {
            token.AppendUniChar(c);
        }
    }
    if (!token.IsEmpty() && haveName) finish();
    EndStyleSheet();
}

// The memory of one parse. It frees at its end whatever the parser library left allocated: the library (3.2.4)
// leaks the declaration of an external DTD subset that it skips, once per such document.
class StParseMemory final : public MemoryManager {
public:
    StParseMemory() noexcept { fHead.fPrevious = fHead.fNext = &fHead; }
    ~StParseMemory() override {
        while (fHead.fNext != &fHead)
            deallocate(fHead.fNext + 1);
    }
    StParseMemory(const StParseMemory&) = delete;
    StParseMemory& operator=(const StParseMemory&) = delete;

    MemoryManager* getExceptionMemoryManager() override { return XMLPlatformUtils::fgMemoryManager; }

    void* allocate(XMLSize_t size) override {
        Link* link = static_cast<Link*>(::operator new(sizeof(Link) + size));
        link->fPrevious = &fHead;
        link->fNext = fHead.fNext;
        fHead.fNext->fPrevious = link;
        fHead.fNext = link;
        return link + 1;
    }
    void deallocate(void* block) override {
        if (block == nullptr) return;
        Link* link = static_cast<Link*>(block) - 1;
        link->fPrevious->fNext = link->fNext;
        link->fNext->fPrevious = link->fPrevious;
        ::operator delete(link);
    }

private:
    // Keeps the blocks that follow it aligned as the library expects (twice a pointer).
    struct alignas(2 * sizeof(void*)) Link {
        Link* fPrevious;
        Link* fNext;
    };
    Link fHead;
};

IXMLHandler* VNullXMLHandler::StartElement(const VString&) {
    Retain();
    return this;
}

// ---- The adapter from Xerces' callbacks to the handler stack

// Turns the parser's events into calls on a stack of handlers, one entry per open element; an entry is null
// for an element nobody handles (its whole subtree is then skipped).
class SAX_Handlers : public XMLDocumentHandler, public EntityResolver, public ErrorHandler {
public:
    SAX_Handlers(const VXMLParser* parser, bool namespaces, bool defaultedAttributes, IXMLHandler* root)
        : fParser(parser), fNamespaces(namespaces), fDefaultedAttributes(defaultedAttributes) {
        fStack.push_back(RetainRefCountable(root));
    }
    ~SAX_Handlers() override {
        for (IXMLHandler* handler : fStack)
            if (handler != nullptr) handler->Release();
    }
    SAX_Handlers(const SAX_Handlers&) = delete;
    SAX_Handlers& operator=(const SAX_Handlers&) = delete;

    void startElement(const XMLElementDecl& decl, const unsigned int, const XMLCh* const,
                      const RefVectorOf<XMLAttr>& attributes, const XMLSize_t count, const bool isEmpty,
                      const bool) override {
        IXMLHandler* top = fStack.back();
        const CVSTR_struct name = View(decl.getBaseName());
        IXMLHandler* child = top != nullptr ? top->StartElement(name) : nullptr;
        if (child == nullptr) {
            if (!isEmpty) fStack.push_back(nullptr);
            return;
        }
        // The stack's reference and StartElement's are taken before anything can throw.
        std::unique_ptr<IXMLHandler, void (*)(IXMLHandler*)> owned(child, [](IXMLHandler* h) { h->Release(); });
        if (!isEmpty) fStack.push_back(RetainRefCountable(child));
        for (XMLSize_t i = 0; i < count; ++i) {
            const XMLAttr* attribute = attributes.elementAt(i);
            if (!attribute->getSpecified() && !fDefaultedAttributes) continue;
            const XMLCh* attributeName = fNamespaces ? attribute->getName() : attribute->getQName();
            child->SetAttribute(View(attributeName), View(attribute->getValue()));
        }
        if (isEmpty) child->EndElement(name);
    }

    void endElement(const XMLElementDecl& decl, const unsigned int, const bool, const XMLCh* const) override {
        IXMLHandler* top = fStack.back();
        fStack.pop_back();
        if (top == nullptr) return;
        std::unique_ptr<IXMLHandler, void (*)(IXMLHandler*)> owned(top, [](IXMLHandler* h) { h->Release(); });
        top->EndElement(View(decl.getBaseName()));
    }

    void docCharacters(const XMLCh* const chars, const XMLSize_t length, const bool) override {
        IXMLHandler* top = fStack.back();
        if (top == nullptr || length == 0) return;
        // A run longer than a string can hold is cut: no document of ours gets near it. The run is not
        // terminated: it is copied, into a buffer kept from run to run, and read there by the handler, which
        // copies only what it keeps.
        const size_t units = std::min<XMLSize_t>(length, VString::kMaxLength);
        fText.assign(chars, units);
        top->SetText(CVSTR_struct(fText.c_str(), int32(units)));
    }

    void docPI(const XMLCh* const target, const XMLCh* const data) override {
        IXMLHandler* top = fStack.back();
        if (target == nullptr || data == nullptr || top == nullptr) return;
        top->processingInstruction(View(target), View(data));
    }

    void docComment(const XMLCh* const) override {}
    void endDocument() override {}
    void endEntityReference(const XMLEntityDecl&) override {}
    void ignorableWhitespace(const XMLCh* const, const XMLSize_t, const bool) override {}
    void resetDocument() override {}
    void startDocument() override {}
    void startEntityReference(const XMLEntityDecl&) override {}
    void XMLDecl(const XMLCh* const, const XMLCh* const, const XMLCh* const, const XMLCh* const) override {}

    // External entities and DTDs come from the entities folders only: what neither the nearest handler nor the
    // parser resolves is refused (the parser is told not to open anything itself), so a document cannot pull in
    // a file of its choosing. Inside a skipped element the nearest handler is the one that skipped it.
    InputSource* resolveEntity(const XMLCh* const, const XMLCh* const systemId) override {
        if (systemId == nullptr) return nullptr;
        const auto nearest = std::find_if(fStack.rbegin(), fStack.rend(), [](IXMLHandler* h) { return h != nullptr; });
        const VString id(systemId);
        VRefPtr<VFile> file;
        if (nearest != fStack.rend()) file = VRefPtr<VFile>::Adopt((*nearest)->ResolveEntity(id));
        if (!file && fParser != nullptr) file = VRefPtr<VFile>::Adopt(fParser->ResolveEntity(id));
        if (!file) return nullptr;
        VString path;
        if (file->GetPlatformPath(path, FPS_POSIX) != VE_OK) return nullptr;
        return new LocalFileInputSource(path.GetCPointer());
    }

    void warning(const SAXParseException&) override {}
    void error(const SAXParseException& exception) override { Report(VE_XML_ERROR, exception); }
    void fatalError(const SAXParseException& exception) override { Report(VE_XML_FATAL_ERROR, exception); }
    void resetErrors() override {}

    // The parser's zero-terminated names and values are read in place for the length of a callback.
    static CVSTR_struct View(const XMLCh* text) noexcept {
        if (text == nullptr) return CVSTR_struct(u"");
        const size_t length = std::char_traits<XMLCh>::length(text);
        return CVSTR_struct(text, int32(std::min<size_t>(length, VString::kMaxLength)));
    }

    static void Report(VError code, const SAXParseException& exception) {
        XercesSupport::PushParseError(code, exception.getMessage(), exception.getSystemId(), exception.getPublicId(),
                                      int64(exception.getLineNumber()), int64(exception.getColumnNumber()));
    }

private:
    const VXMLParser* fParser;
    const bool fNamespaces;
    const bool fDefaultedAttributes;
    // Each non-null entry holds one reference.
    std::deque<IXMLHandler*> fStack;
    std::u16string fText;
};

// ---- VXMLParser

VXMLParser::~VXMLParser() {
    ReleaseRefCountable(&fEntitiesFolder);
}

void VXMLParser::SetEntitiesLocalFolder(const VString& prefix, IFolder* folder) {
    RetainRefCountable(folder);
    ReleaseRefCountable(&fEntitiesFolder);
    fEntitiesFolder = folder;
    fEntitiesPrefix = prefix;
}

VFile* VXMLParser::ResolveEntity(const VString& systemID) const {
    return ResolveEntityFromFolder(fEntitiesPrefix, fEntitiesFolder, systemID);
}

VFile* VXMLParser::ResolveEntityFromFolder(const VString& prefix, const IFolder* folder, const VString& systemID) {
    if (folder == nullptr || !systemID.BeginsWith(prefix, false)) return nullptr;
    const VString rest = systemID.After(prefix.GetLength());
    std::vector<VString> parts;
    rest.GetSubStrings(u'/', parts, true);
    if (parts.empty()) return nullptr;
    VString relative;
    for (const VString& part : parts) {
        // Empty parts would read as "go up" in the internal path form, like "..": the folder is never left.
        if (part.IsEmpty() || part.EqualToStringRaw(VString(".")) || part.EqualToStringRaw(VString("..")))
            return nullptr;
        if (part.FindUniChar(u':') > 0) return nullptr;
        if (!relative.IsEmpty()) relative.AppendUniChar(u':');
        relative.AppendString(part);
    }
    const VFilePath base = folder->GetPath();
    const VFilePath path(base, relative, FPS_SYSTEM);
    if (!path.IsValid() || !path.IsFile() || !path.IsChildOf(base)) return nullptr;
    return new VFile(path);
}

bool VXMLParser::Init() {
    return XercesSupport::Init();
}

void VXMLParser::DeInit() {
    XercesSupport::DeInit();
}

bool VXMLParser::IsInited() {
    return XercesSupport::IsInited();
}

namespace {

const XMLCh* const kFromMemory = u"frommem";

} // namespace

bool VXMLParser::Parse(const void* bytes, size_t length, IXMLHandler* root, uint32 options) {
    return _Parse(
        [&]() -> std::unique_ptr<InputSource> {
            return std::make_unique<MemBufInputSource>(static_cast<const XMLByte*>(bytes), length, kFromMemory);
        },
        root, options);
}

bool VXMLParser::Parse(const VString& text, IXMLHandler* root, uint32 options) {
    const char16_t* encoding = std::endian::native == std::endian::little ? u"UTF-16LE" : u"UTF-16BE";
    return _Parse(
        [&]() -> std::unique_ptr<InputSource> {
            auto source = std::make_unique<MemBufInputSource>(reinterpret_cast<const XMLByte*>(text.GetCPointer()),
                                                              size_t(text.GetLength()) * sizeof(UniChar), kFromMemory);
            source->setEncoding(encoding);
            return source;
        },
        root, options);
}

bool VXMLParser::Parse(const IFile* file, IXMLHandler* root, uint32 options) {
    if (file == nullptr) return false;
    VString path;
    if (file->GetPlatformPath(path, FPS_POSIX) != VE_OK) return false;
    if (dynamic_cast<const VFile*>(file) != nullptr) {
        return _Parse(
            [&]() -> std::unique_ptr<InputSource> {
                return std::make_unique<LocalFileInputSource>(path.GetCPointer());
            },
            root, options);
    }
    VMemoryBuffer<1024, 2, 1048576> content;
    if (file->GetContent(content) != VE_OK) return false;
    return _Parse(
        [&]() -> std::unique_ptr<InputSource> {
            return std::make_unique<MemBufInputSource>(static_cast<const XMLByte*>(content.GetDataPtr()),
                                                       content.GetDataSize(), path.GetCPointer());
        },
        root, options);
}

template <class MakeSource> bool VXMLParser::_Parse(MakeSource&& makeSource, IXMLHandler* root, uint32 options) {
    StXMLParserUser user;
    if (!user.IsValid()) {
        XercesSupport::PushParseError(VE_XML_FATAL_ERROR, u"the XML parser could not be set up", kFromMemory, nullptr,
                                      0, 0);
        return false;
    }
    try {
        // Declared first, destroyed last: the parser's blocks go back to it.
        StParseMemory memory;
        SecurityManager security;
        security.setEntityExpansionLimit(XercesSupport::kMaxEntityExpansions);
        SAXParser parser(nullptr, &memory);
        parser.setSecurityManager(&security);
        parser.setDisableDefaultEntityResolution(true);
        if (options & kValidateAlways)
            parser.setValidationScheme(SAXParser::Val_Always);
        else if (options & kValidateNever)
            parser.setValidationScheme(SAXParser::Val_Never);
        else
            parser.setValidationScheme(SAXParser::Val_Auto);
        parser.setDoSchema(false);
        if ((options & (kSchema | kValidateNever)) == kSchema) {
            parser.setDoSchema(true);
            if (!fExternalSchemaLocation.IsEmpty())
                parser.setExternalSchemaLocation(fExternalSchemaLocation.GetCPointer());
            options |= kNamespaces;
            if (!fExternalNoNamespaceSchemaLocation.IsEmpty())
                parser.setExternalNoNamespaceSchemaLocation(fExternalNoNamespaceSchemaLocation.GetCPointer());
        }
        parser.setDoNamespaces((options & kNamespaces) != 0);
        parser.setLoadExternalDTD((options & kLoadExternalDTD) != 0);

        SAX_Handlers adapter(this, (options & kNamespaces) != 0, (options & kDefaultedAttributes) != 0, root);
        parser.installAdvDocHandler(&adapter);
        parser.setErrorHandler(&adapter);
        parser.setEntityResolver(&adapter);
        const std::unique_ptr<InputSource> source = makeSource();
        parser.parse(*source);
        return parser.getErrorCount() == 0;
    } catch (const XMLException& exception) {
        XercesSupport::PushParseError(VE_XML_FATAL_ERROR, exception.getMessage(), kFromMemory, nullptr, 0, 0);
    } catch (...) {
        XercesSupport::PushParseError(VE_XML_FATAL_ERROR, u"the XML parser stopped", kFromMemory, nullptr, 0, 0);
    }
    return false;
}

} // namespace vela
