#include "json/SpinLockSettings.h"

#include "core/ITaskProcess.h"
#include "core/StStringConverter.h"
#include "core/VRefPtr.h"
#include "core/VTaskMgr.h"
#include "files/VFile.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vela::SpinLock {

namespace {

// The members of the parameter file that have the kinds it asks for.
Settings ReadSettings(const VJSONValue& root) {
    Settings settings;
    VJSONValue mode = root.GetProperty(VString("mode"));
    if (mode.IsString()) {
        VString name;
        mode.GetString(name);
        settings.mode = name;
    }
    VJSONValue maxSpins = root.GetProperty(VString("maxSpins"));
    if (maxSpins.IsNumber()) settings.maxSpins = maxSpins.GetNumber();
    VJSONValue yield = root.GetProperty(VString("yieldAfterCheckEvent"));
    if (yield.GetType() == JSON_true || yield.GetType() == JSON_false) settings.yieldAfterCheckEvent = yield.GetBool();
    return settings;
}

} // namespace

void Apply(const Settings& settings) {
    if (settings.mode) {
        AcquireProc proc = nullptr;
        if (settings.mode->EqualToString(VString("alwaysSleep"))) {
            proc = &AlwaysSleep;
        } else if (settings.mode->EqualToString(VString("loopMaxSpinsAndYields"))) {
            proc = &LoopMaxSpinsAndYields;
        } else if (settings.mode->EqualToString(VString("maxSpinsThenLoopYields"))) {
            proc = &MaxSpinsThenLoopYields;
        }
        if (proc != nullptr) {
            sLock.store(proc, std::memory_order_relaxed);
            sUnlock.store(&ClearHeldBit, std::memory_order_relaxed);
        }
    }
    if (settings.maxSpins && !std::isnan(*settings.maxSpins)) {
        // A plain cast of an out-of-range double is undefined: saturate first.
        double spins = std::trunc(*settings.maxSpins);
        spins = std::clamp(spins, double(std::numeric_limits<int32>::min()), double(std::numeric_limits<int32>::max()));
        sMaxSpins.store(int32(spins), std::memory_order_relaxed);
    }
    if (settings.yieldAfterCheckEvent) sYieldAfterCheckEvent.store(*settings.yieldAfterCheckEvent);
}

void Configure() {
    // The file is the process's to find: a task manager started without a process reads none.
    const ITaskProcess* process = VTaskMgr::Get()->GetProcess();
    if (process == nullptr) return;
    VString path = process->GetExistingFilePath(FourCC("EXEC"), VString("spinlock.prm"));
    if (!path.IsEmpty()) Configure(path);
}

void Configure(const VString& posixPath) {
    // Other tasks could be locking while the pointers change.
    if (VTaskMgr::Get()->GetTaskCount(false) != 1) return;
    const auto file = VRefPtr<VFile>::Adopt(new VFile(VFilePath(posixPath, FPS_POSIX)));
    if (!file->Exists()) return;
    VJSONValue root;
    if (file->GetContentAsJSON(root) != VE_OK || !root.IsObject()) return;
    Apply(ReadSettings(root));
}

} // namespace vela::SpinLock
