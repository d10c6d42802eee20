// Binary JSON against nlohmann's CBOR: writing the tree of the JSON text benchmarks' document of about 10 MB into
// bytes, and reading those bytes back into a tree. Each side works on its own tree and its own bytes, made once
// before timing; freeing a tree read is no part of reading, on either side.

#include "JsonTextDocument.h"

#include "core/VMemoryBuffer.h"
#include "core/VString.h"
#include "json/VJSONBinaryImporter.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using vela::VJSONBinaryImporter;
using vela::VJSONBinaryWriter;
using vela::VJSONValue;
using Buffer = vela::VMemoryBuffer<1024, 2, 1048576>;

struct Sides {
    VJSONValue fOurs;
    nlohmann::json fPeer;
    std::vector<uint8_t> fOurBytes;
    std::vector<uint8_t> fPeerBytes;
    int64_t fTextBytes = 0;

    Sides() {
        std::string text = jsonbench::MakeDocument();
        fTextBytes = int64_t(text.size());
        vela::VString units;
        units.FromBlock(text.data(), text.size(), vela::VTC_UTF_8);
        if (vela::VJSONImporter::ParseString(units, fOurs, 0) != vela::VE_OK) std::abort();
        fPeer = nlohmann::json::parse(text);
        Buffer buffer;
        VJSONBinaryWriter writer(0);
        if (writer.StreamValue(fOurs, buffer) != vela::VE_OK) std::abort();
        const auto* data = static_cast<const uint8_t*>(buffer.GetDataPtr());
        fOurBytes.assign(data, data + buffer.GetDataSize());
        fPeerBytes = nlohmann::json::to_cbor(fPeer);
    }
};

const Sides& GetSides() {
    static const Sides sSides;
    return sSides;
}

void BM_Write_Ours(benchmark::State& state) {
    const Sides& sides = GetSides();
    for (auto _ : state) {
        Buffer buffer;
        VJSONBinaryWriter writer(0);
        if (writer.StreamValue(sides.fOurs, buffer) != vela::VE_OK) std::abort();
        benchmark::DoNotOptimize(buffer.GetDataPtr());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * sides.fTextBytes);
}

void BM_Write_Peer(benchmark::State& state) {
    const Sides& sides = GetSides();
    for (auto _ : state) {
        std::vector<uint8_t> bytes = nlohmann::json::to_cbor(sides.fPeer);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * sides.fTextBytes);
}

void BM_Read_Ours(benchmark::State& state) {
    const Sides& sides = GetSides();
    for (auto _ : state) {
        VJSONValue value;
        VJSONBinaryImporter importer(sides.fOurBytes.data(), sides.fOurBytes.size());
        if (importer.GetValue(value) != vela::VE_OK) std::abort();
        benchmark::DoNotOptimize(value.GetObjectPtr());
        state.PauseTiming();
        value.SetNull();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * sides.fTextBytes);
}

void BM_Read_Peer(benchmark::State& state) {
    const Sides& sides = GetSides();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::from_cbor(sides.fPeerBytes);
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        document = nullptr;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * sides.fTextBytes);
}

BENCHMARK(BM_Write_Ours)->Name("json_binary_write/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Peer)->Name("json_binary_write/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_Ours)->Name("json_binary_read/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read_Peer)->Name("json_binary_read/peer")->Unit(benchmark::kMillisecond);

} // namespace
