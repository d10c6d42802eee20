// UTF-8 <-> UTF-16 conversion of 1 MB texts: our shared UTF-8 converters against ICU's string functions, both
// writing into buffers allocated once outside the timed loop.
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kTextBytes = 1 << 20;

std::string Repeat(const std::string& piece) {
    std::string text;
    while (text.size() + piece.size() <= kTextBytes)
        text += piece;
    return text;
}

// English prose with a few accented words: almost every byte is ASCII.
const std::string& MostlyAsciiUTF8() {
    static const std::string text =
        Repeat("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor incididunt ut labore "
               "et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud exercitation ullamco laboris nisi. "
               "Na\xC3\xAFve caf\xC3\xA9 r\xC3\xA9sum\xC3\xA9.\n");
    return text;
}

// Chinese, Japanese and Korean text with emoji and a little ASCII punctuation.
const std::string& MixedUTF8() {
    static const std::string text = Repeat(
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88\xE3\x80\x81"
        "\xE4\xB8\xAD\xE6\x96\x87\xE6\x96\x87\xE6\x9C\xAC\xE3\x80\x82\xF0\x9F\x98\x80\xF0\x9F\x8E\x89 "
        "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4 \xED\x85\x8D\xEC\x8A\xA4\xED\x8A\xB8, \xF0\x9F\x9A\x80 ok.\n");
    return text;
}

std::u16string ToUTF16(const std::string& utf8) {
    std::u16string units(utf8.size(), u'\0');
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8(units.data(), int32_t(units.size()), &length, utf8.data(), int32_t(utf8.size()), &error);
    units.resize(size_t(length));
    return units;
}

void DecodeOurs(benchmark::State& state, const std::string& source) {
    vela::VToUnicodeConverter* converter = vela::VTextConverters::Get()->GetStdLibToUnicodeConverter();
    std::vector<vela::UniChar> out(source.size() + 16);
    for (auto _ : state) {
        size_t consumed = 0;
        vela::int32 produced = 0;
        converter->Convert(source.data(), source.size(), &consumed, out.data(), vela::int32(out.size()), &produced);
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size()));
}

void DecodePeer(benchmark::State& state, const std::string& source) {
    std::vector<UChar> out(source.size() + 16);
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8(out.data(), int32_t(out.size()), &length, source.data(), int32_t(source.size()), &error);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size()));
}

void EncodeOurs(benchmark::State& state, const std::u16string& source) {
    vela::VFromUnicodeConverter* converter = vela::VTextConverters::Get()->GetStdLibFromUnicodeConverter();
    std::vector<char> out(source.size() * 3 + 16);
    for (auto _ : state) {
        vela::int32 consumed = 0;
        size_t produced = 0;
        converter->Convert(source.data(), vela::int32(source.size()), &consumed, out.data(), out.size(), &produced);
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size() * 2));
}

void EncodePeer(benchmark::State& state, const std::u16string& source) {
    std::vector<char> out(source.size() * 3 + 16);
    for (auto _ : state) {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(out.data(), int32_t(out.size()), &length, source.data(), int32_t(source.size()), &error);
        benchmark::DoNotOptimize(length);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(source.size() * 2));
}

void BM_Utf8ToUtf16AsciiOurs(benchmark::State& state) {
    DecodeOurs(state, MostlyAsciiUTF8());
}
void BM_Utf8ToUtf16AsciiPeer(benchmark::State& state) {
    DecodePeer(state, MostlyAsciiUTF8());
}
void BM_Utf8ToUtf16MixedOurs(benchmark::State& state) {
    DecodeOurs(state, MixedUTF8());
}
void BM_Utf8ToUtf16MixedPeer(benchmark::State& state) {
    DecodePeer(state, MixedUTF8());
}

void BM_Utf16ToUtf8AsciiOurs(benchmark::State& state) {
    static const std::u16string text = ToUTF16(MostlyAsciiUTF8());
    EncodeOurs(state, text);
}
void BM_Utf16ToUtf8AsciiPeer(benchmark::State& state) {
    static const std::u16string text = ToUTF16(MostlyAsciiUTF8());
    EncodePeer(state, text);
}
void BM_Utf16ToUtf8MixedOurs(benchmark::State& state) {
    static const std::u16string text = ToUTF16(MixedUTF8());
    EncodeOurs(state, text);
}
void BM_Utf16ToUtf8MixedPeer(benchmark::State& state) {
    static const std::u16string text = ToUTF16(MixedUTF8());
    EncodePeer(state, text);
}

BENCHMARK(BM_Utf8ToUtf16AsciiOurs)->Name("utf8_to_utf16_ascii/ours");
BENCHMARK(BM_Utf8ToUtf16AsciiPeer)->Name("utf8_to_utf16_ascii/peer");
BENCHMARK(BM_Utf8ToUtf16MixedOurs)->Name("utf8_to_utf16_mixed/ours");
BENCHMARK(BM_Utf8ToUtf16MixedPeer)->Name("utf8_to_utf16_mixed/peer");
BENCHMARK(BM_Utf16ToUtf8AsciiOurs)->Name("utf16_to_utf8_ascii/ours");
BENCHMARK(BM_Utf16ToUtf8AsciiPeer)->Name("utf16_to_utf8_ascii/peer");
BENCHMARK(BM_Utf16ToUtf8MixedOurs)->Name("utf16_to_utf8_mixed/ours");
BENCHMARK(BM_Utf16ToUtf8MixedPeer)->Name("utf16_to_utf8_mixed/peer");

} // namespace
