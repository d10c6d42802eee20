#include "core/platform/XPosixTaskMgr.h"

#include "core/StStringConverter.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "core/VTaskMgr.h"
#include "core/platform/XPosixFiber.h"
#include "core/platform/XPosixTask.h"

#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace vela {

namespace {

thread_local VTask* tCurrentTask = nullptr;

} // namespace

bool XPosixTaskMgr::Init(bool fibered) {
    fFibersEnabled = fibered;
    if (fibered && XPosixFiber::GetCurrent() == nullptr) ConvertThreadToFiber(nullptr);
    return true;
}

void XPosixTaskMgr::DeInit() {
    fFibersEnabled = false;
    XPosixThreadReaper::Reap();
}

std::unique_ptr<XPosixTask> XPosixTaskMgr::Create(VTask* task, ETaskStyle style) {
    XPosixThreadReaper::Reap();
    if (style == eTaskStylePreemptive) return XPosixTask_preemptive::Create(task, fFibersEnabled);
    if (style == eTaskStyleFiber && fFibersEnabled) return std::make_unique<XPosixTask_fiber>(task);
    return nullptr;
}

std::unique_ptr<XPosixTask> XPosixTaskMgr::CreateMain(VTask* task) {
    return std::make_unique<XPosixTask_preemptive>(task, fFibersEnabled);
}

void XPosixTaskMgr::YieldToFiber(VTask* task) {
    VTask* current = GetCurrentTask();
    if (task == nullptr || current == nullptr || task == current) return;
    XPosixTask* from = current->fPlatformTask.get();
    XPosixTask* to = task->fPlatformTask.get();
    if (from == nullptr || to == nullptr || to->GetFiber() == nullptr) return;
    if (from->GetReturnTask() != to->GetReturnTask()) return;
    SwitchToFiber(to->GetFiber());
}

VTask* XPosixTaskMgr::GetCurrentTask() noexcept {
    return tCurrentTask;
}

void XPosixTaskMgr::SetCurrentTask(VTask* task) noexcept {
    tCurrentTask = task;
    VTaskMgr::sCurrentOwnerID = task != nullptr ? task->GetID() : GetCurrentThreadKernelID();
}

int32 XPosixTaskMgr::GetCurrentThreadKernelID() noexcept {
    thread_local int32 tKernelID = int32(gettid());
    return tKernelID;
}

size_t XPosixTaskMgr::ComputeMainTaskStackSize() noexcept {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    return size;
}

size_t XPosixTaskMgr::GetCurrentFreeStackSize() const noexcept {
    VTask* task = GetCurrentTask();
    XPosixTask* platform = task != nullptr ? task->fPlatformTask.get() : nullptr;
    if (platform == nullptr || platform->GetStackTop() == nullptr) return GetCurrentFreeStackSizeStatic();
    char here = 0;
    // Stacks grow down from the recorded top.
    size_t used = size_t(platform->GetStackTop() - &here);
    size_t size = task->GetStackSize();
    return used < size ? size - used : 0;
}

size_t XPosixTaskMgr::GetCurrentFreeStackSizeStatic() noexcept {
    rlimit limit{};
    if (getrlimit(RLIMIT_STACK, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1048576;
    return size_t(limit.rlim_cur);
}

size_t XPosixTaskMgr::CutThreadName(const char* name, size_t length) noexcept {
    constexpr size_t kMaxBytes = 15;
    if (length <= kMaxBytes) return length;
    size_t cut = kMaxBytes;
    // Back off over continuation bytes so that no UTF-8 sequence is split.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

void XPosixTaskMgr::SetCurrentThreadName(const VString& name, int32 taskID) {
    StStringConverter<char> bytes(name, VTC_UTF_8);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, " (id = %d)", taskID);
    std::string full(bytes.GetCPointer(), bytes.GetSize());
    full += suffix;
    full.resize(CutThreadName(full.data(), full.size()));
    pthread_setname_np(pthread_self(), full.c_str());
}

} // namespace vela
