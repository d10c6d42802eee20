// VFile's kind questions: they need the file kinds and type identifiers, which sit above the file layer.
#include "files/VFile.h"

#include "core/VRefPtr.h"
#include "intl/VFileKind.h"
#include "intl/VUTIManager.h"

namespace vela {

bool VFile::ConformsTo(const VFileKind& kind) const {
    const VString& id = kind.GetID();
    if (!id.IsEmpty()) {
        // Asked of the registry the process made, if any: a question about a file makes none.
        const VUTIManager* identifiers = VUTIManager::GetExistingUTIManager();
        if (identifiers != nullptr && identifiers->UTTypeConformsTo(const_cast<VFile*>(this), id)) return true;
    }
    VString extension;
    GetExtension(extension);
    return !extension.IsEmpty() && kind.MatchExtension(extension);
}

bool VFile::ConformsTo(const VString& kindID) const {
    if (VFileKindManager::sManager == nullptr) return false;
    const VRefPtr<VFileKind> kind = VRefPtr<VFileKind>::Adopt(VFileKindManager::sManager->RetainFileKind(kindID));
    return kind && ConformsTo(*kind);
}

} // namespace vela
