#include "app/VProcessIPC.h"
#include "app/platform/XPosixProcess.h"
#include "files/platform/XPosixFaults.h"
#include "system/platform/XPosixSystem.h"
#include "updater/UpdaterMain.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

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

// Test builds: VELA_UPDATER_REFUSE_STARTUP="system" finds the system too old, "case" refuses the install
// folder's case-sensitive volume, so that the end-to-end tests can drive a start-up that fails.
void ArmStartupRefusalFromEnvironment() {
#ifdef VELA_TEST_SEAMS
    const char* refusal = std::getenv("VELA_UPDATER_REFUSE_STARTUP");
    if (refusal == nullptr) return;
    if (std::strcmp(refusal, "system") == 0) XPosixSystem::SetVersionCheck([](int32, int32) { return false; });
    if (std::strcmp(refusal, "case") == 0) XPosixProcess::SetRefusesCaseSensitiveInstall(true);
#endif
}

void Initializer(int, char**, char**) {
    UpdaterInitializer();
}

// Load time, before main: the memory manager and the exit routine.
[[gnu::section(".init_array"), gnu::used]] void (*const sInitializer)(int, char**, char**) = Initializer;

} // namespace

int main(int argc, char** argv) {
    sProcessCommandLineArgc = argc;
    sProcessCommandLineArgv = argv;
    PutOwnFolderFirstOnPath(ExecutableFolder());
    ArmFaultFromEnvironment();
    ArmStartupRefusalFromEnvironment();
    return UpdaterMain();
}
