#include "files/VFileDesc.h"

#include "files/VFile.h"
#include "files/VFileError.h"

namespace vela {

VFileDesc::VFileDesc(const VFile* file, int descriptor, FileAccess access)
    : fAccess(access), fFile(file), fImpl(descriptor) {
    if (fFile != nullptr) fFile->Retain();
}

VFileDesc::~VFileDesc() {
    if (fFile != nullptr) fFile->Release();
}

const VFilePath& VFileDesc::_Path() const {
    static const VFilePath sNone;
    return fFile != nullptr ? fFile->GetPathRef() : sNone;
}

VError VFileDesc::_WrapTransfer(VError operation, VError result, size_t count, int64 offset) const {
    if (result == VE_OK) return VE_OK;
    auto setParameters = [&](VFileError& error) {
        error.SetLong("count", int32(count));
        error.SetLong8("offset", offset);
        int64 size = 0;
        if (fImpl.GetSize(&size) == VE_OK) error.SetLong8("size", size);
    };
    // End of data is reported like the failures, keeping its own code.
    if (result == VE_STREAM_EOF) return ThrowFileError(_Path(), VE_STREAM_EOF, setParameters);
    return WrapFileError(_Path(), operation, result, setParameters);
}

int64 VFileDesc::GetSize() const {
    int64 size = 0;
    const VError result = fImpl.GetSize(&size);
    if (result != VE_OK) WrapFileError(_Path(), VE_FILE_CANNOT_GET_SIZE, result);
    return size;
}

VError VFileDesc::SetSize(int64 size) const {
    return WrapFileError(_Path(), VE_FILE_CANNOT_SET_SIZE, fImpl.SetSize(size),
                         [&](VFileError& error) { error.SetLong8("size", size); });
}

int64 VFileDesc::GetPos() const {
    int64 pos = 0;
    const VError result = fImpl.GetPos(&pos);
    if (result != VE_OK) WrapFileError(_Path(), VE_FILE_CANNOT_GET_POS, result);
    return pos;
}

VError VFileDesc::SetPos(int64 pos, bool fromStart) const {
    int64 current = 0;
    const bool knowsCurrent = fImpl.GetPos(&current) == VE_OK;
    return WrapFileError(_Path(), VE_FILE_CANNOT_SET_POS, fImpl.SetPos(pos, fromStart), [&](VFileError& error) {
        if (fromStart) {
            error.SetLong8("offset", pos);
        } else if (knowsCurrent) {
            error.SetLong8("offset", current + pos);
        }
        int64 size = 0;
        if (fImpl.GetSize(&size) == VE_OK) error.SetLong8("size", size);
    });
}

VError VFileDesc::GetData(void* buffer, size_t count, int64 pos, size_t* got) const {
    size_t done = count;
    const VError result = fImpl.GetData(buffer, done, pos, true);
    if (got != nullptr) *got = done;
    return _WrapTransfer(VE_FILE_CANNOT_READ, result, count, pos);
}

VError VFileDesc::GetDataAtPos(void* buffer, size_t count, int64 offset, size_t* got) const {
    int64 current = 0;
    fImpl.GetPos(&current);
    size_t done = count;
    const VError result = fImpl.GetData(buffer, done, offset, false);
    if (got != nullptr) *got = done;
    return _WrapTransfer(VE_FILE_CANNOT_READ, result, count, current);
}

VError VFileDesc::PutData(const void* buffer, size_t count, int64 pos, size_t* put) const {
    size_t done = count;
    const VError result = fImpl.PutData(buffer, done, pos, true);
    if (put != nullptr) *put = done;
    return _WrapTransfer(VE_FILE_CANNOT_WRITE, result, count, pos);
}

VError VFileDesc::PutDataAtPos(const void* buffer, size_t count, int64 offset, size_t* put) const {
    int64 current = 0;
    fImpl.GetPos(&current);
    size_t done = count;
    const VError result = fImpl.PutData(buffer, done, offset, false);
    if (put != nullptr) *put = done;
    return _WrapTransfer(VE_FILE_CANNOT_WRITE, result, count, current);
}

VError VFileDesc::Flush() const {
    return WrapFileError(_Path(), VE_FILE_CANNOT_FLUSH, fImpl.Flush());
}

} // namespace vela
