#pragma once

#include <atomic>
#include <functional>
#include <latch>
#include <thread>
#include <vector>

namespace vela::test {

// Runs check on threads threads released together (so that their work overlaps as much as it can) and answers
// how many of them answered false. For the concurrency suites that ThreadSanitizer runs.
inline int CountFailuresTogether(int threads, const std::function<bool()>& check) {
    std::latch start(threads);
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            start.arrive_and_wait();
            if (!check()) failures.fetch_add(1);
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    return failures.load();
}

} // namespace vela::test
