#include "core/VString.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kValueCount = 1024;

// Integers of every magnitude and sign.
const std::vector<long long>& Integers() {
    static const std::vector<long long> sValues = [] {
        std::mt19937_64 random(1);
        std::vector<long long> values;
        for (size_t i = 0; i < kValueCount; ++i) {
            int digits = int(random() % 19);
            long long magnitude = 1;
            for (int d = 0; d < digits; ++d)
                magnitude *= 10;
            long long value = (long long)(random() % uint64_t(magnitude)) + 1;
            values.push_back(i % 3 == 0 ? -value : value);
        }
        return values;
    }();
    return sValues;
}

// Reals from small decimals to full-precision doubles.
const std::vector<double>& Reals() {
    static const std::vector<double> sValues = [] {
        std::mt19937_64 random(2);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        std::vector<double> values;
        for (size_t i = 0; i < kValueCount; ++i) {
            double value = unit(random);
            switch (i % 4) {
            case 0:
                value = double(int64_t(random() % 100000)) / 100.0;
                break;
            case 1:
                value *= 1e6;
                break;
            case 2:
                value *= 1e-12;
                break;
            default:
                value *= 1e200;
                break;
            }
            values.push_back(value);
        }
        return values;
    }();
    return sValues;
}

// The same reals as text, as strings and as UTF-8.
const std::vector<std::string>& RealTexts() {
    static const std::vector<std::string> sTexts = [] {
        std::vector<std::string> texts;
        for (double value : Reals()) {
            char buffer[64];
            auto result = std::to_chars(buffer, buffer + sizeof(buffer), value);
            texts.emplace_back(buffer, result.ptr);
        }
        return texts;
    }();
    return sTexts;
}

void BM_IntToText_Ours(benchmark::State& state) {
    const auto& values = Integers();
    vela::VString text;
    size_t i = 0;
    for (auto _ : state) {
        text.Truncate(0);
        text.AppendLong8(values[i++ % kValueCount]);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}

void BM_IntToText_Peer(benchmark::State& state) {
    const auto& values = Integers();
    char buffer[24];
    size_t i = 0;
    for (auto _ : state) {
        auto result = std::to_chars(buffer, buffer + sizeof(buffer), values[i++ % kValueCount]);
        benchmark::DoNotOptimize(result.ptr);
        benchmark::DoNotOptimize(buffer);
    }
}

void BM_RealToText_Ours(benchmark::State& state) {
    const auto& values = Reals();
    vela::VString text;
    size_t i = 0;
    for (auto _ : state) {
        text.FromReal(values[i++ % kValueCount]);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}

void BM_RealToText_Peer(benchmark::State& state) {
    const auto& values = Reals();
    char buffer[40];
    size_t i = 0;
    for (auto _ : state) {
        auto result =
            std::to_chars(buffer, buffer + sizeof(buffer), values[i++ % kValueCount], std::chars_format::general, 14);
        benchmark::DoNotOptimize(result.ptr);
        benchmark::DoNotOptimize(buffer);
    }
}

void BM_TextToReal_Ours(benchmark::State& state) {
    std::vector<vela::VString> texts;
    for (const std::string& text : RealTexts())
        texts.emplace_back(text.c_str());
    size_t i = 0;
    for (auto _ : state) {
        double value = texts[i++ % kValueCount].GetReal();
        benchmark::DoNotOptimize(value);
    }
}

void BM_TextToReal_Peer(benchmark::State& state) {
    const auto& texts = RealTexts();
    size_t i = 0;
    for (auto _ : state) {
        const std::string& text = texts[i++ % kValueCount];
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        benchmark::DoNotOptimize(value);
    }
}

void BM_PrintfMixed_Ours(benchmark::State& state) {
    const auto& integers = Integers();
    vela::VString name("velocity");
    vela::VString text;
    size_t i = 0;
    for (auto _ : state) {
        size_t k = i++ % kValueCount;
        text.Printf("%S=%d (%.3f) %s", &name, int(integers[k]), double(integers[k] % 1000000) / 7.0, "abc");
        benchmark::DoNotOptimize(text.GetCPointer());
    }
}

void BM_PrintfMixed_Peer(benchmark::State& state) {
    const auto& integers = Integers();
    std::string name("velocity");
    std::string text;
    size_t i = 0;
    for (auto _ : state) {
        size_t k = i++ % kValueCount;
        char buffer[256];
        int size = std::snprintf(buffer, sizeof(buffer), "%s=%d (%.3f) %s", name.c_str(), int(integers[k]),
                                 double(integers[k] % 1000000) / 7.0, "abc");
        text.assign(buffer, size_t(size));
        benchmark::DoNotOptimize(text.data());
    }
}

BENCHMARK(BM_IntToText_Ours)->Name("int_to_text/ours");
BENCHMARK(BM_IntToText_Peer)->Name("int_to_text/peer");
BENCHMARK(BM_RealToText_Ours)->Name("real_to_text/ours");
BENCHMARK(BM_RealToText_Peer)->Name("real_to_text/peer");
BENCHMARK(BM_TextToReal_Ours)->Name("text_to_real/ours");
BENCHMARK(BM_TextToReal_Peer)->Name("text_to_real/peer");
BENCHMARK(BM_PrintfMixed_Ours)->Name("printf_mixed/ours");
BENCHMARK(BM_PrintfMixed_Peer)->Name("printf_mixed/peer");

} // namespace
