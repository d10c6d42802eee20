// Small blocks through the memory manager against the C library's malloc and free: the process manager, and a
// manager of the library's own allocator with one and four threads.

#include "core/VCppMemMgr.h"
#include "core/VObject.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>

namespace {

constexpr int kLiveBlocks = 64;
constexpr int kSizeCount = 4096; // a power of two, so the walk through the sizes wraps with a mask
constexpr vela::int32 kBenchTag = vela::FourCCTag("bnch");

// A fixed pseudo-random sequence of sizes from 16 to 256 bytes, the same for both sides.
const std::array<size_t, kSizeCount>& Sizes() {
    static const std::array<size_t, kSizeCount> sSizes = [] {
        std::array<size_t, kSizeCount> sizes{};
        vela::uint32 state = 0x2545F491u;
        for (size_t& size : sizes) {
            state = state * 1664525u + 1013904223u;
            size = 16 + (state >> 8) % 241;
        }
        return sizes;
    }();
    return sSizes;
}

// One iteration allocates a batch of 64 blocks, touches each, and frees them all.
template <class Allocate, class Free> void RunBatches(benchmark::State& state, Allocate allocate, Free free) {
    const auto& sizes = Sizes();
    std::array<void*, kLiveBlocks> blocks{};
    size_t next = 0;
    int64_t bytes = 0;
    for (auto _ : state) {
        for (void*& block : blocks) {
            size_t size = sizes[next];
            next = (next + 1) & (kSizeCount - 1);
            block = allocate(size);
            static_cast<char*>(block)[0] = 1;
            bytes += int64_t(size);
        }
        benchmark::DoNotOptimize(blocks.data());
        benchmark::ClobberMemory();
        for (void* block : blocks)
            free(block);
    }
    state.SetItemsProcessed(state.iterations() * kLiveBlocks);
    state.SetBytesProcessed(bytes);
}

void BM_AllocSmallOurs(benchmark::State& state) {
    if (vela::VObject::GetMainMemMgr() == nullptr) {
        state.SkipWithError("no memory manager");
        return;
    }
    RunBatches(
        state, [](size_t size) { return vela::VMemory::NewPtr(size, kBenchTag); },
        [](void* block) { vela::VMemory::DisposePtr(block); });
}

void BM_AllocSmallPeer(benchmark::State& state) {
    RunBatches(
        state, [](size_t size) { return std::malloc(size); }, [](void* block) { std::free(block); });
}

// A manager of the library's own allocator, fresh for each run (so no run inherits another's pages), made before
// the run's threads start and deleted after they ended.
vela::VCppMemMgr* sVelaManager = nullptr;

void MakeVelaManager(const benchmark::State&) {
    sVelaManager = new vela::VCppMemMgr(vela::VCppMemMgr::kAllocator_vela);
}

void DeleteVelaManager(const benchmark::State&) {
    delete sVelaManager;
    sVelaManager = nullptr;
}

void BM_VelaAllocSmallOurs(benchmark::State& state) {
    vela::VCppMemMgr* manager = sVelaManager;
    if (manager == nullptr || manager->UsesStdlib()) {
        state.SkipWithError("no own allocator");
        return;
    }
    RunBatches(
        state, [manager](size_t size) { return manager->Malloc(size, false, kBenchTag); },
        [manager](void* block) { manager->Free(block); });
}

} // namespace

BENCHMARK(BM_AllocSmallOurs)->Name("alloc_small/ours");
BENCHMARK(BM_AllocSmallPeer)->Name("alloc_small/peer");
BENCHMARK(BM_VelaAllocSmallOurs)
    ->Name("vela_alloc_small_1t/ours")
    ->Setup(MakeVelaManager)
    ->Teardown(DeleteVelaManager)
    ->UseRealTime();
BENCHMARK(BM_AllocSmallPeer)->Name("vela_alloc_small_1t/peer")->UseRealTime();
BENCHMARK(BM_VelaAllocSmallOurs)
    ->Name("vela_alloc_small_4t/ours")
    ->Setup(MakeVelaManager)
    ->Teardown(DeleteVelaManager)
    ->Threads(4)
    ->UseRealTime();
BENCHMARK(BM_AllocSmallPeer)->Name("vela_alloc_small_4t/peer")->Threads(4)->UseRealTime();
