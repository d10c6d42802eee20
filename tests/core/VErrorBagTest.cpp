// The bag forms of error objects and error contexts.
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "support/TestProcess.h"
#include "values/VBagArray.h"
#include "values/VCompareOptions.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vela {
namespace {

constexpr VError kNotFound = MakeLibraryError(600);
constexpr VError kLocked = MakeLibraryError(5);
constexpr VError kUpdater = MakeVError(FourCC("UPZo"), -7);

using BagRef = VRefPtr<VValueBag>;
using ErrorRef = VRefPtr<VErrorBase>;

BagRef NewBag() {
    return BagRef::Adopt(new VValueBag);
}

bool SameParameters(const VErrorBase& a, const VErrorBase& b) {
    VCompareOptions options;
    options.SetDiacritical(true);
    return a.GetParameters()->DeepEqualTo(b.GetParameters(), options);
}

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

class VErrorBag : public test::TestProcessFixture {
protected:
    void SetUp() override {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        VTask::GetCurrent()->GetName(fTaskName);
        VTask::FlushErrors();
    }
    void TearDown() override { VTask::FlushErrors(); }

    VString fTaskName;
};

TEST_F(VErrorBag, ErrorsReadBackFromTheirBag) {
    ErrorRef error = ErrorRef::Adopt(new VErrorBase(kUpdater));
    error->SetString("path", VString("/tmp/x"));
    error->SetLong8("size", int64(1) << 40);
    error->SetLong("count", -3);
    error->GetParameters()->SetProperty("ratio", VJSONValue(0.5));
    error->GetParameters()->SetProperty("flag", VJSONValue(JSON_true));

    BagRef bag = NewBag();
    EXPECT_EQ(error->SaveToBag(*bag), VE_OK);
    int64 code = 0;
    EXPECT_TRUE(bag->GetLong8("error_code", code));
    EXPECT_EQ(VError(code), kUpdater); // the whole 64-bit code
    ASSERT_NE(bag->GetElements(ErrorBagKeys::parameters), nullptr);
    EXPECT_EQ(bag->GetElements(ErrorBagKeys::parameters)->GetCount(), 1);

    ErrorRef loaded = ErrorRef::Adopt(new VErrorBase);
    EXPECT_EQ(loaded->LoadFromBag(*bag), VE_OK);
    EXPECT_EQ(loaded->GetError(), kUpdater);
    EXPECT_EQ(loaded->GetTaskID(), error->GetTaskID());
    EXPECT_NE(loaded->GetTaskID(), 0);
    VString name;
    loaded->GetTaskName(name, nullptr);
    EXPECT_EQ(Text(name), Text(fTaskName));
    EXPECT_TRUE(SameParameters(*loaded, *error));

    // Saving twice replaces the parameters element.
    EXPECT_EQ(error->SaveToBag(*bag), VE_OK);
    EXPECT_EQ(bag->GetElements(ErrorBagKeys::parameters)->GetCount(), 1);
}

TEST_F(VErrorBag, MissingPartsOfTheBag) {
    ErrorRef error = ErrorRef::Adopt(new VErrorBase(kNotFound));
    const int32 taskID = error->GetTaskID();
    BagRef bag = NewBag();
    EXPECT_EQ(error->LoadFromBag(*bag), VE_OK);
    EXPECT_EQ(error->GetError(), kNotFound);
    EXPECT_EQ(error->GetTaskID(), taskID);
    VString name;
    error->GetTaskName(name, nullptr);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_TRUE(error->GetParameters()->GetProperty("errCode").IsNumber()); // kept without element

    // A parameters element that is no object leaves an empty parameter object.
    BagRef scalar = NewBag();
    scalar->SetLong("____FakeArrayElement", 1);
    bag->AddElement(ErrorBagKeys::parameters, scalar.Get());
    EXPECT_EQ(error->LoadFromBag(*bag), VE_OK);
    ASSERT_NE(error->GetParameters(), nullptr);
    EXPECT_TRUE(error->GetParameters()->IsEmpty());
}

TEST_F(VErrorBag, ContextsSaveOneElementPerError) {
    VErrorContext context;
    context.PushError(ErrorRef::Adopt(new VErrorBase(kNotFound)).Get());
    context.PushError(ErrorRef::Adopt(new VErrorBase(VE_MEMORY_FULL)).Get());
    BagRef bag = NewBag();
    EXPECT_EQ(context.SaveToBag(*bag), VE_OK);
    ASSERT_NE(bag->GetElements(ErrorBagKeys::error), nullptr);
    EXPECT_EQ(bag->GetElements(ErrorBagKeys::error)->GetCount(), 2);

    VErrorContext loaded;
    EXPECT_EQ(loaded.LoadFromBag(*bag), VE_OK);
    ASSERT_EQ(loaded.GetErrorCount(), 2u);
    EXPECT_EQ(loaded.GetFirst()->GetError(), kNotFound);
    EXPECT_EQ(loaded.GetLast()->GetError(), VE_MEMORY_FULL);
    EXPECT_TRUE(loaded.FailedForMemory());
    EXPECT_TRUE(SameParameters(*loaded.GetFirst(), *context.GetFirst()));

    VErrorContext none;
    EXPECT_EQ(none.LoadFromBag(*NewBag()), VE_OK);
    EXPECT_TRUE(none.IsEmpty());
}

TEST_F(VErrorBag, TasksPushTheErrorsOfABag) {
    VErrorContext context;
    context.PushError(ErrorRef::Adopt(new VErrorBase(kNotFound)).Get());
    context.PushError(ErrorRef::Adopt(new VErrorBase(kLocked)).Get());
    BagRef bag = NewBag();
    context.SaveToBag(*bag);

    VErrorTaskContext* stack = VTask::GetErrorContext(true);
    ASSERT_NE(stack, nullptr);
    stack->PushErrorsFromBag(*bag);
    EXPECT_EQ(VTask::GetLastError(), kLocked);
    EXPECT_NE(stack->Find(kNotFound), nullptr);
}

TEST_F(VErrorBag, ErrorStacksListEveryError) {
    BagRef empty = NewBag();
    VErrorTaskContext::BuildErrorStack(*empty);
    EXPECT_TRUE(empty->IsEmpty());

    ErrorRef described = ErrorRef::Adopt(new VErrorBase(kUpdater));
    described->SetDescription(VString("no update"));
    VTask::PushError(described.Get());
    {
        StErrorContextInstaller inner;
        VTask::PushError(ErrorRef::Adopt(new VErrorBase(kNotFound)).Get());
        BagRef bag = NewBag();
        VErrorTaskContext::BuildErrorStack(*bag);
        const VBagArray* list = bag->GetElements("__ERROR");
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->GetCount(), 2);
        VString text;
        int32 number = 0;
        EXPECT_TRUE(list->GetNth(1)->GetString("message", text));
        EXPECT_EQ(Text(text), u"no update");
        EXPECT_TRUE(list->GetNth(1)->GetString("componentSignature", text));
        EXPECT_EQ(Text(text), u"UPZo");
        EXPECT_TRUE(list->GetNth(1)->GetLong("errCode", number));
        EXPECT_EQ(number, -7);
        EXPECT_EQ(list->GetNth(1)->GetAttributes().GetNthKind(2), VLong::kKind);
        EXPECT_TRUE(list->GetNth(2)->GetLong("errCode", number));
        EXPECT_EQ(number, 600);
    }
}

TEST(VErrorBagOffTask, ErrorStacksNeedATask) {
    ASSERT_EQ(VTask::GetCurrent(), nullptr);
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    VErrorTaskContext::BuildErrorStack(*bag);
    EXPECT_TRUE(bag->IsEmpty());
}

} // namespace
} // namespace vela
