#pragma once

#include "core/VMemoryBuffer.h"
#include "files/VStream.h"

namespace vela {

// Reads a caller's constant block, which must outlive the stream. Read-only: opening for writing answers 204;
// positions past the end are refused with 200.
class VConstPtrStream : public VStream {
public:
    // A null data pointer gives an empty stream.
    VConstPtrStream(const void* data, size_t size) noexcept;

protected:
    VStreamUnderlyingData GetUnderlyingData() const override { return {1, fData, fSize}; }
    VError DoOpenWriting() override;
    VError DoPutData(const void* data, size_t count) override;
    VError DoGetData(void* buffer, size_t* ioCount) override;
    int64 DoGetSize() override { return int64(fSize); }
    VError DoSetSize(int64 size) override;
    VError DoSetPos(int64 position) override;

private:
    const uint8* fData;
    size_t fSize;
};

// Reads and writes a growable block it owns. While writing, positions and sizes past the end extend the block
// with zero bytes; while reading, positions past the end are refused with 200. Writes never shrink the block.
class VPtrStream : public VStream {
public:
    VPtrStream() noexcept = default;
    // A stream over a copy of size bytes, ready to be opened for reading; when the copy cannot be had, opening
    // for reading answers 'vela' 100.
    VPtrStream(const void* data, size_t size) noexcept;

    // The stream's bytes (GetDataSize of them); valid until the stream changes.
    const void* GetDataPtr() const noexcept { return fBuffer.GetDataPtr(); }
    size_t GetDataSize() const noexcept { return fBuffer.GetDataSize(); }
    // Bytes allocated for the block.
    size_t GetAllocatedSize() const noexcept { return fBuffer.GetAllocatedSize(); }

protected:
    VStreamUnderlyingData GetUnderlyingData() const override {
        return {1, fBuffer.GetDataPtr(), fBuffer.GetDataSize()};
    }
    VError DoOpenReading() override { return fCopyError; }
    VError DoPutData(const void* data, size_t count) override;
    VError DoGetData(void* buffer, size_t* ioCount) override;
    int64 DoGetSize() override { return int64(fBuffer.GetDataSize()); }
    VError DoSetSize(int64 size) override;
    VError DoSetPos(int64 position) override;

private:
    VMemoryBuffer<1024, 2, 1048576> fBuffer;
    VError fCopyError = VE_OK;
};

} // namespace vela
