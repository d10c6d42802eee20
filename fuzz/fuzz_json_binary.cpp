// Reads arbitrary bytes as binary JSON: never crashes, never reads past the end, and whatever reads writes back
// into bytes that read again into a value that writes the very same bytes. As text, nodes read shared stay bounded:
// the writer and an array's joined text answer or give up (a cycle, 107 past the repeat bound) within the run's
// time and memory limits, whatever the sharing.
#include "core/VMemoryBuffer.h"
#include "json/VJSONBinaryImporter.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <cstdint>
#include <cstring>

namespace {

bool Write(const vela::VJSONValue& value, vela::VMemoryBuffer<1024, 2, 1048576>& out) {
    vela::VJSONBinaryWriter writer(64);
    return writer.StreamValue(value, out) == vela::VE_OK;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    VJSONValue value;
    {
        VJSONBinaryImporter importer(data, size);
        if (importer.GetValue(value) != VE_OK) return 0;
    }
    {
        VString text;
        VJSONWriter writer(VJSONWriter::kQuoted);
        writer.StringifyValue(value, text);
        value.GetString(text);
    }
    VMemoryBuffer<1024, 2, 1048576> first;
    if (!Write(value, first)) __builtin_trap(); // what was read can be written
    VJSONValue again;
    VJSONBinaryImporter importer(first.GetDataPtr(), first.GetDataSize());
    if (importer.GetValue(again) != VE_OK) __builtin_trap();
    VMemoryBuffer<1024, 2, 1048576> second;
    if (!Write(again, second)) __builtin_trap();
    if (second.GetDataSize() != first.GetDataSize() ||
        std::memcmp(second.GetDataPtr(), first.GetDataPtr(), first.GetDataSize()) != 0)
        __builtin_trap();
    return 0;
}
