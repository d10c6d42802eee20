// RFC 3339 text of 1,000,000 UTC instants with milliseconds, spread over two centuries:
// - write: VTime::GetRfc3339String(text, 1) into a reused VString against gmtime_r + strftime + snprintf of the
//   milliseconds into a reused std::string;
// - parse: VTime::FromRfc3339String of the texts (held as VStrings) against strptime + timegm of the same texts
//   (held as std::strings).
#include "core/VString.h"
#include "values/VTime.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace vela;

constexpr size_t kInstants = 1000000;

struct Instant {
    time_t seconds;
    int milliseconds;
};

// Seconds from 1900 to 2100, with milliseconds; the same list every run.
const std::vector<Instant>& Instants() {
    static const std::vector<Instant> sInstants = [] {
        std::mt19937_64 random(20240517);
        std::uniform_int_distribution<int64_t> seconds(-2208988800LL, 4102444799LL);
        std::uniform_int_distribution<int> milliseconds(0, 999);
        std::vector<Instant> instants(kInstants);
        for (Instant& instant : instants)
            instant = {time_t(seconds(random)), milliseconds(random)};
        return instants;
    }();
    return sInstants;
}

VTime ToVTime(const Instant& instant) {
    std::tm fields{};
    gmtime_r(&instant.seconds, &fields);
    VTime time;
    time.FromUTCTime(int16(fields.tm_year + 1900), int16(fields.tm_mon + 1), int16(fields.tm_mday),
                     int16(fields.tm_hour), int16(fields.tm_min), int16(fields.tm_sec), int16(instant.milliseconds));
    return time;
}

std::string PeerText(const Instant& instant) {
    std::tm fields{};
    gmtime_r(&instant.seconds, &fields);
    char text[64];
    size_t n = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &fields);
    std::snprintf(text + n, sizeof(text) - n, ".%03dZ", instant.milliseconds);
    return text;
}

void BM_Rfc3339WriteOurs(benchmark::State& state) {
    std::vector<VTime> times;
    times.reserve(kInstants);
    for (const Instant& instant : Instants())
        times.push_back(ToVTime(instant));
    VString text;
    for (auto _ : state) {
        for (const VTime& time : times) {
            time.GetRfc3339String(text, VTime::kRfc3339UTC);
            benchmark::DoNotOptimize(text.GetCPointer());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kInstants));
}

void BM_Rfc3339WritePeer(benchmark::State& state) {
    const std::vector<Instant>& instants = Instants();
    std::string text;
    for (auto _ : state) {
        for (const Instant& instant : instants) {
            std::tm fields{};
            gmtime_r(&instant.seconds, &fields);
            char buffer[64];
            size_t n = std::strftime(buffer, sizeof(buffer), "%Y-%m-%dT%H:%M:%S", &fields);
            std::snprintf(buffer + n, sizeof(buffer) - n, ".%03dZ", instant.milliseconds);
            text.assign(buffer);
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kInstants));
}

void BM_Rfc3339ParseOurs(benchmark::State& state) {
    std::vector<VString> texts;
    texts.reserve(kInstants);
    for (const Instant& instant : Instants())
        texts.emplace_back(PeerText(instant).c_str());
    VTime time;
    for (auto _ : state) {
        for (const VString& text : texts) {
            benchmark::DoNotOptimize(time.FromRfc3339String(text));
            benchmark::DoNotOptimize(time.GetStamp());
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kInstants));
}

void BM_Rfc3339ParsePeer(benchmark::State& state) {
    std::vector<std::string> texts;
    texts.reserve(kInstants);
    for (const Instant& instant : Instants())
        texts.push_back(PeerText(instant));
    for (auto _ : state) {
        for (const std::string& text : texts) {
            std::tm fields{};
            benchmark::DoNotOptimize(strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &fields));
            benchmark::DoNotOptimize(timegm(&fields));
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kInstants));
}

BENCHMARK(BM_Rfc3339WriteOurs)->Name("time_rfc3339_write/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rfc3339WritePeer)->Name("time_rfc3339_write/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rfc3339ParseOurs)->Name("time_rfc3339_parse/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rfc3339ParsePeer)->Name("time_rfc3339_parse/peer")->Unit(benchmark::kMillisecond);

} // namespace
