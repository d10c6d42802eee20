#include "files/VFileStream.h"

#include "core/VCppMemMgr.h"
#include "files/VFile.h"
#include "files/VFileDesc.h"

#include <algorithm>
#include <cstring>

namespace vela {

namespace {

constexpr size_t kMaxBufferSize = 2147483647;
constexpr int32 kBufferTag = FourCCTag("stmf");

} // namespace

VFileStream::VFileStream(const VFile* file, uint32 options) : fFile(file), fOptions(options) {
    if (fFile != nullptr) fFile->Retain();
}

VFileStream::~VFileStream() {
    // Buffered bytes are data the caller handed over: a stream dropped while writing still writes them.
    if (IsWriting()) CloseWriting(false);
    ReleaseBuffer();
    _CloseDescriptor();
    if (fFile != nullptr) fFile->Release();
}

void VFileStream::_CloseDescriptor() noexcept {
    delete fDesc;
    fDesc = nullptr;
}

// ---- Buffer

void VFileStream::_AllocateExactly(size_t capacity) {
    if (capacity == 0) capacity = 1;
    for (;;) {
        fBuffer = static_cast<uint8*>(VMemory::NewPtr(capacity, kBufferTag));
        if (fBuffer != nullptr || capacity <= 1) break;
        capacity /= 2;
    }
    fBufferCapacity = fBuffer != nullptr ? capacity : 0;
    fBufferStart = 0;
    fBufferFill = 0;
}

void VFileStream::AllocateBuffer(size_t hint) {
    if (fBuffer != nullptr) return;
    _AllocateExactly(hint != 0 && hint <= fPreferredSize ? hint : fPreferredSize);
}

void VFileStream::ReleaseBuffer() noexcept {
    VMemory::DisposePtr(fBuffer);
    fBuffer = nullptr;
    fBufferStart = 0;
    fBufferFill = 0;
    fBufferCapacity = 0;
}

void VFileStream::SetBufferSize(size_t size) {
    if (IsWriting()) Flush();
    ReleaseBuffer();
    fPreferredSize = size;
    if (IsWriting()) {
        _AllocateExactly(std::min(size, kMaxBufferSize));
    } else if (IsReading()) {
        const size_t fileSize = size_t(std::min<int64>(fFileSize, int64(kMaxBufferSize)));
        _AllocateExactly(fileSize > 0 ? std::min(size, fileSize) : size);
    }
}

// ---- Opening and closing

VError VFileStream::DoOpenReading() {
    if (fFile == nullptr) return _SetError(VE_STREAM_NO_FILE);
    if (fDesc == nullptr) {
        if (VError error = fFile->Open(FA_READ, &fDesc, FO_READ_AHEAD | FO_FOLLOW_LINK); error != VE_OK) return error;
    }
    fFileSize = fDesc->GetSize();
    if (fBuffer == nullptr) {
        size_t capacity = fPreferredSize;
        if (fFileSize > 0)
            capacity = size_t(std::min<int64>(fFileSize, int64(std::min(fPreferredSize, kMaxBufferSize))));
        _AllocateExactly(std::min(capacity, kMaxBufferSize));
    }
    fBufferStart = 0;
    fBufferFill = 0;
    return VE_OK;
}

VError VFileStream::DoOpenWriting() {
    if (fFile == nullptr) return _SetError(VE_STREAM_NO_FILE);
    if (fDesc != nullptr) return _SetError(VE_STREAM_CANNOT_WRITE);
    if (VError error = fFile->Open(FA_SHARED, &fDesc, fOptions); error != VE_OK) return error;
    fFileSize = fDesc->GetSize();
    fWrittenEnd = 0;
    if (fBuffer == nullptr) _AllocateExactly(std::min(fPreferredSize, kMaxBufferSize));
    fBufferStart = 0;
    fBufferFill = 0;
    return VE_OK;
}

VError VFileStream::DoCloseReading() {
    ReleaseBuffer();
    _CloseDescriptor();
    return VE_OK;
}

VError VFileStream::DoCloseWriting(bool setSize) {
    ReleaseBuffer();
    VError error = VE_OK;
    // The logical end, not the position: a stream that went back to patch a header keeps what follows it.
    if (setSize && fDesc != nullptr) error = fDesc->SetSize(fWrittenEnd);
    _CloseDescriptor();
    return error;
}

// ---- Reading

VError VFileStream::DoGetData(void* buffer, size_t* ioCount) {
    auto* out = static_cast<uint8*>(buffer);
    size_t left = *ioCount;
    size_t delivered = 0;
    int64 position = fPosition;
    VError error = VE_OK;

    if (position >= fBufferStart && position < fBufferStart + int64(fBufferFill)) {
        const size_t offset = size_t(position - fBufferStart);
        const size_t taken = std::min(left, fBufferFill - offset);
        std::memcpy(out, fBuffer + offset, taken);
        delivered += taken;
        left -= taken;
        position += int64(taken);
    }
    if (left > 0 && left <= fBufferCapacity) {
        fBufferStart = position;
        fBufferFill = 0;
        const int64 available = std::max<int64>(0, fFileSize - position);
        const size_t wanted = size_t(std::min<int64>(int64(fBufferCapacity), available));
        size_t got = 0;
        if (wanted > 0) error = fDesc->GetData(fBuffer, wanted, position, &got);
        // What was read, not what the size promised: a file that shrank meanwhile has no more.
        fBufferFill = got;
        const size_t taken = std::min(left, got);
        std::memcpy(out + delivered, fBuffer, taken);
        delivered += taken;
        left -= taken;
    } else if (left > 0) {
        size_t got = 0;
        error = fDesc->GetData(out + delivered, left, position, &got);
        delivered += got;
        left -= got;
    }
    *ioCount = delivered;
    if (error != VE_OK && error != VE_STREAM_EOF) return error;
    return left == 0 ? VE_OK : VE_STREAM_EOF;
}

// ---- Writing

VError VFileStream::_WriteWindow() {
    if (fBufferFill == 0) return VE_OK;
    const VError error = fDesc->PutData(fBuffer, fBufferFill, fBufferStart);
    fIsWritten = true;
    fBufferFill = 0;
    return error;
}

VError VFileStream::DoPutData(const void* data, size_t count) {
    auto* in = static_cast<const uint8*>(data);
    int64 position = fPosition;
    size_t left = count;
    const int64 end = position + int64(count);

    if (fBufferFill > 0) {
        const int64 windowEnd = fBufferStart + int64(fBufferFill);
        if (position >= fBufferStart && position <= windowEnd) {
            const size_t offset = size_t(position - fBufferStart);
            const size_t taken = std::min(left, fBufferCapacity - offset);
            std::memcpy(fBuffer + offset, in, taken);
            fBufferFill = std::max(fBufferFill, offset + taken);
            in += taken;
            left -= taken;
            position += int64(taken);
        }
        if (left > 0) {
            if (VError error = _WriteWindow(); error != VE_OK) return error;
        }
    }
    if (left > 0) {
        if (left >= fBufferCapacity) {
            fBufferFill = 0;
            fBufferStart = position + int64(left);
            fIsWritten = true;
            if (VError error = fDesc->PutData(in, left, position); error != VE_OK) return error;
        } else {
            std::memcpy(fBuffer, in, left);
            fBufferStart = position;
            fBufferFill = left;
        }
    }
    if (end > fFileSize) fFileSize = end;
    fWrittenEnd = std::max(fWrittenEnd, end);
    return VE_OK;
}

VError VFileStream::DoFlush() {
    const VError writeError = _WriteWindow();
    const VError flushError = fDesc->Flush();
    fBufferStart = fPosition;
    return writeError != VE_OK ? writeError : flushError;
}

VError VFileStream::DoSetPos(int64 position) {
    if (!IsWriting()) {
        if (position > fFileSize) return _SetError(VE_STREAM_EOF);
        return VE_OK;
    }
    VError error = VE_OK;
    // Moving past the window ends it; the bytes reach the file, without forcing them to the disk.
    if (position > fBufferStart + int64(fBufferFill)) {
        error = _WriteWindow();
        fBufferStart = position;
    }
    if (error == VE_OK && position > fFileSize) {
        error = fDesc->SetSize(position);
        if (error == VE_OK) fFileSize = fWrittenEnd = position;
    }
    return error;
}

VError VFileStream::DoSetSize(int64 size) {
    if (size > fBufferStart) {
        if (fBufferStart + int64(fBufferFill) > size) fBufferFill = size_t(size - fBufferStart);
    } else {
        fBufferFill = 0;
    }
    const VError error = fDesc->SetSize(size);
    if (error == VE_OK) fFileSize = fWrittenEnd = size;
    return error;
}

} // namespace vela
