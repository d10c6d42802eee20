#pragma once

#include "core/VObject.h"
#include "core/VString.h"
#include "core/VTypes.h"
#include "files/VFilePath.h"

#include <cstdio>
#include <string>

namespace vela {

// A log written into numbered files "<name>_<N>.txt" of one folder: before each append, a file that holds more
// than kMaxFileSize bytes is closed and the next number is created (truncated), and the file kMaxLogsToKeep
// numbers back is deleted. A text is never split: one append may carry a file past the bound. Takes no lock:
// its owner serialises every call.
class VSplitableLogFile : public VObject {
public:
    static constexpr int64 kMaxFileSize = 10485760;
    // How many files a new log keeps; 0 or less keeps every file.
    static int32 sDefaultMaxLogsToKeep;

    // folder is the folder of the files (made with its parents on open); number is the current file's N.
    // binary chooses the C library's "ab"/"wb" modes. Not open.
    VSplitableLogFile(const VFilePath& folder, const VString& name, int32 number, bool binary);
    ~VSplitableLogFile() override;
    VSplitableLogFile(const VSplitableLogFile&) = delete;
    VSplitableLogFile& operator=(const VSplitableLogFile&) = delete;

    // Opens the current number (a stream already open is kept): appends to an existing file unless overwrite,
    // which creates or truncates. findFree first moves the number past every existing file. False when no file
    // can be opened (folder creation failures are not reported).
    bool Open(bool overwrite, bool findFree);
    bool Open(int32 number, bool overwrite);
    void Close();
    void Flush();
    bool IsOpen() const noexcept { return fStream != nullptr; }
    // Whether the file of the current number exists.
    bool Exists() const;
    // Closes an open file and opens number instead.
    void SetLogNumber(int32 number, bool overwrite);
    int32 GetLogNumber() const noexcept { return fNumber; }
    int32 GetMaxLogsToKeep() const noexcept { return fMaxLogsToKeep; }
    void SetMaxLogsToKeep(int32 count) noexcept { fMaxLogsToKeep = count; }

    // Rolls over when the open file holds more than kMaxFileSize bytes: answers the new number, else 0.
    int32 CheckLogSize();
    // The bytes that the file the next append goes to may hold before an append after that one rolls it over:
    // kMaxFileSize less its size, counted from an empty file when the next append rolls over first.
    int64 GetBytesBeforeRollover() const noexcept { return fSize > kMaxFileSize ? kMaxFileSize : kMaxFileSize - fSize; }
    // Each rolls over when due, then writes to the open file (nothing when none is open).
    void AppendFormattedString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void AppendString(const char* text);
    void AppendString(const char* text, size_t length);
    // UTF-8.
    void AppendString(const VString& text);
    // Whether nothing was appended since the last open.
    bool IsJustOpened() const noexcept { return fJustOpened; }
    void CheckEndOfLine() noexcept { fJustOpened = false; }

    // "<name>_<N>.txt" of the current number.
    void GetCurrentFileName(VString& out) const;
    void GetFolderPath(VFilePath& out) const { out = fFolder; }
    // "<name>_<number>.txt".
    static void BuildLogFileName(const VString& name, int32 number, VString& out);
    // "<name>_<number>" and extension, or ".txt" when extension is empty.
    static void BuildLogFileNameWithExt(const VString& name, int32 number, const VString& extension, VString& out);

private:
    // The POSIX path (UTF-8) of file number; empty without a folder.
    std::string _PosixPath(int32 number) const;

    FILE* fStream = nullptr;
    static constexpr size_t kStreamBufferSize = 65536;
    // Bytes in the open file: its size at opening plus what was appended since (asking the stream for its
    // position costs a system call in append mode).
    int64 fSize = 0;
    VFilePath fFolder;
    VString fName;
    int32 fNumber;
    int32 fMaxLogsToKeep;
    bool fJustOpened = false;
    bool fBinary;
};

} // namespace vela
