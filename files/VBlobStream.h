#pragma once

#include "files/VStream.h"

#include <memory>

namespace vela {

class VBlob;

// Reads and writes the bytes of a blob value. While writing, positions past the end extend the blob with zero
// bytes; while reading, they are refused with 200. Blob offsets are 32-bit: a position above INT32_MAX is
// refused with 'vela' 3 rather than cut to a wrong offset.
class VBlobStream : public VStream {
public:
    // With a blob, the stream works on it and leaves it alone; without one, it makes an empty VBlobWithPtr that
    // it owns and deletes.
    explicit VBlobStream(VBlob* blob = nullptr);
    ~VBlobStream() override;

    // The blob the stream works on (borrowed).
    VBlob* GetBlob() const noexcept { return fBlob; }

protected:
    VError DoPutData(const void* data, size_t count) override;
    VError DoGetData(void* buffer, size_t* ioCount) override;
    int64 DoGetSize() override;
    VError DoSetSize(int64 size) override;
    VError DoSetPos(int64 position) override;

private:
    std::unique_ptr<VBlob> fOwnedBlob;
    VBlob* fBlob;
};

} // namespace vela
