// Reads a typed array from arbitrary bytes: the first byte picks the array kind and the byte order, the rest is
// the array's stream form. Never crashes, never allocates more elements than the input's bytes can hold, and an array
// read writes bytes that read back to an array writing the very same bytes.
#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VArrayString.h"
#include "values/VArrayValues.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

constexpr uint16 kKinds[] = {100, 101, 102, 103, 104, 105, 107, 108, 109, 110, 111};

std::string Written(const VArrayValue& array, bool bigEndian) {
    VPtrStream stream;
    if (bigEndian) stream.SetBigEndian();
    Check(stream.OpenWriting() == VE_OK);
    Check(array.WriteToStream(&stream) == VE_OK);
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

std::unique_ptr<VArrayValue> NewArray(uint16 kind) {
    std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
    auto* array = dynamic_cast<VArrayValue*>(value.get());
    Check(array != nullptr);
    value.release();
    return std::unique_ptr<VArrayValue>(array);
}

// The input bytes each element costs at least: a bit for Booleans, the width of a number, a 4-byte marker for
// a string, a 4-byte length for a blob, a byte for an image. What the reader allocated is then bounded by the
// input's size.
uint64_t InputBytesOf(const VArrayValue& array) {
    const uint64_t count = uint64_t(array.GetCount());
    switch (array.GetElemValueKind()) {
    case 1:
        return count / 8;
    case 2:
        return count;
    case 3:
        return count * 2;
    case 4:
    case 10:
    case 11:
        return count * 4;
    case 12:
        return count;
    default:
        return count * 8;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint16 kind = kKinds[(data[0] >> 1) % (sizeof(kKinds) / sizeof(kKinds[0]))];
    const bool bigEndian = (data[0] & 1) != 0;
    VConstPtrStream input(data + 1, size - 1);
    if (bigEndian) input.SetBigEndian();
    if (input.OpenReading() != VE_OK) return 0;

    std::unique_ptr<VArrayValue> array = NewArray(kind);
    VError error = array->ReadFromStream(&input);
    Check(InputBytesOf(*array) <= size);
    if (error != VE_OK) return 0;

    std::string once = Written(*array, bigEndian);
    VConstPtrStream copy(once.data(), once.size());
    if (bigEndian) copy.SetBigEndian();
    Check(copy.OpenReading() == VE_OK);
    std::unique_ptr<VArrayValue> back = NewArray(kind);
    Check(back->ReadFromStream(&copy) == VE_OK);
    Check(back->GetCount() == array->GetCount());
    Check(Written(*back, bigEndian) == once);
    return 0;
}
