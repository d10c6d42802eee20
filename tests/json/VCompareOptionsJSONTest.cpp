#include "values/VCompareOptions.h"

#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

namespace vela {
namespace {

VRefPtr<VJSONObject> NewObject() {
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject);
}

TEST(VCompareOptionsJSON, ToJSONWritesOnlyTheDiacriticalFlag) {
    for (bool diacritical : {false, true}) {
        VCompareOptions options;
        options.SetDiacritical(diacritical);
        options.SetLike(true);
        options.SetEpsilon(0.5);
        auto object = NewObject();
        ASSERT_EQ(options.ToJSON(object.Get()), VE_OK);
        EXPECT_EQ(object->GetPropertyCount(), 1u);
        EXPECT_EQ(object->GetProperty(VString("diacritical")).GetType(), diacritical ? JSON_true : JSON_false);

        VCompareOptions back;
        back.SetDiacritical(!diacritical);
        ASSERT_EQ(back.FromJSON(object.Get()), VE_OK);
        EXPECT_EQ(back.IsDiacritical(), diacritical);
        EXPECT_FALSE(back.IsLike()); // nothing else travels
    }
}

// Only a boolean changes the flag: an absent property, a number, a text or null leave it as it was.
TEST(VCompareOptionsJSON, FromJSONTakesBooleansOnly) {
    const VJSONValue others[] = {VJSONValue(), VJSONValue(JSON_null), VJSONValue(1.0), VJSONValue(VString("true"))};
    for (bool before : {false, true}) {
        for (const VJSONValue& other : others) {
            auto object = NewObject();
            object->SetProperty(VString("diacritical"), other);
            VCompareOptions options;
            options.SetDiacritical(before);
            EXPECT_EQ(options.FromJSON(object.Get()), VE_OK);
            EXPECT_EQ(options.IsDiacritical(), before) << other.GetType();
        }
        VCompareOptions options;
        options.SetDiacritical(before);
        EXPECT_EQ(options.FromJSON(nullptr), VE_OK);
        EXPECT_EQ(options.IsDiacritical(), before);
    }
}

} // namespace
} // namespace vela
