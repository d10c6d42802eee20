// File streams against the standard file streams: 256 MB written, then read, in 1 KiB pieces.

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileStream.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr size_t kPiece = 1024;
constexpr size_t kTotal = size_t(256) << 20;

// A temporary folder for one benchmark, removed with its files at the end.
class StBenchFolder {
public:
    StBenchFolder() {
        char pattern[] = "/tmp/vela-bench-files-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) fPath = pattern;
    }
    ~StBenchFolder() {
        std::error_code ignored;
        if (!fPath.empty()) std::filesystem::remove_all(fPath, ignored);
    }
    StBenchFolder(const StBenchFolder&) = delete;
    StBenchFolder& operator=(const StBenchFolder&) = delete;

    bool IsValid() const { return !fPath.empty(); }
    std::string File(const char* name) const { return fPath + "/" + name; }

private:
    std::string fPath;
};

vela::VRefPtr<vela::VFile> FileAt(const std::string& path) {
    vela::VString text;
    text.FromBlock(path.data(), path.size(), vela::VTC_UTF_8);
    return vela::VRefPtr<vela::VFile>::Adopt(new vela::VFile(vela::VFilePath(text, vela::FPS_POSIX)));
}

std::vector<char> Piece() {
    std::vector<char> piece(kPiece);
    for (size_t i = 0; i < kPiece; ++i)
        piece[i] = char('a' + i % 26);
    return piece;
}

// The file the read benchmarks read, written before their timing starts.
bool WriteInput(const std::string& path) {
    const std::vector<char> piece = Piece();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (size_t done = 0; done < kTotal; done += kPiece)
        out.write(piece.data(), std::streamsize(kPiece));
    out.close();
    return bool(out);
}

void BM_FileStreamWriteOurs(benchmark::State& state) {
    StBenchFolder folder;
    if (!folder.IsValid()) return state.SkipWithError("no temporary folder");
    const auto file = FileAt(folder.File("out"));
    const std::vector<char> piece = Piece();
    for (auto _ : state) {
        vela::VFileStream stream(file.Get(), vela::FO_CREATE_IF_NOT_FOUND | vela::FO_OVERWRITE);
        if (stream.OpenWriting() != vela::VE_OK) return state.SkipWithError("cannot open");
        for (size_t done = 0; done < kTotal; done += kPiece)
            stream.PutData(piece.data(), kPiece);
        if (stream.CloseWriting() != vela::VE_OK) return state.SkipWithError("cannot write");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void BM_FileStreamWritePeer(benchmark::State& state) {
    StBenchFolder folder;
    if (!folder.IsValid()) return state.SkipWithError("no temporary folder");
    const std::string path = folder.File("out");
    const std::vector<char> piece = Piece();
    for (auto _ : state) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (size_t done = 0; done < kTotal; done += kPiece)
            out.write(piece.data(), std::streamsize(kPiece));
        out.close();
        if (!out) return state.SkipWithError("cannot write");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void BM_FileStreamReadOurs(benchmark::State& state) {
    StBenchFolder folder;
    if (!folder.IsValid() || !WriteInput(folder.File("in"))) return state.SkipWithError("no input file");
    const auto file = FileAt(folder.File("in"));
    std::vector<char> piece(kPiece);
    for (auto _ : state) {
        vela::VFileStream stream(file.Get());
        if (stream.OpenReading() != vela::VE_OK) return state.SkipWithError("cannot open");
        for (size_t done = 0; done < kTotal; done += kPiece)
            stream.GetData(piece.data(), kPiece);
        if (stream.CloseReading() != vela::VE_OK) return state.SkipWithError("cannot read");
        benchmark::DoNotOptimize(piece.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

void BM_FileStreamReadPeer(benchmark::State& state) {
    StBenchFolder folder;
    if (!folder.IsValid() || !WriteInput(folder.File("in"))) return state.SkipWithError("no input file");
    const std::string path = folder.File("in");
    std::vector<char> piece(kPiece);
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        for (size_t done = 0; done < kTotal; done += kPiece)
            in.read(piece.data(), std::streamsize(kPiece));
        if (!in) return state.SkipWithError("cannot read");
        benchmark::DoNotOptimize(piece.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal));
}

} // namespace

BENCHMARK(BM_FileStreamWriteOurs)->Name("file_stream_write/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStreamWritePeer)->Name("file_stream_write/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStreamReadOurs)->Name("file_stream_read/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FileStreamReadPeer)->Name("file_stream_read/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
