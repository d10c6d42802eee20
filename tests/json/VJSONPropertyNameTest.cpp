#include "json/VJSONPropertyName.h"

#include "core/VString.h"
#include "json/VJSONCloner.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"

#include "JSONTestSupport.h"

#include <string>
#include <vector>

namespace vela {
namespace {

using test::Units;

// Names around the length kept in place, ASCII and not.
const std::vector<std::u16string> kNames = {u"",
                                            u"a",
                                            u"sixchr",
                                            u"seven77",
                                            u"\u00e9t\u00e9",
                                            u"\u65e5\u672c\u8a9e\u306e\u540d\u524d\u3067\u3059",
                                            u"a much longer property name"};

VString Text(const std::u16string& units) {
    VString text;
    text.FromUniString(units.data(), int32(units.size()));
    return text;
}

TEST(VJSONPropertyNameTest, KeepsEveryNameWhateverItsLength) {
    for (const std::u16string& units : kNames) {
        SCOPED_TRACE(std::string(units.begin(), units.end()));
        VJSONPropertyName name;
        ASSERT_TRUE(VJSONPropertyName::FromString(Text(units), name));
        EXPECT_EQ(name.GetLength(), int32(units.size()));
        EXPECT_TRUE(name.EqualsUnits(units.data(), int32(units.size())));
        VJSONPropertyName copy(name);
        VJSONPropertyName moved(std::move(name));
        EXPECT_EQ(name.GetLength(), 0);
        VString out;
        copy.ToString(out);
        EXPECT_EQ(Units(out), units);
        moved.ToString(out);
        EXPECT_EQ(Units(out), units);
    }
}

TEST(VJSONPropertyNameTest, ObjectsFindAndListNamesInOrderAfterACopy) {
    VJSONValue holder(JSON_object);
    VJSONObject* object = holder.GetObjectPtr();
    for (size_t i = 0; i < kNames.size(); ++i)
        ASSERT_TRUE(object->SetProperty(Text(kNames[i]), VJSONValue(double(i))));
    VJSONValue copy = holder;
    VJSONCloner cloner;
    ASSERT_EQ(cloner.CloneValue(copy), VE_OK);
    for (const VJSONValue* value : {&holder, &copy}) {
        std::vector<std::u16string> listed;
        for (VJSONPropertyConstOrderedIterator it(value->GetObjectPtr(), 0); it.IsValid(); ++it)
            listed.push_back(Units(it.GetName()));
        EXPECT_EQ(listed, kNames);
        for (size_t i = 0; i < kNames.size(); ++i)
            EXPECT_EQ(value->GetObjectPtr()->GetProperty(Text(kNames[i])).GetNumber(), double(i));
    }
}

TEST(VJSONPropertyNameTest, LongNamesShareTheTextsBufferUntilThePropertyGoes) {
    VString longName("a name too long to be kept in place");
    longName.AppendCString("!"); // a buffer of its own, which can be shared
    int32 shares = longName.GetSharedBufferRefCount();
    ASSERT_GE(shares, 1);
    VJSONValue holder(JSON_object);
    holder.GetObjectPtr()->SetProperty(longName, VJSONValue(1.0));
    EXPECT_EQ(longName.GetSharedBufferRefCount(), shares + 1);
    holder.GetObjectPtr()->RemoveProperty(longName);
    EXPECT_EQ(longName.GetSharedBufferRefCount(), shares);
}

} // namespace
} // namespace vela
