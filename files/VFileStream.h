#pragma once

#include "files/VFileOptions.h"
#include "files/VStream.h"

namespace vela {

class VFile;
class VFileDesc;

// A buffered stream over a file. One buffer (32 KiB unless asked otherwise, never above 2 GiB - 1) serves as a
// read-ahead window while reading and a write-behind window while writing; requests at least as large as the
// buffer go straight to the file. Reading opens the file shared for reading; writing opens it under a shared
// lock with the options given at construction (FO_CREATE_IF_NOT_FOUND to make it). A stream still open for
// writing when it goes writes what it holds first.
class VFileStream : public VStream {
public:
    static constexpr size_t kDefaultBufferSize = 32768;

    // Retains file (null gives a stream that fails to open with 205).
    explicit VFileStream(const VFile* file, uint32 options = FO_DEFAULT);
    ~VFileStream() override;

    const VFile* GetVFile() const noexcept { return fFile; }
    // Writes what the window holds first when writing; an open stream gets the new buffer at once.
    void SetBufferSize(size_t size);
    // Makes the buffer when none is held: hint when not 0 and not above the preferred size, else the preferred
    // size; a failing allocation is retried with half the size.
    void AllocateBuffer(size_t hint = 0);
    void ReleaseBuffer() noexcept;

protected:
    VError DoOpenReading() override;
    VError DoOpenWriting() override;
    VError DoCloseReading() override;
    VError DoCloseWriting(bool setSize) override;
    VError DoPutData(const void* data, size_t count) override;
    VError DoGetData(void* buffer, size_t* ioCount) override;
    int64 DoGetSize() override { return fFileSize; }
    VError DoSetSize(int64 size) override;
    VError DoSetPos(int64 position) override;
    // Writes the window, then the file's data through to the disk.
    VError DoFlush() override;

private:
    void _AllocateExactly(size_t capacity);
    // Writes the window's bytes at their offset and empties it.
    VError _WriteWindow();
    void _CloseDescriptor() noexcept;

    const VFile* fFile;
    VFileDesc* fDesc = nullptr;
    int64 fFileSize = 0;
    // The furthest byte this writing session put or sized: closing with setSize cuts there, so that an old
    // tail goes but a body written before a step back to patch a header stays.
    int64 fWrittenEnd = 0;
    int64 fBufferStart = 0;
    size_t fBufferFill = 0;
    size_t fBufferCapacity = 0;
    size_t fPreferredSize = kDefaultBufferSize;
    uint8* fBuffer = nullptr;
    uint32 fOptions;
};

} // namespace vela
