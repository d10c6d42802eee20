#include "app/VSplitableLogFile.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "files/VFolder.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <sys/stat.h>

namespace vela {

int32 VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

namespace {

std::string ToUTF8(const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    return std::string(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
}

} // namespace

VSplitableLogFile::VSplitableLogFile(const VFilePath& folder, const VString& name, int32 number, bool binary)
    : fFolder(folder), fName(name), fNumber(number), fMaxLogsToKeep(sDefaultMaxLogsToKeep), fBinary(binary) {}

VSplitableLogFile::~VSplitableLogFile() {
    Close();
}

void VSplitableLogFile::BuildLogFileNameWithExt(const VString& name, int32 number, const VString& extension,
                                                VString& out) {
    out = name;
    out.AppendUniChar(u'_');
    out.AppendLong(number);
    if (extension.IsEmpty())
        out.AppendCString(".txt");
    else
        out.AppendString(extension);
}

void VSplitableLogFile::BuildLogFileName(const VString& name, int32 number, VString& out) {
    BuildLogFileNameWithExt(name, number, VString(), out);
}

void VSplitableLogFile::GetCurrentFileName(VString& out) const {
    BuildLogFileName(fName, fNumber, out);
}

std::string VSplitableLogFile::_PosixPath(int32 number) const {
    if (fFolder.IsEmpty() || !fFolder.IsValid()) return std::string();
    VString fileName;
    BuildLogFileName(fName, number, fileName);
    VFilePath file(fFolder);
    file.ToSubFile(fileName);
    return ToUTF8(file.GetPath(FPS_POSIX));
}

bool VSplitableLogFile::Exists() const {
    std::string path = _PosixPath(fNumber);
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool VSplitableLogFile::Open(bool overwrite, bool findFree) {
    if (fStream == nullptr) {
        std::string path = _PosixPath(fNumber);
        struct stat info {};
        if (findFree && !path.empty()) {
            while (stat(path.c_str(), &info) == 0)
                path = _PosixPath(++fNumber);
        }
        if (!path.empty()) {
            {
                // Not reported: the open that follows fails on its own when the folder is missing.
                StErrorContextInstaller ignored(false, true);
                VFolder(fFolder).CreateRecursive();
            }
            // The probe is closed rather than reopened: a failed freopen leaves its stream behind.
            FILE* probe = overwrite ? nullptr : fopen(path.c_str(), "r");
            if (probe != nullptr) {
                fclose(probe);
                fStream = fopen(path.c_str(), fBinary ? "ab" : "a");
            } else {
                fStream = fopen(path.c_str(), fBinary ? "wb" : "w");
            }
            // A batch of lines goes out in one write rather than one per 4 KiB.
            if (fStream != nullptr) setvbuf(fStream, nullptr, _IOFBF, kStreamBufferSize);
            struct stat opened {};
            fSize = fStream != nullptr && fstat(fileno(fStream), &opened) == 0 ? int64(opened.st_size) : 0;
        }
    }
    fJustOpened = true;
    return fStream != nullptr;
}

bool VSplitableLogFile::Open(int32 number, bool overwrite) {
    fNumber = number;
    return Open(overwrite, false);
}

void VSplitableLogFile::Close() {
    if (fStream == nullptr) return;
    fclose(fStream);
    fStream = nullptr;
}

void VSplitableLogFile::Flush() {
    if (fStream != nullptr) fflush(fStream);
}

void VSplitableLogFile::SetLogNumber(int32 number, bool overwrite) {
    fNumber = number;
    if (fStream == nullptr) return;
    Close();
    Open(overwrite, false);
}

int32 VSplitableLogFile::CheckLogSize() {
    if (fStream == nullptr || fSize <= kMaxFileSize) return 0;
    Close();
    const int32 old = fNumber;
    fNumber = old + 1;
    if (fMaxLogsToKeep >= 1 && old >= fMaxLogsToKeep) {
        std::string oldest = _PosixPath(fNumber - fMaxLogsToKeep);
        if (FILE* probe = fopen(oldest.c_str(), "r")) {
            fclose(probe);
            remove(oldest.c_str());
        }
    }
    Open(true, false);
    return fNumber;
}

void VSplitableLogFile::AppendFormattedString(const char* format, ...) {
    CheckLogSize();
    if (fStream == nullptr) return;
    fJustOpened = false;
    va_list args;
    va_start(args, format);
    int written = vfprintf(fStream, format, args);
    if (written > 0) fSize += written;
    va_end(args);
}

void VSplitableLogFile::AppendString(const char* text) {
    CheckLogSize();
    if (fStream == nullptr || text == nullptr) return;
    fJustOpened = false;
    if (fputs(text, fStream) >= 0) fSize += int64(strlen(text));
}

void VSplitableLogFile::AppendString(const char* text, size_t length) {
    CheckLogSize();
    if (fStream == nullptr) return;
    fJustOpened = false;
    fSize += int64(fwrite(text, 1, length, fStream));
}

void VSplitableLogFile::AppendString(const VString& text) {
    AppendString(ToUTF8(text).c_str());
}

} // namespace vela
