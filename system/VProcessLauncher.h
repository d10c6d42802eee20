#pragma once

#include "core/VError.h"
#include "core/VMemoryBuffer.h"
#include "core/VObject.h"
#include "core/VString.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace vela {

class VFilePath;
class XPosixProcessLauncher;

// A child that ran longer than the time allowed to it was killed.
constexpr VError VE_PROCESS_TIMED_OUT = MakeLibraryError(8);

// Orders strings by their code units (no locale, case counts): the order of environment names.
struct VStringLessCompareStrict {
    bool operator()(const VString& a, const VString& b) const noexcept { return a.CompareToStringRaw(b) < 0; }
};

using VEnvironmentVariables = std::map<VString, VString, VStringLessCompareStrict>;
using VProcessOutputBuffer = VMemoryBuffer<1024, 2, 1048576>;

// Starts a child program, feeds its standard input, collects its standard output and standard error and reports
// its exit status. The child leads a process group of its own, starts with an empty signal mask and receives only
// descriptors 0, 1 and 2. Exit statuses: the exit code, -127 when a signal killed the child.
class VProcessLauncher : public VObject {
public:
    // Time values of SetWaitClosingChildProcess.
    static constexpr int32 kNoTimeLimit = 0x7FFFFFFF;

    // Option of ExecuteCommandLine: start the child and return, reading nothing and waiting for nothing (the
    // child is reaped later; its input is fed in the background). Unless the launcher is handed over, the
    // child's output goes to /dev/null.
    static constexpr int32 kDoNotWait = 2;

    VProcessLauncher();
    ~VProcessLauncher() override;
    VProcessLauncher(const VProcessLauncher&) = delete;
    VProcessLauncher& operator=(const VProcessLauncher&) = delete;

    // Working directory of the child (its POSIX form); an empty path keeps ours.
    void SetDefaultDirectory(const VFilePath& directory);
    // An empty name is ignored; an existing name takes the new value.
    void SetEnvironmentVariable(const VString& name, const VString& value);
    // Replaces every variable. With none, the child inherits this process's environment; with some, it receives
    // only those.
    void SetEnvironmentVariables(const VEnvironmentVariables& variables);
    // The program, which becomes argument 0. A name without '/' is looked up at start: first relative to the
    // current directory (a program there wins over PATH: callers that run untrusted folders give full paths),
    // then in each PATH entry.
    void SetBinaryPath(const VString& path);
    // Splits commandLine into the arguments (the first is the program): blanks (U+0020 only) separate them;
    // double quotes or apostrophes group, and the one character after a closing quote is skipped; a backslash
    // takes the next character literally.
    void CreateArgumentsFromFullCommandLine(const VString& commandLine);
    // Appends arg (nothing when empty), first wrapped in double quotes when quote is set: the quotes become part
    // of what the child receives.
    void AddArgument(const VString& arg, bool quote = false);
    // Empties the arguments; the program stays.
    void ClearArguments();
    void SetRedirectStandardInput(bool redirect);
    // Standard output and standard error together.
    void SetRedirectStandardOutput(bool redirect);
    // Stored only: arguments reach the child as they are.
    void SetQuoteArgumentsIfNeeded(bool quote);
    // Time allowed to the child, in ms, from its start: past it, the child's process group is killed and
    // Shutdown raises VE_PROCESS_TIMED_OUT. kNoTimeLimit (the default): none; 0: Shutdown does not wait.
    void SetWaitClosingChildProcess(int32 ms);
    // Lets Shutdown(…, true) kill the child's process group.
    void EnableProcessTreeKill();

    // Starts the child with the stored environment, or with environment; 0, -1 when the pipes cannot be made
    // or no program is set, else the system's error number (an unknown program gives ENOENT). A program name
    // without '/' is searched in the absolute entries of PATH only, never in the working directory.
    int32 Start();
    int32 Start(const VEnvironmentVariables& environment);

    // One write to the child's standard input (closed after it when closeAfter); -1 for null data, no child
    // or a closed input, else what the write answered (0 for size 0).
    int32 WriteToChild(const void* data, uint32 size, bool closeAfter);
    void CloseStandardInput();
    // Waits until standard output (bit 1) or standard error (bit 2) has data or has ended, or the child ended
    // (4, the child is then reaped). Retries interrupted waits.
    int32 WaitForData();
    // One read of the child's output (or errors): the byte count, 0 when nothing is there yet, -1 at the end,
    // after an error, for a null buffer, size 0 or a stream not redirected.
    int32 ReadFromChild(char* buffer, long size);
    int32 ReadErrorFromChild(char* buffer, long size);
    // Hands every piece of output and errors to the callbacks (either may be empty: the bytes are dropped),
    // on the calling thread, until both streams end; then Shutdown(false, false).
    int32 ReadFromChildAndShutdown(std::function<void(const void*, size_t)> onOutput,
                                   std::function<void(const void*, size_t)> onError);

    // Whether the child still runs; reaps it when it ended.
    bool IsRunning();
    // Waits for the child (unless the wait is 0), draining and dropping output nobody read so that it cannot
    // block; raises VE_PROCESS_TIMED_OUT after a time-out. A child still running is asked to end (terminate:
    // SIGTERM, then SIGQUIT, then SIGKILL, 5 s each) or left to end on its own and reaped later. killTree (with
    // EnableProcessTreeKill) kills the child's process group while the child is not reaped yet, so that its id
    // cannot belong to anyone else. 0.
    int32 Shutdown(bool terminate, bool killTree);

    // The child's pid while it runs, else 0; the exit status of the last reaped child.
    int32 GetPid() const;
    int32 GetExitStatus() const;

    // SIGTERM to pid; false for pid < 1 (0 and -1 would signal whole groups, ours among them).
    static bool KillProcess(int32 pid);

    // Runs commandLine to its end. input (optional) is fed to the child while its output and errors are
    // collected into output and errors (either may be null: those bytes are dropped). Result: Start's code when
    // the start fails, else Shutdown's (0); exitStatus receives the child's exit status on 0. With keepLauncher,
    // the launcher is handed over (also after a failed start) and not shut down. extraArguments are appended
    // as they are (empty ones skipped).
    static int32 ExecuteCommandLine(const VString& commandLine, int32 options, VProcessOutputBuffer* input,
                                    VProcessOutputBuffer* output, VProcessOutputBuffer* errors,
                                    const VEnvironmentVariables* environment = nullptr,
                                    const VFilePath* directory = nullptr, int32* exitStatus = nullptr,
                                    VProcessLauncher** keepLauncher = nullptr,
                                    const std::vector<VString>* extraArguments = nullptr, bool quoteArguments = true,
                                    bool killTree = false);

private:
    std::unique_ptr<XPosixProcessLauncher> fLauncher;
};

} // namespace vela
