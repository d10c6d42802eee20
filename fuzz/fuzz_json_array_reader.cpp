// Reads arbitrary text as a flat JSON array: never crashes, converts into buffers of exactly the item count, and
// reading what the array writer makes of the items gives the items back. The first byte chooses the encoding
// (bit 0: UTF-16, else UTF-8).
#include "core/VString.h"
#include "json/VJSONArrayReader.h"
#include "json/VJSONArrayWriter.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vela;
    if (size == 0) return 0;
    VString text;
    text.FromBlock(data + 1, size - 1, (data[0] & 1) != 0 ? VTC_UTF_16 : VTC_UTF_8);

    VJSONArrayReader reader(text);
    VError error = VE_OK;
    int32 count = reader.GetCountOfElements(&error);
    if (error != VE_OK && count != 0) __builtin_trap(); // a failed read keeps no item
    std::vector<int16> shorts(size_t(count) + 1);
    std::vector<int32> longs(size_t(count) + 1);
    std::vector<double> reals(size_t(count) + 1);
    std::vector<char> bools(size_t(count) + 1);
    reader.ToArrayShort(shorts.data(), size_t(count));
    reader.ToArrayLong(longs.data(), size_t(count));
    reader.ToArrayReal(reals.data(), size_t(count));
    reader.ToArrayBool(bools.data(), size_t(count));
    if (count > 0 && reader.ToArrayLong(longs.data(), size_t(count) - 1) == VE_OK) __builtin_trap();
    std::vector<VString> items;
    reader.ToArrayString(items, false);
    if (items.size() != size_t(count)) __builtin_trap();

    VJSONArrayWriter writer;
    writer.AddStrings(items);
    VString written;
    writer.GetArray(written);
    VJSONArrayReader again(written);
    if (again.GetCountOfElements() != count) __builtin_trap();
    for (int32 i = 0; i < count; ++i) {
        if (!(again.GetItems()[size_t(i)] == items[size_t(i)])) __builtin_trap();
    }
    return 0;
}
