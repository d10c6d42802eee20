// JSON text against header-only peers: parsing a document of about 10 MB (objects, arrays, strings with escapes
// and non-ASCII text, integers and reals, generated from a fixed seed) from UTF-16 and from UTF-8, and writing
// its tree compact and indented. One extra benchmark times our token scan alone, so that what making the values
// and the tree costs shows apart.

#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <memory>
#include <random>
#include <string>

namespace {

using vela::VJSONImporter;
using vela::VJSONValue;
using vela::VJSONWriter;
using vela::VString;

using UTF16 = rapidjson::UTF16<char16_t>;
using Document16 = rapidjson::GenericDocument<UTF16>;
using Buffer16 = rapidjson::GenericStringBuffer<UTF16>;

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

struct Texts {
    std::string fUTF8;
    VString fUTF16;
    Texts() : fUTF8(DocumentMaker(20240517).Make(10 * 1024 * 1024)) {
        fUTF16.FromBlock(fUTF8.data(), fUTF8.size(), vela::VTC_UTF_8);
    }
};

const Texts& GetTexts() {
    static const Texts sTexts;
    return sTexts;
}

VJSONValue ParseOurs(const VString& text) {
    VJSONValue value;
    if (VJSONImporter::ParseString(text, value, 0) != vela::VE_OK) std::abort();
    return value;
}

// ---- Parsing from UTF-16

void BM_ParseUTF16_Ours(benchmark::State& state) {
    const Texts& texts = GetTexts();
    ParseOurs(texts.fUTF16);
    for (auto _ : state) {
        VJSONValue value = ParseOurs(texts.fUTF16);
        benchmark::DoNotOptimize(value.GetObjectPtr());
        state.PauseTiming(); // freeing the tree is no part of parsing, on either side
        value.SetNull();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
}

void BM_ParseUTF16_RapidJSON(benchmark::State& state) {
    const Texts& texts = GetTexts();
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
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
}

// ---- Parsing from UTF-8 bytes, end to end

void BM_ParseUTF8_Ours(benchmark::State& state) {
    const Texts& texts = GetTexts();
    for (auto _ : state) {
        VString text;
        text.FromBlock(texts.fUTF8.data(), texts.fUTF8.size(), vela::VTC_UTF_8);
        VJSONValue value = ParseOurs(text);
        benchmark::DoNotOptimize(value.GetObjectPtr());
        state.PauseTiming();
        value.SetNull();
        text.Clear();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
}

void BM_ParseUTF8_Nlohmann(benchmark::State& state) {
    const Texts& texts = GetTexts();
    benchmark::DoNotOptimize(nlohmann::ordered_json::parse(texts.fUTF8));
    for (auto _ : state) {
        nlohmann::ordered_json document = nlohmann::ordered_json::parse(texts.fUTF8);
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        document = nullptr;
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
}

// ---- Where our parse spends its time: the token scan alone (strings decoded, nothing made).

void BM_ScanTokens_Ours(benchmark::State& state) {
    const Texts& texts = GetTexts();
    for (auto _ : state) {
        VJSONImporter importer(texts.fUTF16, 0);
        size_t tokens = 0;
        while (importer.GetNextJSONToken() != VJSONImporter::jsonNone)
            ++tokens;
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(texts.fUTF8.size()));
}

// ---- Writing the tree

struct Trees {
    VJSONValue fOurs;
    Document16 fRapid;
    nlohmann::ordered_json fNlohmann;
    Trees() : fOurs(ParseOurs(GetTexts().fUTF16)), fNlohmann(nlohmann::ordered_json::parse(GetTexts().fUTF8)) {
        fRapid.Parse(GetTexts().fUTF16.GetCPointer());
    }
};

const Trees& GetTrees() {
    static const Trees sTrees;
    return sTrees;
}

void WriteOurs(benchmark::State& state, uint32_t options) {
    const Trees& trees = GetTrees();
    for (auto _ : state) {
        VJSONWriter writer(options);
        VString text;
        if (writer.StringifyValue(trees.fOurs, text) != vela::VE_OK) std::abort();
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetTexts().fUTF8.size()));
}

void BM_WriteCompact_Ours(benchmark::State& state) {
    WriteOurs(state, VJSONWriter::kQuoted);
}

void BM_WritePretty_Ours(benchmark::State& state) {
    WriteOurs(state, VJSONWriter::kQuoted | VJSONWriter::kPretty);
}

void BM_WriteCompact_RapidJSON(benchmark::State& state) {
    const Trees& trees = GetTrees();
    for (auto _ : state) {
        Buffer16 buffer;
        rapidjson::Writer<Buffer16, UTF16, UTF16> writer(buffer);
        trees.fRapid.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetTexts().fUTF8.size()));
}

void BM_WritePretty_RapidJSON(benchmark::State& state) {
    const Trees& trees = GetTrees();
    for (auto _ : state) {
        Buffer16 buffer;
        rapidjson::PrettyWriter<Buffer16, UTF16, UTF16> writer(buffer);
        writer.SetIndent(u'\t', 1);
        trees.fRapid.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetTexts().fUTF8.size()));
}

void BM_Write_Nlohmann(benchmark::State& state) {
    const Trees& trees = GetTrees();
    for (auto _ : state) {
        std::string text = trees.fNlohmann.dump();
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(GetTexts().fUTF8.size()));
}

BENCHMARK(BM_ParseUTF16_Ours)->Name("json_parse_utf16_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF16_RapidJSON)->Name("json_parse_utf16_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF8_Ours)->Name("json_parse_utf8_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseUTF8_Nlohmann)->Name("json_parse_utf8_nlohmann/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanTokens_Ours)->Name("json_parse_utf16_tokens_only")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_Ours)->Name("json_write_compact_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_RapidJSON)->Name("json_write_compact_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePretty_Ours)->Name("json_write_pretty_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePretty_RapidJSON)->Name("json_write_pretty_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact_Ours)->Name("json_write_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Nlohmann)->Name("json_write_nlohmann/peer")->Unit(benchmark::kMillisecond);

} // namespace
