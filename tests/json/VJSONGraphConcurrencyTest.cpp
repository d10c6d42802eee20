#include "json/VJSONGraph.h"

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace vela {
namespace {

// What the task holding a plain object does with it while another task merges the graph under it.
struct PlainHolderAction {
    const char* name;
    std::function<void(VJSONObject* plain, int32 round)> act;
};

const PlainHolderAction kPlainHolderActions[] = {
    {"copies the shared value it holds",
     [](VJSONObject* plain, int32) {
         VJSONValue copy = plain->GetProperty("shared");
         EXPECT_TRUE(copy.IsObject());
     }},
    {"writes a number into itself",
     [](VJSONObject* plain, int32 round) { EXPECT_TRUE(plain->SetProperty("n", VJSONValue(double(round)))); }},
};

// Task 1 keeps a plain object that holds a shared one; task 2, using the shared object's locker, stores into it
// an object from a larger graph: the small graph of the plain object is merged away while task 1 works on it.
// Task 1 must never read the graph it no longer belongs to (ThreadSanitizer sees the read).
TEST(VJSONGraphConcurrency, APlainHolderOfASharedObjectSurvivesItsGraphBeingMerged) {
    constexpr int32 kRounds = 20;
    constexpr int32 kLargerGraphChildren = 4;
    for (const PlainHolderAction& action : kPlainHolderActions) {
        SCOPED_TRACE(action.name);
        for (int32 round = 0; round < kRounds; ++round) {
            auto shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
            VRefPtr<VStorageLocker> locker = shared->GetStorageLocker();
            auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
            ASSERT_TRUE(plain->SetProperty("shared", VJSONValue(shared.Get())));

            std::atomic<bool> working{false};
            std::atomic<bool> merged{false};
            std::thread holder([&] {
                for (int32 i = 0; !merged.load() || i < 2; ++i) {
                    action.act(plain.Get(), i);
                    working = true;
                }
            });
            std::thread merger([&] {
                while (!working.load())
                    std::this_thread::yield();
                bool used = locker->Use();
                EXPECT_TRUE(used);
                auto root = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, locker.Get()));
                for (int32 i = 0; i < kLargerGraphChildren; ++i) {
                    auto child = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, locker.Get()));
                    EXPECT_TRUE(root->SetProperty(VString(UniChar(u'a' + i)), VJSONValue(child.Get())));
                }
                EXPECT_TRUE(shared->SetProperty("larger", VJSONValue(root.Get())));
                if (used) locker->EndUse();
                merged = true;
            });
            merger.join();
            holder.join();
            EXPECT_EQ(plain->GetGraph(), shared->GetGraph());
            EXPECT_EQ(plain->GetGraph()->CountObjects(), 2 + 1 + kLargerGraphChildren);
        }
    }
}

} // namespace
} // namespace vela
