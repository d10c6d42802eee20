// 100,000 absolute POSIX paths to the internal form and back, against std::filesystem::path parsing the same
// text and giving its generic form. Ours consults the mounted volumes for every path, as the file layer does.
#include "core/VString.h"
#include "files/VFilePath.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using vela::FPS_POSIX;
using vela::VFilePath;
using vela::VString;

constexpr size_t kPaths = 100000;

const std::vector<std::string>& PosixPaths() {
    static const std::vector<std::string> paths = [] {
        const char* const roots[] = {"/home/user/", "/tmp/", "/usr/share/doc/", "/var/log/", "/opt/app/"};
        std::vector<std::string> out;
        out.reserve(kPaths);
        uint32_t state = 2024;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return state >> 8;
        };
        for (size_t i = 0; i < kPaths; ++i) {
            std::string path = roots[next() % 5];
            int depth = 1 + int(next() % 5);
            for (int d = 0; d < depth; ++d) {
                int length = 3 + int(next() % 10);
                for (int c = 0; c < length; ++c)
                    path.push_back(char('a' + next() % 26));
                if (d + 1 < depth) path.push_back('/');
            }
            if (next() % 4 == 0)
                path.push_back('/');
            else
                path += ".txt";
            out.push_back(std::move(path));
        }
        return out;
    }();
    return paths;
}

const std::vector<VString>& PosixTexts() {
    static const std::vector<VString> texts = [] {
        std::vector<VString> out;
        out.reserve(kPaths);
        for (const std::string& path : PosixPaths())
            out.emplace_back(path.c_str());
        return out;
    }();
    return texts;
}

void BM_PathPosixRoundtrip_Ours(benchmark::State& state) {
    const std::vector<VString>& texts = PosixTexts();
    VString back;
    for (auto _ : state) {
        for (const VString& text : texts) {
            VFilePath path(text, FPS_POSIX);
            path.GetPosixPath(back);
            benchmark::DoNotOptimize(back.GetCPointer());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPaths));
}

void BM_PathPosixRoundtrip_Peer(benchmark::State& state) {
    const std::vector<std::string>& paths = PosixPaths();
    std::string back;
    for (auto _ : state) {
        for (const std::string& text : paths) {
            std::filesystem::path path(text);
            back = path.generic_string();
            benchmark::DoNotOptimize(back.data());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPaths));
}

} // namespace

BENCHMARK(BM_PathPosixRoundtrip_Ours)->Name("path_posix_roundtrip/ours");
BENCHMARK(BM_PathPosixRoundtrip_Peer)->Name("path_posix_roundtrip/peer");
