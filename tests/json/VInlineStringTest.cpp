#include "json/VInlineString.h"

#include "core/VString.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

TEST(VInlineString, SharesTheStringsBufferAndGivesItBack) {
    VString text("a shared buffer");
    VInlineString record = VInlineString::RetainFromString(text);
    EXPECT_EQ(record.fBuffer, text.GetCPointer());
    EXPECT_EQ(record.GetLength(), text.GetLength());
    EXPECT_EQ(record.GetShareCount(), 2);
    EXPECT_TRUE(record.EqualsUnits(text.GetCPointer(), text.GetLength()));

    VString back;
    record.ToString(back);
    EXPECT_EQ(back.GetCPointer(), text.GetCPointer());
    EXPECT_EQ(record.GetShareCount(), 3);
    record.Release();
    EXPECT_EQ(record.fBuffer, nullptr);
    EXPECT_EQ(text.GetSharedBufferRefCount(), 2);
}

TEST(VInlineString, EmptyTextHasNoBuffer) {
    VInlineString record = VInlineString::RetainFromString(VString());
    EXPECT_TRUE(record.IsEmpty());
    EXPECT_EQ(record.fBuffer, nullptr);
    EXPECT_EQ(record.GetUnits()[0], 0);
    VString out("x");
    record.ToString(out);
    EXPECT_TRUE(out.IsEmpty());
    EXPECT_FALSE(out.IsNull());
    record.Release(); // nothing to drop
}

TEST(VInlineString, ACopyOutlivesTheString) {
    VInlineString record;
    {
        VStr<31> inlineText("kept in the object itself"); // cannot share: a counted copy is made
        record = VInlineString::RetainFromString(inlineText);
        EXPECT_NE(record.fBuffer, inlineText.GetCPointer());
        EXPECT_EQ(record.GetShareCount(), 1);
    }
    VString out;
    record.ToString(out);
    EXPECT_EQ(std::u16string(out.GetCPointer(), size_t(out.GetLength())), u"kept in the object itself");
    record.Release();
}

} // namespace
} // namespace vela
