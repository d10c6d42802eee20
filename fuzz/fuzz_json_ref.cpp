// Resolves the "$ref" references of an arbitrary document in memory (no folder, so no file is ever read): never
// crashes, never recurses or loops without bound, reads no file, and records only the failures a document
// without files can have. The first byte's bit 0 asks for patching, bit 1 also resolves each property of the
// root on its own (bit 2: resolving references along the pointer); the rest is the text, as UTF-8.
#include "core/VString.h"
#include "files/IFileSystemObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPointerResolver.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"

#include <cstdint>
#include <vector>

namespace {

using namespace vela;

bool IsExpectedFailure(const VJSONValue& record) {
    const VError code = MakeLibraryError(int32(record.GetProperty(VString("code")).GetNumber()));
    return code == VE_JSON_POINTER_NOT_FOUND || code == VE_JSON_POINTER_MALFORMED || code == VE_JSON_POINTER_CYCLE ||
           code == VE_JSON_POINTER_UNSUPPORTED || code == VE_JSON_POINTER_INTO_SCALAR ||
           code == VE_JSON_REFERRED_FILE_MISSING || code == VE_JSON_TOO_DEEP;
}

void CheckErrors(const VJSONPointerResolver& resolver) {
    VJSONArray* errors = resolver.GetErrors();
    if (errors == nullptr) return;
    for (size_t i = 0; i < errors->GetCount(); ++i) {
        if (!IsExpectedFailure(errors->GetAt(i))) __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t options = data[0];
    VString text;
    text.FromBlock(data + 1, size - 1, VTC_UTF_8);
    VJSONValue root;
    if (VJSONImporter::ParseString(text, root, 0) != VE_OK) return 0;

    if ((options & 2) != 0) {
        if (VJSONObject* object = root.GetObjectPtr(); object != nullptr) {
            VRefPtr<VJSONPointerResolver> resolver =
                VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(root, nullptr, nullptr, nullptr));
            for (size_t i = 0; i < object->GetPropertyCount(); ++i) {
                VString name;
                object->GetPropertyNameAt(i, name);
                VJSONValue result;
                if (VJSONObject* property = object->GetOwnProperty(name).GetObjectPtr(); property != nullptr)
                    resolver->ResolveOnePointer(property, (options & 4) != 0, result);
            }
            CheckErrors(*resolver);
        }
    }

    VRefPtr<VJSONPointerResolver> resolver =
        VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(root, nullptr, nullptr, nullptr));
    std::vector<VRefPtr<IFile>> files;
    resolver->ResolveRecursively(root, (options & 1) != 0, &files);
    if (!files.empty()) __builtin_trap();
    CheckErrors(*resolver);
    return 0;
}
