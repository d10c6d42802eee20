#include "json/VJSONClass.h"

#include "support/RecordingRaiser.h"
#include "json/VJSONArray.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONCloner.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONUser.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::RecordingRaiser;
using test::TextOf;

// Calls records what ran, in order, across the native functions of a test.
std::vector<std::string>& Calls() {
    static std::vector<std::string> sCalls;
    return sCalls;
}

EJSONStatus GetX(const VJSONObject*, IJSONFunctionContext* context) {
    VJSONValue stored = context->GetThisObject()->GetOwnProperty("_x");
    context->SetResult(stored.IsUndefined() ? VJSONValue(42.0) : stored);
    return EJSONStatus_done;
}

EJSONStatus SetY(const VJSONObject*, IJSONFunctionContext* context) {
    context->GetThisObject()->SetOwnProperty("_y", context->GetParam(1));
    return EJSONStatus_done;
}

EJSONStatus OnClick(const VJSONObject*, IJSONFunctionContext* context) {
    context->SetResult(VJSONValue(VString("clicked")));
    return EJSONStatus_done;
}

EJSONStatus GreetA(const VJSONObject*, IJSONFunctionContext* context) {
    Calls().push_back("A.greet");
    context->SetResult(VJSONValue(VString("hello from A")));
    return context->GetThisObject() != nullptr ? EJSONStatus_done : EJSONStatus_failed;
}

// Calls super.greet through a super object, as script code would.
EJSONStatus GreetB(const VJSONObject*, IJSONFunctionContext* context) {
    Calls().push_back("B.greet");
    VRefPtr<VJSONObject> super = VJSONSuper::CreateObject();
    VJSONValue member = super->GetProperty("greet");
    return member.GetObjectPtr()->GetImplementation()->IJSON_CallAsFunction(member.GetObjectPtr(), context);
}

EJSONStatus ConstructA(const VJSONObject*, IJSONFunctionContext* context) {
    Calls().push_back("A()");
    context->GetThisObject()->SetOwnProperty("a", VJSONValue(1.0));
    return EJSONStatus_done;
}

EJSONStatus ConstructBCallingSuper(const VJSONObject*, IJSONFunctionContext* context) {
    Calls().push_back("B()");
    EJSONStatus status = VJSONClass::CallSuperConstructor(context);
    context->GetThisObject()->SetOwnProperty("b", VJSONValue(2.0));
    return status;
}

EJSONStatus ConstructBForgettingSuper(const VJSONObject*, IJSONFunctionContext*) {
    Calls().push_back("B()");
    return EJSONStatus_done;
}

EJSONStatus InitColour(const VJSONObject*, IJSONFunctionContext* context) {
    context->SetResult(VJSONValue(VString("red")));
    return EJSONStatus_done;
}

class ClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        Calls().clear();
        fStore->AddRootClasses();
    }
    VRefPtr<VJSONObject> Add(const char* name, const std::vector<VJSONClass::FunctionDescriptor>& functions,
                             VJSONObject* super = nullptr, JSONNativeFunction constructor = nullptr, uint32 flags = 0) {
        if (super == nullptr) super = fStore->GetObjectClassObject().Get();
        return fStore->AddClass(name, functions, super, constructor, nullptr, flags);
    }
    VRefPtr<VJSONObject> New(VJSONObject* classObject) { return VJSONClass::CreateInstance(classObject, nullptr); }

    VRefPtr<VJSONClassStore> fStore = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore("test"));
};

