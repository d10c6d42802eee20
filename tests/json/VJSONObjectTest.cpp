#include "json/VJSONObject.h"

#include "core/VMemoryBuffer.h"
#include "support/RecordingRaiser.h"
#include "values/VCompareOptions.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONStamp.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"

#include "JSONTestSupport.h"

#include <string>
#include <vector>

namespace vela {
namespace {

using test::TextOf;
using test::Units;

std::vector<std::u16string> OrderedNames(const VJSONObject* object, uint32 flags = 0) {
    std::vector<std::u16string> names;
    for (VJSONPropertyConstOrderedIterator it(object, flags); it.IsValid(); ++it)
        names.push_back(Units(it.GetName()));
    return names;
}

VRefPtr<VJSONObject> NewObject() {
    return VRefPtr<VJSONObject>::Adopt(new VJSONObject);
}

TEST(VJSONObject, PropertiesKeepTheOrderOfAddition) {
    auto object = NewObject();
    object->SetProperty("a", VJSONValue(1.0));
    object->SetProperty("b", VJSONValue(2.0));
    object->SetProperty("c", VJSONValue(3.0));
    object->RemoveProperty("a");
    object->SetProperty("d", VJSONValue(4.0));
    EXPECT_EQ(OrderedNames(object.Get()), (std::vector<std::u16string>{u"b", u"c", u"d"}));

    object->SetProperty("b", VJSONValue(20.0)); // keeps its place
    EXPECT_EQ(OrderedNames(object.Get()), (std::vector<std::u16string>{u"b", u"c", u"d"}));
    EXPECT_EQ(object->GetProperty("b").GetNumber(), 20.0);

    EXPECT_TRUE(object->SetProperty("c", VJSONValue(JSON_undefined))); // undefined removes
    EXPECT_EQ(OrderedNames(object.Get()), (std::vector<std::u16string>{u"b", u"d"}));
    EXPECT_FALSE(object->HasOwnProperty("c"));
}

TEST(VJSONObject, ManyPropertiesGoThroughTheIndex) {
    auto object = NewObject();
    constexpr int kCount = 1000;
    for (int i = 0; i < kCount; ++i)
        object->SetProperty(VString::ToString(i), VJSONValue(double(i)));
    for (int i = 0; i < kCount; i += 7)
        EXPECT_EQ(object->GetProperty(VString::ToString(i)).GetNumber(), double(i));
    EXPECT_TRUE(object->GetProperty("1000").IsUndefined());
    for (int i = 0; i < kCount; i += 2)
        object->RemoveOwnProperty(VString::ToString(i));
    EXPECT_EQ(object->GetPropertyCount(), size_t(kCount / 2));
    for (int i = 0; i < kCount; ++i)
        EXPECT_EQ(object->HasOwnProperty(VString::ToString(i)), i % 2 == 1) << i;
    VString name;
    ASSERT_TRUE(object->GetPropertyNameAt(0, name));
    EXPECT_EQ(Units(name), u"1");
    ASSERT_TRUE(object->GetPropertyNameAt(size_t(kCount / 2 - 1), name));
    EXPECT_EQ(Units(name), u"999");
    EXPECT_FALSE(object->GetPropertyNameAt(size_t(kCount / 2), name));
}

TEST(VJSONObject, NamesAreComparedUnitByUnit) {
    auto object = NewObject();
    object->SetProperty("", VJSONValue(1.0));
    object->SetProperty("Name", VJSONValue(2.0));
    object->SetProperty(VString(u"name\u00E9"), VJSONValue(3.0));
    EXPECT_EQ(object->GetProperty("").GetNumber(), 1.0);
    EXPECT_TRUE(object->GetProperty("name").IsUndefined());
    EXPECT_EQ(object->GetProperty(VString(u"name\u00E9")).GetNumber(), 3.0);
    EXPECT_EQ(object->GetPropertyCount(), 3u);
}

TEST(VJSONObject, ReadsReturnCopiesWithNewStamps) {
    auto object = NewObject();
    object->SetProperty("x", VJSONValue(1.0));
    uint32 stored = object->GetPropertyStamp("x");
    EXPECT_NE(stored, 0u);
    EXPECT_GT(object->GetProperty("x").GetStamp(), stored);
    EXPECT_EQ(object->GetPropertyStamp("x"), stored);
    EXPECT_EQ(object->GetPropertyStamp("absent"), 0u);
    object->TouchPropertyStamp("x");
    EXPECT_GT(object->GetPropertyStamp("x"), stored);
}

TEST(VJSONObject, TheChangeCounterMovesOnWithEveryChange) {
    auto object = NewObject();
    auto stamps = VRefPtr<VJSONStamp>::Adopt(new VJSONStamp);
    object->SetJSONStamp(stamps.Get());
    object->SetProperty("a", VJSONValue(1.0));
    EXPECT_EQ(stamps->GetStamp(), 1u);
    object->RemoveOwnProperty("absent"); // counted even when nothing goes
    EXPECT_EQ(stamps->GetStamp(), 2u);
    object->ClearInternalProperties();
    EXPECT_EQ(stamps->GetStamp(), 3u);
}

TEST(VJSONObject, ClearPropertyEmptiesTheValueByKind) {
    auto object = NewObject();
    object->SetProperty("flag", VJSONValue(JSON_true));
    object->SetProperty("text", VJSONValue(VString("t")));
    object->SetProperty("child", VJSONValue(JSON_object));
    EXPECT_TRUE(object->ClearProperty("flag"));
    EXPECT_TRUE(object->ClearProperty("text"));
    EXPECT_TRUE(object->ClearProperty("child"));
    EXPECT_TRUE(object->ClearProperty("absent"));
    EXPECT_EQ(object->GetProperty("flag").GetType(), JSON_false);
    EXPECT_EQ(TextOf(object->GetProperty("text")), u"");
    EXPECT_TRUE(object->GetProperty("child").IsNull());
    EXPECT_FALSE(object->HasOwnProperty("absent"));
}

TEST(VJSONObject, MergeWithAddsAllOrOnlyMissingProperties) {
    auto target = NewObject();
    auto source = NewObject();
    target->SetProperty("a", VJSONValue(1.0));
    source->SetProperty("a", VJSONValue(10.0));
    source->SetProperty("b", VJSONValue(20.0));
    EXPECT_EQ(target->MergeWith(source.Get(), true), VE_OK);
    EXPECT_EQ(target->GetProperty("a").GetNumber(), 1.0);
    EXPECT_EQ(target->GetProperty("b").GetNumber(), 20.0);
    target->MergeWith(source.Get(), false);
    EXPECT_EQ(target->GetProperty("a").GetNumber(), 10.0);
    target->MergeWith(target.Get(), false); // merging into itself changes nothing
    EXPECT_EQ(OrderedNames(target.Get()), (std::vector<std::u16string>{u"a", u"b"}));
}

TEST(VJSONObject, StringAndClassNameOfAPlainObject) {
    auto object = NewObject();
    VString text;
    object->GetString(text);
    EXPECT_EQ(Units(text), u"[object Object]");
    object->GetClassName(text);
    EXPECT_EQ(Units(text), u"Object");
    EXPECT_TRUE(object->IsGenericObject());
    VRefPtr<VJSONObject> shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    shared->GetClassName(text);
    EXPECT_EQ(Units(text), u"Shared Object");
}

TEST(VJSONObject, LockerIDIsAnOrdinaryNameOnUnsharedObjects) {
    auto object = NewObject();
    object->SetProperty("__LockerID", VJSONValue(7.0));
    EXPECT_EQ(object->GetProperty("__LockerID").GetNumber(), 7.0);
    EXPECT_EQ(object->GetSharedID(), 0);
}

// An implementation that computes "virtual", refuses writes to "readonly" and names itself.
class VFakeImplementation : public VObject, public IJSONObject {
public:
    int fConnects = 0;
    int fDisconnects = 0;

