#include "app/VCommandLineParser.h"
#include "app/VLogger.h"
#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "files/platform/XPosixFaults.h"
#include "system/VSystem.h"
#include "updater/VUpdateEngine.h"
#include "updater/platform/XPosixBundle.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vela;

namespace {

// The folder of this executable, with its final '/'; empty when unknown.
std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (length <= 0) return {};
    std::string path(buffer, size_t(length));
    return path.substr(0, path.rfind('/') + 1);
}

// The relaunch runs "open": the stand-in installed beside the updater comes before any other on PATH.
void PutOwnFolderFirstOnPath(const std::string& folder) {
    if (folder.empty()) return;
    const char* path = std::getenv("PATH");
    std::string value(folder, 0, folder.size() - 1);
    if (path != nullptr && *path != '\0') {
        value.push_back(':');
        value.append(path);
    }
    ::setenv("PATH", value.c_str(), 1);
}

// "CFBundleShortVersionString" of the bundle the executable lies in (Contents/MacOS/<exe>).
VString BundleVersion(const std::string& folder) {
    std::string version;
    if (!folder.empty()) XPosixBundle::ReadInfoString(folder + "../Info.plist", "CFBundleShortVersionString", version);
    return VString(version.data(), version.size(), VTC_UTF_8);
}

// What the updater needs of a process around it: the error-raising process mark, the main task, a started process
// logger. Undone in reverse order.
class StUpdaterFrame {
public:
    StUpdaterFrame() {
        SetProcessObjectExists(true);
        fTasks = VTaskMgr::Get()->Init();
        VSystem::Init();
        fLogger = VRefPtr<VLogger>::Adopt(new VLogger);
        fLogger->Start();
        fPrevious = SetProcessLogger(fLogger.Get());
        SetLogSourceIdentifier("updater");
    }
    ~StUpdaterFrame() {
        fLogger->Flush();
        SetProcessLogger(fPrevious);
        fLogger->Stop();
        if (fTasks) VTaskMgr::Get()->DeInit();
        SetProcessObjectExists(false);
    }
    StUpdaterFrame(const StUpdaterFrame&) = delete;
    StUpdaterFrame& operator=(const StUpdaterFrame&) = delete;

    bool IsReady() const noexcept { return fTasks; }

private:
    bool fTasks = false;
    VRefPtr<VLogger> fLogger;
    ILogger* fPrevious = nullptr;
};

// Test builds: VELA_UPDATER_FAULT="<call>,<errno>,<nth>,<count>" makes file-layer calls fail, so that the
// end-to-end tests can drive a failed copy from outside.
void ArmFaultFromEnvironment() {
#ifdef VELA_TEST_SEAMS
    const char* fault = std::getenv("VELA_UPDATER_FAULT");
    if (fault == nullptr) return;
    char op[64] = {};
    int error = 0, nth = 1, count = 1;
    if (std::sscanf(fault, "%63[^,],%d,%d,%d", op, &error, &nth, &count) >= 2) XPosixFaults::Arm(op, error, nth, count);
#endif
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = ExecutableFolder();
    PutOwnFolderFirstOnPath(folder);
    ArmFaultFromEnvironment();

    StUpdaterFrame frame;
    if (!frame.IsReady()) return 1;
    std::vector<VString> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.emplace_back(argv[i], std::char_traits<char>::length(argv[i]), VTC_UTF_8);

    int status = 0;
    {
        VUpdateEngine engine;
#ifdef VELA_TEST_SEAMS
        // Test builds: a shorter wait for the caller, so that a caller that stays can be tested.
        if (const char* wait = std::getenv("VELA_UPDATER_MAX_WAIT_MS")) engine.fMaxWaitMs = uint32(std::atol(wait));
#endif
        {
            VCommandLineParser parser(arguments);
            const uint32 code = engine.DoParseCommandLine(parser, BundleVersion(folder));
            if (code == 2) return 0;
            if (code != 0) return 1;
        }
        engine.DoRun();
        engine.DoQuit();
        status = VTask::GetLastError() == VE_OK ? 0 : 2;
    }
    return status;
}
