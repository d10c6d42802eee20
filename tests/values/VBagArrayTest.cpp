#include "values/VBagArray.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

using test::BagRef;

BagRef Tagged(int32 tag) {
    BagRef bag = BagRef::Adopt(new VValueBag);
    bag->SetLong("tag", tag);
    return bag;
}

// The tags of the array's bags, in order.
std::string Tags(const VBagArray& array) {
    std::string tags;
    for (int32 n = 1; n <= array.GetCount(); ++n) {
        int32 tag = -1;
        if (array.GetNth(n) != nullptr) array.GetNth(n)->GetLong("tag", tag);
        tags += std::to_string(tag);
    }
    return tags;
}

TEST(VBagArray, InsertionsAreClampedAndRetain) {
    VRefPtr<VBagArray> array = VRefPtr<VBagArray>::Adopt(new VBagArray);
    BagRef one = Tagged(1);
    EXPECT_TRUE(array->AddTail(one.Get()));
    EXPECT_TRUE(array->AddTail(Tagged(2).Get()));
    EXPECT_TRUE(array->AddTail(Tagged(3).Get()));
    EXPECT_TRUE(array->AddNth(Tagged(0).Get(), 0));
    EXPECT_TRUE(array->AddNth(Tagged(9).Get(), 100));
    EXPECT_TRUE(array->AddNth(Tagged(5).Get(), 3));
    EXPECT_FALSE(array->AddTail(nullptr));
    EXPECT_FALSE(array->AddNth(nullptr, 1));
    EXPECT_EQ(Tags(*array), "015239");
    EXPECT_EQ(one->GetRefCount(), 2);
    EXPECT_EQ((*array)[2], one.Get());
    EXPECT_EQ(array->GetNth(0), nullptr);
    EXPECT_EQ(array->GetNth(7), nullptr);
}

TEST(VBagArray, ReplacingAndDeletingKeepCountsRight) {
    VRefPtr<VBagArray> array = VRefPtr<VBagArray>::Adopt(new VBagArray);
    BagRef a = Tagged(1);
    BagRef b = Tagged(2);
    array->AddTail(a.Get());
    array->AddTail(b.Get());

    BagRef c = Tagged(3);
    array->SetNth(c.Get(), 1);
    EXPECT_EQ(a->GetRefCount(), 1);
    EXPECT_EQ(c->GetRefCount(), 2);
    array->SetNth(c.Get(), 1); // the same bag: nothing changes
    EXPECT_EQ(c->GetRefCount(), 2);
    array->SetNth(a.Get(), 0);
    array->SetNth(a.Get(), 3);
    array->SetNth(nullptr, 1);
    EXPECT_EQ(Tags(*array), "32");

    EXPECT_EQ(array->Find(b.Get()), 2);
    EXPECT_EQ(array->Find(a.Get()), 0);
    array->Delete(b.Get()); // the caller takes over the list's reference
    EXPECT_EQ(b->GetRefCount(), 2);
    b->Release();
    EXPECT_EQ(Tags(*array), "3");

    array->DeleteNth(5);
    array->DeleteNth(1);
    EXPECT_EQ(array->GetCount(), 0);
    EXPECT_EQ(c->GetRefCount(), 1);
}

TEST(VBagArray, RetainNthNeverAnswersNull) {
    VRefPtr<VBagArray> array = VRefPtr<VBagArray>::Adopt(new VBagArray);
    BagRef a = Tagged(1);
    array->AddTail(a.Get());
    BagRef got = BagRef::Adopt(array->RetainNth(1));
    EXPECT_EQ(got.Get(), a.Get());
    EXPECT_EQ(a->GetRefCount(), 3);
    // Out of range: a new empty bag, deliberately.
    BagRef fresh = BagRef::Adopt(array->RetainNth(2));
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(fresh->IsEmpty());
    EXPECT_EQ(fresh->GetRefCount(), 1);
    EXPECT_EQ(array->GetCount(), 1);
}

TEST(VBagArray, CopiesAreDeep) {
    VRefPtr<VBagArray> array = VRefPtr<VBagArray>::Adopt(new VBagArray);
    array->AddTail(Tagged(1).Get());
    array->AddTail(Tagged(2).Get());
    VRefPtr<VBagArray> copy = VRefPtr<VBagArray>::Adopt(new VBagArray(*array));
    EXPECT_EQ(Tags(*copy), "12");
    EXPECT_NE(copy->GetNth(1), array->GetNth(1));
    EXPECT_EQ(copy->GetNth(1)->GetRefCount(), 1);
    EXPECT_EQ(copy->GetRefCount(), 1);
    copy->Destroy();
    EXPECT_EQ(copy->GetCount(), 0);
    EXPECT_EQ(Tags(*array), "12");
}

} // namespace
} // namespace vela
