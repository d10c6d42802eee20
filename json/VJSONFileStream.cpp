#include "json/VJSONFileStream.h"

#include "core/StStringConverter.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

VJSONFileStream::VJSONFileStream(const VString& posixPath) : fPath(posixPath) {}

VJSONFileStream::~VJSONFileStream() {
    _Close();
}

VError VJSONFileStream::_ThrowErrno() const {
    VError error = MakeVError(kComponentPosix, errno != 0 ? errno : EIO);
    _ThrowError(error, &fPath);
    return error;
}

VError VJSONFileStream::_Open(int flags) {
    StStringConverter<char> path(fPath, VTC_UTF_8);
    do {
        fDescriptor = ::open(path.GetCPointer(), flags | O_CLOEXEC, 0644);
    } while (fDescriptor < 0 && errno == EINTR);
    return fDescriptor < 0 ? _ThrowErrno() : VE_OK;
}

VError VJSONFileStream::_Close() {
    if (fDescriptor < 0) return VE_OK;
    int result = ::close(fDescriptor);
    fDescriptor = -1;
    return result == 0 ? VE_OK : _ThrowErrno();
}

VError VJSONFileStream::DoOpenReading() {
    return _Open(O_RDONLY);
}

VError VJSONFileStream::DoOpenWriting() {
    return _Open(O_WRONLY | O_CREAT | O_TRUNC);
}

VError VJSONFileStream::DoCloseReading() {
    return _Close();
}

VError VJSONFileStream::DoCloseWriting(bool setSize) {
    if (setSize && fDescriptor >= 0 && ::ftruncate(fDescriptor, off_t(fPosition)) != 0) {
        VError error = _ThrowErrno();
        _Close();
        return error;
    }
    return _Close();
}

VError VJSONFileStream::DoPutData(const void* data, size_t count) {
    const char* bytes = static_cast<const char*>(data);
    int64 position = fPosition;
    while (count > 0) {
        ssize_t written = ::pwrite(fDescriptor, bytes, count, off_t(position));
        if (written < 0) {
            if (errno == EINTR) continue;
            return _ThrowErrno();
        }
        bytes += written;
        position += written;
        count -= size_t(written);
    }
    return VE_OK;
}

VError VJSONFileStream::DoGetData(void* buffer, size_t* ioCount) {
    char* bytes = static_cast<char*>(buffer);
    size_t wanted = *ioCount;
    size_t got = 0;
    while (got < wanted) {
        ssize_t read = ::pread(fDescriptor, bytes + got, wanted - got, off_t(fPosition + int64(got)));
        if (read < 0) {
            if (errno == EINTR) continue;
            *ioCount = got;
            return _ThrowErrno();
        }
        if (read == 0) break;
        got += size_t(read);
    }
    *ioCount = got;
    if (got < wanted) {
        _ThrowError(VE_STREAM_EOF);
        return VE_STREAM_EOF;
    }
    return VE_OK;
}

int64 VJSONFileStream::DoGetSize() {
    struct stat info {};
    if (fDescriptor < 0 || ::fstat(fDescriptor, &info) != 0) return 0;
    return int64(info.st_size);
}

VError VJSONFileStream::DoSetSize(int64 size) {
    if (size < 0 || ::ftruncate(fDescriptor, off_t(size)) != 0) return _ThrowErrno();
    return VE_OK;
}

VError VJSONFileStream::ReadText(const VString& posixPath, VString& text, CharSet charSet) {
    VJSONFileStream stream(posixPath);
    VError error = stream.SetCharSet(charSet);
    if (error == VE_OK) error = stream.OpenReading();
    if (error != VE_OK) return error;
    if (charSet == VTC_UTF_8) {
        // A byte-order mark is no part of the text.
        static constexpr unsigned char kBOM[3] = {0xEF, 0xBB, 0xBF};
        unsigned char head[3] = {0, 0, 0};
        size_t got = 0;
        if (stream.GetSize() >= 3) stream.GetData(head, sizeof(head), &got);
        if (got != 3 || head[0] != kBOM[0] || head[1] != kBOM[1] || head[2] != kBOM[2]) stream.SetPos(0);
    }
    VString read;
    error = stream.GetText(read);
    stream.CloseReading();
    if (error == VE_OK) text = std::move(read);
    return error;
}

VError VJSONFileStream::WriteText(const VString& posixPath, const VString& text, CharSet charSet) {
    VJSONFileStream stream(posixPath);
    VError error = stream.SetCharSet(charSet);
    if (error == VE_OK) error = stream.OpenWriting();
    if (error != VE_OK) return error;
    stream.SetCarriageReturnMode(eCRM_NATIVE);
    stream.PutText(text);
    return stream.CloseWriting(true);
}

} // namespace vela
