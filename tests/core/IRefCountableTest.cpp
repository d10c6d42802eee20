#include "core/IRefCountable.h"
#include "core/SharedBuffer.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace vela {
namespace {

// A counted object that reports its destruction into a flag owned by the test.
class VCounted : public VObject, public IRefCountable {
public:
    explicit VCounted(std::atomic<int>* destroyed = nullptr) : fDestroyed(destroyed) {}
    ~VCounted() override {
        if (fDestroyed != nullptr) ++*fDestroyed;
    }

private:
    std::atomic<int>* fDestroyed;
};

// Keeps itself when the count reaches 0, as pooled objects do.
class VKept : public IRefCountable {
public:
    int fZeroCalls = 0;

protected:
    void DoOnRefCountZero() override { ++fZeroCalls; }
};

TEST(IRefCountable, RetainAndReleaseAnswerTheNewCount) {
    std::atomic<int> destroyed{0};
    auto* object = new VCounted(&destroyed);
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(object->Retain(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(object->Release("last"), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(IRefCountable, OverriddenDoOnRefCountZeroKeepsTheObject) {
    VKept kept; // on the stack: a delete would be reported by AddressSanitizer
    EXPECT_EQ(kept.Retain(), 2);
    EXPECT_EQ(kept.Release(), 1);
    EXPECT_EQ(kept.fZeroCalls, 0);
    EXPECT_EQ(kept.Release(), 0);
    EXPECT_EQ(kept.fZeroCalls, 1);
    // Still usable: a recycled object is counted again from a new reference.
    EXPECT_EQ(kept.Retain(), 1);
    EXPECT_EQ(kept.Release(), 0);
    EXPECT_EQ(kept.fZeroCalls, 2);
}

TEST(IRefCountable, TryRetainNeverRevivesAnObjectWhoseCountReachedZero) {
    VKept kept;
    EXPECT_TRUE(kept.TryRetain());
    EXPECT_EQ(kept.GetRefCount(), 2);
    EXPECT_EQ(kept.Release(), 1);
    EXPECT_EQ(kept.Release(), 0);
    EXPECT_FALSE(kept.TryRetain());
    EXPECT_EQ(kept.GetRefCount(), 0);
    EXPECT_EQ(kept.fZeroCalls, 1);
}

TEST(IRefCountable, ACopyStartsWithItsOwnReference) {
    VKept original;
    original.Retain();
    VKept copy(original);
    EXPECT_EQ(copy.GetRefCount(), 1);
    copy = original;
    EXPECT_EQ(copy.GetRefCount(), 1);
    EXPECT_EQ(original.GetRefCount(), 2);
}

TEST(IRefCountable, RetainAndReleaseHelpers) {
    std::atomic<int> destroyed{0};
    auto* object = new VCounted(&destroyed);
    EXPECT_EQ(RetainRefCountable(object), object);
    EXPECT_EQ(object->GetRefCount(), 2);
    EXPECT_EQ(RetainRefCountable<VCounted>(nullptr), nullptr);

    VCounted* second = object;
    ReleaseRefCountable(&second);
    EXPECT_EQ(second, nullptr);
    ReleaseRefCountable(&second); // null stays null
    ReleaseRefCountable(&object);
    EXPECT_EQ(destroyed, 1);
}

TEST(IRefCountable, TwoThreadsRetainingAndReleasingLeaveTheCountUnchanged) {
    std::atomic<int> destroyed{0};
    auto* object = new VCounted(&destroyed);
    auto work = [object] {
        for (int i = 0; i < 1000000; ++i) {
            object->Retain();
            object->Release();
        }
    };
    std::thread first(work);
    std::thread second(work);
    first.join();
    second.join();
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(destroyed, 0);
    object->Release();
    EXPECT_EQ(destroyed, 1);
}

TEST(IRefCountable, OnlyOneThreadSeesTheLastRelease) {
    constexpr int kThreads = 8;
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> destroyed{0};
        auto* object = new VCounted(&destroyed);
        for (int i = 1; i < kThreads; ++i)
            object->Retain();
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&] {
                while (!go.load())
                    std::this_thread::yield();
                object->Release();
            });
        }
        go = true;
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(destroyed, 1) << "round " << round;
    }
}

// ---- VRefPtr

class VRefPtrTest : public ::testing::Test {
protected:
    std::atomic<int> fDestroyed{0};
    VCounted* MakeObject() { return new VCounted(&fDestroyed); }
};

TEST_F(VRefPtrTest, ConstructionRetainsAndDestructionReleases) {
    VCounted* object = MakeObject();
    {
        VRefPtr<VCounted> ptr(object);
        EXPECT_EQ(object->GetRefCount(), 2);
        EXPECT_EQ(ptr.Get(), object);
        EXPECT_TRUE(ptr);
    }
    EXPECT_EQ(object->GetRefCount(), 1);
    object->Release();
    EXPECT_EQ(fDestroyed, 1);
}

TEST_F(VRefPtrTest, NullIsAllowed) {
    VRefPtr<VCounted> empty(nullptr);
    VRefPtr<VCounted> byDefault;
    EXPECT_FALSE(empty);
    EXPECT_EQ(byDefault.Get(), nullptr);
    EXPECT_TRUE(empty == byDefault);
    VRefPtr<VCounted> copy(empty);
    EXPECT_FALSE(copy);
}

TEST_F(VRefPtrTest, KeepingAFreshObjectWithoutASecondReference) {
    VCounted* object = MakeObject();
    VRefPtr<VCounted> ptr(object);
    object->Release(); // the creator's reference
    EXPECT_EQ(ptr->GetRefCount(), 1);
    ptr.Clear();
    EXPECT_EQ(fDestroyed, 1);

    VRefPtr<VCounted> adopted = VRefPtr<VCounted>::Adopt(MakeObject());
    EXPECT_EQ(adopted->GetRefCount(), 1);
    adopted = nullptr;
    EXPECT_EQ(fDestroyed, 2);
}

TEST_F(VRefPtrTest, CopyRetainsAndMoveTransfers) {
    auto ptr = VRefPtr<VCounted>::Adopt(MakeObject());
    VCounted* object = ptr.Get();

    VRefPtr<VCounted> copy(ptr);
    EXPECT_EQ(object->GetRefCount(), 2);
    EXPECT_TRUE(copy == ptr);

    VRefPtr<VCounted> moved(std::move(copy));
    EXPECT_EQ(object->GetRefCount(), 2);
    EXPECT_EQ(moved.Get(), object);
    EXPECT_FALSE(copy); // a moved-from pointer is null

    VRefPtr<VCounted> assigned;
    assigned = std::move(moved);
    EXPECT_EQ(object->GetRefCount(), 2);
    EXPECT_FALSE(moved);

    assigned = ptr;
    EXPECT_EQ(object->GetRefCount(), 2);
    assigned.Clear();
    ptr.Clear();
    EXPECT_EQ(fDestroyed, 1);
}

TEST_F(VRefPtrTest, AssigningAnotherObjectReleasesTheOldOne) {
    auto first = VRefPtr<VCounted>::Adopt(MakeObject());
    auto second = VRefPtr<VCounted>::Adopt(MakeObject());
    VCounted* secondObject = second.Get();

    first = second;
    EXPECT_EQ(fDestroyed, 1);
    EXPECT_EQ(secondObject->GetRefCount(), 2);

    auto third = VRefPtr<VCounted>::Adopt(MakeObject());
    first = std::move(third);
    EXPECT_EQ(secondObject->GetRefCount(), 1);
    EXPECT_EQ(fDestroyed, 1);
}

TEST_F(VRefPtrTest, SelfAssignmentKeepsTheObject) {
    auto ptr = VRefPtr<VCounted>::Adopt(MakeObject());
    VCounted* object = ptr.Get();
    VRefPtr<VCounted>& alias = ptr; // through an alias, so the compiler does not warn about the self-assignment

    ptr = alias;
    EXPECT_EQ(ptr.Get(), object);
    EXPECT_EQ(object->GetRefCount(), 1);

    ptr = std::move(alias);
    EXPECT_EQ(ptr.Get(), object);
    EXPECT_EQ(object->GetRefCount(), 1);

    ptr = object;
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(fDestroyed, 0);
}

TEST_F(VRefPtrTest, AssigningAPointerWhoseOnlyReferenceIsHeldByTheOldObject) {
    // The new object must be retained before the old one is released: here releasing the old one would
    // otherwise destroy the new one first.
    class VHolder : public IRefCountable {
    public:
        VRefPtr<VCounted> fHeld;
    };
    auto holder = VRefPtr<VHolder>::Adopt(new VHolder);
    holder->fHeld = VRefPtr<VCounted>::Adopt(MakeObject());
    VCounted* held = holder->fHeld.Get();

    VRefPtr<IRefCountable> ptr(holder.Get());
    holder.Clear();
    ptr = held; // destroys the holder, and with it its reference to held
    EXPECT_EQ(fDestroyed, 0);
    EXPECT_EQ(held->GetRefCount(), 1);
    ptr.Clear();
    EXPECT_EQ(fDestroyed, 1);
}

TEST_F(VRefPtrTest, ForgetHandsTheReferenceToTheCaller) {
    auto ptr = VRefPtr<VCounted>::Adopt(MakeObject());
    VCounted* object = ptr.Forget();
    EXPECT_FALSE(ptr);
    EXPECT_EQ(object->GetRefCount(), 1);
    object->Release();
    EXPECT_EQ(fDestroyed, 1);
}

// ---- SharedBuffer

TEST(SharedBuffer, LayoutOfANewBlock) {
    const char data[5] = {'h', 'e', 'l', 'l', 'o'};
    SharedBuffer* buffer = SharedBuffer::Create(data, sizeof(data));
    ASSERT_NE(buffer, nullptr);

    const auto* raw = reinterpret_cast<const unsigned char*>(buffer);
    uint64 size = 0;
    std::memcpy(&size, raw, sizeof(size));
    uint32 count = 0;
    std::memcpy(&count, raw + 8, sizeof(count));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(std::memcmp(raw + 12, data, sizeof(data)), 0);
    EXPECT_EQ(buffer->GetData(), raw + 12);
    EXPECT_EQ(buffer->GetSize(), 5u);
    EXPECT_EQ(buffer->GetRefCount(), 1u);

    // The data, then three spare bytes: AddressSanitizer checks that they belong to the block.
    std::memset(static_cast<char*>(buffer->GetData()) + 5, 0, 3);
    buffer->Release(); // the last reference frees it; a leak would be reported at exit
}

TEST(SharedBuffer, RetainAndRelease) {
    SharedBuffer* buffer = SharedBuffer::Create(16);
    ASSERT_NE(buffer, nullptr);
    buffer->Retain();
    EXPECT_EQ(buffer->GetRefCount(), 2u);
    buffer->Release();
    EXPECT_EQ(buffer->GetRefCount(), 1u);
    std::memset(buffer->GetData(), 0x42, 16);
    buffer->Release();
}

TEST(SharedBuffer, EmptyBlock) {
    SharedBuffer* buffer = SharedBuffer::Create(nullptr, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->GetSize(), 0u);
    EXPECT_EQ(buffer->GetRefCount(), 1u);
    buffer->Release();
}

TEST(SharedBuffer, SizesWhoseBlockLengthOverflowGiveNull) {
    // The block is size + 15 bytes long; without the check these sizes would wrap to a tiny block.
    for (size_t size : {SIZE_MAX, SIZE_MAX - 1, SIZE_MAX - 14}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(SharedBuffer::Create(size), nullptr);
        EXPECT_EQ(SharedBuffer::Create("x", size), nullptr);
    }
}

} // namespace
} // namespace vela
