#include "core/VErrorContext.h"

#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "support/RecordingLogger.h"
#include "support/TestProcess.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace vela;

namespace {

constexpr VError kNotFound = MakeLibraryError(600);
constexpr VError kLocked = MakeLibraryError(5);
constexpr VError kCanceled = MakeLibraryError(6);

VRefPtr<VErrorBase> MakeError(VError code) {
    return VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
}

// Pushes a new error of code; answers whether a context stopped it.
bool Push(VErrorTaskContext& stack, VError code) {
    bool filtered = false;
    EXPECT_TRUE(stack.PushError(MakeError(code).Get(), &filtered));
    return filtered;
}

std::vector<VError> CodesOf(const VErrorContext& context) {
    std::vector<VError> codes;
    for (const VRefPtr<VErrorBase>& error : context.GetErrors())
        codes.push_back(error->GetError());
    return codes;
}

std::vector<VError> AllCodes(const VErrorTaskContext& stack) {
    VErrorContext all;
    stack.GetErrors(all);
    return CodesOf(all);
}

// A guard's work on a stack: push a context, then pop it and recycle it at the end.
class StContext {
public:
    StContext(VErrorTaskContext& stack, bool keep, bool silent, std::vector<VError> filters = {})
        : fStack(stack), fContext(stack.PushNewContext(keep, silent)) {
        for (VError code : filters)
            fContext->AddErrorToFilter(code);
    }
    ~StContext() {
        fStack.PopContext(fContext);
        fStack.RecycleContext(fContext);
    }
    VErrorContext* operator->() const { return fContext; }
    VErrorContext* Get() const { return fContext; }

private:
    VErrorTaskContext& fStack;
    VErrorContext* fContext;
};

} // namespace

// ---- VErrorContext

TEST(VErrorContextTest, NewContextDefaults) {
    VErrorContext context;
    EXPECT_TRUE(context.IsEmpty());
    EXPECT_TRUE(context.IsKept());
    EXPECT_FALSE(context.IsSilent());
    EXPECT_FALSE(context.FailedForMemory());
    EXPECT_FALSE(context.HasFilters());
    EXPECT_EQ(context.GetLastError(), VE_OK);
    EXPECT_EQ(context.GetFirst(), nullptr);
    EXPECT_FALSE(context.PushError(nullptr));
}

TEST(VErrorContextTest, PushRetainsAndReadsBack) {
    VErrorContext context;
    auto first = MakeError(kNotFound);
    auto second = MakeError(kLocked);
    auto third = MakeError(kNotFound);
    for (auto* error : {first.Get(), second.Get(), third.Get()})
        EXPECT_TRUE(context.PushError(error));
    EXPECT_EQ(first->GetRefCount(), 2);
    EXPECT_EQ(context.GetFirst(), first.Get());
    EXPECT_EQ(context.GetLast(), third.Get());
    EXPECT_EQ(context.GetLastError(), kNotFound);
    EXPECT_EQ(context.Find(kNotFound), first.Get());
    EXPECT_EQ(context.Find(kCanceled), nullptr);
    EXPECT_TRUE(context.DebugDisplay());

    context.Flush();
    EXPECT_TRUE(context.IsEmpty());
    EXPECT_EQ(first->GetRefCount(), 1);
}

TEST(VErrorContextTest, FindAnyStopsAtTheFirstZero) {
    VErrorContext context;
    context.PushError(MakeError(kLocked).Get());
    EXPECT_TRUE(context.FindAny(kLocked));
    EXPECT_TRUE(context.FindAny(kNotFound, kLocked, 0));
    EXPECT_FALSE(context.FindAny(kNotFound, kCanceled, 0));
    // Codes after the terminating 0 are not part of the list.
    EXPECT_FALSE(context.FindAny(kNotFound, 0, kLocked));
}

TEST(VErrorContextTest, FiltersCompareWholeCodes) {
    VErrorContext context;
    context.AddErrorToFilter(kNotFound);
    context.AddErrorToFilter(kNotFound);
    EXPECT_TRUE(context.IsErrorFiltered(kNotFound));
    EXPECT_FALSE(context.IsErrorFiltered(MakeVError(FourCC("UPZo"), 600)));
    context.Flush();
    EXPECT_TRUE(context.IsErrorFiltered(kNotFound)); // flushing keeps filters
}

