#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace vela::test {

// A temporary folder removed with everything in it (whatever the modes) when the test ends.
class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vela-tree-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        fRoot = pattern;
        // Open to the unprivileged children some tests run.
        ASSERT_EQ(::chmod(pattern, 0755), 0);
    }
    void TearDown() override {
        std::string command = "chattr -R -i '" + fRoot + "' 2>/dev/null; chmod -R u+rwx '" + fRoot +
                              "' 2>/dev/null; rm -rf '" + fRoot + "'";
        (void)std::system(command.c_str());
    }

    std::string P(const std::string& relative) const { return fRoot + "/" + relative; }
    void Folder(const std::string& relative, mode_t mode = 0755) const {
        ASSERT_EQ(::mkdir(P(relative).c_str(), 0700), 0) << relative;
        ASSERT_EQ(::chmod(P(relative).c_str(), mode), 0);
    }
    void File(const std::string& relative, const std::string& content, mode_t mode = 0644) const {
        int fd = ::open(P(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0) << relative;
        ASSERT_EQ(::write(fd, content.data(), content.size()), ssize_t(content.size()));
        ::close(fd);
        ASSERT_EQ(::chmod(P(relative).c_str(), mode), 0);
    }
    void Link(const std::string& relative, const std::string& target) const {
        ASSERT_EQ(::symlink(target.c_str(), P(relative).c_str()), 0) << relative;
    }
    static bool Present(const std::string& path) {
        struct stat status;
        return ::lstat(path.c_str(), &status) == 0;
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat status;
        return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }
    static std::string Read(const std::string& path) {
        std::string text;
        int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) return "<missing>";
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, size_t(got));
        ::close(fd);
        return text;
    }

    // Runs body in a child process as the user "nobody" (65534); answers the child's exit status.
    static int AsNobody(const std::function<int()>& body) {
        pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(120);
            ::_exit(body());
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 121;
    }
    // Gives path and everything below it to "nobody".
    static void GiveToNobody(const std::string& path) {
        std::string command = "chown -R -h 65534:65534 '" + path + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string fRoot;
};

// CI=true in the environment, as continuous integration sets it: a machine that must allow what a test needs.
inline bool RunsInContinuousIntegration() {
    const char* value = std::getenv("CI");
    return value != nullptr && std::string(value) == "true";
}

// A tmpfs of the given size ("256k") mounted at path (made when missing) for a scope: another device than the
// temporary folder, and one that fills up. Why() tells why it could not be mounted.
class StTmpfsMount {
public:
    StTmpfsMount(const std::string& path, const std::string& size) : fPath(path) {
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
            fWhy = std::string("mkdir: ") + std::strerror(errno);
            return;
        }
        const std::string options = "size=" + size + ",mode=0755";
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            fWhy = std::string("mounting a tmpfs is refused: ") + std::strerror(errno);
            return;
        }
        fMounted = true;
    }
    ~StTmpfsMount() {
        if (fMounted) (void)::umount2(fPath.c_str(), MNT_DETACH);
    }
    StTmpfsMount(const StTmpfsMount&) = delete;
    StTmpfsMount& operator=(const StTmpfsMount&) = delete;

    bool Mounted() const { return fMounted; }
    const std::string& Why() const { return fWhy; }

private:
    std::string fPath;
    std::string fWhy;
    bool fMounted = false;
};

// Skips the test when the mount is missing, or fails it under continuous integration, which runs as root.
#define VELA_REQUIRE_MOUNT(mount)                                                                                      \
    do {                                                                                                               \
        if (!(mount).Mounted()) {                                                                                      \
            if (::vela::test::RunsInContinuousIntegration()) FAIL() << (mount).Why();                                  \
            GTEST_SKIP() << (mount).Why();                                                                             \
        }                                                                                                              \
    } while (false)

// What a tree holds, one line per object: type, mode, size or link text, modification time, content digest and
// extended attributes, keyed by the path relative to the top.
inline void DescribeTree(const std::string& top, const std::string& relative, std::map<std::string, std::string>& out) {
    std::string path = relative.empty() ? top : top + "/" + relative;
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) return;
    std::string line = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid) + " " +
                       std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
    if (S_ISLNK(status.st_mode)) {
        char target[4096];
        ssize_t got = ::readlink(path.c_str(), target, sizeof target);
        line += " -> " + std::string(target, size_t(got > 0 ? got : 0));
    } else {
        char names[4096];
        ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
        for (ssize_t at = 0; at < size; at += ssize_t(std::strlen(names + at)) + 1) {
            char value[1024];
            ssize_t length = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
            line += std::string(" x:") + (names + at) + "=" + std::string(value, size_t(length > 0 ? length : 0));
        }
    }
    if (S_ISREG(status.st_mode)) {
        std::string content;
        int fd = ::open(path.c_str(), O_RDONLY);
        char buffer[65536];
        ssize_t got;
        while (fd >= 0 && (got = ::read(fd, buffer, sizeof buffer)) > 0)
            content.append(buffer, size_t(got));
        if (fd >= 0) ::close(fd);
        line +=
            " size " + std::to_string(content.size()) + " hash " + std::to_string(std::hash<std::string>()(content));
    }
    out[relative] = line;
    if (!S_ISDIR(status.st_mode)) return;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        DescribeTree(top, relative.empty() ? name : relative + "/" + name, out);
    }
    ::closedir(dir);
}

inline std::map<std::string, std::string> DescribeTree(const std::string& top) {
    std::map<std::string, std::string> out;
    DescribeTree(top, "", out);
    return out;
}

} // namespace vela::test
