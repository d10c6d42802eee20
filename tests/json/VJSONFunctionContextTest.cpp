#include "json/VJSONFunctionContext.h"

#include "support/RecordingRaiser.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

#include <cmath>
#include <limits>
#include <vector>

namespace vela {
namespace {

using test::RecordingRaiser;
using test::TextOf;
using test::Units;

TEST(VJSONFunctionContext, ParametersAreNumberedFromOne) {
    std::vector<VJSONValue> params{VJSONValue(10.0), VJSONValue(20.0)};
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    EXPECT_EQ(context.GetParamCount(), 2u);
    EXPECT_TRUE(context.GetParam(0).IsUndefined());
    EXPECT_EQ(context.GetParam(1).GetNumber(), 10.0);
    EXPECT_EQ(context.GetParam(2).GetNumber(), 20.0);
    EXPECT_TRUE(context.GetParam(3).IsUndefined());
    EXPECT_TRUE(context.GetParam(-1).IsUndefined());
    std::vector<VJSONValue>* given = nullptr;
    EXPECT_EQ(context.GetParametersAsJSONValues(&given), EJSONStatus_done);
    EXPECT_EQ(given, &params);

    VJSONFunctionContext none(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(none.GetParamCount(), 0u);
    EXPECT_TRUE(none.GetParam(1).IsUndefined());
    EXPECT_EQ(none.GetParameterList(nullptr, nullptr, nullptr, nullptr), EJSONStatus_notHandled);
    EXPECT_EQ(none.GetScopeThisObject(), nullptr);
    EXPECT_EQ(none.GetScopeClass(), nullptr);
}

// Parameters of every kind, in this order: number, string "x", empty string, true, false, object, array, null,
// undefined (index 9 is then missing as well).
std::vector<VJSONValue> EveryKind(VJSONValue& object, VJSONValue& array) {
    return {VJSONValue(2.75),
            VJSONValue(VString("x")),
            VJSONValue(VString("")),
            VJSONValue(JSON_true),
            VJSONValue(JSON_false),
            object,
            array,
            VJSONValue(JSON_null),
            VJSONValue(JSON_undefined)};
}

TEST(VJSONFunctionContext, TypedGettersRaiseOnWrongKindsAndClearTheFlag) {
    VJSONValue object(JSON_object);
    VJSONValue array(JSON_array);
    std::vector<VJSONValue> params = EveryKind(object, array);
    struct Case {
        const char* what;
        int32 good;   // a parameter of the right kind
        int32 bad;    // one of a wrong kind
        VError error; // raised for the wrong kind
    };
    const Case cases[] = {
        {"number", 1, 2, VE_JSON_PARAM_NOT_A_NUMBER},  {"long", 1, 4, VE_JSON_PARAM_NOT_A_NUMBER},
        {"bool", 4, 1, VE_JSON_PARAM_NOT_A_BOOLEAN},   {"string", 2, 6, VE_JSON_PARAM_NOT_A_STRING},
        {"object", 6, 7, VE_JSON_PARAM_NOT_AN_OBJECT}, {"array", 7, 6, VE_JSON_PARAM_NOT_AN_OBJECT},
    };
    for (const Case& c : cases) {
        auto get = [&](IJSONFunctionContext& context, int32 index) {
            std::string what = c.what;
            if (what == "number") context.GetNumberParam(index);
            if (what == "long") context.GetLongParam(index);
            if (what == "bool") context.GetBoolParam(index);
            if (what == "string") context.GetStringParam(index);
            if (what == "object") context.GetObjectParam(index);
            if (what == "array") context.GetArrayParam(index);
        };
        RecordingRaiser raiser;
        VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
        get(context, c.good);
        EXPECT_TRUE(context.AreParametersValid()) << c.what;
        EXPECT_TRUE(raiser.Codes().empty()) << c.what;
        get(context, c.bad);
        EXPECT_FALSE(context.AreParametersValid()) << c.what;
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{c.error}) << c.what;
    }
}

TEST(VJSONFunctionContext, GettersAnswerWhatTheyCanAfterAnError) {
    VJSONValue object(JSON_object);
    VJSONValue array(JSON_array);
    std::vector<VJSONValue> params = EveryKind(object, array);
    RecordingRaiser raiser;
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    EXPECT_EQ(context.GetNumberParam(1), 2.75);
    EXPECT_EQ(context.GetNumberParam(4), 1.0); // true reads as 1
    EXPECT_EQ(context.GetLongParam(1), 2);
    EXPECT_TRUE(context.GetBoolParam(2));  // "x": raises 55, still true
    EXPECT_FALSE(context.GetBoolParam(3)); // the empty string
    EXPECT_TRUE(context.GetBoolParam(6));
    EXPECT_FALSE(context.GetBoolParam(8));
    EXPECT_EQ(Units(context.GetStringParam(2)), u"x");
    EXPECT_EQ(Units(context.GetStringParam(1)), u"");
    EXPECT_EQ(context.GetObjectParam(6).Get(), object.GetObjectPtr());
    EXPECT_EQ(context.GetObjectParam(7).Get(), nullptr);
    EXPECT_EQ(context.GetArrayParam(7).Get(), array.GetArrayPtr());
    EXPECT_EQ(context.GetArrayParam(10).Get(), nullptr);
    EXPECT_EQ(raiser.Codes().front(), VE_JSON_PARAM_NOT_A_NUMBER);
}

TEST(VJSONFunctionContext, LongParameterSaturates) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double number;
        int32 expected;
    };
    const Case cases[] = {{2.9, 2},
                          {-2.9, -2},
                          {1e12, std::numeric_limits<int32>::max()},
                          {-1e12, std::numeric_limits<int32>::min()},
                          {inf, std::numeric_limits<int32>::max()},
                          {-inf, std::numeric_limits<int32>::min()},
                          {nan, 0},
                          {2147483647.0, 2147483647},
                          {-2147483648.0, std::numeric_limits<int32>::min()}};
    RecordingRaiser raiser;
    for (const Case& c : cases) {
        std::vector<VJSONValue> params{VJSONValue(c.number)};
        VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
        EXPECT_EQ(context.GetLongParam(1), c.expected) << c.number;
        EXPECT_TRUE(context.AreParametersValid());
    }
    EXPECT_TRUE(raiser.Codes().empty());
}