TEST(VErrorContextTest, MemoryFullMarksTheContextUntilFlushed) {
    VErrorContext context;
    context.PushError(MakeError(VE_MEMORY_FULL).Get());
    EXPECT_TRUE(context.FailedForMemory());
    context.Flush();
    EXPECT_FALSE(context.FailedForMemory());
}

TEST(VErrorContextTest, MergingKeepsAMemoryFailure) {
    VErrorContext outer;
    outer.PushError(MakeError(VE_MEMORY_FULL).Get());
    VErrorContext inner;
    inner.PushError(MakeError(kLocked).Get());
    outer.PushErrors(inner);
    EXPECT_EQ(CodesOf(outer), (std::vector<VError>{VE_MEMORY_FULL, kLocked}));
    EXPECT_TRUE(outer.FailedForMemory());

    VErrorContext fresh;
    fresh.PushErrors(outer);
    EXPECT_TRUE(fresh.FailedForMemory());
}

TEST(VErrorContextTest, CopyHasTheErrorsAndPlainFlags) {
    VErrorContext source(false, true);
    source.AddErrorToFilter(kNotFound);
    source.PushError(MakeError(VE_MEMORY_FULL).Get());
    auto copy = VRefPtr<VErrorContext>::Adopt(new VErrorContext(source));
    EXPECT_EQ(copy->GetRefCount(), 1);
    EXPECT_EQ(copy->GetFirst(), source.GetFirst());
    EXPECT_TRUE(copy->FailedForMemory());
    EXPECT_TRUE(copy->IsKept());
    EXPECT_FALSE(copy->IsSilent());
    EXPECT_FALSE(copy->HasFilters());
}

TEST(VErrorContextTest, SaveToJSONArray) {
    VErrorContext context;
    VJSONValue value(JSON_null);
    context.SaveToJSONArray(value);
    EXPECT_TRUE(value.IsUndefined());
    context.PushError(MakeError(kNotFound).Get());
    context.PushError(MakeError(kLocked).Get());
    context.SaveToJSONArray(value);
    ASSERT_TRUE(value.IsArray());
    ASSERT_EQ(value.GetArrayPtr()->GetCount(), 2u);
    EXPECT_EQ(VJSONValue::GetLongByPath(value.GetArrayPtr()->GetAt(1), "errCode"), 5);
}

TEST(VErrorContextTest, SendErrorsToLoggerInOrder) {
    VErrorContext context;
    context.PushError(MakeError(kNotFound).Get());
    context.PushError(MakeError(kLocked).Get());
    context.SendErrorsToLogger(); // no process logger: nothing happens
    test::StRecordingProcessLogger logger;
    context.SendErrorsToLogger();
    EXPECT_EQ(logger->ErrorCodes(), (std::vector<VError>{kNotFound, kLocked}));
}

// ---- VErrorTaskContext

TEST(VErrorTaskContextTest, FirstPushMakesTheBaseContext) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    VErrorContext* spare = stack->GetSpareContext();
    ASSERT_NE(spare, nullptr);
    EXPECT_EQ(stack->GetContextCount(), 0u);
    EXPECT_FALSE(stack->PushError(nullptr));
    EXPECT_FALSE(Push(*stack, kNotFound));
    EXPECT_EQ(stack->GetContextCount(), 1u);
    EXPECT_EQ(stack->GetSpareContext(), spare); // the spare is kept for guards
    EXPECT_EQ(stack->GetLastError(), kNotFound);
    EXPECT_TRUE(stack->GetTopContext()->IsKept());
}

TEST(VErrorTaskContextTest, AFilteredCodeSilencesTheRestOfTheBlock) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    Push(*stack, kCanceled);
    {
        StContext guard(*stack, true, false, {kNotFound});
        EXPECT_TRUE(stack->IsErrorFiltered(kNotFound));
        EXPECT_FALSE(Push(*stack, kLocked)); // before the expected error: reported
        EXPECT_TRUE(Push(*stack, kNotFound));
        EXPECT_TRUE(guard->IsSilent());
        EXPECT_FALSE(guard->IsKept());
        EXPECT_TRUE(Push(*stack, kLocked)); // after it: silenced too
    }
    EXPECT_EQ(stack->GetLastError(), kCanceled);
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled}));
}

