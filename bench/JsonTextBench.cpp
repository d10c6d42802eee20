// JSON text against header-only peers: parsing a document of about 10 MB (objects, arrays, strings with escapes
// and non-ASCII text, integers and reals, generated from a fixed seed) from UTF-16 and from UTF-8, and writing
// its tree compact and indented. One extra benchmark times our token scan alone, so that what making the values
// and the tree costs shows apart.

#include "BenchCold.h"
#include "JsonTextSides.h"

#include "core/VString.h"
#include "json/VJSONImporter.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <benchmark/benchmark.h>
#include <rapidjson/prettywriter.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

using vela::VJSONImporter;
using vela::VJSONValue;
using vela::VJSONWriter;
using vela::VString;

// ---- The document

const char* const kWords[] = {"alpha", "beta",  "gamma",  "delta", "epsilon", "zeta", "eta",     "theta",
                              "iota",  "kappa", "lambda", "mu",    "nu",      "xi",   "omicron", "pi"};
const char* const kAccented[] = {"caf\xC3\xA9", "na\xC3\xAFve", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                 "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "\xF0\x9F\x98\x80"};
const char* const kEscaped[] = {"line\\nbreak",  "tab\\there",      "quote \\\"q\\\"",
                                "back\\\\slash", "\\u00e9t\\u00e9", "\\/path\\/to"};

class DocumentMaker {
public:
    explicit DocumentMaker(uint32_t seed) : fRandom(seed) {}

    std::string Make(size_t targetBytes) {
        std::string text = "{\"generator\":\"bench\",\"records\":[";
        for (int i = 0; text.size() < targetBytes; ++i) {
            if (i > 0) text += ',';
            _Record(i, text);
        }
        text += "],\"count\":null}";
        return text;
    }

private:
    int _Pick(int n) { return int(fRandom() % uint32_t(n)); }

    void _Text(std::string& text) {
        text += '"';
        int words = 1 + _Pick(6);
        for (int w = 0; w < words; ++w) {
            if (w > 0) text += ' ';
            int kind = _Pick(10);
            if (kind < 7) {
                text += kWords[_Pick(16)];
            } else if (kind < 9) {
                text += kAccented[_Pick(5)];
            } else {
                text += kEscaped[_Pick(6)];
            }
        }
        text += '"';
    }

    void _Real(std::string& text) {
        char number[32];
        std::snprintf(number, sizeof(number), "%.6g", (double(fRandom()) - 2147483648.0) / 1024.0);
        text += number;
    }

    void _Record(int i, std::string& text) {
        text += "{\"id\":" + std::to_string(i) + ",\"name\":";
        _Text(text);
        text += ",\"score\":";
        _Real(text);
        text += ",\"active\":";
        text += _Pick(2) == 0 ? "true" : "false";
        text += ",\"tags\":[";
        int tags = _Pick(5);
        for (int t = 0; t < tags; ++t) {
            if (t > 0) text += ',';
            _Text(text);
        }
        text += "],\"position\":{\"x\":" + std::to_string(_Pick(100000) - 50000) + ",\"y\":";
        _Real(text);
        text += ",\"label\":";
        _Text(text);
        text += "},\"history\":[";
        int entries = _Pick(4);
        for (int e = 0; e < entries; ++e) {
            if (e > 0) text += ',';
            text += "{\"at\":" + std::to_string(1700000000 + _Pick(100000000)) + ",\"value\":";
            _Real(text);
            text += ",\"note\":";
            if (_Pick(3) == 0) {
                text += "null";
            } else {
                _Text(text);
            }
            text += '}';
        }
        text += "]}";
    }

    std::mt19937 fRandom;
};

const jsonbench::Texts& GetTexts() {
    static const jsonbench::Texts sTexts(DocumentMaker(20240517).Make(10 * 1024 * 1024));
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
