// Base64 of 1 MiB against the plain loop: three bytes to four look-ups in the 64-character alphabet, and four
// look-ups in a 256-entry inverse table (each checked) back to three bytes, into preallocated output.
#include "core/Base64Coder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

using vela::Base64Coder;

constexpr size_t kSize = 1 << 20;
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

const std::vector<uint8_t>& Input() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> data(kSize);
        uint32_t state = 12345;
        for (uint8_t& b : data) {
            state = state * 1664525u + 1013904223u;
            b = uint8_t(state >> 24);
        }
        return data;
    }();
    return bytes;
}

size_t PlainEncode(const uint8_t* in, size_t n, char* out) {
    char* start = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = kAlphabet[(v >> 6) & 63];
        *out++ = kAlphabet[v & 63];
    }
    if (i < n) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (i + 1 < n) v |= uint32_t(in[i + 1]) << 8;
        *out++ = kAlphabet[(v >> 18) & 63];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        *out++ = '=';
    }
    return size_t(out - start);
}

struct PlainInverse {
    uint8_t values[256];
    PlainInverse() {
        for (uint8_t& v : values)
            v = 255;
        for (int i = 0; i < 64; ++i)
            values[uint8_t(kAlphabet[i])] = uint8_t(i);
    }
};

// Full quads only (the benchmark's input has no padding): false at the first character outside the alphabet.
bool PlainDecode(const char* in, size_t n, uint8_t* out, size_t& produced) {
    static const PlainInverse inverse;
    produced = 0;
    for (size_t i = 0; i + 4 <= n; i += 4) {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            uint8_t d = inverse.values[uint8_t(in[i + k])];
            if (d == 255) return false;
            v = (v << 6) | d;
        }
        out[produced++] = uint8_t(v >> 16);
        out[produced++] = uint8_t(v >> 8);
        out[produced++] = uint8_t(v);
    }
    return true;
}

void BM_Base64Encode_Ours(benchmark::State& state) {
    const std::vector<uint8_t>& input = Input();
    vela::VMemoryBuffer<> out;
    for (auto _ : state) {
        bool ok = Base64Coder::_Encode(input.data(), input.size(), out, 0, false);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_Base64Encode_Peer(benchmark::State& state) {
    const std::vector<uint8_t>& input = Input();
    std::vector<char> out((kSize + 2) / 3 * 4);
    for (auto _ : state) {
        size_t n = PlainEncode(input.data(), input.size(), out.data());
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

const std::vector<char>& Encoded() {
    static const std::vector<char> text = [] {
        std::vector<char> out((kSize + 2) / 3 * 4);
        out.resize(PlainEncode(Input().data(), kSize - kSize % 3, out.data()));
        return out;
    }();
    return text;
}

void BM_Base64Decode_Ours(benchmark::State& state) {
    const std::vector<char>& text = Encoded();
    vela::VMemoryBuffer<> out;
    for (auto _ : state) {
        bool ok = Base64Coder::Decode(text.data(), text.size(), out, false, false);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.GetDataPtr());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_Base64Decode_Peer(benchmark::State& state) {
    const std::vector<char>& text = Encoded();
    std::vector<uint8_t> out(text.size() / 4 * 3 + 1);
    for (auto _ : state) {
        size_t produced = 0;
        bool ok = PlainDecode(text.data(), text.size(), out.data(), produced);
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(BM_Base64Encode_Ours)->Name("base64_encode/ours");
BENCHMARK(BM_Base64Encode_Peer)->Name("base64_encode/peer");
BENCHMARK(BM_Base64Decode_Ours)->Name("base64_decode/ours");
BENCHMARK(BM_Base64Decode_Peer)->Name("base64_decode/peer");

} // namespace
