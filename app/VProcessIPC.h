#pragma once

#include "app/VProcess.h"

#include <memory>
#include <vector>

namespace vela {

class VCommandLineParser;
class VFileSystemNotifier;
class VSleepNotifier;
class XPosixProcessIPC;

// The raw argument vector of the process, recorded when the library is loaded (a program may set them itself
// before Init).
extern int sProcessCommandLineArgc;
extern char** sProcessCommandLineArgv;

// The process of a command-line tool: after the library start-up, turns the arguments into a list for
// DoParseCommandLine and, when the command line is accepted, quits cleanly on SIGTERM, SIGINT and SIGQUIT. Keeps
// the exit status the program returns when start-up does not reach the run.
class VProcessIPC : public VProcess {
public:
    VProcessIPC();
    // Deletes the notifiers, restores the signal actions that were in place before Init, then shuts the library
    // down.
    ~VProcessIPC() override;

    // The library start-up (VProcess::Init), then the command line, then the signal handlers and the notifiers
    // (the file-system notifier only with eProcessInit_FileSystemNotifier); the answer is cached once the
    // command line was reached. The exit status becomes 1 on a start-up failure, a rejected
    // command line or a failed handler installation, 0 when DoParseCommandLine answered 0 or 2.
    bool Init(uint32 flags) override;

    int32 GetExitStatus() const noexcept { return fExitStatus; }
    // The process's notifiers, borrowed; null until Init made them.
    VFileSystemNotifier* GetFileSystemNotifier() const noexcept { return fFileSystemNotifier.get(); }
    VSleepNotifier* GetSleepNotifier() const noexcept { return fSleepNotifier.get(); }
    void SetExitStatus(int32 status) noexcept { fExitStatus = status; }

    // The arguments handed to the parser: every raw argument in order, the program name first, less those
    // beginning with "-psn_".
    static std::vector<VString> GetArguments();

protected:
    // Declares the options and parses: 0 go on, 2 stop without error (the version was printed, say), anything
    // else stop with an error. The base accepts everything.
    virtual uint32 DoParseCommandLine(VCommandLineParser& parser);
    // Executes the main task's messages, 100 ms at a time, while the process runs.
    void DoRun() override;

private:
    void _CreateNotifiers(uint32 flags);

    bool fCommandLineReached = false;
    bool fResult = false;
    std::unique_ptr<XPosixProcessIPC> fPosix;
    std::unique_ptr<VFileSystemNotifier> fFileSystemNotifier;
    std::unique_ptr<VSleepNotifier> fSleepNotifier;
    int32 fExitStatus = 1;
};

} // namespace vela
