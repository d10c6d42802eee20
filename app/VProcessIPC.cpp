#include "app/VProcessIPC.h"

#include "app/VCommandLineParser.h"
#include "app/VLogger.h"
#include "app/platform/XPosixProcessIPC.h"
#include "core/VTask.h"
#include "system/VFileSystemNotifier.h"
#include "system/VSleepNotifier.h"

#include <cstring>

namespace vela {

int sProcessCommandLineArgc = 0;
char** sProcessCommandLineArgv = nullptr;

namespace {

// The C runtime hands the arguments to the initialisers of a loaded image: record them before any main runs.
void RecordArguments(int argc, char** argv, char**) {
    sProcessCommandLineArgc = argc;
    sProcessCommandLineArgv = argv;
}

[[gnu::section(".init_array"), gnu::used]] void (*const sRecordArguments)(int, char**, char**) = RecordArguments;

} // namespace

VProcessIPC::VProcessIPC() = default;

VProcessIPC::~VProcessIPC() {
    // The notifiers stop their watches while the task manager still runs.
    fFileSystemNotifier.reset();
    fSleepNotifier.reset();
    // The handlers go before the process object does: a late signal then has its former action.
    fPosix.reset();
}

std::vector<VString> VProcessIPC::GetArguments() {
    std::vector<VString> arguments;
    for (int i = 0; i < sProcessCommandLineArgc && sProcessCommandLineArgv != nullptr; ++i) {
        const char* argument = sProcessCommandLineArgv[i];
        if (argument == nullptr || std::strncmp(argument, "-psn_", 5) == 0) continue;
        arguments.emplace_back(argument, std::strlen(argument), VTC_UTF_8);
    }
    return arguments;
}

bool VProcessIPC::Init(uint32 flags) {
    if (fCommandLineReached) return fResult;
    fResult = VProcess::Init(flags);
    if (!fResult) {
        fExitStatus = 1;
        return false;
    }
    fCommandLineReached = true;
    uint32 code = 0;
    {
        // The parser borrows the list.
        std::vector<VString> arguments = GetArguments();
        VCommandLineParser parser(arguments);
        code = DoParseCommandLine(parser);
    }
    fExitStatus = code == 0 || code == 2 ? 0 : 1;
    fResult = code == 0;
    if (fResult) {
        // Handlers only once the command line is accepted: until then a signal has its default action.
        fPosix = std::make_unique<XPosixProcessIPC>();
        fResult = fPosix->Init();
        if (fResult) _CreateNotifiers(flags);
        if (!fResult) fExitStatus = 1;
    }
    return fResult;
}

void VProcessIPC::_CreateNotifiers(uint32 flags) {
    if ((flags & eProcessInit_FileSystemNotifier) != 0) fFileSystemNotifier = std::make_unique<VFileSystemNotifier>();
    fSleepNotifier = std::make_unique<VSleepNotifier>();
    // Sleep and wake-up go to the process log (when it has one) as they come.
    fSleepNotifier->SetLogger(GetLogger());
    // Sleep and wake-up notices are a courtesy: a source that cannot start leaves the tool running.
    fSleepNotifier->Init();
}

uint32 VProcessIPC::DoParseCommandLine(VCommandLineParser&) {
    return 0;
}

void VProcessIPC::DoRun() {
    VTask* task = VTask::GetCurrent();
    while (task != nullptr && IsRunning())
        task->ExecuteMessagesWithTimeout(100, true);
}

} // namespace vela
