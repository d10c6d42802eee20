#include "system/platform/XPosixProcessLauncher.h"

#include "core/StStringConverter.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/syslog.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vela {

namespace {

// The largest piece moved through a pipe at once: the pipe's default capacity.
constexpr size_t kPipeChunk = 65536;

std::mutex sWatchSetLock;
std::set<int32> sWatchSet;

void CloseFd(int& fd) noexcept {
    if (fd >= 0) close(fd);
    fd = -1;
}

int32 DecodeWaitStatus(int status) noexcept {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -127;
    return 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A write to a pipe whose reader is gone raises SIGPIPE, which would end this process: writes to the child run
// with the signal blocked on this thread, and a signal they raised is taken off the thread before the mask comes
// back. One guard covers a whole pump: changing the mask costs a system call.
class StSigPipeBlocked {
public:
    StSigPipeBlocked() noexcept {
        sigemptyset(&fPipeOnly);
        sigaddset(&fPipeOnly, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &fPipeOnly, &fPrevious);
    }
    ~StSigPipeBlocked() {
        int saved = errno;
        if (fBroken && !sigismember(&fPrevious, SIGPIPE)) {
            const timespec zero{0, 0};
            while (sigtimedwait(&fPipeOnly, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &fPrevious, nullptr);
        errno = saved;
    }
    StSigPipeBlocked(const StSigPipeBlocked&) = delete;
    StSigPipeBlocked& operator=(const StSigPipeBlocked&) = delete;

    ssize_t Write(int fd, const void* data, size_t size) noexcept {
        ssize_t written;
        do {
            written = write(fd, data, size);
        } while (written < 0 && errno == EINTR);
        if (written < 0 && errno == EPIPE) fBroken = true;
        return written;
    }

private:
    sigset_t fPipeOnly;
    sigset_t fPrevious;
    bool fBroken = false;
};

void YieldToScheduler() {
    if (VTaskMgr::IsInited()) VTaskMgr::Get()->Yield();
}

// How long a fiber waits on its descriptors before it lets the other fibers of its thread run.
constexpr int kFiberPollMs = 10;

// poll without a time limit; on a fiber, in short steps with a yield between them, so that the fibers that
// share this thread go on meanwhile. poll's answer.
int PollYielding(pollfd* fds, nfds_t count) {
    VTask* task = VTask::GetCurrent();
    if (task == nullptr || !task->IsFiber()) return poll(fds, count, -1);
    for (;;) {
        int ready = poll(fds, count, kFiberPollMs);
        if (ready != 0) return ready;
        YieldToScheduler();
    }
}

// One read from fd into sink; read's answer (bytes, 0 at the end, -1 with errno).
ssize_t ReadInto(int fd, const XPosixProcessLauncher::Sink& sink) {
    if (sink.buffer != nullptr) {
        VProcessOutputBuffer& buffer = *sink.buffer;
        size_t used = buffer.GetDataSize();
        // Doubling keeps the copies of a large output few; the buffer's own growth adds at most 1 MiB a time.
        size_t needed = used + kPipeChunk;
        if (needed > buffer.GetAllocatedSize() && needed < 2 * buffer.GetAllocatedSize())
            needed = 2 * buffer.GetAllocatedSize();
        if (buffer.EnsureCapacity(needed)) {
            ssize_t got = read(fd, static_cast<char*>(buffer.GetDataPtr()) + used, kPipeChunk);
            if (got > 0) buffer.SetDataSizeUnchecked(used + size_t(got));
            return got;
        }
        // A buffer that cannot grow drops the piece; the pipe must still be drained.
    }
    char scratch[kPipeChunk];
    ssize_t got = read(fd, scratch, sizeof scratch);
    if (got > 0 && sink.callback != nullptr && *sink.callback) (*sink.callback)(scratch, size_t(got));
    return got;
}

// Reads what fd holds into sink; closes fd at its end or after an error. With drainAll, reads until nothing is
// left; otherwise once.
void ReadStream(int& fd, const XPosixProcessLauncher::Sink& sink, bool drainAll) {
    while (fd >= 0) {
        ssize_t got = ReadInto(fd, sink);
        if (got > 0) {
            if (!drainAll) return;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return;
        CloseFd(fd);
    }
}

// The argument and environment arrays of posix_spawn: owned strings and a null-terminated list of pointers.
class CStringArray {
public:
    void Add(std::string text) { fStrings.push_back(std::move(text)); }
    bool IsEmpty() const { return fStrings.empty(); }
    char** Get() {
        fPointers.clear();
        for (std::string& text : fStrings)
            fPointers.push_back(text.data());
        fPointers.push_back(nullptr);
        return fPointers.data();
    }

private:
    std::vector<std::string> fStrings;
    std::vector<char*> fPointers;
};

// File actions and attributes of one spawn, destroyed with the object.
class SpawnSetup {
public:
    SpawnSetup() {
        fActionsError = posix_spawn_file_actions_init(&fActions);
        fAttributesError = posix_spawnattr_init(&fAttributes);
    }
    ~SpawnSetup() {
        if (fActionsError == 0) posix_spawn_file_actions_destroy(&fActions);
        if (fAttributesError == 0) posix_spawnattr_destroy(&fAttributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0 or the first failing call's error number.
    // Without output pipes, outputToNull sends the child's output and errors to /dev/null.
    int Prepare(const int* stdinPipe, const int* stdoutPipe, const int* stderrPipe, bool outputToNull,
                const std::string& directory) {
        if (fActionsError != 0) return fActionsError;
        if (fAttributesError != 0) return fAttributesError;
        int error = 0;
        auto step = [&error](int result) {
            if (error == 0) error = result;
        };
        if (stdinPipe != nullptr) step(posix_spawn_file_actions_adddup2(&fActions, stdinPipe[0], 0));
        if (stdoutPipe != nullptr) step(posix_spawn_file_actions_adddup2(&fActions, stdoutPipe[1], 1));
        if (stderrPipe != nullptr) step(posix_spawn_file_actions_adddup2(&fActions, stderrPipe[1], 2));
        if (outputToNull) {
            step(posix_spawn_file_actions_addopen(&fActions, 1, "/dev/null", O_WRONLY, 0));
            step(posix_spawn_file_actions_adddup2(&fActions, 1, 2));
        }
        // Only 0, 1 and 2 reach the child: every other descriptor of this process stays here.
        step(posix_spawn_file_actions_addclosefrom_np(&fActions, 3));
        if (!directory.empty()) step(posix_spawn_file_actions_addchdir_np(&fActions, directory.c_str()));
        sigset_t empty;
        sigemptyset(&empty);
        step(posix_spawnattr_setsigmask(&fAttributes, &empty));
        step(posix_spawnattr_setpgroup(&fAttributes, 0));
        step(posix_spawnattr_setflags(&fAttributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK));
        return error;
    }

    const posix_spawn_file_actions_t* Actions() const { return &fActions; }
    const posix_spawnattr_t* Attributes() const { return &fAttributes; }

private:
    posix_spawn_file_actions_t fActions;
    posix_spawnattr_t fAttributes;
    int fActionsError;
    int fAttributesError;
};

} // namespace

XPosixProcessLauncher::~XPosixProcessLauncher() {
    if (!_Reap()) _Abandon();
    _StopTimer();
    _ClosePipes();
}

int32 XPosixProcessLauncher::SplitCommandLine(const char* text, size_t length, std::vector<VString>& tokens) {
    tokens.clear();
    size_t i = 0;
    // Appends text[i] to token, or the character after a backslash (a backslash at the very end is dropped).
    auto take = [&](std::string& token) {
        if (text[i] == '\\') {
            if (++i >= length) return;
        }
        token += text[i++];
    };
    for (;;) {
        while (i < length && text[i] == ' ')
            ++i;
        if (i >= length) break;
        std::string token;
        char first = text[i];
        if (first == '"' || first == '\'') {
            ++i;
            while (i < length && text[i] != first)
                take(token);
            // The closing quote, then the character after it, whatever it is: the blank that ends the token.
            if (i < length) ++i;
            if (i < length) ++i;
        } else {
            while (i < length && text[i] != ' ')
                take(token);
            if (i < length) ++i;
        }
        tokens.emplace_back(token.data(), token.size(), VTC_UTF_8);
    }
    return int32(tokens.size());
}

void XPosixProcessLauncher::SetDefaultDirectory(const VString& posixPath) {
    fDirectory = to_string(posixPath);
}

void XPosixProcessLauncher::SetEnvironmentVariable(const VString& name, const VString& value) {
    if (!name.IsEmpty()) fEnvironment[name] = value;
}

void XPosixProcessLauncher::SetBinaryPath(const VString& path) {
    fBinaryPath = to_string(path);
    if (fArguments.empty())
        fArguments.push_back(path);
    else
        fArguments.front() = path;
}

void XPosixProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine) {
    fArguments.clear();
    if (commandLine.IsEmpty()) return;
    std::string text = to_string(commandLine);
    std::vector<VString> tokens;
    if (SplitCommandLine(text.data(), text.size(), tokens) == 0) return;
    fArguments = std::move(tokens);
    SetBinaryPath(VString(fArguments.front()));
}

void XPosixProcessLauncher::AddArgument(const VString& arg) {
    if (!arg.IsEmpty()) fArguments.push_back(arg);
}

// A file of that name in the working directory, or in an empty or relative PATH entry, would let whoever controls
// that folder choose what runs; and a bare name spawned as it stands is opened in the working directory.
bool XPosixProcessLauncher::ResolveProgramPath(std::string& program) {
    if (program.empty() || program.find('/') != std::string::npos) return true;
    const char* path = getenv("PATH");
    if (path == nullptr) path = getenv("path");
    if (path == nullptr) return false;
    for (const char* entry = path; *entry != '\0';) {
        const char* end = std::strchr(entry, ':');
        const size_t entryLength = end != nullptr ? size_t(end - entry) : std::strlen(entry);
        if (entryLength > 0 && entry[0] == '/') {
            std::string candidate(entry, entryLength);
            candidate += '/';
            candidate += program;
            if (IsRegularFile(candidate)) {
                program = std::move(candidate);
                return true;
            }
        }
        if (end == nullptr) break;
        entry = end + 1;
    }
    return false;
}

int32 XPosixProcessLauncher::Start(const VEnvironmentVariables& environment) {
    if (fRunning || fBinaryPath.empty()) return -1;
    _StopTimer();
    _ClosePipes();
    if (!ResolveProgramPath(fBinaryPath)) return ENOENT;

    int stdinPipe[2] = {-1, -1}, stdoutPipe[2] = {-1, -1}, stderrPipe[2] = {-1, -1};
    auto closeAll = [&] {
        for (int* pipeEnds : {stdinPipe, stdoutPipe, stderrPipe}) {
            CloseFd(pipeEnds[0]);
            CloseFd(pipeEnds[1]);
        }
    };
    bool piped = (!fRedirectStdin || pipe2(stdinPipe, O_CLOEXEC) == 0) &&
                 (!fRedirectStdout || (pipe2(stdoutPipe, O_CLOEXEC) == 0 && pipe2(stderrPipe, O_CLOEXEC) == 0));
    if (!piped) {
        closeAll();
        return -1;
    }
    if (fRedirectStdout) {
        fcntl(stdoutPipe[0], F_SETFL, O_NONBLOCK);
        fcntl(stderrPipe[0], F_SETFL, O_NONBLOCK);
    }

    SpawnSetup setup;
    int error = setup.Prepare(fRedirectStdin ? stdinPipe : nullptr, fRedirectStdout ? stdoutPipe : nullptr,
                              fRedirectStdout ? stderrPipe : nullptr, fOutputToNull && !fRedirectStdout, fDirectory);
    if (error != 0) {
        syslog(LOG_ERR, "init_pipes error");
        closeAll();
        return error;
    }

    CStringArray arguments;
    for (const VString& argument : fArguments)
        arguments.Add(to_string(argument));
    if (arguments.IsEmpty()) arguments.Add(fBinaryPath);
    CStringArray variables;
    for (const auto& [name, value] : environment)
        if (!name.IsEmpty()) variables.Add(to_string(name) + "=" + to_string(value));
    _CleanWatchSet();

    pid_t pid = 0;
    {
        std::lock_guard<std::mutex> hold(fLock);
        // glibc's posix_spawn reports a failed exec (an unknown program, say) as its own result.
        error = posix_spawn(&pid, fBinaryPath.c_str(), setup.Actions(), setup.Attributes(), arguments.Get(),
                            variables.IsEmpty() ? environ : variables.Get());
        if (error == 0) {
            fPid = pid;
            fRunning = true;
            fTimedOut = false;
            fExitStatus = 0;
        }
    }
    if (error != 0) {
        closeAll();
        return error;
    }
    // A handle on this very child: it sees the end without reaping, and never names a reused pid.
    fPidFd = int(syscall(SYS_pidfd_open, pid, 0));
    CloseFd(stdinPipe[0]);
    CloseFd(stdoutPipe[1]);
    CloseFd(stderrPipe[1]);
    fStdin = stdinPipe[1];
    fStdout = stdoutPipe[0];
    fStderr = stderrPipe[0];
    if (fWait > 0 && fWait < VProcessLauncher::kNoTimeLimit) _StartTimer(fWait);
    return 0;
}

void XPosixProcessLauncher::_StartTimer(int32 ms) {
    {
        std::lock_guard<std::mutex> hold(fLock);
        fTimerCancelled = false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    fTimer = std::thread([this, deadline] {
        std::unique_lock<std::mutex> hold(fLock);
        if (fTimerWake.wait_until(hold, deadline, [this] { return fTimerCancelled; })) return;
        // Still unreaped here (reaping cancels the timer under the same lock), so the pid and its group are ours.
        if (!fRunning || fPid <= 0) return;
        fTimedOut = true;
        pid_t group = getpgid(fPid);
        if (group <= 0 || killpg(group, SIGKILL) != 0) kill(fPid, SIGKILL);
    });
}

void XPosixProcessLauncher::_StopTimer() {
    {
        std::lock_guard<std::mutex> hold(fLock);
        fTimerCancelled = true;
    }
    fTimerWake.notify_all();
    if (fTimer.joinable()) fTimer.join();
}

void XPosixProcessLauncher::_ClosePipes() {
    CloseFd(fStdin);
    CloseFd(fStdout);
    CloseFd(fStderr);
    CloseFd(fPidFd);
}

bool XPosixProcessLauncher::_Reap() {
    std::lock_guard<std::mutex> hold(fLock);
    if (!fRunning) return true;
    if (fPid <= 0) return false;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(fPid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0) return false;
    fExitStatus = result == fPid ? DecodeWaitStatus(status) : 0;
    fPid = 0;
    fRunning = false;
    fTimerCancelled = true;
    fTimerWake.notify_all();
    return true;
}

bool XPosixProcessLauncher::_WaitForExit(int32 ms) {
    int32 pid = GetPid();
    if (pid <= 0) return true;
    if (fPidFd >= 0) {
        pollfd exited{fPidFd, POLLIN, 0};
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
        for (;;) {
            int timeout = -1;
            if (ms >= 0) {
                auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                timeout = left.count() > 0 ? int(left.count()) : 0;
            }
            int ready = poll(&exited, 1, timeout);
            if (ready >= 0) return ready > 0;
            if (errno != EINTR) return false;
        }
    }
    // Without a pidfd: a blocking wait that leaves the child unreaped, or 30 ms steps for a bounded one.
    siginfo_t info{};
    if (ms < 0) {
        while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0)
            if (errno != EINTR) return errno == ECHILD;
        return true;
    }
    for (int32 waited = 0;; waited += 30) {
        info.si_pid = 0;
        if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT | WNOHANG) != 0) return errno == ECHILD;
        if (info.si_pid == pid) return true;
        if (waited >= ms) return false;
        usleep(30000);
    }
}

int32 XPosixProcessLauncher::WriteToChild(const void* data, uint32 size, bool closeAfter) {
    if (data == nullptr || !fRunning || fStdin < 0) return -1;
    int32 result = 0;
    if (size > 0) {
        YieldToScheduler();
        StSigPipeBlocked noSignal;
        result = int32(noSignal.Write(fStdin, data, size));
    }
    if (closeAfter) CloseStandardInput();
    return result;
}

void XPosixProcessLauncher::CloseStandardInput() {
    CloseFd(fStdin);
}

int32 XPosixProcessLauncher::_ReadOnce(int& fd, char* buffer, long size) {
    if (buffer == nullptr || size <= 0 || fd < 0) return -1;
    ssize_t got = read(fd, buffer, size_t(size));
    YieldToScheduler();
    if (got > 0) return int32(got);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // The end of the stream: later reads answer -1 at once, and poll no longer wakes for it.
    CloseFd(fd);
    return -1;
}

int32 XPosixProcessLauncher::WaitForData() {
    for (;;) {
        pollfd fds[3] = {{fStdout, POLLIN, 0}, {fStderr, POLLIN, 0}, {fPidFd, POLLIN, 0}};
        bool anything = fStdout >= 0 || fStderr >= 0 || fPidFd >= 0;
        if (!anything) return _Reap() ? 4 : 0;
        if (PollYielding(fds, 3) < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        int32 result = 0;
        if (fds[0].revents != 0) result |= 1;
        if (fds[1].revents != 0) result |= 2;
        if (result != 0) return result;
        if (fds[2].revents != 0 && _Reap()) {
            CloseFd(fPidFd);
            return 4;
        }
    }
}

void XPosixProcessLauncher::Pump(const void* input, size_t size, Sink output, Sink errors, bool untilExit) {
    const char* pending = static_cast<const char*>(input);
    size_t left = pending != nullptr ? size : 0;
    if (left == 0) CloseStandardInput();
    if (fStdin >= 0) fcntl(fStdin, F_SETFL, fcntl(fStdin, F_GETFL) | O_NONBLOCK);
    // With a pidfd the child's end is seen directly; without, only as the end of its streams.
    bool watchExit = untilExit && fPidFd >= 0;
    StSigPipeBlocked noSignal;
    bool exited = false;
    for (;;) {
        bool streams = fStdout >= 0 || fStderr >= 0 || fStdin >= 0;
        if (watchExit ? exited : !streams) break;
        pollfd fds[4] = {
            {fStdin, POLLOUT, 0}, {fStdout, POLLIN, 0}, {fStderr, POLLIN, 0}, {watchExit ? fPidFd : -1, POLLIN, 0}};
        if (PollYielding(fds, 4) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents != 0) {
            ssize_t written = noSignal.Write(fStdin, pending, left < kPipeChunk ? left : kPipeChunk);
            if (written > 0) {
                pending += written;
                left -= size_t(written);
            }
            if (left == 0 || (written < 0 && errno != EAGAIN)) CloseStandardInput();
        }
        if (fds[1].revents != 0) ReadStream(fStdout, output, false);
        if (fds[2].revents != 0) ReadStream(fStderr, errors, false);
        exited = fds[3].revents != 0;
    }
    if (exited) {
        // Everything the child wrote before it ended is in the pipes now.
        ReadStream(fStdout, output, true);
        ReadStream(fStderr, errors, true);
    }
    CloseStandardInput();
}

void XPosixProcessLauncher::FeedInBackground(const void* input, size_t size) {
    const char* pending = static_cast<const char*>(input);
    size_t left = pending != nullptr && fStdin >= 0 ? size : 0;
    if (left > 0) {
        // What the pipe takes now goes at once; only the rest needs a feeder.
        fcntl(fStdin, F_SETFL, fcntl(fStdin, F_GETFL) | O_NONBLOCK);
        StSigPipeBlocked noSignal;
        ssize_t written = noSignal.Write(fStdin, pending, left);
        if (written > 0) {
            pending += written;
            left -= size_t(written);
        }
        if (written < 0 && errno != EAGAIN) left = 0;
    }
    if (left == 0) {
        CloseStandardInput();
        return;
    }
    // The feeder owns the input's end and a copy of the rest; it stops when all is written, when the child
    // closes its input or ends (its pidfd), whichever comes first, so it never outlives the child for long.
    int feed = fStdin;
    fStdin = -1;
    int exited = fPidFd >= 0 ? fcntl(fPidFd, F_DUPFD_CLOEXEC, 0) : -1;
    try {
        std::vector<char> rest(pending, pending + left);
        std::thread([feed, exited, rest = std::move(rest)]() mutable {
            StSigPipeBlocked noSignal;
            size_t done = 0;
            while (done < rest.size()) {
                pollfd fds[2] = {{feed, POLLOUT, 0}, {exited, POLLIN, 0}};
                if (poll(fds, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    break;
                }
                if (fds[1].revents != 0) break;
                size_t chunk = std::min(rest.size() - done, kPipeChunk);
                ssize_t written = noSignal.Write(feed, rest.data() + done, chunk);
                if (written < 0 && errno != EAGAIN) break;
                if (written > 0) done += size_t(written);
            }
            CloseFd(feed);
            CloseFd(exited);
        }).detach();
    } catch (const std::exception&) {
        // No copy or no thread: the child sees its input end early rather than this call blocking.
        CloseFd(feed);
        CloseFd(exited);
    }
}

int32 XPosixProcessLauncher::ReadFromChildAndShutdown(const std::function<void(const void*, size_t)>& onOutput,
                                                      const std::function<void(const void*, size_t)>& onError) {
    Pump(nullptr, 0, Sink{nullptr, &onOutput}, Sink{nullptr, &onError}, false);
    return Shutdown(false, false);
}

bool XPosixProcessLauncher::IsRunning() {
    if (!fRunning) return false;
    if (GetPid() < 1) return true;
    return !_Reap();
}

int32 XPosixProcessLauncher::Shutdown(bool terminate, bool killTree) {
    if (fWait > 0 && fRunning) {
        // Output nobody reads would fill its pipe and keep the child from ending.
        Pump(nullptr, 0, Sink{}, Sink{}, true);
        _WaitForExit(-1);
    }
    bool timedOut = false;
    {
        std::lock_guard<std::mutex> hold(fLock);
        timedOut = fTimedOut;
    }
    if (timedOut) _ThrowError(VE_PROCESS_TIMED_OUT);
    if (killTree && fKillTree) {
        std::lock_guard<std::mutex> hold(fLock);
        if (fRunning && fPid > 0) killpg(fPid, SIGKILL);
    }
    if (!fRunning || _Reap()) {
        _StopTimer();
        return 0;
    }
    CloseFd(fStdout);
    CloseFd(fStderr);
    CloseStandardInput();
    if (terminate) {
        if (!_Reap() && !_TerminateIndependantChildProcess(SIGTERM, 5000, false) &&
            !_TerminateIndependantChildProcess(SIGQUIT, 5000, false))
            _TerminateIndependantChildProcess(SIGKILL, 5000, false);
    }
    if (!_Reap()) _Abandon();
    _StopTimer();
    CloseFd(fPidFd);
    return 0;
}

void XPosixProcessLauncher::_Abandon() {
    std::lock_guard<std::mutex> hold(fLock);
    // Reaped later by the watch set: this launcher forgets the pid, and its timer is off.
    _AddToWatchSet(fPid);
    fPid = 0;
    fRunning = false;
    fTimerCancelled = true;
    fTimerWake.notify_all();
}

bool XPosixProcessLauncher::_TerminateIndependantChildProcess(int signal, int32 ms, bool toGroup) {
    {
        std::lock_guard<std::mutex> hold(fLock);
        if (!fRunning || fPid <= 0) return true;
        int sent = toGroup ? killpg(fPid, signal) : kill(fPid, signal);
        if (sent != 0 && errno != ESRCH) return false;
    }
    _WaitForExit(ms < 1 ? 30 : ms);
    return _Reap();
}

int32 XPosixProcessLauncher::GetPid() const {
    std::lock_guard<std::mutex> hold(fLock);
    return fPid;
}

int32 XPosixProcessLauncher::GetExitStatus() const {
    std::lock_guard<std::mutex> hold(fLock);
    return fExitStatus;
}

bool XPosixProcessLauncher::KillProcess(int32 pid) {
    return pid > 0 && kill(pid, SIGTERM) == 0;
}

void XPosixProcessLauncher::_AddToWatchSet(int32 pid) {
    if (pid <= 0) return;
    std::lock_guard<std::mutex> hold(sWatchSetLock);
    sWatchSet.insert(pid);
}

void XPosixProcessLauncher::_CleanWatchSet() {
    std::lock_guard<std::mutex> hold(sWatchSetLock);
    for (auto it = sWatchSet.begin(); it != sWatchSet.end();) {
        pid_t result = waitpid(*it, nullptr, WNOHANG);
        it = result == 0 ? std::next(it) : sWatchSet.erase(it);
    }
}

} // namespace vela