TEST(VErrorTaskContextTest, FiltersOfOuterContextsApplyToInnerOnes) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    StContext outer(*stack, true, false, {kNotFound});
    {
        StContext inner(*stack, true, false);
        EXPECT_TRUE(Push(*stack, kNotFound));
        EXPECT_TRUE(inner->IsSilent()); // the top context is silenced, not the filtering one
        EXPECT_FALSE(outer->IsSilent());
    }
    EXPECT_TRUE(outer->IsEmpty());
}

TEST(VErrorTaskContextTest, KeptSilentContextLogsWhenMergedIntoReportingOne) {
    test::StRecordingProcessLogger logger;
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    Push(*stack, kCanceled);
    {
        StContext guard(*stack, true, true);
        EXPECT_TRUE(Push(*stack, kNotFound));
        EXPECT_TRUE(logger->ErrorCodes().empty());
    }
    EXPECT_EQ(logger->ErrorCodes(), (std::vector<VError>{kNotFound}));
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled, kNotFound}));
    EXPECT_EQ(stack->GetContextCount(), 1u);
}

TEST(VErrorTaskContextTest, SilentIntoSilentDoesNotLog) {
    test::StRecordingProcessLogger logger;
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    StContext outer(*stack, true, true);
    {
        StContext inner(*stack, true, true);
        Push(*stack, kNotFound);
    }
    EXPECT_TRUE(logger->ErrorCodes().empty());
    EXPECT_EQ(outer->GetLastError(), kNotFound);
}

TEST(VErrorTaskContextTest, InnerErrorsShowThroughTheOuterGuard) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    StContext outer(*stack, true, false);
    {
        StContext inner(*stack, true, false);
        Push(*stack, kLocked);
        EXPECT_EQ(outer->GetLastError(), VE_OK);
    }
    EXPECT_EQ(outer->GetLastError(), kLocked);
    EXPECT_EQ(stack->GetLastError(), kLocked);
}

TEST(VErrorTaskContextTest, LastErrorLooksAtTheTopContextOnly) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    Push(*stack, kNotFound);
    {
        StContext guard(*stack, true, false);
        EXPECT_EQ(stack->GetLastError(), VE_OK);
        EXPECT_EQ(stack->GetLast()->GetError(), kNotFound); // the highest context holding any
        EXPECT_EQ(stack->Find(kNotFound)->GetError(), kNotFound);
    }
    EXPECT_EQ(stack->GetLastError(), kNotFound);
}

TEST(VErrorTaskContextTest, DroppedContextsLeaveNothing) {
    struct Case {
        bool keep;
        bool silent;
        bool filteredAtPush;
    };
    const Case cases[] = {{false, false, false}, {false, true, true}};
    for (const Case& c : cases) {
        test::StRecordingProcessLogger logger;
        auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
        Push(*stack, kCanceled);
        {
            StContext guard(*stack, c.keep, c.silent);
            EXPECT_EQ(Push(*stack, kNotFound), c.filteredAtPush);
        }
        EXPECT_EQ(stack->GetLastError(), kCanceled);
        EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled}));
        EXPECT_TRUE(logger->ErrorCodes().empty());
    }
}

TEST(VErrorTaskContextTest, MemoryFailureSurvivesMergeOfOtherErrors) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    Push(*stack, VE_MEMORY_FULL);
    EXPECT_TRUE(stack->FailedForMemory());
    {
        StContext guard(*stack, true, false);
        EXPECT_FALSE(stack->FailedForMemory()); // the top context's flag
        Push(*stack, kLocked);
    }
    EXPECT_TRUE(stack->FailedForMemory());
    stack->Flush();
    EXPECT_FALSE(stack->FailedForMemory());
    EXPECT_EQ(stack->GetLastError(), VE_OK);
}

TEST(VErrorTaskContextTest, EmptyGuardContextBecomesTheSpareAndIsReused) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    VErrorContext* first = nullptr;
    {
        StContext guard(*stack, true, false, {kNotFound});
        first = guard.Get();
    }
    EXPECT_EQ(stack->GetSpareContext(), first);
    EXPECT_FALSE(first->HasFilters());
    EXPECT_EQ(stack->GetContextCount(), 0u);
    {
        StContext guard(*stack, false, true);
        EXPECT_EQ(guard.Get(), first);
        EXPECT_EQ(stack->GetSpareContext(), nullptr);
        EXPECT_FALSE(guard->IsKept());
        EXPECT_TRUE(guard->IsSilent());
        EXPECT_FALSE(stack->IsErrorFiltered(kNotFound));
    }
}