TEST_F(ClassTest, AccessorsWithoutTheirPairRefuseWritesAndReadUndefined) {
    VRefPtr<VJSONObject> point = Add("Point", {{"get x", GetX, 0}, {"set y", SetY, 0}});
    VRefPtr<VJSONObject> p = New(point.Get());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetProperty("x").GetNumber(), 42.0); // through the getter: no own property
    {
        RecordingRaiser raiser;
        EXPECT_FALSE(p->SetProperty("x", VJSONValue(1.0)));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_READ_ONLY_PROPERTY});
    }
    EXPECT_FALSE(p->HasOwnProperty("x"));
    EXPECT_TRUE(p->SetProperty("y", VJSONValue(5.0)));
    EXPECT_EQ(p->GetOwnProperty("_y").GetNumber(), 5.0); // the setter stored it
    EXPECT_TRUE(p->GetProperty("y").IsUndefined());      // write-only
    // An own property hides the getter.
    p->SetOwnProperty("x", VJSONValue(3.0));
    EXPECT_EQ(p->GetProperty("x").GetNumber(), 3.0);
    // Getters make an instance non-empty; plain objects of no class stay empty.
    EXPECT_FALSE(New(point.Get())->IsEmpty());
}

// The unordered walks list the getters (once, and not where an own property hides one), a setter alone through
// its write-only getter (undefined, listed here as -1); the ordered walk lists own properties only.
TEST_F(ClassTest, UnorderedPropertyIteratorsListTheClassGetters) {
    VRefPtr<VJSONObject> point = Add("Point", {{"get x", GetX, 0}, {"get w", GetX, 0}, {"set y", SetY, 0}});
    VRefPtr<VJSONObject> p = New(point.Get());
    ASSERT_TRUE(p);
    p->SetOwnProperty("_x", VJSONValue(7.0));
    p->SetOwnProperty("w", VJSONValue(5.0));
    auto walk = [](auto&& it) {
        std::vector<std::pair<std::u16string, double>> seen;
        for (; it.IsValid(); ++it) {
            VJSONValue value = it.GetValue();
            seen.emplace_back(test::Units(it.GetName()), value.IsUndefined() ? -1.0 : value.GetNumber());
        }
        std::sort(seen.begin(), seen.end());
        return seen;
    };
    const std::vector<std::pair<std::u16string, double>> all{{u"_x", 7.0}, {u"w", 5.0}, {u"x", 7.0}, {u"y", -1.0}};
    EXPECT_EQ(walk(VJSONPropertyConstIterator(p.Get())), all);
    EXPECT_EQ(walk(VJSONPropertyIterator(p.Get())), all);
    const std::vector<std::pair<std::u16string, double>> own{{u"_x", 7.0}, {u"w", 5.0}};
    EXPECT_EQ(walk(VJSONPropertyConstOrderedIterator(p.Get())), own);
    // A getter name is written through the class: no setter for x, so the write is refused.
    VJSONPropertyIterator it(p.Get());
    while (it.IsValid() && test::Units(it.GetName()) != u"x")
        ++it;
    ASSERT_TRUE(it.IsValid() && it.IsImplementationName());
    RecordingRaiser raiser;
    EXPECT_FALSE(it.SetValue(VJSONValue(1.0)));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_READ_ONLY_PROPERTY});
}

TEST_F(ClassTest, AGettersStampFollowsEveryChangeOfTheObject) {
    VRefPtr<VJSONObject> point = Add("Point", {{"get x", GetX, 0}});
    VRefPtr<VJSONObject> p = New(point.Get());
    uint32 before = p->GetPropertyStamp("x");
    p->SetOwnProperty("_x", VJSONValue(7.0)); // what the getter computes from
    EXPECT_NE(p->GetPropertyStamp("x"), before);
    EXPECT_EQ(p->GetProperty("x").GetNumber(), 7.0);
}

TEST_F(ClassTest, TwoWordNamesOtherThanAccessorsArePlainFunctionsWithAnEventName) {
    VRefPtr<VJSONObject> button = Add("Button", {{"on click", OnClick, 0}});
    VRefPtr<VJSONObject> b = New(button.Get());
    VJSONValue function = b->GetProperty("on click");
    ASSERT_TRUE(function.IsObject());
    EXPECT_EQ(TextOf(function.GetObjectPtr()->GetOwnProperty("eventName")), u"on");
    EXPECT_TRUE(b->GetProperty("click").IsUndefined());
    EXPECT_TRUE(b->HasProperty("on click")); // through the prototype
    VJSONValue result;
    EXPECT_EQ(function.GetObjectPtr()->CallAsFunction(b.Get(), nullptr, nullptr, result), EJSONStatus_done);
    EXPECT_EQ(TextOf(result), u"clicked");
    VString description;
    function.GetObjectPtr()->GetDescription(description);
    EXPECT_EQ(test::Units(description), u"<<Native Function: Button.on click >>");
}

