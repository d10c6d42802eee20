#include "BenchMainTask.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "intl/VIntlMgr.h"

#include <benchmark/benchmark.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using vela::bench::StMainTask;

constexpr size_t kPairs = 1000000;
constexpr size_t kCaseUnits = 512 * 1024; // 1 MB of UTF-16

// Words in several scripts, with accents, case and a few decomposed forms; pairs mix them.
const std::vector<std::u16string>& Words() {
    static const std::vector<std::u16string> sWords = [] {
        const std::u16string stems[] = {
            u"apple",
            u"Apple",
            u"\u00E9cole",
            u"ecole",
            u"stra\u00DFe",
            u"Strasse",
            u"cafe\u0301",
            u"caf\u00E9",
            u"\u03B1\u03BB\u03C6\u03B1",
            u"\u0391\u03BB\u03C6\u03B1",
            u"\u043C\u0438\u0440",
            u"\u041C\u0438\u0440",
            u"\u6771\u4EAC",
            u"\u5317\u4EAC",
            u"\u0645\u0631\u062D\u0628\u0627",
            u"\u05E9\u05DC\u05D5\u05DD",
            u"na\u00EFve",
            u"naive",
            u"\u00C5ngstr\u00F6m",
            u"zebra",
        };
        std::vector<std::u16string> words;
        for (int round = 0; round < 50; ++round) {
            for (const std::u16string& stem : stems)
                words.push_back(stem + std::u16string(1, char16_t(u'a' + round % 26)) + stem.substr(0, 2));
        }
        return words;
    }();
    return sWords;
}

// The second word of pair i.
size_t Partner(size_t i, size_t count) {
    return (i * 7919 + 13) % count;
}

void BM_CollateCompare_Ours(benchmark::State& state) {
    StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    vela::VTask::SetCurrentDialectCode(1033);
    const vela::VIntlMgr* manager = vela::VTask::GetCurrentIntlManager();
    std::vector<vela::VString> words;
    for (const std::u16string& word : Words())
        words.emplace_back(word.c_str());
    const size_t count = words.size();
    for (auto _ : state) {
        int sum = 0;
        for (size_t i = 0; i < kPairs; ++i) {
            const vela::VString& a = words[i % count];
            const vela::VString& b = words[Partner(i, count)];
            sum += manager->CompareString(a.GetCPointer(), a.GetLength(), b.GetCPointer(), b.GetLength(), true);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPairs));
}

void BM_CollateCompare_Peer(benchmark::State& state) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale("en_US"), status));
    // The settings of a case- and accent-sensitive comparison.
    collator->setStrength(icu::Collator::SECONDARY);
    collator->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, status);
    collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    if (U_FAILURE(status)) {
        state.SkipWithError("no collator");
        return;
    }
    std::vector<icu::UnicodeString> words;
    for (const std::u16string& word : Words())
        words.emplace_back(word.data(), int32_t(word.size()));
    const size_t count = words.size();
    for (auto _ : state) {
        int sum = 0;
        for (size_t i = 0; i < kPairs; ++i)
            sum += collator->compare(words[i % count], words[Partner(i, count)], status);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kPairs));
}

BENCHMARK(BM_CollateCompare_Ours)->Name("collate_compare/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CollateCompare_Peer)->Name("collate_compare/peer")->Unit(benchmark::kMillisecond);

// Mixed text: Latin with accents and sharp s, Greek, Cyrillic, CJK, digits and punctuation.
const std::u16string& CaseText() {
    static const std::u16string sText = [] {
        const std::u16string sentence =
            u"Die Stra\u00DFe f\u00FChrt \u00FCber den Fluss; \u03B7 \u03C0\u03CC\u03BB\u03B7 "
            u"\u043C\u043E\u0441\u043A\u0432\u0430 \u6771\u4EAC 2024, na\u00EFve caf\u00E9. ";
        std::u16string text;
        while (text.size() < kCaseUnits)
            text.append(sentence);
        text.resize(kCaseUnits);
        return text;
    }();
    return sText;
}

void BM_CaseMapUpper_Ours(benchmark::State& state) {
    StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    vela::VTask::SetCurrentDialectCode(1033);
    const vela::VString source(CaseText().c_str());
    for (auto _ : state) {
        vela::VString text(source);
        text.ToUpperCase();
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCaseUnits * 2));
}

void BM_CaseMapUpper_Peer(benchmark::State& state) {
    const icu::UnicodeString source(CaseText().data(), int32_t(CaseText().size()));
    for (auto _ : state) {
        icu::UnicodeString text(source);
        text.toUpper(icu::Locale::getRoot());
        benchmark::DoNotOptimize(text.getBuffer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCaseUnits * 2));
}

BENCHMARK(BM_CaseMapUpper_Ours)->Name("case_map_upper/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CaseMapUpper_Peer)->Name("case_map_upper/peer")->Unit(benchmark::kMillisecond);

} // namespace
