// A command-line tool built on the tool process, for the tests that need a process of their own (signals, exit
// statuses). It prints "arg:<text>" for each free argument and "ready" once started, runs until asked to quit,
// then prints "quit" and exits with --status (with --linger, once its standard input ends). --version prints "1.0" and
// stops without error.
#include "app/VCommandLineParser.h"
#include "app/VProcessIPC.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

class TestTool : public vela::VProcessIPC {
public:
    int fStatus = 0;
    bool fLinger = false;

protected:
    vela::uint32 DoParseCommandLine(vela::VCommandLineParser& parser) override {
        bool version = false;
        std::vector<vela::VString> free;
        parser.AddOption(vela::VString("status"), vela::VString("exit status after the run"), fStatus);
        parser.AddFlag(vela::VString("linger"), vela::VString("wait for the end of the input after the run"), fLinger);
        parser.AddFlag(vela::VString("version"), vela::VString("print the version"), version);
        parser.AddRemainingArguments(free);
        int code = parser.Parse();
        if (code != 0) return vela::uint32(code);
        if (version) {
            vela::VCommandLineParser::Print(vela::VString("1.0"));
            return 2;
        }
        for (const vela::VString& argument : free) {
            vela::VString line("arg:");
            line += argument;
            vela::VCommandLineParser::Print(line);
        }
        return 0;
    }
};

} // namespace

int main() {
    TestTool tool;
    if (!tool.Init(vela::eProcessInit_Logger)) return tool.GetExitStatus();
    vela::VCommandLineParser::Print(vela::VString("ready"));
    tool.Run();
    vela::VCommandLineParser::Print(vela::VString("quit"));
    // Waits in poll, where signals are taken at once also under the thread sanitizer (it holds them back during
    // a plain read).
    char byte;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (tool.fLinger && (poll(&input, 1, -1) >= 0 || errno == EINTR)) {
        if ((input.revents & (POLLIN | POLLHUP)) != 0 && read(STDIN_FILENO, &byte, 1) <= 0) break;
    }
    return tool.fStatus;
}
