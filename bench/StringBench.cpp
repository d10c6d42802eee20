#include "core/VString.h"

#include <benchmark/benchmark.h>
#include <unicode/unistr.h>

namespace {

constexpr int kPieces = 1000;
const char16_t kPiece[] = u"piece of text, ";
constexpr int32_t kPieceLength = sizeof(kPiece) / sizeof(kPiece[0]) - 1;

// Builds a string by appends, then copies it a few times (copies share the buffer).
void BM_StringAppendCopy_Ours(benchmark::State& state) {
    for (auto _ : state) {
        vela::VString text;
        for (int i = 0; i < kPieces; ++i)
            text.AppendUniChars(kPiece, kPieceLength);
        vela::VString copies[4] = {text, text, text, text};
        benchmark::DoNotOptimize(copies[3].GetCPointer());
    }
}

void BM_StringAppendCopy_Peer(benchmark::State& state) {
    for (auto _ : state) {
        icu::UnicodeString text;
        for (int i = 0; i < kPieces; ++i)
            text.append(kPiece, kPieceLength);
        icu::UnicodeString copies[4] = {text, text, text, text};
        benchmark::DoNotOptimize(copies[3].getBuffer());
    }
}

BENCHMARK(BM_StringAppendCopy_Ours)->Name("string_append_copy/ours");
BENCHMARK(BM_StringAppendCopy_Peer)->Name("string_append_copy/peer");

} // namespace
