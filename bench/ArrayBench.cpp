// Sorting typed arrays: VArrayLong::Sort of 1,000,000 elements (random, and two distinct values) against
// std::sort of a std::vector<int32_t>; and a three-criteria ISortable::MultiCriteriaQSort of 200,000 rows held in
// three parallel arrays against std::sort of a vector of tuples with a lexicographic comparator. Each repetition
// sorts a fresh copy of the same input; the copy is not timed.
#include "values/VArrayValues.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

namespace {

using namespace vela;

// keys 0 means any 32-bit value.
std::vector<int32_t> Input(int64_t n, uint32_t keys, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<int32_t> values(static_cast<size_t>(n));
    for (int32_t& v : values)
        v = keys == 0 ? int32_t(random()) : int32_t(random() % keys);
    return values;
}

void Fill(VArrayLong& array, const std::vector<int32_t>& values) {
    array.SetCount(int32(values.size()));
    auto* data = static_cast<int32*>(array.LockAndGetData());
    std::copy(values.begin(), values.end(), data);
    array.UnlockData();
}

void SortOurs(benchmark::State& state, uint32_t keys) {
    const std::vector<int32_t> input = Input(state.range(0), keys, 1);
    VArrayLong array;
    for (auto _ : state) {
        state.PauseTiming();
        Fill(array, input);
        state.ResumeTiming();
        array.Sort(1, array.GetCount(), false);
        benchmark::DoNotOptimize(array.LockAndGetData());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void SortPeer(benchmark::State& state, uint32_t keys) {
    const std::vector<int32_t> input = Input(state.range(0), keys, 1);
    std::vector<int32_t> values;
    for (auto _ : state) {
        state.PauseTiming();
        values = input;
        state.ResumeTiming();
        std::sort(values.begin(), values.end());
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_ArraySortRandomOurs(benchmark::State& state) {
    SortOurs(state, 0);
}
void BM_ArraySortRandomPeer(benchmark::State& state) {
    SortPeer(state, 0);
}
void BM_ArraySortFewKeysOurs(benchmark::State& state) {
    SortOurs(state, 2);
}
void BM_ArraySortFewKeysPeer(benchmark::State& state) {
    SortPeer(state, 2);
}

BENCHMARK(BM_ArraySortRandomOurs)->Name("array_sort_random/ours")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArraySortRandomPeer)->Name("array_sort_random/peer")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArraySortFewKeysOurs)->Name("array_sort_fewkeys/ours")->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArraySortFewKeysPeer)->Name("array_sort_fewkeys/peer")->Arg(1000000)->Unit(benchmark::kMillisecond);
// 100,000 against 1,000,000, each against the peer at the same size: ten times the elements must cost about
// ten times (n log n), not a hundred, so the two ratios stay alike.
BENCHMARK(BM_ArraySortFewKeysOurs)
    ->Name("array_sort_fewkeys_scale/ours")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArraySortFewKeysPeer)
    ->Name("array_sort_fewkeys_scale/peer")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// Rows of three criteria: 100 values, then 1,000, then any; ties of the first two are common.
constexpr int64_t kRows = 200000;

void BM_ArrayMultiSortOurs(benchmark::State& state) {
    const std::vector<int32_t> a = Input(kRows, 100, 2), b = Input(kRows, 1000, 3), c = Input(kRows, 0, 4);
    VArrayLong first, second, third;
    ISortable* list[] = {&first, &second, &third, nullptr};
    const uint8 ascending[] = {0, 0, 0};
    for (auto _ : state) {
        state.PauseTiming();
        Fill(first, a);
        Fill(second, b);
        Fill(third, c);
        state.ResumeTiming();
        ISortable::MultiCriteriaQSort(list, ascending, 3, 0, int32(kRows - 1));
        benchmark::DoNotOptimize(first.LockAndGetData());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}

void BM_ArrayMultiSortPeer(benchmark::State& state) {
    const std::vector<int32_t> a = Input(kRows, 100, 2), b = Input(kRows, 1000, 3), c = Input(kRows, 0, 4);
    std::vector<std::tuple<int32_t, int32_t, int32_t>> input;
    for (int64_t i = 0; i < kRows; ++i)
        input.emplace_back(a[size_t(i)], b[size_t(i)], c[size_t(i)]);
    std::vector<std::tuple<int32_t, int32_t, int32_t>> rows;
    for (auto _ : state) {
        state.PauseTiming();
        rows = input;
        state.ResumeTiming();
        std::sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) {
            if (std::get<0>(x) != std::get<0>(y)) return std::get<0>(x) < std::get<0>(y);
            if (std::get<1>(x) != std::get<1>(y)) return std::get<1>(x) < std::get<1>(y);
            return std::get<2>(x) < std::get<2>(y);
        });
        benchmark::DoNotOptimize(rows.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRows);
}

BENCHMARK(BM_ArrayMultiSortOurs)->Name("array_multisort/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArrayMultiSortPeer)->Name("array_multisort/peer")->Unit(benchmark::kMillisecond);

} // namespace
