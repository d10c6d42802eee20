#include "system/platform/XPosixProcesses.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace vela {

namespace {

// The pid a directory entry names, or 0 when it is not all digits.
int PidOfEntry(const char* name) {
    long pid = 0;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || pid > 0x7FFFFFF) return 0;
        pid = pid * 10 + (*c - '0');
    }
    return int(pid);
}

std::string EntryPath(const char* procRoot, int pid, const char* entry) {
    return std::string(procRoot) + '/' + std::to_string(pid) + '/' + entry;
}

} // namespace

bool XPosixProcesses::ListProcesses(std::vector<int>& pids, const char* procRoot) {
    DIR* folder = opendir(procRoot);
    if (folder == nullptr) return false;
    while (dirent* entry = readdir(folder)) {
        int pid = PidOfEntry(entry->d_name);
        if (pid > 0) pids.push_back(pid);
    }
    closedir(folder);
    return true;
}

bool XPosixProcesses::ReadProcessName(int pid, std::string& name, bool& found, const char* procRoot) {
    found = false;
    if (access(procRoot, R_OK | X_OK) != 0) return false;
    if (pid <= 0) return true;
    int fd = open(EntryPath(procRoot, pid, "comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char buffer[64];
    ssize_t got;
    do {
        got = read(fd, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    close(fd);
    if (got < 0) return true;
    size_t length = size_t(got);
    if (length > 0 && buffer[length - 1] == '\n') --length;
    name.assign(buffer, length);
    found = true;
    return true;
}

bool XPosixProcesses::ReadProcessPath(int pid, std::string& path, const char* procRoot) {
    if (pid <= 0) return false;
    std::string link = EntryPath(procRoot, pid, "exe");
    std::string target(256, '\0');
    for (;;) {
        ssize_t got = readlink(link.c_str(), target.data(), target.size());
        if (got < 0) return false;
        if (size_t(got) < target.size()) {
            target.resize(size_t(got));
            path = std::move(target);
            return true;
        }
        // Perhaps cut: try again with more room.
        target.resize(target.size() * 2);
    }
}

} // namespace vela
