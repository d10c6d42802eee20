// Internal to the updater's tests: a whole folder tree as a value, to compare bundles byte for byte.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vela::test {

// Every object below a folder by relative path: its type and mode, then its bytes or its link's text.
using TreeManifest = std::map<std::string, std::string>;

namespace detail {

// Adds the objects of folder (relative name prefix) to manifest; system calls only, as the trees are large.
inline void AddFolder(const std::string& folder, const std::string& prefix, TreeManifest& manifest) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        std::string value = std::to_string(st.st_mode) + ":";
        if (S_ISLNK(st.st_mode)) {
            char text[4096];
            const ssize_t got = ::readlink(path.c_str(), text, sizeof text);
            if (got > 0) value.append(text, size_t(got));
        } else if (S_ISREG(st.st_mode)) {
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            char buffer[65536];
            for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                value.append(buffer, size_t(got));
            if (fd >= 0) ::close(fd);
        } else if (S_ISDIR(st.st_mode)) {
            AddFolder(path, prefix + name + "/", manifest);
        }
        manifest[prefix + name] = std::move(value);
    }
    ::closedir(dir);
}

} // namespace detail

// The manifest of the tree at top (links not followed); empty when top is not a folder.
inline TreeManifest ManifestOf(const std::string& top) {
    TreeManifest manifest;
    struct stat st {};
    if (::lstat(top.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) detail::AddFolder(top, std::string(), manifest);
    return manifest;
}

// Empty when the two are equal; else the first path that differs and how, short enough for a failure message.
inline std::string Difference(const TreeManifest& actual, const TreeManifest& expected) {
    auto a = actual.begin();
    auto e = expected.begin();
    for (; a != actual.end() && e != expected.end(); ++a, ++e) {
        if (a->first != e->first) return a->first < e->first ? "unexpected " + a->first : "missing " + e->first;
        if (a->second != e->second) return "different " + a->first;
    }
    if (a != actual.end()) return "unexpected " + a->first;
    if (e != expected.end()) return "missing " + e->first;
    return {};
}

} // namespace vela::test