TEST_F(ClassTest, FunctionsAreSetOnce) {
    VRefPtr<VJSONObject> c = Add("Once", {{"on click", OnClick, 0}});
    VJSONClass* cls = VJSONClass::FromClassObject(c.Get());
    cls->SetFunctions({{"get x", GetX, 0}}, nullptr, nullptr);
    EXPECT_NE(cls->GetFunction("on click"), nullptr);
    EXPECT_EQ(cls->GetFunction("get x"), nullptr);
    EXPECT_TRUE(New(c.Get())); // the first instantiator stays
}

TEST_F(ClassTest, ClassObjectsAnswerTheirKeywordsAndRefuseChanges) {
    VRefPtr<VJSONObject> shared = Add("Config", {}, nullptr, nullptr, VJSONClass::kShared | VJSONClass::kSingleton);
    VRefPtr<VJSONObject> plain = Add("Plain", {});
    struct Case {
        VJSONObject* object;
        bool singleton;
        bool shared;
    } cases[] = {{shared.Get(), true, true}, {plain.Get(), false, false}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.object->GetProperty("isSingleton").GetBool(), c.singleton);
        EXPECT_EQ(c.object->GetProperty("isShared").GetBool(), c.shared);
        EXPECT_EQ(c.object->GetProperty("superclass").GetObjectPtr(), fStore->GetObjectClassObject().Get());
        RecordingRaiser raiser;
        EXPECT_FALSE(c.object->SetProperty("name", VJSONValue(VString("other"))));
        c.object->RemoveProperty("__prototype");
        EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_READ_ONLY_PROPERTY, VE_JSON_READ_ONLY_PROPERTY}));
        EXPECT_TRUE(c.object->GetProperty("__prototype").IsObject());
    }
    EXPECT_EQ(TextOf(plain->GetProperty("name")), u"Plain");
    EXPECT_NE(plain->GetProperty("_id").GetNumber(), shared->GetProperty("_id").GetNumber());
    VString description;
    plain->GetDescription(description);
    EXPECT_EQ(test::Units(description), u"Class: Plain");
    // Other properties of a class object are its own.
    VJSONUser user(plain.Get());
    EXPECT_TRUE(plain->SetProperty("note", VJSONValue(1.0)));
}

TEST_F(ClassTest, ClassObjectsAreNotClonedAndMemberFunctionsCloneWithoutOwner) {
    VRefPtr<VJSONObject> button = Add("Button", {{"on click", OnClick, 0}});
    VJSONCloner cloner;
    VJSONValue copy;
    EXPECT_NE(button->Clone(copy, cloner), VE_OK);

    VJSONObject* function = VJSONClass::FromClassObject(button.Get())->GetFunction("on click");
    EXPECT_EQ(function->GetImplementation()->IJSON_GetFunctionClassOwner(function),
              VJSONClass::FromClassObject(button.Get()));
    VJSONCloner functionCloner;
    VJSONValue functionCopy;
    ASSERT_EQ(function->Clone(functionCopy, functionCloner), VE_OK);
    VJSONObject* copied = functionCopy.GetObjectPtr();
    ASSERT_NE(copied->GetImplementation(), nullptr);
    EXPECT_EQ(copied->GetImplementation()->IJSON_GetFunctionClassOwner(copied), nullptr);
    EXPECT_EQ(TextOf(copied->GetProperty("_description")), u"Button.on click");
}

