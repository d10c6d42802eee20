// JSON text against header-only peers: parsing a document of about 10 MB (objects, arrays, strings with escapes
// and non-ASCII text, integers and reals, generated from a fixed seed) from UTF-16 and from UTF-8, and writing
// its tree compact and indented. One extra benchmark times our token scan alone, so that what making the values
// and the tree costs shows apart.

#include "BenchCold.h"
#include "JsonTextDocument.h"
#include "JsonTextSides.h"

#include "core/VString.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <benchmark/benchmark.h>
#include <rapidjson/prettywriter.h>

namespace {

using vela::VJSONImporter;
using vela::VJSONValue;
using vela::VJSONWriter;
using vela::VString;

const jsonbench::Texts& GetTexts() {
    static const jsonbench::Texts sTexts(jsonbench::MakeDocument());
    return sTexts;
}

const jsonbench::Trees& GetTrees() {
    static const jsonbench::Trees sTrees(GetTexts());
    return sTrees;
}

// ---- Parsing from UTF-16

void BM_ParseUTF16_Ours(benchmark::State& state) {
    jsonbench::ParseUTF16Ours(state, GetTexts());
}

void BM_ParseUTF16_RapidJSON(benchmark::State& state) {
    jsonbench::ParseUTF16RapidJSON(state, GetTexts());
}

// ---- Parsing from UTF-8 bytes, end to end

void BM_ParseUTF8_Ours(benchmark::State& state) {
    const jsonbench::Texts& texts = GetTexts();
    for (auto _ : state) {
        VString text;
        text.FromBlock(texts.fUTF8.data(), texts.fUTF8.size(), vela::VTC_UTF_8);
        VJSONValue value = jsonbench::ParseOurs(text);
        benchmark::DoNotOptimize(value.GetObjectPtr());
        state.PauseTiming();
        value.SetNull();
        text.Clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * texts.Bytes());
}

void BM_ParseUTF8_Nlohmann(benchmark::State& state) {
    jsonbench::ParseUTF8Nlohmann(state, GetTexts());
}

// ---- Where our parse spends its time: the token scan alone (strings decoded, nothing made).

void BM_ScanTokens_Ours(benchmark::State& state) {
    const jsonbench::Texts& texts = GetTexts();
    for (auto _ : state) {
        VJSONImporter importer(texts.fUTF16, 0);
        size_t tokens = 0;
        while (importer.GetNextJSONToken() != VJSONImporter::jsonNone)
            ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * texts.Bytes());
}

// ---- Writing the tree

void BM_WriteCompact_Ours(benchmark::State& state) {
    jsonbench::WriteOurs(state, GetTrees(), GetTexts().Bytes(), VJSONWriter::kQuoted);
}

void BM_WritePretty_Ours(benchmark::State& state) {
    jsonbench::WriteOurs(state, GetTrees(), GetTexts().Bytes(), VJSONWriter::kQuoted | VJSONWriter::kPretty);
}

void BM_WriteCompact_RapidJSON(benchmark::State& state) {
    jsonbench::WriteCompactRapidJSON(state, GetTrees(), GetTexts().Bytes());
}

void BM_WritePretty_RapidJSON(benchmark::State& state) {
    const jsonbench::Trees& trees = GetTrees();
    for (auto _ : state) {
        jsonbench::Buffer16 buffer;
        rapidjson::PrettyWriter<jsonbench::Buffer16, jsonbench::UTF16, jsonbench::UTF16> writer(buffer);
        writer.SetIndent(u'\t', 1);
        trees.fRapid.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * GetTexts().Bytes());
}

void BM_Write_Nlohmann(benchmark::State& state) {
    jsonbench::WriteNlohmann(state, GetTrees(), GetTexts().Bytes());
}

// ---- Cold: the first parse of a process, from UTF-8 bytes, end to end. Each repetition starts with no free memory
// in the heap and times one parse; the document's text is made before.

void BM_ParseUTF8Cold_Ours(benchmark::State& state) {
    const jsonbench::Texts& texts = GetTexts();
    vela::bench::ForgetFreeMemory();
    VJSONValue value;
    for (auto _ : state) {
        VString text;
        text.FromBlock(texts.fUTF8.data(), texts.fUTF8.size(), vela::VTC_UTF_8);
        value = jsonbench::ParseOurs(text);
    }
    benchmark::DoNotOptimize(value.GetObjectPtr());
}

void BM_ParseUTF8Cold_Nlohmann(benchmark::State& state) {
    const jsonbench::Texts& texts = GetTexts();
    vela::bench::ForgetFreeMemory();
    nlohmann::ordered_json document;
    for (auto _ : state)
        document = nlohmann::ordered_json::parse(texts.fUTF8);
    benchmark::DoNotOptimize(document);
}

BENCHMARK(BM_ParseUTF16_Ours)->Name("json_parse_utf16_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF16_RapidJSON)->Name("json_parse_utf16_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF8_Ours)->Name("json_parse_utf8_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF8_Nlohmann)->Name("json_parse_utf8_nlohmann/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF8Cold_Ours)->Name("json_parse_utf8_cold/ours")->Apply(vela::bench::Cold);
BENCHMARK(BM_ParseUTF8Cold_Nlohmann)->Name("json_parse_utf8_cold/peer")->Apply(vela::bench::Cold);
BENCHMARK(BM_ScanTokens_Ours)->Name("json_parse_utf16_tokens_only")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_Ours)->Name("json_write_compact_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_RapidJSON)->Name("json_write_compact_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePretty_Ours)->Name("json_write_pretty_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePretty_RapidJSON)->Name("json_write_pretty_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_Ours)->Name("json_write_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Nlohmann)->Name("json_write_nlohmann/peer")->Unit(benchmark::kMillisecond);

} // namespace
