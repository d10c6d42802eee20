// Locks and messages between tasks against the standard library's mutexes and a condition-variable queue.

#include "BenchMainTask.h"

#include "core/IMessageable.h"
#include "core/VCriticalSection.h"
#include "core/VMessage.h"
#include "core/VTask.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using vela::VCriticalSection;
using vela::VRefPtr;
using vela::VTask;
using vela::bench::StMainTask;

constexpr int kContenders = 4;
constexpr int kIncrementsPerContender = 20000;

VRefPtr<VTask> StartTask(std::function<void()> body) {
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, vela::eTaskStylePreemptive, std::move(body)));
    task->Run();
    return task;
}

// ---- lock_uncontended

void BM_LockUncontendedOurs(benchmark::State& state) {
    StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    VCriticalSection section;
    for (auto _ : state) {
        section.Lock();
        benchmark::ClobberMemory();
        section.Unlock();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LockUncontendedPeer(benchmark::State& state) {
    std::recursive_mutex mutex;
    for (auto _ : state) {
        mutex.lock();
        benchmark::ClobberMemory();
        mutex.unlock();
    }
    state.SetItemsProcessed(state.iterations());
}

// ---- lock_contended_4: one iteration is a round in which four contenders each add kIncrementsPerContender to
// one counter under the lock. The contenders live across rounds, so that thread creation is not measured.

template <class Lock> class Contention {
public:
    explicit Contention(Lock& lock) : fLock(lock) {}

    void Work() {
        int seen = 0;
        for (;;) {
            int round;
            while ((round = fRound.load(std::memory_order_acquire)) == seen) {
                if (fStop.load(std::memory_order_acquire)) return;
                std::this_thread::yield();
            }
            seen = round;
            for (int i = 0; i < kIncrementsPerContender; ++i) {
                fLock.lock();
                ++fCounter;
                fLock.unlock();
            }
            fDone.fetch_add(1, std::memory_order_acq_rel);
        }
    }
    void RunRound() {
        fDone.store(0, std::memory_order_release);
        fRound.fetch_add(1, std::memory_order_acq_rel);
        while (fDone.load(std::memory_order_acquire) < kContenders)
            std::this_thread::yield();
    }
    void Stop() { fStop.store(true, std::memory_order_release); }
    int64_t Counter() const { return fCounter; }

private:
    Lock& fLock;
    int64_t fCounter = 0;
    std::atomic<int> fRound{0};
    std::atomic<int> fDone{0};
    std::atomic<bool> fStop{false};
};

void BM_LockContendedOurs(benchmark::State& state) {
    StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    VCriticalSection section;
    Contention<VCriticalSection> contention(section);
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < kContenders; ++t)
        tasks.push_back(StartTask([&] { contention.Work(); }));
    for (auto _ : state)
        contention.RunRound();
    contention.Stop();
    for (VRefPtr<VTask>& task : tasks)
        task->WaitForDeath(60000);
    benchmark::DoNotOptimize(contention.Counter());
    state.SetItemsProcessed(state.iterations() * kContenders * kIncrementsPerContender);
}

void BM_LockContendedPeer(benchmark::State& state) {
    std::mutex mutex;
    Contention<std::mutex> contention(mutex);
    std::vector<std::thread> threads;
    for (int t = 0; t < kContenders; ++t)
        threads.emplace_back([&] { contention.Work(); });
    for (auto _ : state)
        contention.RunRound();
    contention.Stop();
    for (std::thread& thread : threads)
        thread.join();
    benchmark::DoNotOptimize(contention.Counter());
    state.SetItemsProcessed(state.iterations() * kContenders * kIncrementsPerContender);
}

// ---- message_roundtrip: the sender waits until the other side ran the work and answered.

class Counter : public vela::IMessageable {
public:
    int64_t fCount = 0;
    void DoMessage(vela::VMessage&) override { ++fCount; }
};

void BM_MessageRoundtripOurs(benchmark::State& state) {
    StMainTask main;
    if (!main.IsInited()) {
        state.SkipWithError("no task manager");
        return;
    }
    VRefPtr<VTask> worker = StartTask([] {
        VTask* self = VTask::GetCurrent();
        while (!self->IsDying())
            self->WaitAndExecuteMessages();
    });
    Counter counter;
    counter.SetMessagingTask(worker->GetID());
    auto message = VRefPtr<vela::VMessage>::Adopt(new vela::VMessage);
    for (auto _ : state) {
        if (!message->SendTo(&counter)) {
            state.SkipWithError("send failed");
            break;
        }
    }
    worker->Kill();
    worker->WaitForDeath(10000);
    benchmark::DoNotOptimize(counter.fCount);
    state.SetItemsProcessed(state.iterations());
}

// A queue of requests and one of answers between two threads, each a mutex and a condition variable.
class PeerChannel {
public:
    void Push(std::function<void()> work) {
        {
            std::lock_guard<std::mutex> guard(fMutex);
            fQueue.push_back(std::move(work));
        }
        fCondition.notify_one();
    }
    std::function<void()> Pop() {
        std::unique_lock<std::mutex> lock(fMutex);
        fCondition.wait(lock, [this] { return !fQueue.empty(); });
        std::function<void()> work = std::move(fQueue.front());
        fQueue.pop_front();
        return work;
    }

private:
    std::mutex fMutex;
    std::condition_variable fCondition;
    std::deque<std::function<void()>> fQueue;
};

void BM_MessageRoundtripPeer(benchmark::State& state) {
    PeerChannel requests;
    PeerChannel answers;
    bool stop = false;
    std::thread worker([&] {
        while (!stop) {
            requests.Pop()();
            answers.Push([] {});
        }
    });
    int64_t count = 0;
    for (auto _ : state) {
        requests.Push([&] { ++count; });
        answers.Pop();
    }
    requests.Push([&] { stop = true; });
    answers.Pop();
    worker.join();
    benchmark::DoNotOptimize(count);
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_LockUncontendedOurs)->Name("lock_uncontended/ours");
BENCHMARK(BM_LockUncontendedPeer)->Name("lock_uncontended/peer");
BENCHMARK(BM_LockContendedOurs)->Name("lock_contended_4/ours")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LockContendedPeer)->Name("lock_contended_4/peer")->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MessageRoundtripOurs)->Name("message_roundtrip/ours")->UseRealTime();
BENCHMARK(BM_MessageRoundtripPeer)->Name("message_roundtrip/peer")->UseRealTime();
