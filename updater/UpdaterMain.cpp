#include "updater/UpdaterMain.h"

#include "core/VCppMemMgr.h"
#include "core/VError.h"
#include "core/VTask.h"
#include "updater/VUpdateEngine.h"

#include <cstdlib>

using namespace vela;

namespace {

// Raised by Run when the start-up it found had failed.
constexpr VError kInitFailed = MakeLibraryError(4);

} // namespace

void UpdaterInitializer() {
    (void)VObject::GetMainMemMgr();
    std::atexit(UpdaterFinalizer);
}

void UpdaterFinalizer() {
    VProcess::sInstance.store(nullptr);
}

int UpdaterMain() {
    if (VObject::GetMainMemMgr() == nullptr) return 1;
    VUpdateEngine engine;
    if (!engine.Init(eProcessInit_Logger | eProcessInit_FileSystemNotifier)) return engine.GetExitStatus();
#ifdef VELA_TEST_SEAMS
    // Test builds: a shorter wait for the caller, so that a caller that stays can be tested.
    if (const char* wait = std::getenv("VELA_UPDATER_MAX_WAIT_MS")) engine.fMaxWaitMs = uint32(std::atol(wait));
#endif
    return RunUpdate(engine);
}

int RunUpdate(VUpdateEngine& engine) {
    engine.SetExitStatus(0);
    engine.Run();
    const VError last = VTask::GetLastError();
    if (last == kInitFailed) return 1;
    // A quit signal between the start-up and the run leaves no error, but no update either.
    if (last != VE_OK || !engine.HasRun()) return 2;
    return 0;
}
