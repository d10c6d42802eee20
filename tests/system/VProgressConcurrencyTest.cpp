#include "system/VProgressIndicator.h"
#include "system/VProgressManager.h"

#include "support/RunTogether.h"

#include "support/ProgressTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace vela {
namespace {

class VProgressConcurrency : public test::ProgressManagerTest {};

// One task runs nested sessions while the others read them, through the manager and directly.
TEST_F(VProgressConcurrency, ReadersSeeConsistentLevelsWhileTheOperationRuns) {
    auto indicator = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator());
    const VUUID uuid = indicator->GetUUID();
    std::atomic<bool> done{false};
    std::atomic<int> turn{0};
    int failures = test::CountFailuresTogether(4, [&] {
        if (turn.fetch_add(1) == 0) {
            for (int round = 0; round < 200; ++round) {
                indicator->BeginSession(4, VString("outer"));
                for (int step = 0; step < 4; ++step) {
                    indicator->BeginSession(10, VString("inner"));
                    for (int n = 0; n < 10; ++n)
                        indicator->Progress(n);
                    indicator->EndSession();
                    indicator->Increment();
                }
                indicator->EndSession();
            }
            done.store(true);
            return true;
        }
        bool ok = true;
        while (!done.load()) {
            std::vector<VRefPtr<VRefCountedSessionInfo>> all;
            VProgressManager::Get()->GetAllProgressInfo(all);
            for (const auto& snapshot : all)
                ok = ok && snapshot->GetCount() >= 1 && snapshot->GetCount() <= 2;
            auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(uuid));
            if (!found) return false;
            float done = found->ComputePercentDone();
            ok = ok && done >= 0 && done <= 1;
            VProgressSessionInfo info;
            found->GetProgressInfo(info);
            ok = ok && info.fLevels.size() == size_t(info.fSessionCount);
            found->UpdateSessionsInfos();
        }
        return ok;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(indicator->GetSessionCount(), 0);
}

// Indicators of one UUID come and go while other tasks look that UUID up: a lookup never gets an indicator that
// is being deleted.
TEST_F(VProgressConcurrency, LookupsRaceTheLastRelease) {
    const VUUID uuid(1);
    std::atomic<bool> done{false};
    std::atomic<int> turn{0};
    std::atomic<int> hits{0};
    int failures = test::CountFailuresTogether(4, [&] {
        if (turn.fetch_add(1) == 0) {
            for (int n = 0; n < 2000; ++n) {
                auto indicator = VRefPtr<VProgressIndicator>::Adopt(new VProgressIndicator(uuid, n));
                indicator->BeginSession(10, VString("short"));
                indicator->Progress(5);
                indicator->EndSession();
            }
            done.store(true);
            return true;
        }
        while (!done.load()) {
            auto found = VRefPtr<VProgressIndicator>::Adopt(VProgressManager::RetainProgress(uuid));
            if (!found) continue;
            hits.fetch_add(1);
            if (found->GetUUID() != uuid) return false;
            found->ComputePercentDone();
        }
        return true;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(VProgressManager::RetainProgress(uuid), nullptr);
}

} // namespace
} // namespace vela
