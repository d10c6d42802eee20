// The process logger against an asynchronous logger of the same shape: four producers, one background consumer,
// records counted and dropped at the end.

#include "BenchMainTask.h"
#include "app/VLogger.h"

#include "core/ILogListener.h"
#include "core/VString.h"
#include "core/VTask.h"

#include <benchmark/benchmark.h>

// The peer is used from its headers alone: no library to link.
#define FMT_HEADER_ONLY
#include <spdlog/async.h>
#include <spdlog/async_logger.h>
#include <spdlog/sinks/null_sink.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kProducers = 4;
constexpr int64_t kRecords = 1000000;
constexpr int64_t kPerProducer = kRecords / kProducers;
// Each producer flushes after this many of its own records, so the ring (1000 records) never holds more than
// kProducers x kFlushEvery records between two drains: nothing is overwritten.
constexpr int64_t kFlushEvery = 200;
const char* const kMessage = "a benchmark record of ordinary length";

// Counts the records handed to it (batches arrive one at a time).
class CountingListener : public vela::ILogListener {
public:
    void Put(const std::vector<const vela::VValueBag*>& bags) override {
        fCount.fetch_add(int64_t(bags.size()), std::memory_order_relaxed);
    }
    int64_t Count() const { return fCount.load(std::memory_order_relaxed); }

private:
    std::atomic<int64_t> fCount{0};
};

void BM_LoggerThroughputOurs(benchmark::State& state) {
    vela::bench::StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    const vela::VString source("bench");
    const vela::VString message(kMessage);
    for (auto _ : state) {
        auto logger = vela::VRefPtr<vela::VLogger>::Adopt(new vela::VLogger);
        auto listener = vela::VRefPtr<CountingListener>::Adopt(new CountingListener);
        logger->Start();
        logger->AddLogListener(listener.Get());
        std::vector<vela::VRefPtr<vela::VTask>> producers;
        for (int p = 0; p < kProducers; ++p) {
            producers.push_back(vela::VRefPtr<vela::VTask>::Adopt(
                new vela::VTask(0, vela::eTaskStylePreemptive, [&logger, &source, &message] {
                    for (int64_t i = 1; i <= kPerProducer; ++i) {
                        logger->LogMessage(vela::EML_Information, source, message);
                        if (i % kFlushEvery == 0) logger->Flush();
                    }
                })));
        }
        for (auto& producer : producers)
            producer->Run();
        for (auto& producer : producers)
            producer->WaitForDeath(600000);
        logger->Flush();
        const int64_t delivered = listener->Count();
        logger.Clear();
        if (delivered != kRecords) {
            state.SkipWithError("records were lost");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

void BM_LoggerThroughputPeer(benchmark::State& state) {
    for (auto _ : state) {
        auto pool = std::make_shared<spdlog::details::thread_pool>(8192, 1);
        auto sink = std::make_shared<spdlog::sinks::null_sink_st>();
        auto logger = std::make_shared<spdlog::async_logger>("peer", sink, pool, spdlog::async_overflow_policy::block);
        std::vector<std::thread> producers;
        for (int p = 0; p < kProducers; ++p) {
            producers.emplace_back([&logger] {
                for (int64_t i = 0; i < kPerProducer; ++i)
                    logger->info(kMessage);
            });
        }
        for (auto& producer : producers)
            producer.join();
        logger.reset();
        // The pool's worker handles every queued record before it ends.
        pool.reset();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}

} // namespace

BENCHMARK(BM_LoggerThroughputOurs)->Name("logger_throughput/ours")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoggerThroughputPeer)->Name("logger_throughput/peer")->Unit(benchmark::kMillisecond)->UseRealTime();
