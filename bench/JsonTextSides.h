#pragma once
// Internal to the benchmarks: the sides of the JSON text pairs (parse and write, ours and the header-only peers'),
// run on any generated document, so that each document's file only makes its text and names its pairs.

#include "core/VString.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

namespace jsonbench {

using UTF16 = rapidjson::UTF16<char16_t>;
using Document16 = rapidjson::GenericDocument<UTF16>;
using Buffer16 = rapidjson::GenericStringBuffer<UTF16>;

// A document as UTF-8 bytes and as our UTF-16 text (converted once, outside any timing).
struct Texts {
    std::string fUTF8;
    vela::VString fUTF16;
    explicit Texts(std::string utf8) : fUTF8(std::move(utf8)) {
        fUTF16.FromBlock(fUTF8.data(), fUTF8.size(), vela::VTC_UTF_8);
    }
    int64_t Bytes() const { return int64_t(fUTF8.size()); }
};

inline vela::VJSONValue ParseOurs(const vela::VString& text) {
    vela::VJSONValue value;
    if (vela::VJSONImporter::ParseString(text, value, 0) != vela::VE_OK) std::abort();
    return value;
}

// The same document as each side's tree, for the writers.
struct Trees {
    vela::VJSONValue fOurs;
    Document16 fRapid;
    nlohmann::ordered_json fNlohmann;
    explicit Trees(const Texts& texts)
        : fOurs(ParseOurs(texts.fUTF16)), fNlohmann(nlohmann::ordered_json::parse(texts.fUTF8)) {
        fRapid.Parse(texts.fUTF16.GetCPointer());
    }
};

// ---- Parsing. Each side parses once before the timed loop; freeing the tree is no part of parsing, on either side.

inline void ParseUTF16Ours(benchmark::State& state, const Texts& texts) {
    ParseOurs(texts.fUTF16);
    for (auto _ : state) {
        vela::VJSONValue value = ParseOurs(texts.fUTF16);
        benchmark::DoNotOptimize(value.GetObjectPtr());
        state.PauseTiming();
        value.SetNull();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * texts.Bytes());
}

inline void ParseUTF16RapidJSON(benchmark::State& state, const Texts& texts) {
    const char16_t* units = texts.fUTF16.GetCPointer();
    {
        Document16 warm;
        warm.Parse(units);
    }
    for (auto _ : state) {
        auto document = std::make_unique<Document16>();
        document->Parse(units); // zero-terminated
        if (document->HasParseError()) std::abort();
        benchmark::DoNotOptimize(document.get());
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * texts.Bytes());
}

inline void ParseUTF8Nlohmann(benchmark::State& state, const Texts& texts) {
    benchmark::DoNotOptimize(nlohmann::ordered_json::parse(texts.fUTF8));
    for (auto _ : state) {
        nlohmann::ordered_json document = nlohmann::ordered_json::parse(texts.fUTF8);
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        document = nullptr;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * texts.Bytes());
}

// ---- Writing a tree (bytes: the size of the document it was parsed from, for the throughput shown)

inline void WriteOurs(benchmark::State& state, const Trees& trees, int64_t bytes, uint32_t options) {
    for (auto _ : state) {
        vela::VJSONWriter writer(options);
        vela::VString text;
        if (writer.StringifyValue(trees.fOurs, text) != vela::VE_OK) std::abort();
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

inline void WriteCompactRapidJSON(benchmark::State& state, const Trees& trees, int64_t bytes) {
    for (auto _ : state) {
        Buffer16 buffer;
        rapidjson::Writer<Buffer16, UTF16, UTF16> writer(buffer);
        trees.fRapid.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

inline void WriteNlohmann(benchmark::State& state, const Trees& trees, int64_t bytes) {
    for (auto _ : state) {
        std::string text = trees.fNlohmann.dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

} // namespace jsonbench
