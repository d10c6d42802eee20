// Whole-tree copy and forced delete of an application bundle against the system's own tools on the same tree
// and file system: `cp -a` and `rm -rf`. The bundle (5,000 files in nested folders, 300 MB, relative links and
// executable bits) is made once per run, by whichever benchmark needs it first.
#include "SyntheticBundle.h"
#include "files/platform/XPosixFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

using vela::bench::Bundle;
using vela::bench::Run;
using vela::bench::TheBundle;

void CopyOurs(const std::string& from, const std::string& to) {
    if (vela::XPosixFolder::CopyToNonExistingFolder(from.c_str(), to.c_str()) != 0) std::abort();
}
void CopyPeer(const std::string& from, const std::string& to) {
    if (Run({"cp", "-a", from, to}) != 0) std::abort();
}
void DeleteOurs(const std::string& path) {
    if (vela::XPosixFolder::DeleteForced(path.c_str()) != 0) std::abort();
}
void DeletePeer(const std::string& path) {
    if (Run({"rm", "-rf", path}) != 0) std::abort();
}

template <void (*Copy)(const std::string&, const std::string&)> void BM_FolderCopy(benchmark::State& state) {
    const Bundle& bundle = TheBundle();
    const std::string target = bundle.fTop + "/Copy.app";
    DeletePeer(target);
    for (auto _ : state) {
        Copy(bundle.fSource, target);
        state.PauseTiming();
        DeletePeer(target);
        state.ResumeTiming();
    }
}

template <void (*Delete)(const std::string&)> void BM_FolderDelete(benchmark::State& state) {
    const Bundle& bundle = TheBundle();
    const std::string target = bundle.fTop + "/Doomed.app";
    DeletePeer(target);
    for (auto _ : state) {
        state.PauseTiming();
        CopyPeer(bundle.fSource, target);
        state.ResumeTiming();
        Delete(target);
    }
}

} // namespace

BENCHMARK(BM_FolderCopy<CopyOurs>)->Name("folder_copy_bundle/ours")->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_FolderCopy<CopyPeer>)->Name("folder_copy_bundle/peer")->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_FolderDelete<DeleteOurs>)->Name("folder_delete_forced/ours")->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_FolderDelete<DeletePeer>)->Name("folder_delete_forced/peer")->Iterations(5)->Repetitions(3)->UseRealTime();
