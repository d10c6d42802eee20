#include "system/VMainRunLoop.h"

#include "core/VMessage.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"

#include <memory>

namespace vela {

namespace {

VTask* MainTask() {
    return VTaskMgr::IsInited() ? VTaskMgr::Get()->GetMainTask() : nullptr;
}

// Each tick is a new delayed message: a message is not posted again while it executes.
bool PostTick(int32 intervalMs, std::shared_ptr<std::function<bool()>> tick) {
    VTask* main = MainTask();
    if (main == nullptr) return false;
    auto message = VRefPtr<VFunctionMessage>::Adopt(new VFunctionMessage([intervalMs, tick] {
        if ((*tick)()) PostTick(intervalMs, tick);
    }));
    return message->PostTo(main, false, intervalMs > 0 ? intervalMs : 1);
}

} // namespace

bool VMainRunLoop::Perform(std::function<void()> work) {
    VTask* main = MainTask();
    return main != nullptr && VFunctionMessage::PostFunctionTo(main, std::move(work));
}

bool VMainRunLoop::AddTimer(int32 intervalMs, std::function<bool()> tick) {
    if (!tick) return false;
    return PostTick(intervalMs, std::make_shared<std::function<bool()>>(std::move(tick)));
}

} // namespace vela
