#include "values/VValue.h"

#include "core/VString.h"
#include "support/RecordingRaiser.h"
#include "support/TestProcess.h"
#include "values/VEmpty.h"
#include "values/VScalar.h"
#include "values/VValueInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

// A value that counts its hook calls.
class HookedValue : public VValueSingle {
public:
    HookedValue() { fFlags = 0; } // neither null nor dirty
    VValue* Clone() const override { return new HookedValue; }
    CompareResult CompareTo(const VValueSingle&, bool) const override { return CR_EQUAL; }

    int fNullChanges = 0;
    int fDirtyChanges = 0;

protected:
    void DoNullChanged() override { ++fNullChanges; }
    void DoDirtyChanged() override { ++fDirtyChanges; }
};

template <uint16 Kind> class TestInfo : public VValueInfo_default<HookedValue, Kind> {};

TEST(VValueFlags, NullChangeRunsEachHookOnce) {
    HookedValue value;
    value.SetNull(true);
    EXPECT_EQ(value.fNullChanges, 1);
    EXPECT_EQ(value.fDirtyChanges, 1);
    EXPECT_TRUE(value.IsNull());
    EXPECT_TRUE(value.IsDirty());

    value.SetNull(true);
    EXPECT_EQ(value.fNullChanges, 1);
    EXPECT_EQ(value.fDirtyChanges, 1);

    value.SetNull(false); // already dirty: only the null hook
    EXPECT_EQ(value.fNullChanges, 2);
    EXPECT_EQ(value.fDirtyChanges, 1);

    value.SetDirty(false);
    value.SetDirty(false);
    EXPECT_EQ(value.fDirtyChanges, 2);
}

TEST(VValueRegistry, BuiltInKindsAndHoles) {
    for (uint16 kind : {7, 12, 106, 4242})
        EXPECT_EQ(VValue::NewValueFromValueKind(kind), nullptr) << kind;

    std::unique_ptr<VValue> empty(VValue::NewValueFromValueKind(0));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->IsNull());
    EXPECT_EQ(empty->GetValueKind(), 0);

    std::unique_ptr<VValue> text(VValue::NewValueFromValueKind(VString::kKind));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GetValueKind(), VString::kKind);
    EXPECT_FALSE(text->IsNull());

    HookedValue plain;
    EXPECT_EQ(plain.GetValueKind(), 65535); // the default descriptor
    EXPECT_NE(VValue::ValueInfoFromValueKind(65535), nullptr);
}

TEST(VValueRegistry, LastRegistrationWinsAndRemovalErasesTheKind) {
    constexpr uint16 kKind = 30001;
    auto first = std::make_unique<TestInfo<kKind>>();
    EXPECT_EQ(VValue::ValueInfoFromValueKind(kKind), first.get());
    {
        TestInfo<kKind> second;
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kKind), &second);
        first.reset(); // destroying the replaced descriptor removes the kind altogether
        EXPECT_EQ(VValue::ValueInfoFromValueKind(kKind), nullptr);
        EXPECT_EQ(VValue::NewValueFromValueKind(kKind), nullptr);
    }
    EXPECT_EQ(VValue::ValueInfoFromValueKind(kKind), nullptr);
}

TEST(VValueRegistry, LookupsFromManyThreadsWhileTheDefaultIsMade) {
    std::vector<std::thread> threads;
    std::vector<const VValueInfo*> seen(8);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&seen, i] {
            HookedValue value;
            seen[size_t(i)] = value.GetValueInfo();
            for (int n = 0; n < 1000; ++n)
                ASSERT_NE(VValue::ValueInfoFromValueKind(VString::kKind), nullptr);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (const VValueInfo* info : seen)
        EXPECT_EQ(info, seen[0]);
}

TEST(VValueCompare, InvertCompResultSwapsOnlyOrder) {
    EXPECT_EQ(VValue::InvertCompResult(CR_SMALLER), CR_BIGGER);
    EXPECT_EQ(VValue::InvertCompResult(CR_BIGGER), CR_SMALLER);
    EXPECT_EQ(VValue::InvertCompResult(CR_EQUAL), CR_EQUAL);
    EXPECT_EQ(VValue::InvertCompResult(CR_UNRELEVANT), CR_UNRELEVANT);

    VEmpty a, b;
    EXPECT_EQ(a.CompareTo(b), CR_UNRELEVANT);
    EXPECT_FALSE(a.CanBeEvaluated());
}

TEST(VValueDefaults, JsonFormsOfTheBaseRaiseUnimplemented) {
    test::RecordingRaiser raiser;
    HookedValue value;
    VString json;
    // A single value answers through its text form and raises nothing.
    EXPECT_EQ(value.GetJSONString(json), VE_OK);
    EXPECT_TRUE(raiser.Codes().empty());
    EXPECT_EQ(value.VValue::GetJSONString(json), VE_UNIMPLEMENTED);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_UNIMPLEMENTED});
}

TEST(VValueConvert, ValueKindsMapToJsonTypes) {
    struct Case {
        uint16 kind;
        int32 type;
    };
    for (Case c : {Case{0, 0}, Case{1, 2}, Case{2, 0}, Case{5, 0}, Case{6, 4}, Case{7, 0}, Case{8, 8}, Case{9, 0},
                   Case{10, 3}, Case{11, 0}, Case{200, 0}})
        EXPECT_EQ(VValueSingle::ValueKindToJsonType(c.kind), c.type) << c.kind;
}

TEST(VValueConvert, ConvertToMakesAFilledValueOfTheKind) {
    VString text("hello");
    std::unique_ptr<VValueSingle> converted(text.ConvertTo(VString::kKind));
    ASSERT_NE(converted, nullptr);
    VString out;
    converted->GetString(out);
    EXPECT_EQ(out, text);

    VString nullText(true);
    std::unique_ptr<VValueSingle> nullCopy(nullText.ConvertTo(VString::kKind));
    ASSERT_NE(nullCopy, nullptr);
    EXPECT_TRUE(nullCopy->IsNull());

    EXPECT_EQ(text.ConvertTo(7), nullptr);
}

TEST(VValueDebugDump, TheTextFormNeedsAProcessAndFitsTheBuffer) {
    VLong number(-1234);
    char buffer[64];
    int length = sizeof(buffer);
    EXPECT_EQ(number.DebugDump(buffer, length), VTC_UTF_16);
    EXPECT_EQ(length, 0);

    test::StProcessObject process;
    struct Case {
        int length;
        std::u16string expected;
    };
    // Whole units only: an odd length drops its last byte, a buffer too small cuts the text.
    const Case cases[] = {{64, u"-1234"}, {10, u"-1234"}, {7, u"-12"}, {2, u"-"}, {1, u""}, {0, u""}, {-4, u""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::memset(buffer, 0x7F, sizeof(buffer));
        length = c.length;
        EXPECT_EQ(number.DebugDump(buffer, length), VTC_UTF_16);
        ASSERT_EQ(length, int(c.expected.size() * 2));
        EXPECT_EQ(std::memcmp(buffer, c.expected.data(), size_t(length)), 0);
        // Nothing written past what was reported.
        EXPECT_EQ(buffer[length], 0x7F);
    }
    VString dump;
    number.VObject::DebugDump(dump);
    EXPECT_EQ(dump, VString("-1234"));
}

} // namespace
} // namespace vela
