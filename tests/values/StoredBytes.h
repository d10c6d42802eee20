#pragma once

#include "files/VPtrStream.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace vela::test {

// Bytes written by write(VStream*) into a stream of the given byte order.
template <class Write> std::string WrittenBytes(Write write, bool bigEndian = false) {
    VPtrStream stream;
    stream.OpenWriting();
    if (bigEndian) stream.SetBigEndian();
    write(&stream);
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

// Runs read(VStream*) over bytes and answers its result.
template <class Read> auto ReadBytes(const std::string& bytes, Read read, bool bigEndian = false) {
    VConstPtrStream stream(bytes.data(), bytes.size());
    stream.OpenReading();
    if (bigEndian) stream.SetBigEndian();
    return read(&stream);
}

// Little-endian stored data built field by field.
class StoredBytes {
public:
    StoredBytes& Byte(uint8_t value) {
        fBytes.push_back(char(value));
        return *this;
    }
    StoredBytes& Word(uint16_t value) { return Raw(&value, 2); }
    StoredBytes& Long(int32_t value) { return Raw(&value, 4); }
    StoredBytes& Text(const std::string& text) {
        fBytes += text;
        return *this;
    }
    StoredBytes& Raw(const void* data, size_t size) {
        fBytes.append(static_cast<const char*>(data), size);
        return *this;
    }
    const std::string& Get() const { return fBytes; }

private:
    std::string fBytes;
};

} // namespace vela::test