TEST(VErrorTaskContextTest, RecycleKeepsOnlyUnsharedEmptyContexts) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    VErrorContext* spare = stack->PushNewContext(true, false); // empties the spare slot
    stack->PopContext();

    auto withErrors = VRefPtr<VErrorContext>::Adopt(new VErrorContext);
    withErrors->PushError(MakeError(kLocked).Get());
    withErrors->Retain();
    stack->RecycleContext(withErrors.Get());
    EXPECT_EQ(stack->GetSpareContext(), nullptr);
    EXPECT_EQ(withErrors->GetRefCount(), 1);

    auto shared = VRefPtr<VErrorContext>::Adopt(new VErrorContext);
    shared->Retain();
    stack->RecycleContext(shared.Get());
    EXPECT_EQ(stack->GetSpareContext(), nullptr);

    stack->RecycleContext(spare);
    EXPECT_EQ(stack->GetSpareContext(), spare);
    stack->RecycleContext(nullptr);
}

TEST(VErrorTaskContextTest, BaseContextSurvivesItsGuardAsAPlainCopy) {
    test::StRecordingProcessLogger logger;
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    VErrorContext* guardContext = nullptr;
    {
        StContext guard(*stack, true, true);
        guardContext = guard.Get();
        Push(*stack, VE_MEMORY_FULL);
        guard->Retain(); // observe it after the guard
    }
    ASSERT_EQ(stack->GetContextCount(), 1u);
    VErrorContext* base = stack->GetTopContext();
    EXPECT_NE(base, guardContext);
    EXPECT_TRUE(base->IsKept());
    EXPECT_FALSE(base->IsSilent());
    EXPECT_TRUE(base->FailedForMemory());
    EXPECT_EQ(CodesOf(*base), (std::vector<VError>{VE_MEMORY_FULL}));
    EXPECT_EQ(logger->ErrorCodes(), (std::vector<VError>{VE_MEMORY_FULL})); // silent: handed to the logger
    EXPECT_EQ(guardContext->GetRefCount(), 1);
    guardContext->Release();
}

TEST(VErrorTaskContextTest, MergeAndFlushLastContext) {
    test::StRecordingProcessLogger logger;
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    stack->MergeAndFlushLastContext(true); // empty stack: nothing
    Push(*stack, kCanceled);
    {
        StContext guard(*stack, true, false);
        Push(*stack, kNotFound);
        stack->MergeAndFlushLastContext(true);
        EXPECT_TRUE(guard->IsEmpty());
        EXPECT_TRUE(guard->IsSilent());
        EXPECT_EQ(stack->GetContextCount(), 2u);
        EXPECT_EQ(logger->ErrorCodes(), (std::vector<VError>{kNotFound}));
    }
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled, kNotFound}));

    // A lone kept context leaves a copy of itself below.
    stack->MergeAndFlushLastContext(false);
    EXPECT_EQ(stack->GetContextCount(), 2u);
    EXPECT_EQ(stack->GetLastError(), VE_OK);
    EXPECT_FALSE(stack->GetTopContext()->IsSilent());
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled, kNotFound}));

    // A context that is not kept just loses its errors.
    StContext dropped(*stack, false, false);
    Push(*stack, kLocked);
    stack->MergeAndFlushLastContext(false);
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{kCanceled, kNotFound}));
}

TEST(VErrorTaskContextTest, InsertFrontErrorsGoBeforeTheBottomErrors) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    stack->InsertFrontErrors({});
    EXPECT_EQ(stack->GetContextCount(), 0u);
    stack->InsertFrontErrors({MakeError(kLocked)});
    EXPECT_EQ(stack->GetContextCount(), 1u);
    Push(*stack, kCanceled);
    StContext guard(*stack, true, false);
    Push(*stack, kNotFound);
    std::vector<VRefPtr<VErrorBase>> inserted{MakeError(VE_MEMORY_FULL), MakeError(kNotFound)};
    stack->InsertFrontErrors(inserted);
    EXPECT_EQ(AllCodes(*stack), (std::vector<VError>{VE_MEMORY_FULL, kNotFound, kLocked, kCanceled, kNotFound}));
    EXPECT_EQ(stack->GetFirst(), inserted[0].Get());
    EXPECT_EQ(stack->Find(kNotFound), inserted[1].Get()); // the bottom context is searched first
    EXPECT_EQ(stack->GetLast(), guard->GetLast());
}

