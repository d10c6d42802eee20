// Child processes and the process list against hand-written posix_spawn, poll and /proc code.

#include "system/VProcessLauncher.h"
#include "system/VSystem.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using vela::VProcessLauncher;
using vela::VProcessOutputBuffer;

constexpr size_t kCatBytes = 10 * 1024 * 1024;

// ---- spawn_true: one run of /bin/true to its end.

void BM_SpawnTrueOurs(benchmark::State& state) {
    for (auto _ : state) {
        VProcessOutputBuffer output, errors;
        vela::int32 status = -1;
        if (VProcessLauncher::ExecuteCommandLine("/bin/true", 0, nullptr, &output, &errors, nullptr, nullptr,
                                                 &status) != 0 ||
            status != 0) {
            state.SkipWithError("spawn failed");
            return;
        }
    }
}

void BM_SpawnTruePeer(benchmark::State& state) {
    char* argv[] = {const_cast<char*>("/bin/true"), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ) != 0 || waitpid(pid, &status, 0) != pid) {
            state.SkipWithError("spawn failed");
            return;
        }
    }
}

// ---- spawn_cat_10mb: 10 MB through cat, its output collected.

void BM_SpawnCatOurs(benchmark::State& state) {
    VProcessOutputBuffer input;
    input.SetSize(kCatBytes);
    for (auto _ : state) {
        VProcessOutputBuffer output;
        if (VProcessLauncher::ExecuteCommandLine("/bin/cat", 0, &input, &output, nullptr) != 0 ||
            output.GetDataSize() != kCatBytes) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCatBytes));
}

// The same with posix_spawn and a plain poll loop over the two pipes.
bool CatThroughPoll(const std::string& input, std::string& output) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>("/bin/cat"), nullptr};
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, "/bin/cat", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned != 0) return false;
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    int writeEnd = in[1];
    char chunk[65536];
    for (;;) {
        pollfd fds[2] = {{writeEnd, POLLOUT, 0}, {out[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[0].revents != 0) {
            ssize_t n = write(writeEnd, input.data() + written, std::min(input.size() - written, sizeof chunk));
            if (n > 0) written += size_t(n);
            if (written == input.size() || (n < 0 && errno != EAGAIN)) {
                close(writeEnd);
                writeEnd = -1;
            }
        }
        if (fds[1].revents != 0) {
            ssize_t n = read(out[0], chunk, sizeof chunk);
            if (n > 0) output.append(chunk, size_t(n));
            if (n == 0) break;
        }
    }
    close(out[0]);
    if (writeEnd >= 0) close(writeEnd);
    int status = 0;
    return waitpid(pid, &status, 0) == pid;
}

void BM_SpawnCatPeer(benchmark::State& state) {
    std::string input(kCatBytes, '\0');
    for (auto _ : state) {
        std::string output;
        if (!CatThroughPoll(input, output) || output.size() != kCatBytes) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kCatBytes));
}

// ---- process_list: the pids of every process.

void BM_ProcessListOurs(benchmark::State& state) {
    std::vector<int> pids;
    for (auto _ : state) {
        vela::VSystem::GetProcessList(pids);
        benchmark::DoNotOptimize(pids.data());
    }
}

void BM_ProcessListPeer(benchmark::State& state) {
    std::vector<int> pids;
    for (auto _ : state) {
        pids.clear();
        DIR* proc = opendir("/proc");
        while (dirent* entry = readdir(proc)) {
            if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
            pids.push_back(std::atoi(entry->d_name));
        }
        closedir(proc);
        benchmark::DoNotOptimize(pids.data());
    }
}

} // namespace

BENCHMARK(BM_SpawnTrueOurs)->Name("spawn_true/ours")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpawnTruePeer)->Name("spawn_true/peer")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpawnCatOurs)->Name("spawn_cat_10mb/ours")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpawnCatPeer)->Name("spawn_cat_10mb/peer")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProcessListOurs)->Name("process_list/ours")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProcessListPeer)->Name("process_list/peer")->UseRealTime()->Unit(benchmark::kMicrosecond);