TEST(VJSONFunctionContext, OptionalNumber) {
    std::vector<VJSONValue> params{VJSONValue(1.5), VJSONValue(VString("2"))};
    RecordingRaiser raiser;
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    double number = 0;
    EXPECT_TRUE(context.GetNumberOptParam(1, &number));
    EXPECT_EQ(number, 1.5);
    EXPECT_TRUE(context.AreParametersValid());

    number = -1;
    EXPECT_FALSE(context.GetNumberOptParam(3, &number)); // missing: no error, but the flag is cleared
    EXPECT_EQ(number, -1);
    EXPECT_FALSE(context.AreParametersValid());
    EXPECT_TRUE(raiser.Codes().empty());

    context.SetParametersValid(true);
    EXPECT_FALSE(context.GetNumberOptParam(2, &number));
    EXPECT_FALSE(context.AreParametersValid());
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_PARAM_NOT_A_NUMBER});
}

TEST(VJSONFunctionContext, InnerContextRetargetsThisAndForwardsTheRest) {
    auto base = reinterpret_cast<CDBZoBaseContext*>(0x10);
    auto language = reinterpret_cast<VDBLanguageContext*>(0x20);
    VJSONValue outerThis(JSON_object);
    VJSONValue innerThis(JSON_array);
    std::vector<VJSONValue> params{VJSONValue(3.0)};
    VJSONFunctionContext outer(outerThis.GetObjectPtr(), nullptr, &params, base, language);
    VJSONFunctionContext inner(nullptr, innerThis.GetArrayPtr(), &outer);

    EXPECT_EQ(inner.GetThisObject(), nullptr);
    EXPECT_EQ(inner.GetThisArray(), innerThis.GetArrayPtr());
    EXPECT_EQ(inner.GetBaseContext(), base);
    EXPECT_EQ(inner.GetLanguageContext(), language);
    EXPECT_EQ(inner.GetParamCount(), 1u);
    EXPECT_EQ(inner.GetParam(1).GetNumber(), 3.0);
    EXPECT_EQ(inner.GetNumberParam(1), 3.0);

    inner.SetResult(VJSONValue(VString("r")), 9);
    VJSONValue result;
    outer.GetResult(result);
    EXPECT_EQ(TextOf(result), u"r");
    EXPECT_EQ(outer.GetResultLegacyValueKind(), 5); // forwarded with the kind 5
    inner.GetResult(result);
    EXPECT_EQ(TextOf(result), u"r");

    // A root keeps the kind it is given.
    outer.SetResult(VJSONValue(1.0), 9);
    EXPECT_EQ(outer.GetResultLegacyValueKind(), 9);
    EXPECT_TRUE(outer.GetResultIsExpected());

    // Without outer context, a root without parameters.
    VJSONFunctionContext lone(nullptr, nullptr, static_cast<IJSONFunctionContext*>(nullptr));
    EXPECT_EQ(lone.GetBaseContext(), nullptr);
    EXPECT_EQ(lone.GetParamCount(), 0u);
    lone.SetResult(VJSONValue(2.0), 7);
    lone.GetResult(result);
    EXPECT_EQ(result.GetNumber(), 2.0);
}