TEST(VErrorTaskContextTest, PushErrorsFromContextReportsEachError) {
    auto stack = VRefPtr<VErrorTaskContext>::Adopt(new VErrorTaskContext);
    VErrorContext source;
    source.PushError(MakeError(kNotFound).Get());
    source.PushError(MakeError(kLocked).Get());
    stack->PushErrorsFromContext(nullptr);
    StContext guard(*stack, true, false, {kNotFound});
    stack->PushErrorsFromContext(&source);
    EXPECT_TRUE(guard->IsSilent()); // the filter saw the first one
    EXPECT_EQ(CodesOf(*guard.Get()), (std::vector<VError>{kNotFound, kLocked}));
}

// ---- StErrorContextInstaller off a task

TEST(StErrorContextInstallerTest, OffATaskTheGuardHasAPrivateContext) {
    ASSERT_EQ(VTask::GetCurrent(), nullptr);
    StErrorContextInstaller guard(kNotFound, kLocked, kCanceled, 0);
    ASSERT_NE(guard.GetContext(), nullptr);
    EXPECT_TRUE(guard.GetContext()->IsErrorFiltered(kNotFound));
    EXPECT_TRUE(guard.GetContext()->IsErrorFiltered(kLocked));
    EXPECT_TRUE(guard.GetContext()->IsErrorFiltered(kCanceled));
    _ThrowError(kLocked);
    EXPECT_EQ(guard.GetLastError(), VE_OK);
    EXPECT_EQ(VTask::GetErrorContext(false), nullptr);
}

TEST(StErrorContextInstallerTest, CodeListsEndAtTheFirstZero) {
    struct Case {
        StErrorContextInstaller* (*make)();
        std::vector<VError> filtered;
        std::vector<VError> notFiltered;
    };
    const Case cases[] = {
        {[] { return new StErrorContextInstaller(kNotFound, 0); }, {kNotFound}, {kLocked}},
        {[] { return new StErrorContextInstaller(kNotFound); }, {kNotFound}, {kLocked}},
        {[] { return new StErrorContextInstaller(kNotFound, kLocked, 0, kCanceled); },
         {kNotFound, kLocked},
         {kCanceled}},
        {[] { return new StErrorContextInstaller(true, true); }, {}, {kNotFound, VE_OK}},
    };
    for (const Case& c : cases) {
        std::unique_ptr<StErrorContextInstaller> guard(c.make());
        for (VError code : c.filtered)
            EXPECT_TRUE(guard->GetContext()->IsErrorFiltered(code));
        for (VError code : c.notFiltered)
            EXPECT_FALSE(guard->GetContext()->IsErrorFiltered(code));
    }
}

// ---- The error road on real tasks

namespace {

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*)) __attribute__((weak));

thread_local bool tCountAllocations = false;
thread_local int64 tAllocations = 0;

void CountMalloc(const volatile void*, size_t) {
    if (tCountAllocations) ++tAllocations;
}
void IgnoreFree(const volatile void*) {}

// Counts the blocks the calling thread allocates while it lives (through the sanitizers' allocator hooks).
class StAllocationCounter {
public:
    static bool Available() {
        static const bool sInstalled = __sanitizer_install_malloc_and_free_hooks != nullptr &&
                                       __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree) != 0;
        return sInstalled;
    }
    StAllocationCounter() {
        tAllocations = 0;
        tCountAllocations = true;
    }
    ~StAllocationCounter() { tCountAllocations = false; }
    int64 Count() const { return tAllocations; }
};

// Runs body on a new task and waits (bounded) for the task to end.
template <class Body> bool RunOnOtherTask(Body body) {
    auto task = VRefPtr<VTask>::Adopt(new VTask(0, eTaskStylePreemptive, std::function<void()>(body)));
    if (!task->Run()) return false;
    return task->WaitForDeath(10000);
}

