// Scratch files for the fuzz targets whose readers take a file: one folder per process under the system's temporary
// folder, made on first use and removed at exit, so that each run only rewrites a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace vela::fuzz {

inline const std::string& ScratchFolder() {
    // Never destroyed: the removal at exit runs after the statics are gone.
    static const std::string* const folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "vela_fuzz_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        auto* made = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchFolder(), ignored);
        });
        return made;
    }();
    return *folder;
}

// Replaces the file at relative path (its folders made) with the bytes; its full path.
inline std::string WriteScratchFile(const std::string& relative, const void* data, size_t size) {
    const std::filesystem::path path = std::filesystem::path(ScratchFolder()) / relative;
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path.string();
}

} // namespace vela::fuzz
