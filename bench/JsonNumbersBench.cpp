// JSON text made almost only of reals, against header-only peers: a collection of polygons whose coordinates are
// reals of 15 to 17 significant digits (about 4 MB, generated from a fixed seed), parsed (ours from UTF-16, the
// conversion from UTF-8 not counted) and written compact. Reading and writing reals is most of the work here, and
// the small arrays of two coordinates most of the tree.

#include "JsonTextSides.h"

#include "json/VJSONWriter.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <random>
#include <string>

namespace {

// ---- The document: features with a few properties and a polygon ring of 8 to 40 points each.

class CollectionMaker {
public:
    explicit CollectionMaker(uint32_t seed) : fRandom(seed) {}

    std::string Make(size_t targetBytes) {
        std::string text = "{\"type\":\"FeatureCollection\",\"features\":[";
        for (int i = 0; text.size() < targetBytes; ++i) {
            if (i > 0) text += ',';
            _Feature(i, text);
        }
        text += "]}";
        return text;
    }

private:
    // The shortest text that reads back: random reals of this size take 15 to 17 significant digits.
    void _Real(double low, double high, std::string& text) {
        double value = std::uniform_real_distribution<double>(low, high)(fRandom);
        char number[32];
        text.append(number, std::to_chars(number, number + sizeof(number), value).ptr);
    }

    void _Feature(int i, std::string& text) {
        text += "{\"type\":\"Feature\",\"id\":" + std::to_string(i) + ",\"properties\":{\"name\":\"parcel ";
        text += std::to_string(i) + "\",\"area\":";
        _Real(0, 1e6, text);
        text += ",\"height\":";
        _Real(0, 300, text);
        text += "},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[[";
        double longitude = std::uniform_real_distribution<double>(-179, 179)(fRandom);
        double latitude = std::uniform_real_distribution<double>(-89, 89)(fRandom);
        int points = 8 + int(fRandom() % 33);
        for (int p = 0; p < points; ++p) {
            if (p > 0) text += ',';
            text += '[';
            _Real(longitude - 0.01, longitude + 0.01, text);
            text += ',';
            _Real(latitude - 0.01, latitude + 0.01, text);
            text += ']';
        }
        text += "]]}}";
    }

    std::mt19937_64 fRandom;
};

const jsonbench::Texts& GetTexts() {
    static const jsonbench::Texts sTexts(CollectionMaker(20250611).Make(4 * 1024 * 1024));
    return sTexts;
}

const jsonbench::Trees& GetTrees() {
    static const jsonbench::Trees sTrees(GetTexts());
    return sTrees;
}

// ---- Parsing: ours and RapidJSON from UTF-16, nlohmann from UTF-8.

void BM_Parse_Ours(benchmark::State& state) {
    jsonbench::ParseUTF16Ours(state, GetTexts());
}

void BM_Parse_RapidJSON(benchmark::State& state) {
    jsonbench::ParseUTF16RapidJSON(state, GetTexts());
}

void BM_Parse_Nlohmann(benchmark::State& state) {
    jsonbench::ParseUTF8Nlohmann(state, GetTexts());
}

// ---- Writing the tree compact

void BM_Write_Ours(benchmark::State& state) {
    jsonbench::WriteOurs(state, GetTrees(), GetTexts().Bytes(), vela::VJSONWriter::kQuoted);
}

void BM_Write_RapidJSON(benchmark::State& state) {
    jsonbench::WriteCompactRapidJSON(state, GetTrees(), GetTexts().Bytes());
}

void BM_Write_Nlohmann(benchmark::State& state) {
    jsonbench::WriteNlohmann(state, GetTrees(), GetTexts().Bytes());
}

BENCHMARK(BM_Parse_Ours)->Name("json_parse_numbers_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_RapidJSON)->Name("json_parse_numbers_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_Ours)->Name("json_parse_numbers_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_Nlohmann)->Name("json_parse_numbers_nlohmann/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Ours)->Name("json_write_numbers_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_RapidJSON)->Name("json_write_numbers_rapidjson/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Ours)->Name("json_write_numbers_nlohmann/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write_Nlohmann)->Name("json_write_numbers_nlohmann/peer")->Unit(benchmark::kMillisecond);

} // namespace
