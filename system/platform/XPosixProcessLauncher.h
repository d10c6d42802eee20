#pragma once

#include "core/VString.h"
#include "system/VProcessLauncher.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vela {

// The Linux side of VProcessLauncher: posix_spawn, pipes read with poll, a pidfd to see the child end, and a
// timer thread for the time limit. The pid is reaped under fLock and the time-out signals only while the child
// is unreaped (its pid and group id cannot be reused then), so a late time-out never hits another process.
class XPosixProcessLauncher {
public:
    // Where the bytes of one output stream go: a buffer, a callback, or nowhere.
    struct Sink {
        VProcessOutputBuffer* buffer = nullptr;
        const std::function<void(const void*, size_t)>* callback = nullptr;
    };

    XPosixProcessLauncher() = default;
    ~XPosixProcessLauncher();
    XPosixProcessLauncher(const XPosixProcessLauncher&) = delete;
    XPosixProcessLauncher& operator=(const XPosixProcessLauncher&) = delete;

    // Splits length bytes of UTF-8 into tokens (see VProcessLauncher::CreateArgumentsFromFullCommandLine);
    // never reads past length. Answers the number of tokens.
    static int32 SplitCommandLine(const char* text, size_t length, std::vector<VString>& tokens);
    // The program a start runs for program: a path with '/' as it stands; a bare name as the first regular file of
    // that name in an absolute PATH entry, never one in the working directory. False for a bare name found nowhere.
    static bool ResolveProgramPath(std::string& program);

    void SetDefaultDirectory(const VString& posixPath);
    void SetEnvironmentVariable(const VString& name, const VString& value);
    void SetEnvironmentVariables(const VEnvironmentVariables& variables) { fEnvironment = variables; }
    void SetBinaryPath(const VString& path);
    void CreateArgumentsFromFullCommandLine(const VString& commandLine);
    void AddArgument(const VString& arg);
    void ClearArguments() { fArguments.clear(); }
    void SetRedirectStandardInput(bool redirect) { fRedirectStdin = redirect; }
    void SetRedirectStandardOutput(bool redirect) { fRedirectStdout = redirect; }
    // For a child whose output nobody will read: no pipes (a pipe whose reader is gone would end the child with
    // SIGPIPE at its first write), its output and errors go to /dev/null.
    void SetOutputToNull() {
        fRedirectStdout = false;
        fOutputToNull = true;
    }
    void SetQuoteArgumentsIfNeeded(bool quote) { fQuoteArguments = quote; }
    void SetWaitClosingChildProcess(int32 ms) { fWait = ms; }
    void EnableProcessTreeKill() { fKillTree = true; }
    const std::vector<VString>& GetArguments() const { return fArguments; }
    // The program as it will be (or was) started, after the PATH lookup.
    const std::string& GetBinaryPath() const { return fBinaryPath; }

    int32 Start() { return Start(fEnvironment); }
    int32 Start(const VEnvironmentVariables& environment);

    int32 WriteToChild(const void* data, uint32 size, bool closeAfter);
    void CloseStandardInput();
    int32 WaitForData();
    int32 ReadFromChild(char* buffer, long size) { return _ReadOnce(fStdout, buffer, size); }
    int32 ReadErrorFromChild(char* buffer, long size) { return _ReadOnce(fStderr, buffer, size); }
    int32 ReadFromChildAndShutdown(const std::function<void(const void*, size_t)>& onOutput,
                                   const std::function<void(const void*, size_t)>& onError);

    // Feeds input (size bytes, may be null) to the child while sending its output and errors to their sinks,
    // without ever blocking on one pipe while another is full. untilExit: stops once the child ended and what
    // it left in the pipes is read; otherwise when both streams ended. The child's input is closed at the end.
    void Pump(const void* input, size_t size, Sink output, Sink errors, bool untilExit);

    // Feeds input (size bytes, copied; may be null) to the child without waiting for it to read: what does not
    // fit in the pipe now is written by a thread of its own. The child's input is closed here or by that thread.
    void FeedInBackground(const void* input, size_t size);

    bool IsRunning();
    int32 Shutdown(bool terminate, bool killTree);
    int32 GetPid() const;
    int32 GetExitStatus() const;

    static bool KillProcess(int32 pid);

private:
    // Reaps the child without blocking when it ended; true when it no longer runs.
    bool _Reap();
    // Hands a child that still runs to the watch set and forgets it.
    void _Abandon();
    // Waits at most ms (negative: without limit) for the child to end, without reaping it; true when it did.
    bool _WaitForExit(int32 ms);
    // Signals the child (or its group) and waits at most ms for it to end; true when it no longer runs.
    bool _TerminateIndependantChildProcess(int signal, int32 ms, bool toGroup);
    void _StartTimer(int32 ms);
    void _StopTimer();
    void _ClosePipes();
    static int32 _ReadOnce(int& fd, char* buffer, long size);

    // Children that Shutdown left running, reaped by later starts.
    static void _AddToWatchSet(int32 pid);
    static void _CleanWatchSet();

    std::string fDirectory;
    VEnvironmentVariables fEnvironment;
    std::string fBinaryPath;
    std::vector<VString> fArguments;
    int32 fWait = VProcessLauncher::kNoTimeLimit;
    bool fRedirectStdin = true;
    bool fRedirectStdout = true;
    bool fOutputToNull = false;
    bool fQuoteArguments = true;
    bool fKillTree = false;

    int fStdin = -1;  // our write end of the child's input
    int fStdout = -1; // our read ends of its output and errors
    int fStderr = -1;
    int fPidFd = -1;

    // Guards the child's state against the timer thread.
    mutable std::mutex fLock;
    std::condition_variable fTimerWake;
    std::thread fTimer;
    bool fTimerCancelled = false;
    bool fTimedOut = false;
    bool fRunning = false;
    int32 fPid = 0;
    int32 fExitStatus = 0;
};

} // namespace vela
