#pragma once

#include <csignal>
#include <thread>

namespace vela {

// Quit signals of a tool. The handler does only what is safe in a signal handler: for SIGINT it writes its fixed
// line to fd 1 with write(2), then it writes the signal's number into a pipe. A watcher thread reads the pipe and
// asks the process object (when there is one) to quit through VProcess's own QuitAsynchronously. One instance at
// a time.
class XPosixProcessIPC {
public:
    XPosixProcessIPC() = default;
    // Puts back the actions that Init replaced, then stops the watcher.
    ~XPosixProcessIPC();
    XPosixProcessIPC(const XPosixProcessIPC&) = delete;
    XPosixProcessIPC& operator=(const XPosixProcessIPC&) = delete;

    // Installs the handler for SIGTERM, SIGINT and SIGQUIT (SIGQUIT only once: the next one has the default
    // action), in that order, stopping at the first failure; true when all three are in place.
    bool Init();

    // What the handler writes on SIGINT.
    static constexpr char kInterruptText[] = "\n (ctrl-c has been received - quit)\n\n";

private:
    void _Watch(int readFd);
    void _Restore() noexcept;

    struct sigaction fPrevious[3] = {};
    int fInstalled = 0;
    std::thread fWatcher;
};

} // namespace vela
