#pragma once

#include "core/VObject.h"
#include "files/VFileOptions.h"
#include "files/platform/XPosixFile.h"

namespace vela {

class VFile;

// An open file, made by VFile::Open and closed by deleting it. It keeps its file alive, and every failure
// becomes a file error naming that file: 213 position, 214 moving, 215 reading, 216 writing, 217 flushing,
// 218 size, 219 resizing (or the library code the native table gives). Count outputs always receive the bytes
// actually moved, also on failure. One descriptor is used by one task at a time.
class VFileDesc : public VObject {
public:
    // Retains file; takes over descriptor.
    VFileDesc(const VFile* file, int descriptor, FileAccess access);
    ~VFileDesc() override;
    VFileDesc(const VFileDesc&) = delete;
    VFileDesc& operator=(const VFileDesc&) = delete;

    const VFile* GetParentVFile() const noexcept { return fFile; }
    FileAccess GetMode() const noexcept { return fAccess; }
    const XPosixFileDesc& GetImpl() const noexcept { return fImpl; }

    // 0 when it fails (the error pushed).
    int64 GetSize() const;
    VError SetSize(int64 size) const;
    // 0 when it fails (the error pushed).
    int64 GetPos() const;
    // fromStart: pos is absolute; else relative to the current position. A resulting position below 0 fails.
    VError SetPos(int64 pos, bool fromStart) const;
    // Reads count bytes at pos; the current position is neither used nor moved. Fewer bytes than asked answer
    // end of data (200), with a file error 200 pushed.
    VError GetData(void* buffer, size_t count, int64 pos, size_t* got = nullptr) const;
    // Reads at the current position + offset and moves the position past the bytes read.
    VError GetDataAtPos(void* buffer, size_t count, int64 offset = 0, size_t* got = nullptr) const;
    // Writes count bytes at pos; the current position is neither used nor moved.
    VError PutData(const void* buffer, size_t count, int64 pos, size_t* put = nullptr) const;
    // Writes at the current position + offset and moves the position past the bytes written.
    VError PutDataAtPos(const void* buffer, size_t count, int64 offset = 0, size_t* put = nullptr) const;
    // Writes the file's data through to the disk.
    VError Flush() const;

private:
    // Wraps a platform result for the file, with the transfer parameters of reads and writes.
    VError _WrapTransfer(VError operation, VError result, size_t count, int64 offset) const;
    const VFilePath& _Path() const;

    FileAccess fAccess;
    const VFile* fFile;
    XPosixFileDesc fImpl;
};

} // namespace vela
