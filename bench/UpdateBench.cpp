// The update's swap of the synthetic bundle, through the updater's own steps in this process (outdated bundle
// renamed aside, up-to-date one copied into place, old one moved to the Trash), against a shell script doing the
// same with `mv`, `cp -a` and `mv` into the Trash folder. No caller to wait for, no relaunch.
#include "BenchMainTask.h"
#include "SyntheticBundle.h"
#include "core/VRefPtr.h"
#include "files/VFolder.h"
#include "updater/VUpdateEngine.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>

namespace {

using vela::bench::Run;
using vela::bench::TheBundle;

// A folder of the benchmark's own beside the synthetic bundle: the installed application's folder, the Trash of
// an XDG data folder, and the outdated bundle kept between iterations.
struct SwapPlace {
    std::string fTop;
    std::string fInstall;  // where the outdated bundle stands when a swap starts
    std::string fTrash;    // the Trash's files folder
    std::string fOutdated; // the outdated bundle between iterations

    explicit SwapPlace(const char* name) {
        fTop = TheBundle().fTop + "/" + name;
        fInstall = fTop + "/Applications/App.app";
        fTrash = fTop + "/data/Trash/files";
        fOutdated = fTop + "/Outdated.app";
        Run({"rm", "-rf", fTop});
        Run({"mkdir", "-p", fTop + "/Applications", fTrash});
        if (Run({"cp", "-a", TheBundle().fSource, fOutdated}) != 0) std::abort();
        // The Trash the updater uses: this folder's, not the user's.
        ::setenv("XDG_DATA_HOME", (fTop + "/data").c_str(), 1);
    }
    ~SwapPlace() {
        ::unsetenv("XDG_DATA_HOME");
        Run({"rm", "-rf", fTop});
    }
    SwapPlace(const SwapPlace&) = delete;
    SwapPlace& operator=(const SwapPlace&) = delete;

    // The start of every swap: the outdated bundle installed, the Trash empty, nothing else.
    void Prepare() {
        if (::rename(fOutdated.c_str(), fInstall.c_str()) != 0) std::abort();
    }
    // After a swap: the installed copy deleted, the outdated bundle taken back from the Trash.
    void Undo() {
        if (Run({"rm", "-rf", fInstall, fTop + "/data/Trash/info"}) != 0) std::abort();
        DIR* trash = ::opendir(fTrash.c_str());
        if (trash == nullptr) std::abort();
        std::string old;
        while (dirent* entry = ::readdir(trash))
            if (entry->d_name[0] != '.') old = fTrash + "/" + entry->d_name;
        ::closedir(trash);
        if (old.empty() || ::rename(old.c_str(), fOutdated.c_str()) != 0) std::abort();
    }
};

vela::VFilePath FolderPath(const std::string& path) {
    vela::VFilePath out;
    FixFolderPathSpec(vela::VString(path.c_str()), vela::FPS_POSIX, out);
    return out;
}

void SwapOurs(const SwapPlace& place) {
    VUpdateEngine engine;
    const vela::VFolder outdated(FolderPath(place.fInstall));
    const vela::VFolder upToDate(FolderPath(TheBundle().fSource));
    auto old = vela::VRefPtr<vela::VFolder>::Adopt(engine._SwapApplications(outdated, upToDate, outdated));
    if (old.Get() == nullptr || old->MoveToTrash() != vela::VE_OK) std::abort();
}

void SwapPeer(const SwapPlace& place) {
    const std::string script = "set -e\n"
                               "mv \"$1\" \"$1_old\"\n"
                               "cp -a \"$2\" \"$1\"\n"
                               "mv \"$1_old\" \"$3/\"\n";
    if (Run({"sh", "-c", script, "swap", place.fInstall, TheBundle().fSource, place.fTrash}) != 0) std::abort();
}

template <void (*Swap)(const SwapPlace&)> void BM_UpdateInstall(benchmark::State& state) {
    vela::bench::StMainTask task;
    if (!task.IsInited()) {
        state.SkipWithError("the task manager was left running");
        return;
    }
    SwapPlace place(Swap == SwapOurs ? "swap-ours" : "swap-peer");
    for (auto _ : state) {
        state.PauseTiming();
        place.Prepare();
        state.ResumeTiming();
        Swap(place);
        state.PauseTiming();
        place.Undo();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_UpdateInstall<SwapOurs>)->Name("update_install/ours")->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_UpdateInstall<SwapPeer>)->Name("update_install/peer")->Iterations(5)->Repetitions(3)->UseRealTime();