std::map<std::string, std::u16string> StringParameters(const VErrorBase* error) {
    std::map<std::string, std::u16string> result;
    for (const auto& [name, value] : error->GetParameters()->GetInternalProperties()) {
        VString text;
        value.GetString(text);
        std::string key;
        for (int32 i = 1; i <= name.GetLength(); ++i)
            key += char(name.GetUniChar(i));
        result[key] = test::RecordingLogger::Text(text);
    }
    return result;
}

} // namespace

class ErrorRoadTest : public test::TestProcessFixture {
protected:
    void SetUp() override {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        VTask::FlushErrors();
    }
    void TearDown() override { VTask::FlushErrors(); }
};

TEST_F(ErrorRoadTest, ThrowErrorPushesOneErrorWithItsParameters) {
    VString path("/tmp/missing");
    _ThrowError(kNotFound, &path);
    EXPECT_EQ(VTask::GetLastError(), kNotFound);
    VErrorTaskContext* stack = VTask::GetErrorContext(false);
    ASSERT_NE(stack, nullptr);
    VErrorBase* error = stack->GetLast();
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(StringParameters(error),
              (std::map<std::string, std::u16string>{
                  {"errCode", u"600"}, {"componentSignature", u"vela"}, {"p1", u"/tmp/missing"}}));
    EXPECT_EQ(error->GetTaskID(), VTask::GetCurrent()->GetID());
    EXPECT_NE(error->GetTaskID(), 0);
    // Reported once, through the debug manager, at level error.
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, EML_Error);
    EXPECT_EQ(records[0].code, kNotFound);
    EXPECT_EQ(records[0].taskID, error->GetTaskID());
}

TEST_F(ErrorRoadTest, WithoutProcessObjectThrowErrorDoesNothing) {
    SetProcessObjectExists(false);
    _ThrowError(kNotFound);
    SetProcessObjectExists(true);
    EXPECT_EQ(VTask::GetLastError(), VE_OK);
    EXPECT_TRUE(Logger().All().empty());
}

TEST_F(ErrorRoadTest, FilteredErrorsAreNeitherReportedNorKept) {
    _ThrowError(kCanceled);
    Logger().Clear();
    {
        StErrorContextInstaller expected(kNotFound, 0);
        _ThrowError(kNotFound);
        _ThrowError(kLocked);
        EXPECT_EQ(expected.GetLastError(), kLocked);
        EXPECT_TRUE(expected.GetContext()->IsSilent());
    }
    EXPECT_TRUE(Logger().All().empty());
    EXPECT_EQ(VTask::GetLastError(), kCanceled);
}

TEST_F(ErrorRoadTest, SilentGuardHandsItsErrorsToTheLoggerWhenItEnds) {
    {
        StErrorContextInstaller quiet(true, true);
        _ThrowError(kNotFound);
        EXPECT_TRUE(Logger().All().empty());
    }
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound}));
    EXPECT_EQ(VTask::GetLastError(), kNotFound);
}

TEST_F(ErrorRoadTest, SwallowingGuardLeavesNothing) {
    _ThrowError(kCanceled);
    Logger().Clear();
    {
        StErrorContextInstaller swallow(false, true);
        _ThrowError(kNotFound);
    }
    EXPECT_TRUE(Logger().All().empty());
    EXPECT_EQ(VTask::GetLastError(), kCanceled);
}

TEST_F(ErrorRoadTest, NestedGuardsMergeOutward) {
    StErrorContextInstaller outer;
    {
        StErrorContextInstaller inner;
        _ThrowError(kLocked);
        EXPECT_EQ(outer.GetLastError(), VE_OK);
    }
    EXPECT_EQ(outer.GetLastError(), kLocked);
    EXPECT_EQ(VTask::GetLastError(), kLocked);
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kLocked})); // reported once, at push time
}

TEST_F(ErrorRoadTest, MemoryFailureIsVisibleOnTheTask) {
    _ThrowError(VE_MEMORY_FULL);
    EXPECT_TRUE(VTask::FailedForMemory());
    VTask::FlushErrors();
    EXPECT_FALSE(VTask::FailedForMemory());
    EXPECT_EQ(VTask::GetLastError(), VE_OK);
}

