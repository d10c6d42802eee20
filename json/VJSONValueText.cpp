// The text and file entry points of values, and the description of objects: both go through the JSON text
// parser and writer.

#include "core/VErrorContext.h"
#include "json/IJSONObject.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

namespace vela {

VError VJSONValue::ParseFromString(const VString& text, bool dates, bool anyDate) {
    uint32 options = 0;
    if (dates) options = anyDate ? 576 : 192;
    return VJSONImporter::ParseString(text, *this, options);
}

VError VJSONValue::LoadFromFile(const IFile* file, bool dates) {
    return VJSONImporter::ParseFile(file, *this, dates ? 192 : 0);
}

VError VJSONValue::SaveToFile(const IFile* file, uint32 options) const {
    return VJSONWriter::StringifyValueToFile(file, *this, options);
}

VError VJSONValue::Stringify(VString& out, uint32 options) const {
    constexpr uint32 kBinaryFallback = 0x800;
    if ((options & kBinaryFallback) == 0) {
        VJSONWriter writer(options);
        return writer.StringifyValue(*this, out);
    }
    VJSONWriter writer(options | VJSONWriter::kRefuseBinarySignature | VJSONWriter::kRefuseNonGeneric |
                       VJSONWriter::kRefuseWrittenTwice);
    StErrorContextInstaller errors(true, true);
    // The refusals (900, 911, 914, 916) are to fall back to {"__PRIVATE_BINARY_OBJECT": ...}, which needs the
    // binary form; until it exists the refusal stands.
    return writer.StringifyValue(*this, out);
}

void VJSONObject::GetDescription(VString& out, bool truncate, VDBLanguageContext* context) const {
    if (fImplementation != nullptr && fImplementation->IJSON_GetDescription(this, out) != EJSONStatus_notHandled)
        return;
    VJSONReadLock lock(this);
    VJSONWriter writer(context, VJSONWriter::kQuoted | (truncate ? VJSONWriter::kTruncate : 0));
    writer.StringifyObject(this, out);
}

} // namespace vela