    EJSONStatus IJSON_GetProperty(const VJSONObject*, const VString& name, VJSONValue& out,
                                  VDBLanguageContext*) override {
        if (name != VString("virtual")) return EJSONStatus_notHandled;
        out.SetNumber(42.0);
        return EJSONStatus_done;
    }
    EJSONStatus IJSON_SetProperty(VJSONObject*, const VString& name, const VJSONValue&, VDBLanguageContext*) override {
        return name == VString("readonly") ? EJSONStatus_failed : EJSONStatus_notHandled;
    }
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& names, uint32) override {
        names.push_back("virtual");
        return EJSONStatus_done;
    }
    EJSONStatus IJSON_GetClassName(const VJSONObject*, VString& out) override {
        out.FromCString("Fake");
        return EJSONStatus_done;
    }
    void IJSON_DoConnectDependencies(VJSONObject*) override { ++fConnects; }
    void IJSON_DoDisconnectDependencies(VJSONObject*) override { ++fDisconnects; }
};

TEST(VJSONObject, TheImplementationAnswersFirst) {
    auto implementation = VRefPtr<VFakeImplementation>::Adopt(new VFakeImplementation);
    {
        auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
        EXPECT_EQ(implementation->fConnects, 1);
        object->SetProperty("own", VJSONValue(1.0));
        EXPECT_EQ(object->GetProperty("virtual").GetNumber(), 42.0);
        EXPECT_EQ(object->GetProperty("own").GetNumber(), 1.0);
        EXPECT_TRUE(object->HasProperty("virtual"));
        EXPECT_FALSE(object->HasOwnProperty("virtual"));
        EXPECT_FALSE(object->SetProperty("readonly", VJSONValue(1.0)));
        EXPECT_FALSE(object->HasOwnProperty("readonly"));
        EXPECT_FALSE(object->IsEmpty());
        VString name;
        object->GetClassName(name);
        EXPECT_EQ(Units(name), u"Fake");
        EXPECT_EQ(OrderedNames(object.Get()), (std::vector<std::u16string>{u"virtual", u"own"}));
        EXPECT_EQ(OrderedNames(object.Get(), 1), (std::vector<std::u16string>{u"own"}));
        EJSONStatus status = EJSONStatus_done;
        EXPECT_TRUE(object->GetPropertyByIndex(0, &status).IsUndefined());
        EXPECT_EQ(status, EJSONStatus_notHandled);
    }
    EXPECT_EQ(implementation->fDisconnects, 1);
}

TEST(VJSONObject, DefaultBinaryWriteFailsWith915) {
    test::RecordingRaiser raiser;
    auto implementation = VRefPtr<VFakeImplementation>::Adopt(new VFakeImplementation);
    VError error = VE_OK;
    VMemoryBuffer<1024, 2, 1048576> buffer;
    EXPECT_EQ(implementation->IJSON_WriteToBuffer(buffer, &error), EJSONStatus_failed);
    EXPECT_EQ(error, VE_JSON_NO_BINARY_FORM);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_NO_BINARY_FORM});
}

