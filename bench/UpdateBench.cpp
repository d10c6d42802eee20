// The update's swap of the synthetic bundle, through the updater's own steps in this process (up-to-date bundle
// copied beside the outdated one and flushed with syncfs, the two exchanged, the old one renamed aside and moved
// to the Trash), against a shell script doing the same work with `cp -a`, `sync` and `mv`. No caller to wait for,
// no relaunch.
#include "BenchMainTask.h"
#include "SyntheticBundle.h"
#include "core/VRefPtr.h"
#include "files/VFolder.h"
#include "updater/VUpdateEngine.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

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

    // With usersTrash, the updater's Trash is this folder's, not the user's.
    SwapPlace(const char* name, bool usersTrash) {
        fTop = TheBundle().fTop + "/" + name;
        fInstall = fTop + "/Applications/App.app";
        fTrash = fTop + "/data/Trash/files";
        fOutdated = fTop + "/Outdated.app";
        Run({"rm", "-rf", fTop});
        Run({"mkdir", "-p", fTop + "/Applications", fTrash});
        if (Run({"cp", "-a", TheBundle().fSource, fOutdated}) != 0) std::abort();
        if (usersTrash) ::setenv("XDG_DATA_HOME", (fTop + "/data").c_str(), 1);
    }
    ~SwapPlace() { Run({"rm", "-rf", fTop}); }
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
                               "cp -a \"$2\" \"$1_new\"\n"
                               "sync\n"
                               "mv \"$1\" \"$1_old\"\n"
                               "mv \"$1_new\" \"$1\"\n"
                               "mv \"$1_old\" \"$3/\"\n";
    if (Run({"sh", "-c", script, "swap", place.fInstall, TheBundle().fSource, place.fTrash}) != 0) std::abort();
}

// Writes back everything the file system of path holds, so that no swap pays for the write-back of another.
void SettleDisk(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::syncfs(fd) != 0) std::abort();
    ::close(fd);
}

// One swap on a settled disk, timed alone, in seconds.
double TimedSwap(SwapPlace& place, void (*swap)(const SwapPlace&)) {
    place.Prepare();
    SettleDisk(place.fTop);
    const auto start = std::chrono::steady_clock::now();
    swap(place);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    place.Undo();
    return elapsed.count();
}

// Both sides' places, made once for the run, and the sides' turns: ours then peer, swap after swap, so that a
// change in the machine's load during the run falls on both alike. Each turn of ours also times one of peer,
// which waits here for peer's benchmark to report it.
struct Turns {
    SwapPlace fOurs{"swap-ours", true};
    SwapPlace fPeer{"swap-peer", false};
    std::deque<double> fPeerTimes;

    double Ours() {
        const double ours = TimedSwap(fOurs, SwapOurs);
        fPeerTimes.push_back(TimedSwap(fPeer, SwapPeer));
        return ours;
    }
    double Peer() {
        // Peer's benchmark run alone still takes turns with ours.
        if (fPeerTimes.empty()) (void)Ours();
        const double peer = fPeerTimes.front();
        fPeerTimes.pop_front();
        return peer;
    }
};

// One for both sides' benchmarks.
Turns& TheTurns() {
    static Turns turns;
    return turns;
}

template <bool kOurs> void BM_UpdateInstall(benchmark::State& state) {
    vela::bench::StMainTask task;
    if (!task.IsInited()) {
        state.SkipWithError("the task manager was left running");
        return;
    }
    Turns& turns = TheTurns();
    for (auto _ : state)
        state.SetIterationTime(kOurs ? turns.Ours() : turns.Peer());
}

} // namespace

BENCHMARK(BM_UpdateInstall<true>)->Name("update_install/ours")->Iterations(5)->Repetitions(3)->UseManualTime();
BENCHMARK(BM_UpdateInstall<false>)->Name("update_install/peer")->Iterations(5)->Repetitions(3)->UseManualTime();