TEST_F(ErrorRoadTest, NativeCauseLiesBelowTheLibraryError) {
    StErrorContextInstaller block;
    auto* error = new VErrorBase(kLocked);
    EXPECT_TRUE(_PushRetainedError(error, MakeVError(kComponentPosix, 13)));
    const auto& errors = block.GetContext()->GetErrors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0]->GetError(), MakeVError(kComponentPosix, 13));
    EXPECT_EQ(errors[1].Get(), error);
    EXPECT_EQ(error->GetRefCount(), 1); // the context's: the creator's was given up, the record holds a copy
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{MakeVError(kComponentPosix, 13), kLocked}));
}

TEST_F(ErrorRoadTest, FilteredErrorComesWithoutItsNativeCause) {
    StErrorContextInstaller block(kLocked, 0);
    _PushRetainedError(new VErrorBase(kLocked), MakeVError(kComponentPosix, 13));
    EXPECT_EQ(CodesOf(*block.GetContext()), (std::vector<VError>{kLocked}));
    EXPECT_TRUE(Logger().All().empty());
}

TEST_F(ErrorRoadTest, UserGeneratedErrorIsPushed) {
    EXPECT_EQ(vThrowUserGeneratedError(kCanceled, "Stopped by the user"), kCanceled);
    EXPECT_EQ(VTask::GetLastError(), kCanceled);
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, u"Stopped by the user");
}

TEST_F(ErrorRoadTest, PushErrorsCopiesAnotherContextsErrors) {
    VErrorContext other;
    other.PushError(MakeError(kNotFound).Get());
    other.PushError(MakeError(kLocked).Get());
    VTask::PushErrors(nullptr);
    VTask::PushErrors(&other);
    EXPECT_EQ(AllCodes(*VTask::GetErrorContext(false)), (std::vector<VError>{kNotFound, kLocked}));
    EXPECT_EQ(Logger().ErrorCodes(), (std::vector<VError>{kNotFound, kLocked}));
}

TEST_F(ErrorRoadTest, EachTaskHasItsOwnStack) {
    _ThrowError(kCanceled);
    int32 otherID = 0;
    VError otherLast = VE_OK;
    VError otherInGuard = VE_OK;
    VError otherAfterGuard = VE_OK;
    ASSERT_TRUE(RunOnOtherTask([&] {
        otherID = VTask::GetCurrent()->GetID();
        otherLast = VTask::GetLastError();
        {
            StErrorContextInstaller expected(kNotFound, 0);
            _ThrowError(kNotFound);
            otherInGuard = expected.GetLastError();
        }
        otherAfterGuard = VTask::GetLastError();
        _ThrowError(kLocked);
    }));
    EXPECT_EQ(otherLast, VE_OK); // the main task's error is not there
    EXPECT_EQ(otherInGuard, kNotFound);
    EXPECT_EQ(otherAfterGuard, VE_OK);
    EXPECT_EQ(VTask::GetLastError(), kCanceled);
    auto records = Logger().All();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].code, kLocked);
    EXPECT_EQ(records[1].taskID, otherID);
    EXPECT_NE(otherID, VTask::GetCurrent()->GetID());
}

TEST_F(ErrorRoadTest, GuardOnATaskDoesNotAllocate) {
    if (!StAllocationCounter::Available()) GTEST_SKIP() << "no allocator hooks in this build";
    // The first guards make the task's stack and its spare context.
    { StErrorContextInstaller warmUp(kNotFound, kLocked, 0); }
    { StErrorContextInstaller warmUp(true, true); }
    {
        StAllocationCounter probe;
        MakeError(kLocked);
        ASSERT_GT(probe.Count(), 0) << "the counter must see the library's allocations";
    }
    StAllocationCounter counter;
    for (int i = 0; i < 1000; ++i) {
        { StErrorContextInstaller filtering(kNotFound, kLocked, 0); }
        { StErrorContextInstaller quiet(false, true); }
    }
    EXPECT_EQ(counter.Count(), 0);
}

using ErrorRoadDeathTest = ErrorRoadTest;

TEST_F(ErrorRoadDeathTest, GuardsEndingOutOfOrderAreCaught) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEBUG_DEATH(
        {
            auto* outer = new StErrorContextInstaller;
            StErrorContextInstaller inner;
            delete outer;
        },
        "reverse order");
}