// ---- Calling objects as functions

// Adds its number parameters into the result; stops on bad parameters.
class VSumFunction : public VObject, public IJSONObject {
public:
    EJSONStatus IJSON_CallAsFunction(const VJSONObject*, IJSONFunctionContext* context) override {
        fThis = context->GetThisObject();
        double sum = 0;
        for (int32 i = 1; i <= int32(context->GetParamCount()); ++i)
            sum += context->GetNumberParam(i);
        if (!context->AreParametersValid()) return EJSONStatus_failed;
        context->SetResult(VJSONValue(sum));
        return EJSONStatus_done;
    }
    VJSONClass* IJSON_GetFunctionClassOwner(const VJSONObject*) override { return reinterpret_cast<VJSONClass*>(this); }
    VJSONObject* fThis = nullptr;
};

TEST(VJSONFunctionContext, CallAsFunctionRunsTheImplementation) {
    auto sum = VRefPtr<VSumFunction>::Adopt(new VSumFunction);
    auto function = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, sum.Get()));
    VJSONValue self(JSON_object);
    std::vector<VJSONValue> params{VJSONValue(1.0), VJSONValue(2.5)};
    VJSONValue result(VString("untouched"));
    EXPECT_EQ(function->CallAsFunction(self.GetObjectPtr(), nullptr, &params, result), EJSONStatus_done);
    EXPECT_EQ(result.GetNumber(), 3.5);
    EXPECT_EQ(sum->fThis, self.GetObjectPtr());

    RecordingRaiser raiser;
    params.push_back(VJSONValue(VString("three")));
    EXPECT_EQ(function->CallAsFunction(nullptr, nullptr, &params, result), EJSONStatus_failed);
    EXPECT_TRUE(result.IsUndefined()); // the context's result, never set
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_PARAM_NOT_A_NUMBER});

    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    result = VJSONValue(VString("untouched"));
    EXPECT_EQ(plain->CallAsFunction(nullptr, nullptr, &params, result), EJSONStatus_notHandled);
    EXPECT_EQ(TextOf(result), u"untouched");
}

// A context whose scope runs a given function object.
class VScopedContext : public VJSONFunctionContext {
public:
    explicit VScopedContext(VJSONObject* function)
        : VJSONFunctionContext(nullptr, nullptr, nullptr, nullptr, nullptr), fFunction(function) {}
    VJSONObject* GetScopeFunctionObject() const override { return fFunction; }
    VJSONObject* fFunction;
};

TEST(VJSONFunctionContext, ScopeClassIsTheFunctionsOwner) {
    auto sum = VRefPtr<VSumFunction>::Adopt(new VSumFunction);
    auto function = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, sum.Get()));
    VScopedContext scoped(function.Get());
    EXPECT_EQ(scoped.GetScopeClass(), reinterpret_cast<VJSONClass*>(sum.Get()));
    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    VScopedContext withoutImplementation(plain.Get());
    EXPECT_EQ(withoutImplementation.GetScopeClass(), nullptr);
}

// ---- Default hooks

class VDoNothingImpl : public VObject, public IJSONObject {};

TEST(VJSONFunctionContext, ImplementationOverridingNothingActsAsNone) {
    auto implementation = VRefPtr<VDoNothingImpl>::Adopt(new VDoNothingImpl);
    auto with = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, implementation.Get()));
    auto without = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    for (VJSONObject* object : {with.Get(), without.Get()}) {
        EXPECT_TRUE(object->IsEmpty());
        EXPECT_TRUE(object->SetProperty("a", VJSONValue(1.0)));
        EXPECT_EQ(object->GetProperty("a").GetNumber(), 1.0);
        EXPECT_TRUE(object->HasProperty("a"));
        EXPECT_FALSE(object->IsEmpty());
        EXPECT_FALSE(object->IsShared());
        VString name;
        object->GetClassName(name);
        EXPECT_EQ(Units(name), u"Object");
        VJSONValue result;
        EXPECT_EQ(object->CallAsFunction(nullptr, nullptr, nullptr, result), EJSONStatus_notHandled);
        object->RemoveProperty("a");
        EXPECT_FALSE(object->HasOwnProperty("a"));
    }
    EXPECT_EQ(implementation->IJSON_MakeIterator(with.Get(), 0, 0, true), nullptr);
    EXPECT_EQ(implementation->IJSON_GetBinarySignature(), 0u);
    EXPECT_EQ(implementation->IJSON_GetFunctionClassOwner(with.Get()), nullptr);
}

} // namespace
} // namespace vela
