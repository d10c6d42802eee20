#include "app/VProcessIPC.h"
#include "app/platform/XPosixProcess.h"
#include "files/platform/XPosixFaults.h"
#include "system/platform/XPosixSystem.h"
#include "updater/UpdaterMain.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace vela;

namespace {

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
    ArmFaultFromEnvironment();
    ArmStartupRefusalFromEnvironment();
    return UpdaterMain();
}
