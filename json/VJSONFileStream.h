// Internal header: the file stream of the JSON text entry points; include json/VJSONImporter.h or json/VJSONWriter.h.
#pragma once

#include "core/VString.h"
#include "files/VStream.h"

namespace vela {

// A stream over the file at a POSIX path: what the JSON text entry points read and write until file objects
// exist (then they take a file object and read and write through it). Reading opens the file as it is; writing
// creates it, or empties an existing one. Failures of the system calls are 'POSX' errno codes, raised with the
// path as "p1".
class VJSONFileStream : public VStream {
public:
    explicit VJSONFileStream(const VString& posixPath);
    ~VJSONFileStream() override;

    // The whole file as text of charSet (a leading UTF-8 byte-order mark is skipped); line ends kept.
    static VError ReadText(const VString& posixPath, VString& text, CharSet charSet = VTC_UTF_8);
    // Replaces the file's content with text in charSet; line ends kept.
    static VError WriteText(const VString& posixPath, const VString& text, CharSet charSet = VTC_UTF_8);

protected:
    VError DoOpenReading() override;
    VError DoOpenWriting() override;
    VError DoCloseReading() override;
    VError DoCloseWriting(bool setSize) override;
    VError DoPutData(const void* data, size_t count) override;
    VError DoGetData(void* buffer, size_t* ioCount) override;
    int64 DoGetSize() override;
    VError DoSetSize(int64 size) override;

private:
    VError _Open(int flags);
    VError _Close();
    // Raises and answers the 'POSX' code of errno.
    VError _ThrowErrno() const;

    VString fPath;
    int fDescriptor = -1;
};

} // namespace vela
