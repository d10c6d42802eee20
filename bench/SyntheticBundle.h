// Internal to the benchmarks: the synthetic application bundle that the folder and update benchmarks work on,
// made once per run by whichever benchmark needs it first, and a way to run the system's own tools.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace vela::bench {

constexpr int kFiles = 5000;
constexpr int kBigFiles = 20;
constexpr size_t kBigSize = size_t(10) << 20;     // 200 MB in 20 files
constexpr size_t kSmallTotal = size_t(100) << 20; // 100 MB over the others
constexpr int kFoldersPerLevel = 10;              // 10 x 10 leaf folders of about 50 files each

inline int Run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (::waitpid(child, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline void WriteFile(const std::string& path, size_t size, uint32_t seed, mode_t mode) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; i += 64) {
        seed = seed * 1664525u + 1013904223u;
        data[i] = char(seed >> 24);
    }
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0 || ::write(fd, data.data(), data.size()) != ssize_t(data.size())) std::abort();
    ::fchmod(fd, mode);
    ::close(fd);
}

// 5,000 files in nested folders, 300 MB, relative links and executable bits, in a temporary folder of its own
// (under TMPDIR when set) that goes when the run ends.
struct Bundle {
    std::string fTop;    // the temporary folder
    std::string fSource; // the bundle in it

    Bundle() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/vela-bundle-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        fTop = pattern;
        fSource = fTop + "/App.app";
        std::string contents = fSource + "/Contents";
        for (const std::string& folder : {fSource, contents, contents + "/MacOS", contents + "/Resources"})
            ::mkdir(folder.c_str(), 0755);
        const size_t smallSize = kSmallTotal / size_t(kFiles - kBigFiles);
        int made = 0;
        for (int a = 0; a < kFoldersPerLevel; ++a) {
            std::string level1 = contents + "/Resources/group" + std::to_string(a);
            ::mkdir(level1.c_str(), 0755);
            for (int b = 0; b < kFoldersPerLevel; ++b) {
                std::string level2 = level1 + "/set" + std::to_string(b);
                ::mkdir(level2.c_str(), 0755);
                int here = (kFiles - made) / (kFoldersPerLevel * kFoldersPerLevel - (a * kFoldersPerLevel + b));
                for (int i = 0; i < here; ++i, ++made) {
                    bool big = made % (kFiles / kBigFiles) == 0;
                    mode_t mode = made % 10 == 0 ? 0755 : 0644;
                    WriteFile(level2 + "/item" + std::to_string(i) + ".dat", big ? kBigSize : smallSize, uint32_t(made),
                              mode);
                }
                // Relative links across the tree, as frameworks hold them.
                std::string link = level2 + "/Current";
                if (::symlink(("../set" + std::to_string((b + 1) % kFoldersPerLevel)).c_str(), link.c_str()) != 0)
                    std::abort();
                if (::symlink("item0.dat", (level2 + "/First").c_str()) != 0) std::abort();
            }
        }
        WriteFile(contents + "/MacOS/App", 1 << 20, 7, 0755);
    }
    ~Bundle() { Run({"rm", "-rf", fTop}); }
};

inline const Bundle& TheBundle() {
    static const Bundle bundle;
    return bundle;
}

} // namespace vela::bench
