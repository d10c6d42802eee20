#include "core/VString.h"

#include <benchmark/benchmark.h>
#include <unicode/unistr.h>

#include <string>

namespace {

constexpr size_t kTextUnits = 512 * 1024; // 1 MB of UTF-16

// A 16-unit pattern and a text full of its prefixes (1 to 15 units long, then a mismatch), with the pattern
// itself only near the end.
const std::u16string kPattern = u"abcdefghijklmnop";

const std::u16string& SearchText() {
    static const std::u16string sText = [] {
        std::u16string text;
        text.reserve(kTextUnits);
        size_t prefix = 1;
        while (text.size() + 32 < kTextUnits - 64) {
            text.append(kPattern, 0, prefix);
            text.append(u"x ");
            prefix = prefix % 15 + 1;
        }
        text.append(kPattern);
        text.append(kTextUnits - text.size(), u'.');
        return text;
    }();
    return sText;
}

void BM_FindRaw_Ours(benchmark::State& state) {
    const std::u16string& text = SearchText();
    for (auto _ : state) {
        int32_t found =
            vela::VString::FindRawString(text.data(), int32_t(text.size()), kPattern.data(), int32_t(kPattern.size()));
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size() * 2));
}

void BM_FindRaw_Peer(benchmark::State& state) {
    const std::u16string& text = SearchText();
    for (auto _ : state) {
        size_t found = text.find(kPattern);
        benchmark::DoNotOptimize(found);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size() * 2));
}

BENCHMARK(BM_FindRaw_Ours)->Name("find_raw/ours");
BENCHMARK(BM_FindRaw_Peer)->Name("find_raw/peer");

// Words of a plain text, one "fox" every 64 units or so; each iteration grows every "fox" to "wolves" and shrinks
// every "wolves" to "ox" on a fresh copy.
const std::u16string& ReplaceText() {
    static const std::u16string sText = [] {
        const std::u16string sentence = u"the quick brown fox jumps over the lazy dog, then sleeps a while. ";
        std::u16string text;
        text.reserve(kTextUnits + sentence.size());
        while (text.size() < kTextUnits)
            text.append(sentence);
        text.resize(kTextUnits);
        return text;
    }();
    return sText;
}

void BM_ReplaceAll_Ours(benchmark::State& state) {
    const vela::VString source(ReplaceText().c_str());
    const vela::VString fox("fox"), wolves("wolves"), ox("ox");
    for (auto _ : state) {
        vela::VString text(source);
        int32_t grown = text.ExchangeRawString(fox, wolves);
        int32_t shrunk = text.ExchangeRawString(wolves, ox);
        benchmark::DoNotOptimize(grown + shrunk);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTextUnits * 2 * 2));
}

void BM_ReplaceAll_Peer(benchmark::State& state) {
    const icu::UnicodeString source(ReplaceText().data(), int32_t(ReplaceText().size()));
    const icu::UnicodeString fox(u"fox"), wolves(u"wolves"), ox(u"ox");
    for (auto _ : state) {
        icu::UnicodeString text(source);
        text.findAndReplace(fox, wolves);
        text.findAndReplace(wolves, ox);
        benchmark::DoNotOptimize(text.getBuffer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTextUnits * 2 * 2));
}

BENCHMARK(BM_ReplaceAll_Ours)->Name("replace_all/ours");
BENCHMARK(BM_ReplaceAll_Peer)->Name("replace_all/peer");

} // namespace
