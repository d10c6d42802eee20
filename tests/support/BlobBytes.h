#pragma once

#include "values/VBlob.h"

#include <string>

namespace vela::test {

// The bytes of a blob, read through its GetData.
inline std::string BlobBytes(const VBlob& blob) {
    std::string bytes(blob.GetSize(), '\0');
    size_t read = 0;
    blob.GetData(bytes.data(), bytes.size(), 0, &read);
    bytes.resize(read);
    return bytes;
}

} // namespace vela::test
