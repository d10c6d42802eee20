// Records through the process logger into the log-file writer against a synchronous logger with a plain file
// sink: one producer, each record numbered in its message; after the run (outside the timing) the files must hold
// every record, in order (ours rolls over to numbered files every 10 MiB).

#include "BenchMainTask.h"
#include "app/VLog4jMsgFileLogger.h"
#include "app/VLogger.h"

#include "core/VString.h"
#include "files/VFilePath.h"

#include <benchmark/benchmark.h>

// The peer is used from its headers alone: no library to link.
#define FMT_HEADER_ONLY
#include <spdlog/logger.h>
#include <spdlog/sinks/basic_file_sink.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int64_t kRecords = 1000000;
// The ring holds 1000 records: flushing after every 500 keeps any from being overwritten.
constexpr int64_t kFlushEvery = 500;
const char* const kMessage = "a benchmark record of ordinary length, number ";

// A fresh folder under /tmp, removed at the end.
class StBenchFolder {
public:
    StBenchFolder() {
        char pattern[] = "/tmp/velalogbenchXXXXXX";
        fPath = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~StBenchFolder() { Remove(); }
    // Called while the timing is paused.
    void Remove() {
        if (!fPath.empty()) std::system(("rm -rf '" + fPath + "'").c_str());
        fPath.clear();
    }
    StBenchFolder(const StBenchFolder&) = delete;
    StBenchFolder& operator=(const StBenchFolder&) = delete;

    bool IsValid() const { return !fPath.empty(); }
    const std::string& Path() const { return fPath; }

private:
    std::string fPath;
};

// Whether the files at paths, read one after the other, hold exactly kRecords lines whose messages end in 1, 2,
// ... kRecords, in that order.
bool HoldsEveryRecordInOrder(const std::vector<std::string>& paths) {
    int64_t expected = 1;
    const size_t prefixLength = std::strlen(kMessage);
    for (const std::string& path : paths) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line); ++expected) {
            size_t at = line.find(kMessage);
            if (at == std::string::npos) return false;
            if (std::strtoll(line.c_str() + at + prefixLength, nullptr, 10) != expected) return false;
        }
    }
    return expected == kRecords + 1;
}

// The numbered log files of name in folder, from 1 up to the last that exists.
std::vector<std::string> NumberedFiles(const std::string& folder, const std::string& name) {
    std::vector<std::string> paths;
    for (int n = 1;; ++n) {
        std::string path = folder + "/" + name + "_" + std::to_string(n) + ".txt";
        if (!std::ifstream(path)) return paths;
        paths.push_back(path);
    }
}

void BM_LogFileWriteOurs(benchmark::State& state) {
    vela::bench::StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    const vela::VString source("bench");
    for (auto _ : state) {
        state.PauseTiming();
        StBenchFolder folder;
        auto logger = vela::VRefPtr<vela::VLogger>::Adopt(new vela::VLogger);
        logger->Start();
        vela::ILogger* previous = vela::SetProcessLogger(logger.Get());
        auto writer = std::make_unique<vela::VLog4jMsgFileLogger>(
            vela::VFilePath(vela::VString((folder.Path() + "/").c_str()), vela::FPS_POSIX), "bench");
        state.ResumeTiming();

        writer->Start(1);
        vela::VString message;
        for (int64_t i = 1; i <= kRecords; ++i) {
            message.FromCString(kMessage);
            message.AppendLong8(i);
            logger->LogMessage(vela::EML_Information, source, message);
            if (i % kFlushEvery == 0) logger->Flush();
        }
        writer->Stop();

        state.PauseTiming();
        const bool started = folder.IsValid();
        writer.reset();
        vela::SetProcessLogger(previous);
        logger.Clear();
        const bool complete = started && HoldsEveryRecordInOrder(NumberedFiles(folder.Path(), "bench"));
        folder.Remove();
        if (!complete) {
            state.SkipWithError("records are missing or out of order");
            return;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_LogFileWritePeer(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        StBenchFolder folder;
        const std::string path = folder.Path() + "/peer.txt";
        state.ResumeTiming();
        {
            auto sink = std::make_shared<spdlog::sinks::basic_file_sink_st>(path, true);
            spdlog::logger logger("peer", sink);
            for (int64_t i = 1; i <= kRecords; ++i)
                logger.info("{}{}", kMessage, i);
            logger.flush();
        }
        state.PauseTiming();
        const bool complete = HoldsEveryRecordInOrder({path});
        folder.Remove();
        if (!complete) {
            state.SkipWithError("records are missing or out of order");
            return;
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

} // namespace

BENCHMARK(BM_LogFileWriteOurs)->Name("log_file_write/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LogFileWritePeer)->Name("log_file_write/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
