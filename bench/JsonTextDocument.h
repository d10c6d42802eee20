#pragma once
// Internal to the benchmarks: the JSON text document of about 10 MB (objects, arrays, strings with escapes and
// non-ASCII text, integers and reals) that the JSON text and binary benchmarks run on, generated from a fixed seed.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace jsonbench {

inline const char* const kWords[] = {"alpha", "beta",  "gamma",  "delta", "epsilon", "zeta", "eta",     "theta",
                                     "iota",  "kappa", "lambda", "mu",    "nu",      "xi",   "omicron", "pi"};
inline const char* const kAccented[] = {"caf\xC3\xA9", "na\xC3\xAFve", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                        "\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0", "\xF0\x9F\x98\x80"};
inline const char* const kEscaped[] = {"line\\nbreak",  "tab\\there",      "quote \\\"q\\\"",
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

// The document's UTF-8 text (made anew on each call).
inline std::string MakeDocument() {
    return DocumentMaker(20240517).Make(10 * 1024 * 1024);
}

} // namespace jsonbench
