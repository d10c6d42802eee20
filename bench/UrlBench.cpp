// Percent-encoding and decoding 1 MiB of mixed text (ASCII words, marks, accented letters, CJK, emoji) against
// a plain loop over its UTF-8 bytes: a 256-entry table says which bytes to escape, and a 256-entry table of
// hexadecimal digit values turns escapes back into bytes.
#include "files/VURL.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace {

constexpr size_t kSize = 1 << 20;

const std::string& Utf8Input() {
    static const std::string text = [] {
        const char* pieces[] = {"path/to/file.txt",
                                " ",
                                "caf\xC3\xA9",
                                "?q=1&r=2",
                                "#frag",
                                "\xE6\x97\xA5\xE6\x9C\xAC",
                                "[x]",
                                "100%",
                                "\xF0\x9F\x98\x80",
                                "na\xC3\xAFve",
                                "<tag>",
                                "plain-words_and.more~"};
        std::string out;
        uint32_t state = 12345;
        while (out.size() < kSize) {
            state = state * 1664525u + 1013904223u;
            out += pieces[(state >> 24) % (sizeof pieces / sizeof pieces[0])];
        }
        return out;
    }();
    return text;
}

struct PlainTables {
    std::array<bool, 256> unsafe{};
    std::array<int8_t, 256> hex{};
    PlainTables() {
        for (int b = 0; b < 256; ++b)
            unsafe[b] = b < 0x20 || b >= 0x7F;
        for (char c : std::string("<>\"#%{}|\\^`[] "))
            unsafe[uint8_t(c)] = true;
        hex.fill(-1);
        for (int d = 0; d < 10; ++d)
            hex['0' + d] = int8_t(d);
        for (int d = 0; d < 6; ++d)
            hex['A' + d] = hex['a' + d] = int8_t(10 + d);
    }
};

std::string PlainEncode(const std::string& in) {
    static const PlainTables tables;
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(in.size() * 3);
    for (unsigned char b : in) {
        if (!tables.unsafe[b]) {
            out += char(b);
            continue;
        }
        out += '%';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string PlainDecode(const std::string& in) {
    static const PlainTables tables;
    std::string out;
    out.reserve(in.size());
    const size_t n = in.size();
    for (size_t i = 0; i < n; ++i) {
        if (in[i] == '%' && i + 2 < n) {
            const int high = tables.hex[uint8_t(in[i + 1])];
            const int low = tables.hex[uint8_t(in[i + 2])];
            if (high >= 0 && low >= 0 && (high | low) != 0) {
                out += char(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += in[i];
    }
    return out;
}

void BM_UrlEncodeDecode_Ours(benchmark::State& state) {
    vela::VString input;
    input.FromBlock(Utf8Input().data(), Utf8Input().size(), vela::VTC_UTF_8);
    for (auto _ : state) {
        vela::VString text(input);
        vela::VURL::Encode(text, false, false, true, false);
        vela::VURL::Decode(text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Utf8Input().size()));
}

void BM_UrlEncodeDecode_Peer(benchmark::State& state) {
    const std::string& input = Utf8Input();
    for (auto _ : state) {
        std::string text = PlainDecode(PlainEncode(input));
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}

BENCHMARK(BM_UrlEncodeDecode_Ours)->Name("url_encode_decode/ours");
BENCHMARK(BM_UrlEncodeDecode_Peer)->Name("url_encode_decode/peer");

} // namespace
