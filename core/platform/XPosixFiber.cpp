#include "core/platform/XPosixFiber.h"

#include "core/VError.h"

#include <cerrno>
#include <mutex>
#include <utility>
#include <vector>

namespace vela {

namespace {

thread_local XPosixFiber* tCurrentFiber = nullptr;

struct ReapEntry {
    pthread_t thread;
    XPosixStack stack;
};

std::mutex& ReaperLock() {
    static std::mutex sLock;
    return sLock;
}

std::vector<ReapEntry>& ReaperList() {
    static std::vector<ReapEntry>* const sList = new std::vector<ReapEntry>;
    return *sList;
}

} // namespace

void XPosixThreadReaper::Add(pthread_t thread, XPosixStack&& stack) {
    std::lock_guard<std::mutex> guard(ReaperLock());
    ReaperList().push_back(ReapEntry{thread, std::move(stack)});
}

void XPosixThreadReaper::Reap() {
    std::vector<ReapEntry> ended;
    {
        std::lock_guard<std::mutex> guard(ReaperLock());
        auto& list = ReaperList();
        for (size_t i = 0; i < list.size();) {
            if (pthread_tryjoin_np(list[i].thread, nullptr) == 0) {
                ended.push_back(std::move(list[i]));
                list.erase(list.begin() + std::ptrdiff_t(i));
            } else {
                ++i;
            }
        }
    }
    // The stacks are unmapped here, outside the lock.
}

XPosixFiber* XPosixFiber::Create(size_t stackSize, Proc proc, void* data) {
    XPosixThreadReaper::Reap();
    auto* fiber = new XPosixFiber(proc, data);
    int error = fiber->fStack.Allocate(XPosixStack::ThreadStackSize(stackSize));
    pthread_attr_t attributes;
    if (error == 0) error = pthread_attr_init(&attributes);
    if (error == 0) {
        error = pthread_attr_setstack(&attributes, fiber->fStack.GetStack(), fiber->fStack.GetStackSize());
        if (error == 0) error = pthread_create(&fiber->fThread, &attributes, &_ThreadProc, fiber);
        pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        delete fiber;
        _ThrowError(MakeVError(kComponentPosix, error));
        return nullptr;
    }
    fiber->fHasThread = true;
    return fiber;
}

XPosixFiber* XPosixFiber::FromCurrentThread(void* data) {
    auto* fiber = new XPosixFiber(nullptr, data);
    fiber->fThread = pthread_self();
    tCurrentFiber = fiber;
    return fiber;
}

XPosixFiber* XPosixFiber::GetCurrent() noexcept {
    return tCurrentFiber;
}

void* XPosixFiber::_ThreadProc(void* arg) {
    auto* fiber = static_cast<XPosixFiber*>(arg);
    tCurrentFiber = fiber;
    fiber->fSemaphore.Wait();
    if (fiber->fAbort.load(std::memory_order_acquire)) return nullptr;
    fiber->fProc(fiber->fData);
    tCurrentFiber = nullptr;
    if (fiber->fDeleteWhenDone.load(std::memory_order_acquire)) {
        // Deleted while it ran: nobody joins this thread, the reaper does once it ended.
        XPosixThreadReaper::Add(fiber->fThread, std::move(fiber->fStack));
        delete fiber;
    }
    return nullptr;
}

void XPosixFiber::SwitchTo(XPosixFiber* target) {
    XPosixFiber* current = tCurrentFiber;
    if (target == nullptr || target == current) return;
    target->fSemaphore.Signal();
    if (current == nullptr) return;
    current->fSemaphore.Wait();
    if (current->fAbort.load(std::memory_order_acquire)) pthread_exit(nullptr);
}

void XPosixFiber::Park() {
    XPosixFiber* current = tCurrentFiber;
    for (;;) {
        if (current == nullptr || current->fAbort.load(std::memory_order_acquire)) pthread_exit(nullptr);
        current->fSemaphore.Wait();
    }
}

void XPosixFiber::_AbortAndJoin() {
    fAbort.store(true, std::memory_order_release);
    fSemaphore.Signal();
    pthread_join(fThread, nullptr);
    fHasThread = false;
}

void XPosixFiber::Abort() {
    if (fHasThread && !pthread_equal(fThread, pthread_self())) _AbortAndJoin();
}

void XPosixFiber::Delete(XPosixFiber* fiber) {
    if (fiber == nullptr) return;
    if (fiber->fProc != nullptr && fiber->fHasThread) {
        if (pthread_equal(fiber->fThread, pthread_self())) {
            // It cannot join itself: it goes when its proc returns.
            fiber->fDeleteWhenDone.store(true, std::memory_order_release);
            return;
        }
        fiber->_AbortAndJoin();
    }
    if (tCurrentFiber == fiber) tCurrentFiber = nullptr;
    delete fiber;
}

XPosixFiber* ConvertThreadToFiber(void* data) {
    return XPosixFiber::FromCurrentThread(data);
}

XPosixFiber* CreateFiberEx(size_t, size_t stackSize, unsigned, void (*proc)(void*), void* data) {
    return XPosixFiber::Create(stackSize, proc, data);
}

XPosixFiber* GetCurrentFiber() noexcept {
    return XPosixFiber::GetCurrent();
}

void* GetFiberData() noexcept {
    XPosixFiber* fiber = XPosixFiber::GetCurrent();
    return fiber != nullptr ? fiber->GetData() : nullptr;
}

void SwitchToFiber(XPosixFiber* fiber) {
    XPosixFiber::SwitchTo(fiber);
}

void DeleteFiber(XPosixFiber* fiber) {
    XPosixFiber::Delete(fiber);
}

} // namespace vela
