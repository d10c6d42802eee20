// The JSON content of files: members of IFile that need the JSON layer, which sits above files.

#include "files/IFileSystemObject.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"

namespace vela {

VError IFile::GetContentAsJSON(VJSONValue& out, CharSet charSet) const {
    VString text;
    if (VError error = GetContentAsString(text, charSet, eCRM_NATIVE); error != VE_OK) return error;
    return VJSONImporter::ParseString(text, out, VJSONImporter::kAnyDate);
}

VError IFile::SetContentAsJSON(const VJSONValue& value, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const {
    VString text;
    if (VError error = value.Stringify(text, 9); error != VE_OK) return error;
    return SetContentAsString(text, charSet, mode, withBOM);
}

} // namespace vela
