#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "intl/VUTI.h"

#include <memory>
#include <vector>

namespace vela {

class VFile;
class VLocalizationManager;
class VXMLParser;

// The process's registry of uniform type identifiers, read from property lists that declare them under
// "UTExportedTypeDeclarations" or "UTImportedTypeDeclarations". The first declaration of an identifier wins;
// conformance targets declared later (in the same or a later file) are linked when the file that declares them
// has been loaded. Each identifier is also registered as a private file kind when the file-kind manager runs.
// Meant for one thread at a time: the process fills it at start-up.
class VUTIManager : public VObject, public IRefCountable {
public:
    // Tag classes.
    static constexpr const char* kTagExtension = "public.filename-extension";
    static constexpr const char* kTagOSType = "com.apple.ostype";
    static constexpr const char* kTagMIMEType = "public.mime-type";

    VUTIManager();
    VUTIManager(const VUTIManager&) = delete;
    VUTIManager& operator=(const VUTIManager&) = delete;
    ~VUTIManager() override;

    // The process instance, made on the first call (null only when the XML library cannot be set up).
    static VUTIManager* GetUTIManager();
    // Releases the process instance; the next GetUTIManager makes a new one.
    static void Delete();
    // The process instance when one was made, else null (never makes one).
    static VUTIManager* GetExistingUTIManager() noexcept { return sSingleton; }
    static bool DeInit();

    // Reads the declarations of file. False for a null or missing file, and for a document the parser refuses:
    // its declarations are then all left out (the parser's error stands on the task), never half of them.
    bool LoadXMLFile(VFile* file);
    // Reads the declarations of file into the registry as LoadXMLFile does, without linking them
    // (ProcessExtractedUTIs). VE_INVALID_PARAMETER for a null file, VE_FILE_NOT_FOUND for a missing one,
    // VE_XML_FATAL_ERROR when the parser refuses the document (nothing of it is kept), else VE_OK.
    VError AnalyzeXMLFile(const VFile* file);
    // Links placeholders to the UTIs declared for them and registers the file kinds; answers 0.
    VError ProcessExtractedUTIs();
    // Registers uti (retained) when its identifier is not empty and not registered yet.
    bool AddNewUTI(VUTI* uti);
    // The registered UTI of identifier, without a reference for the caller; null when none.
    VUTI* FindUTI(const VString& identifier) const;
    const VUTI::Map& GetRegistry() const noexcept { return fRegistry; }

    static bool UTTypeEqual(const VString& a, const VString& b) { return a.EqualToString(b, false); }
    // Not retained; descriptions of the file kinds are localized through it (null: as declared).
    void SetLocalizationManager(VLocalizationManager* manager) noexcept { fLocalizationManager = manager; }

    // Every UTI, in identifier order, that conforms to the tag of tagClass; each retained, the vector the
    // caller's. Null when tagClass or tag is empty. conformingTo is not looked at.
    std::vector<VUTI*>* UTTypeCreateAllIdentifiersForTag(const VString& tagClass, const VString& tag,
                                                         const VString& conformingTo) const;
    // The UTI that carries the tag (a public one before a private one, else the first in identifier order) and
    // conforms to conformingTo when that is not empty; retained, or null.
    VUTI* UTTypeCreatePreferredIdentifierForTag(const VString& tagClass, const VString& tag,
                                                const VString& conformingTo) const;
    // Whether file, by its extension (and its type code where the platform has them), conforms to identifier.
    bool UTTypeConformsTo(VFile* file, const VString& identifier) const;

    // Called by the declaration handlers when a declaration ends.
    void _Stage(VUTI* uti);

private:
    // Registers every UTI as a private file kind when the file-kind manager runs.
    void _RegisterFileKinds() const;

    static VUTIManager* sSingleton;

    VUTI::Map fRegistry;
    std::unique_ptr<VXMLParser> fParser;
    bool fParserInited = false;
    // Declarations of the document being read, registered only once it parsed whole.
    std::vector<VUTI*> fStaged;
    VLocalizationManager* fLocalizationManager = nullptr;
};

} // namespace vela
