// The text and file entry points of values, and the description of objects: both go through the JSON text
// parser and writer.

#include "core/VErrorContext.h"
#include "core/VMemoryBuffer.h"
#include "json/IJSONObject.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
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
    constexpr uint32 kBinaryWriterFlags = 64;
    if ((options & kBinaryFallback) == 0) {
        VJSONWriter writer(options);
        return writer.StringifyValue(*this, out);
    }
    VJSONWriter writer(options | VJSONWriter::kRefuseBinarySignature | VJSONWriter::kRefuseNonGeneric |
                       VJSONWriter::kRefuseWrittenTwice);
    StErrorContextInstaller errors(true, true);
    VError err = writer.StringifyValue(*this, out);
    if (err != VE_JSON_CYCLE && err != VE_JSON_BINARY_SIGNATURE && err != VE_JSON_NOT_GENERIC &&
        err != VE_JSON_WRITTEN_TWICE)
        return err;
    // What text cannot hold (cycles, shared nodes, classes, binary objects) goes as Base64 binary JSON in a
    // wrapper object that the parser reads back.
    if (VErrorContext* context = errors.GetContext()) context->Flush();
    VMemoryBuffer<1024, 2, 1048576> buffer;
    VJSONBinaryWriter binary(kBinaryWriterFlags);
    err = binary.StreamValue(*this, buffer);
    if (err != VE_OK) return err;
    VString encoded;
    if (!encoded.EncodeBase64(buffer.GetDataPtr(), buffer.GetDataSize(), false)) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    auto wrapper = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    wrapper->SetProperty(VJSONImporter::sBinaryObjectPropertyName, VJSONValue(encoded));
    // A new writer: the refused text's written set holds addresses that no longer mean anything.
    VJSONWriter wrapperWriter(options | VJSONWriter::kRefuseBinarySignature | VJSONWriter::kRefuseNonGeneric |
                              VJSONWriter::kRefuseWrittenTwice);
    return wrapperWriter.StringifyValue(VJSONValue(wrapper.Get()), out);
}

void VJSONObject::GetDescription(VString& out, bool truncate, VDBLanguageContext* context) const {
    if (fImplementation != nullptr && fImplementation->IJSON_GetDescription(this, out) != EJSONStatus_notHandled)
        return;
    VJSONReadLock lock(this);
    VJSONWriter writer(context, VJSONWriter::kQuoted | (truncate ? VJSONWriter::kTruncate : 0));
    writer.StringifyObject(this, out);
}

} // namespace vela
