#include "values/VValue.h"

#include "values/VCompareOptions.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

// A value whose stored-form comparison under options answers a chosen result, to show what the base derives
// from it.
class ScriptedValue : public VValueSingle {
public:
    explicit ScriptedValue(CompareResult result) : fResult(result) {}
    VValue* Clone() const override { return new ScriptedValue(fResult); }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }
    CompareResult CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const override {
        return fResult;
    }

private:
    CompareResult fResult;
};

// Leaves every with-options member to the base.
class PlainValue : public VValueSingle {
public:
    VValue* Clone() const override { return new PlainValue; }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_SMALLER; }
};

TEST(VValueWithOptions, BaseFindsEverythingEqual) {
    PlainValue a, b;
    VCompareOptions options;
    int data = 0;
    EXPECT_EQ(a.CompareToSameKindWithOptions(&b, options), CR_EQUAL);
    EXPECT_TRUE(a.EqualToSameKindWithOptions(&b, options));
    EXPECT_EQ(a.CompareToSameKindPtrWithOptions(&data, options), CR_EQUAL);
    EXPECT_TRUE(a.EqualToSameKindPtrWithOptions(&data, options));
    EXPECT_EQ(a.Swap_CompareToSameKindPtrWithOptions(&data, options), CR_EQUAL);
}

TEST(VValueWithOptions, EqualAndSwapDeriveFromTheComparison) {
    VCompareOptions options;
    int data = 0;
    struct Case {
        CompareResult compared, swapped;
        bool equal;
    } cases[] = {{CR_SMALLER, CR_BIGGER, false},
                 {CR_BIGGER, CR_SMALLER, false},
                 {CR_EQUAL, CR_EQUAL, true},
                 {CR_UNRELEVANT, CR_UNRELEVANT, false}};
    for (const Case& c : cases) {
        ScriptedValue value(c.compared);
        EXPECT_EQ(value.Swap_CompareToSameKindPtrWithOptions(&data, options), c.swapped);
        EXPECT_EQ(value.EqualToSameKindPtrWithOptions(&data, options), c.equal);
    }
}

} // namespace
} // namespace vela
