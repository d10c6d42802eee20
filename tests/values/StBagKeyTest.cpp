#include "values/StBagKey.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VScalar.h"
#include "values/VUUID.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

enum ELevel { eLevelDebug = 1, eLevelInfo = 4, eLevelError = 6 };

constexpr StBagKeyNoDefault<int32, VLong> kCount("count");
constexpr StBagKeyNoDefault<uint32, VLong> kMask("mask");
constexpr StBagKeyNoDefault<uint64, VLong8> kBig("big");
constexpr StBagKeyNoDefault<bool, VBoolean> kFlag("flag");
constexpr StBagKeyNoDefault<VString, VString> kText("text");

TEST(StBagKey, TypedAttributesRoundTrip) {
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    kCount.Set(*bag, -3);
    kMask.Set(*bag, 0xF0000000u);
    kBig.Set(*bag, uint64(1) << 63);
    kFlag.Set(*bag, true);
    kText.Set(*bag, VString("hello"));

    EXPECT_EQ(kCount.Get(*bag), -3);
    EXPECT_EQ(kMask.Get(*bag), 0xF0000000u);
    EXPECT_EQ(kBig.Get(*bag), uint64(1) << 63);
    EXPECT_TRUE(kFlag.Get(*bag));
    EXPECT_TRUE(kText.Get(*bag).EqualToStringRaw(VString("hello")));
    EXPECT_EQ(bag->GetAttributes().GetNthKind(0), VLong::kKind);
    EXPECT_EQ(bag->GetAttributes().GetNthKind(2), VLong8::kKind);
}

TEST(StBagKey, MissingAttributesGiveTheClearedValueOrTheDefault) {
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    int32 count = 7;
    EXPECT_FALSE(kCount.Get(*bag, count));
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(kFlag.Get(*bag));
    EXPECT_TRUE(kText.Get(*bag).IsEmpty());

    const StBagKeyWithDefault<ELevel, VLong> level("level", eLevelInfo);
    EXPECT_EQ(level.Get(*bag), eLevelInfo);
    level.Set(*bag, eLevelError);
    EXPECT_EQ(level.Get(*bag), eLevelError);
    ELevel out = eLevelDebug;
    EXPECT_TRUE(level.Get(*bag, out));
    EXPECT_EQ(out, eLevelError);
}

} // namespace
} // namespace vela
