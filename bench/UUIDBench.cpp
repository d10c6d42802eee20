// Generating an identifier and writing it as text: VUUID (one getrandom call per identifier, 32 hexadecimal
// digits into a reused VString) against libuuid's uuid_generate + uuid_unparse_upper into a char buffer.
#include "core/VString.h"
#include "values/VUUID.h"

#include <benchmark/benchmark.h>
#include <uuid/uuid.h>

namespace {

using namespace vela;

void BM_UUIDGenerateTextOurs(benchmark::State& state) {
    VUUID id;
    VString text;
    for (auto _ : state) {
        id.Regenerate();
        id.GetString(text);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void BM_UUIDGenerateTextPeer(benchmark::State& state) {
    uuid_t id;
    char text[37];
    for (auto _ : state) {
        uuid_generate(id);
        uuid_unparse_upper(id, text);
        benchmark::DoNotOptimize(text);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

BENCHMARK(BM_UUIDGenerateTextOurs)->Name("uuid_generate_text/ours");
BENCHMARK(BM_UUIDGenerateTextPeer)->Name("uuid_generate_text/peer");

} // namespace