TEST_F(ClassTest, InstancesKnowTheirClassAndCopiesKeepIt) {
    VRefPtr<VJSONObject> shape = Add("Shape", {});
    VRefPtr<VJSONObject> circle = Add("Circle", {}, shape.Get());
    VRefPtr<VJSONObject> c = New(circle.Get());
    EXPECT_EQ(c->GetClassObject(), circle.Get());
    EXPECT_TRUE(c->IsInstanceOf(shape.Get()));
    EXPECT_TRUE(c->IsInstanceOf(fStore->GetObjectClassObject().Get()));
    EXPECT_FALSE(New(shape.Get())->IsInstanceOf(circle.Get()));
    EXPECT_FALSE(c->IsGenericObject());
    VString name;
    c->GetClassName(name);
    EXPECT_EQ(test::Units(name), u"Circle");
    {
        RecordingRaiser raiser;
        auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        EXPECT_FALSE(c->IsInstanceOf(plain.Get()));
        EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_NOT_A_CLASS});
        EXPECT_TRUE(plain->IsInstanceOf(fStore->GetObjectClassObject().Get())); // generic objects are Objects
        EXPECT_FALSE(plain->IsInstanceOf(shape.Get()));
    }
    c->SetOwnProperty("r", VJSONValue(2.0));
    VJSONCloner cloner;
    VJSONValue copy;
    ASSERT_EQ(c->Clone(copy, cloner), VE_OK);
    EXPECT_EQ(copy.GetObjectPtr()->GetClassObject(), circle.Get());
    EXPECT_EQ(copy.GetObjectPtr()->GetOwnProperty("r").GetNumber(), 2.0);
}

TEST_F(ClassTest, ConstructorsRunFromTheRootAndMustCallTheirSuper) {
    VRefPtr<VJSONObject> a = Add("A", {}, nullptr, ConstructA);
    VRefPtr<VJSONObject> b = Add("B", {}, a.Get(), ConstructBCallingSuper);
    VRefPtr<VJSONObject> c = Add("C", {}, b.Get()); // no constructor of its own
    VRefPtr<VJSONObject> instance = New(c.Get());
    ASSERT_TRUE(instance);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"B()", "A()"}));
    EXPECT_EQ(instance->GetOwnProperty("a").GetNumber(), 1.0);
    EXPECT_EQ(instance->GetOwnProperty("b").GetNumber(), 2.0);
    EXPECT_EQ(instance->GetClassLevel(), 3);
    EXPECT_FALSE(instance->IsConstructing());

    Calls().clear();
    VRefPtr<VJSONObject> broken = Add("Broken", {}, a.Get(), ConstructBForgettingSuper);
    RecordingRaiser raiser;
    EXPECT_FALSE(New(broken.Get()));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_CONSTRUCTOR_CHAIN_BROKEN});
    EXPECT_EQ(Calls(), std::vector<std::string>{"B()"});
}

TEST_F(ClassTest, SuperConstructorOutsideAConstructorIsRefused) {
    VJSONFunctionContext lone(nullptr, nullptr, nullptr, nullptr, nullptr);
    RecordingRaiser raiser;
    EXPECT_EQ(VJSONClass::CallSuperConstructor(&lone), EJSONStatus_failed);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE});
}

TEST_F(ClassTest, InitFunctionsGiveInstancesTheirProperties) {
    VRefPtr<VJSONObject> car = Add("Car", {{"init colour", InitColour, 0}});
    VRefPtr<VJSONObject> instance = New(car.Get());
    EXPECT_EQ(TextOf(instance->GetOwnProperty("colour")), u"red");
}

TEST_F(ClassTest, SuperMembersRunTheSuperclassFunctionOnTheSameThis) {
    VRefPtr<VJSONObject> a = Add("A", {{"greet", GreetA, 0}});
    VRefPtr<VJSONObject> b = Add("B", {{"greet", GreetB, 0}}, a.Get());
    VRefPtr<VJSONObject> instance = New(b.Get());
    VJSONValue greet = instance->GetProperty("greet");
    VJSONValue result;
    ASSERT_EQ(greet.GetObjectPtr()->CallAsFunction(instance.Get(), nullptr, nullptr, result), EJSONStatus_done);
    EXPECT_EQ(TextOf(result), u"hello from A");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"B.greet", "A.greet"}));

    // Outside a class function there is no superclass to look in; up the chain a missing name is reported.
    RecordingRaiser raiser;
    VRefPtr<VJSONObject> member = VJSONSuperMember::CreateObject("greet");
    EXPECT_EQ(member->CallAsFunction(instance.Get(), nullptr, nullptr, result), EJSONStatus_failed);
    VRefPtr<VJSONObject> c = Add("C", {{"greet", GreetB, 0}});
    VJSONValue orphan = New(c.Get())->GetProperty("greet");
    EXPECT_EQ(orphan.GetObjectPtr()->CallAsFunction(instance.Get(), nullptr, nullptr, result), EJSONStatus_failed);
    EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_SUPER_OUTSIDE_CLASS, VE_JSON_FUNCTION_NOT_FOUND}));
}

