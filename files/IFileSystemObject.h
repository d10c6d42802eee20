#pragma once

#include "core/CharSet.h"
#include "core/IRefCountable.h"
#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "files/VFileOptions.h"
#include "files/VFilePath.h"

#include <functional>

namespace vela {

class IFile;
class IFileAttributeAccessor;
class IFolder;
class VFile;
class VFileSystem;
class VFolder;
class VJSONValue;
class VTime;

// What files and folders have in common, for code that handles either (JSON files, file systems).
class IFileSystemObject : public IRefCountable {
public:
    virtual VFilePath GetPath() const = 0;
    // Not retained; null when the object is not confined to a named file system.
    virtual VFileSystem* GetFileSystem() const = 0;
    // FPS_POSIX: the POSIX text; FPS_SYSTEM: the internal text; any other style clears out.
    virtual VError GetPlatformPath(VString& out, FilePathStyle style) const = 0;
    // "/<file system name>/<relative POSIX path>" inside a file system, else the POSIX path.
    VString GetPathWithFileSystem() const;
    // The folder holding this object, retained; null at a volume root.
    virtual IFolder* RetainParentFolder(bool sandboxed) const = 0;
    virtual bool Exists() const = 0;
    virtual void GetNameWithoutExtension(VString& out) const = 0;
    // Null outputs are skipped.
    virtual VError GetTimeAttributes(VTime* modified = nullptr, VTime* created = nullptr,
                                     VTime* accessed = nullptr) const = 0;

    // The name of the path's last element, with and without its extension.
    void GetName(VString& out) const { GetPath().GetName(out); }
    void GetExtension(VString& out) const { GetPath().GetExtension(out); }
    bool MatchExtension(const VString& extension) const { return GetPath().MatchExtension(extension, false); }
};

// A file, as JSON code and file systems see it (VFile implements it).
class IFile : public IFileSystemObject {
public:
    void GetNameWithoutExtension(VString& out) const override { GetPath().GetFileName(out, false); }

    // The whole content, the buffer sized to it exactly.
    virtual VError GetContent(VMemoryBuffer<1024, 2, 1048576>& buffer) const = 0;
    // Reads at most count bytes from the start; got (when given) receives the count read.
    virtual VError GetData(void* buffer, size_t count, size_t* got) const = 0;
    // Replaces the content whole, creating the file and its missing folders; a failure leaves the old content.
    virtual VError SetContent(const void* data, size_t size) const = 0;
    // Appends to the content, creating the file and its missing folders.
    virtual VError AppendContent(const void* data, size_t size) const = 0;
    virtual VError Delete() const = 0;
    // True when the file can be opened for writing; raises nothing.
    virtual bool IsWritable() const = 0;
    // 0 on failure.
    virtual VError GetSize(int64* size) const = 0;
    virtual VError CopyTo(const VFile& destination, FileCopyOptions options = FCP_DEFAULT) const = 0;
    // out (when given) receives the copy, retained.
    virtual VError CopyTo(const VFolder& destination, VFile** out, FileCopyOptions options = FCP_DEFAULT) const = 0;

    // The content as text of charSet (a byte-order mark wins over charSet), line ends converted to mode; out is
    // cleared on failure. Answers the last error raised (0 when none).
    VError GetContentAsString(VString& out, CharSet charSet = VTC_UTF_8, ECarriageReturnMode mode = eCRM_NATIVE) const;
    // Replaces the content with text in charSet, line ends converted to mode, the charset's byte-order mark in
    // front when withBOM and the text is not empty. 208 when charSet has no converter.
    VError SetContentAsString(const VString& text, CharSet charSet = VTC_UTF_8, ECarriageReturnMode mode = eCRM_NATIVE,
                              bool withBOM = false) const;
    // The content parsed as JSON (times recognised).
    VError GetContentAsJSON(VJSONValue& out, CharSet charSet = VTC_UTF_8) const;
    // The value's JSON text (indented) as the content.
    VError SetContentAsJSON(const VJSONValue& value, CharSet charSet = VTC_UTF_8,
                            ECarriageReturnMode mode = eCRM_NATIVE, bool withBOM = false) const;
    // Copies the content into destination when it can be read.
    VError CopyContentTo(IFile* destination) const;
};

// A folder, as JSON code and file systems see it (VFolder implements it).
class IFolder : public IFileSystemObject {
public:
    void GetNameWithoutExtension(VString& out) const override { GetPath().GetFolderName(out, false); }

    // A folder relative to this one, in fileSystem (or this folder's); retained, null when the text names no
    // folder or the file system refuses it.
    virtual IFolder* RetainRelativeFolder(const VString& path, FilePathStyle style,
                                          VFileSystem* fileSystem = nullptr) const = 0;
    // A file relative to this folder; retained, null when the text names no file.
    virtual IFile* _RetainRelativeIFile(const VString& path, FilePathStyle style) const = 0;

    // other is not null and has the same path text, unit by unit (Linux names differ by case).
    bool IsSameFolder(const IFolder* other) const;
};

} // namespace vela