TEST(VJSONObject, DeepEqualIgnoresOrderButNotKinds) {
    VCompareOptions options;
    auto a = NewObject();
    auto b = NewObject();
    a->SetProperty("x", VJSONValue(1.0));
    a->SetProperty("y", VJSONValue(VString("1")));
    b->SetProperty("y", VJSONValue(VString("1")));
    b->SetProperty("x", VJSONValue(1.0));
    EXPECT_TRUE(a->DeepEqualTo(b.Get(), options));
    b->SetProperty("y", VJSONValue(1.0));
    EXPECT_FALSE(a->DeepEqualTo(b.Get(), options));
    b->SetProperty("y", VJSONValue(VString("1")));
    b->SetProperty("z", VJSONValue(JSON_null));
    EXPECT_FALSE(a->DeepEqualTo(b.Get(), options));
}

TEST(VJSONObject, PropertyIteratorWritesWithoutRemoving) {
    auto object = NewObject();
    object->SetProperty("a", VJSONValue(1.0));
    object->SetProperty("b", VJSONValue(2.0));
    for (VJSONPropertyIterator it(object.Get()); it.IsValid(); ++it) {
        EXPECT_TRUE(it.SetValue(VJSONValue(it.GetValue().GetNumber() * 10)));
        EXPECT_TRUE(it.SetValue(VJSONValue(JSON_undefined)));
    }
    EXPECT_EQ(object->GetProperty("a").GetNumber(), 10.0);
    EXPECT_EQ(object->GetProperty("b").GetNumber(), 20.0);
}

// A shared object takes writes only from the task using its locker: the writing walk uses it while it lives.
TEST(VJSONObject, PropertyIteratorUsesTheLockerOfASharedObjectWhileItLives) {
    VRefPtr<VJSONObject> shared = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, nullptr, true));
    {
        VJSONUser user(shared.Get());
        ASSERT_TRUE(shared->SetProperty("a", VJSONValue(1.0)));
    }
    {
        test::RecordingRaiser raiser;
        EXPECT_FALSE(shared->SetProperty("a", VJSONValue(5.0)));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_OBJECT_NOT_IN_USE});
    }
    {
        test::RecordingRaiser raiser;
        for (VJSONPropertyIterator it(shared.Get()); it.IsValid(); ++it)
            EXPECT_TRUE(it.SetValue(VJSONValue(2.0)));
        EXPECT_TRUE(raiser.Codes().empty());
    }
    EXPECT_EQ(shared->GetProperty("a").GetNumber(), 2.0);
    EXPECT_EQ(shared->GetStorageLocker()->GetUseCount(), 0); // given back with the iterator
}

} // namespace
} // namespace vela