TEST_F(ClassTest, FinalFunctionsAreNotOverridden) {
    VRefPtr<VJSONObject> a = Add("A", {{"greet", GreetA, VJSONClass::kFunctionFinal}});
    RecordingRaiser raiser;
    VRefPtr<VJSONObject> b = Add("B", {{"greet", GreetB, 0}}, a.Get());
    ASSERT_EQ(raiser.All().size(), 1u);
    EXPECT_EQ(raiser.All()[0].code, VE_JSON_OVERRIDES_FINAL);
    VJSONValue greet = New(b.Get())->GetProperty("greet");
    EXPECT_EQ(TextOf(greet.GetObjectPtr()->GetProperty("_description")), u"A.greet");
}

TEST_F(ClassTest, NewAndCallGoThroughTheRootClasses) {
    VRefPtr<VJSONObject> button = Add("Button", {{"on click", OnClick, 0}});
    VJSONValue newFunction = button->GetProperty("new");
    ASSERT_TRUE(newFunction.IsObject());
    VJSONValue made;
    ASSERT_EQ(newFunction.GetObjectPtr()->CallAsFunction(button.Get(), nullptr, nullptr, made), EJSONStatus_done);
    ASSERT_TRUE(made.IsObject());
    EXPECT_EQ(made.GetObjectPtr()->GetClassObject(), button.Get());

    // "call" of a function object: the first parameter is "this".
    VJSONValue click = made.GetObjectPtr()->GetProperty("on click");
    VJSONValue call = click.GetObjectPtr()->GetProperty("call");
    ASSERT_TRUE(call.IsObject());
    std::vector<VJSONValue> params{made};
    VJSONValue result;
    EXPECT_EQ(call.GetObjectPtr()->CallAsFunction(click.GetObjectPtr(), nullptr, &params, result), EJSONStatus_done);
    EXPECT_EQ(TextOf(result), u"clicked");
    // "apply" on an object that is no function reports it.
    VJSONValue apply = click.GetObjectPtr()->GetProperty("apply");
    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    RecordingRaiser raiser;
    EXPECT_EQ(apply.GetObjectPtr()->CallAsFunction(plain.Get(), nullptr, &params, result), EJSONStatus_failed);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_FUNCTION_NOT_FOUND});
}

TEST_F(ClassTest, SharedSingletonIsMadeOnceAndDroppedOnRequest) {
    VRefPtr<VJSONObject> config = Add("Config", {}, nullptr, ConstructA, VJSONClass::kShared | VJSONClass::kSingleton);
    VJSONClass* cls = VJSONClass::FromClassObject(config.Get());
    VRefPtr<VJSONObject> first = cls->GetSingleton(nullptr, nullptr);
    ASSERT_TRUE(first);
    EXPECT_EQ(cls->GetSingleton(nullptr, nullptr), first);
    EXPECT_EQ(config->GetProperty("me").GetObjectPtr(), first.Get());
    EXPECT_NE(first->GetSharedID(), 0); // shared: its own locker
    EXPECT_EQ(Calls(), std::vector<std::string>{"A()"});
    cls->ReleaseSingleton();
    EXPECT_NE(cls->GetSingleton(nullptr, nullptr), first);
    // A singleton that is not shared needs a provider; there is none here.
    VRefPtr<VJSONObject> local = Add("Local", {}, nullptr, nullptr, VJSONClass::kSingleton);
    EXPECT_FALSE(VJSONClass::FromClassObject(local.Get())->GetSingleton(nullptr, nullptr));
    EXPECT_FALSE(VJSONClass::FromClassObject(local.Get())->IsObsolete());
}

// A constructor that asks for the singleton being made.
EJSONStatus ConstructAskingForItself(const VJSONObject*, IJSONFunctionContext* context) {
    Calls().push_back("Self()");
    VJSONObject* classObject = context->GetThisObject()->GetClassObject();
    VRefPtr<VJSONObject> self = VJSONClass::FromClassObject(classObject)->GetSingleton(nullptr, nullptr);
    context->GetThisObject()->SetOwnProperty("sawItself", self ? VJSONValue(JSON_true) : VJSONValue(JSON_false));
    return EJSONStatus_done;
}

TEST_F(ClassTest, ASingletonsConstructorAskingForItselfGetsNone) {
    VRefPtr<VJSONObject> cls =
        Add("Self", {}, nullptr, ConstructAskingForItself, VJSONClass::kShared | VJSONClass::kSingleton);
    VRefPtr<VJSONObject> singleton = VJSONClass::FromClassObject(cls.Get())->GetSingleton(nullptr, nullptr);
    ASSERT_TRUE(singleton);
    EXPECT_EQ(Calls(), std::vector<std::string>{"Self()"});
    EXPECT_FALSE(singleton->GetOwnProperty("sawItself").GetBool());
    EXPECT_EQ(VJSONClass::FromClassObject(cls.Get())->GetSingleton(nullptr, nullptr), singleton);
}

TEST(VJSONClassConcurrency, TasksRacingForASharedSingletonGetTheSameOne) {
    auto store = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore("race"));
    store->AddRootClasses();
    static std::atomic<int> sConstructed{0};
    sConstructed = 0;
    auto construct = [](const VJSONObject*, IJSONFunctionContext*) {
        sConstructed.fetch_add(1);
        return EJSONStatus_done;
    };
    VRefPtr<VJSONObject> config =
        store->AddClass("Config", {}, store->GetObjectClassObject().Get(), construct,
                        VJSONClass::SharedObjectInstantiator, VJSONClass::kShared | VJSONClass::kSingleton);
    VJSONClass* cls = VJSONClass::FromClassObject(config.Get());
    constexpr int kThreads = 8;
    std::vector<VJSONObject*> seen(kThreads, nullptr);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            seen[size_t(i)] = cls->GetSingleton(nullptr, nullptr).Get();
            // Lookups and class use from other tasks at the same time.
            VRefPtr<VJSONObject> found = store->GetClassObject("config", true);
            VRefPtr<VJSONObject> instance = VJSONClass::CreateInstance(store->GetObjectClassObject().Get(), nullptr);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(sConstructed.load(), 1);
    for (VJSONObject* object : seen)
        EXPECT_EQ(object, seen[0]);
    EXPECT_NE(seen[0], nullptr);
}

// A getter must never retain a singleton that a release has just let go of (a use after free, seen by
// ThreadSanitizer or AddressSanitizer).
TEST(VJSONClassConcurrency, GettingASharedSingletonWhileItIsReleasedIsSafe) {
    auto store = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore("release"));
    store->AddRootClasses();
    VRefPtr<VJSONObject> config =
        store->AddClass("Config", {}, store->GetObjectClassObject().Get(), nullptr,
                        VJSONClass::SharedObjectInstantiator, VJSONClass::kShared | VJSONClass::kSingleton);
    VJSONClass* cls = VJSONClass::FromClassObject(config.Get());
    constexpr int kRounds = 100000;
    std::atomic<bool> done{false};
    std::thread releaser([&] {
        while (!done.load())
            cls->ReleaseSingleton();
    });
    int got = 0;
    for (int i = 0; i < kRounds; ++i) {
        VRefPtr<VJSONObject> singleton = cls->GetSingleton(nullptr, nullptr);
        if (singleton) ++got;
    }
    done = true;
    releaser.join();
    EXPECT_GT(got, 0);
    cls->ReleaseSingleton();
}

} // namespace
} // namespace vela
