#include "app/VLogger.h"

#include "core/ILogListener.h"
#include "core/ILoggerBagKeys.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "support/TaskTestSupport.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace vela;

namespace {

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

std::u16string MessageOf(const VValueBag& bag) {
    return Text(ILoggerBagKeys::message.Get(bag));
}

VString Numbered(const char* prefix, int n) {
    VString text(prefix);
    text.AppendLong(n);
    return text;
}

// Keeps the messages it is handed and the size of each batch; Put may run on any task.
class RecordingListener : public ILogListener {
public:
    // Called inside Put with the batch, before it is recorded.
    std::function<void(const std::vector<const VValueBag*>&)> fOnPut;

    void Put(const std::vector<const VValueBag*>& bags) override {
        if (fOnPut) fOnPut(bags);
        std::lock_guard<std::mutex> guard(fLock);
        fBatchSizes.push_back(bags.size());
        for (const VValueBag* bag : bags)
            fMessages.push_back(MessageOf(*bag));
    }
    std::vector<std::u16string> Messages() const {
        std::lock_guard<std::mutex> guard(fLock);
        return fMessages;
    }
    size_t Count() const {
        std::lock_guard<std::mutex> guard(fLock);
        return fMessages.size();
    }
    std::vector<size_t> BatchSizes() const {
        std::lock_guard<std::mutex> guard(fLock);
        return fBatchSizes;
    }

private:
    mutable std::mutex fLock;
    std::vector<std::u16string> fMessages;
    std::vector<size_t> fBatchSizes;
};

// Runs on the main task, so that the "Logger" task can run.
class VLoggerTest : public test::TaskTest {
protected:
    static VRefPtr<VLogger> NewLogger(bool started = true) {
        auto logger = VRefPtr<VLogger>::Adopt(new VLogger);
        if (started) logger->Start();
        return logger;
    }
    static VRefPtr<RecordingListener> NewListener() { return VRefPtr<RecordingListener>::Adopt(new RecordingListener); }
    // Drains logger's ring and answers the messages, releasing the records.
    static std::vector<std::u16string> ReadMessages(VLogger& logger) {
        std::vector<std::u16string> messages;
        for (const VValueBag* bag : logger.Read()) {
            messages.push_back(MessageOf(*bag));
            bag->Release();
        }
        return messages;
    }
    static void LogEveryLevel(VLogger& logger) {
        for (int32 level = EML_Dump; level <= EML_Fatal; ++level)
            logger.LogMessage(EMessageLevel(level), VString("test"), Numbered("level ", level));
    }
};

} // namespace

TEST_F(VLoggerTest, NothingIsKeptBeforeStartThenTheDefaultMaskApplies) {
    auto logger = NewLogger(false);
    EXPECT_FALSE(logger->IsStarted());
    LogEveryLevel(*logger);
    EXPECT_TRUE(ReadMessages(*logger).empty());

    logger->Start();
    EXPECT_TRUE(logger->IsStarted());
    EXPECT_EQ(logger->GetLevelMask(), 0xF0u);
    const bool kept[] = {false, false, false, false, true, true, true, true};
    for (int32 level = EML_Dump; level <= EML_Fatal; ++level)
        EXPECT_EQ(logger->ShouldLog(EMessageLevel(level)), kept[level]) << level;
    LogEveryLevel(*logger);
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"level 4", u"level 5", u"level 6", u"level 7"}));
}

TEST_F(VLoggerTest, SwitchesSetTheirBitAndAnswerThePreviousValue) {
    struct Case {
        bool (VLogger::*with)(bool);
        uint32 bit;
    };
    const Case cases[] = {{&VLogger::WithDump, 0},  {&VLogger::WithTrace, 1}, {&VLogger::WithAssert, 2},
                          {&VLogger::WithDebug, 3}, {&VLogger::WithInfo, 4},  {&VLogger::WithWarning, 5},
                          {&VLogger::WithError, 6}, {&VLogger::WithFatal, 7}};
    auto logger = NewLogger();
    for (const Case& c : cases) {
        const bool wasOn = (logger->GetLevelMask() >> c.bit) & 1;
        EXPECT_EQ(((*logger).*c.with)(true), wasOn) << c.bit;
        EXPECT_TRUE(logger->ShouldLog(EMessageLevel(c.bit)));
        EXPECT_TRUE(((*logger).*c.with)(false)) << c.bit;
        EXPECT_FALSE(logger->ShouldLog(EMessageLevel(c.bit)));
        EXPECT_FALSE(((*logger).*c.with)(false)) << c.bit;
    }
    EXPECT_EQ(logger->GetLevelMask(), 0u);
    EXPECT_FALSE(logger->WithTag(20, true));
    EXPECT_TRUE(logger->ShouldLog(EMessageLevel(20)));
    EXPECT_TRUE(logger->WithTag(20, false));
}

TEST_F(VLoggerTest, LevelsOutsideTheMaskRangeAreNeverTaken) {
    auto logger = NewLogger();
    for (uint32 bit : {32u, 33u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(logger->WithTag(bit, true)) << bit;
        EXPECT_EQ(logger->GetLevelMask(), 0xF0u) << bit;
    }
    logger->DisableFlush(); // takes every level, but still no number that is not a level
    for (int32 level : {-1, 32, 1000}) {
        EXPECT_FALSE(logger->ShouldLog(EMessageLevel(level))) << level;
        logger->LogMessage(EMessageLevel(level), VString("test"), VString("refused"));
        auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
        ILoggerBagKeys::level.Set(*bag, EMessageLevel(level));
        logger->LogBag(bag.Get());
        EXPECT_EQ(bag->GetRefCount(), 1) << level;
    }
    EXPECT_TRUE(ReadMessages(*logger).empty());
}

TEST_F(VLoggerTest, CollectingWhileFlushIsDisabledThenFilteringByTheMask) {
    auto logger = NewLogger();
    logger->DisableFlush();
    LogEveryLevel(*logger);
    logger->EnableFlush(); // no listener: the records stay in the ring
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"level 4", u"level 5", u"level 6", u"level 7"}));

    auto listener = NewListener();
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    logger->DisableFlush();
    logger->WithDebug(true);
    LogEveryLevel(*logger);
    logger->Flush();
    EXPECT_EQ(listener->Count(), 0u);
    logger->EnableFlush();
    logger->Flush();
    ASSERT_TRUE(test::WaitUntil([&] { return listener->Count() >= 5; }));
    EXPECT_EQ(listener->Messages(),
              (std::vector<std::u16string>{u"level 3", u"level 4", u"level 5", u"level 6", u"level 7"}));
}

TEST_F(VLoggerTest, AFullRingKeepsTheLastRecordsOldestFirst) {
    auto logger = NewLogger();
    std::vector<VRefPtr<VValueBag>> bags;
    for (int i = 1; i <= 1005; ++i) {
        bags.push_back(VRefPtr<VValueBag>::Adopt(new VValueBag));
        ILoggerBagKeys::message.Set(*bags.back(), Numbered("", i));
        logger->LogBag(bags.back().Get());
    }
    // The five overwritten records were released by the ring.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(bags[size_t(i)]->GetRefCount(), 1) << i;
    EXPECT_EQ(bags[5]->GetRefCount(), 2);
    std::vector<const VValueBag*> records = logger->Read();
    ASSERT_EQ(records.size(), 1000u);
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i], bags[i + 5].Get()) << i;
    for (const VValueBag* record : records)
        record->Release();
    EXPECT_EQ(bags[1004]->GetRefCount(), 1);
    EXPECT_EQ(logger->AddLogBag(bags[0].Get()), 1);
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"1"}));
}

TEST_F(VLoggerTest, RecordsLoggedBeforeTheFirstListenerReachIt) {
    auto logger = NewLogger();
    for (int i = 1; i <= 1005; ++i)
        logger->LogMessage(EML_Information, VString("test"), Numbered("", i));
    auto listener = NewListener();
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    logger->Flush();
    ASSERT_TRUE(test::WaitUntil([&] { return listener->Count() >= 1000; }));
    std::vector<std::u16string> messages = listener->Messages();
    ASSERT_EQ(messages.size(), 1000u);
    EXPECT_EQ(messages.front(), u"6");
    EXPECT_EQ(messages.back(), u"1005");
}

TEST_F(VLoggerTest, LevelAttributeIsLeftOutForInfo) {
    struct Case {
        EMessageLevel level;
        bool stored;
    };
    const Case cases[] = {{EML_Information, false}, {EML_Warning, true}, {EML_Error, true}, {EML_Debug, true}};
    auto logger = NewLogger();
    logger->WithDebug(true);
    for (const Case& c : cases) {
        logger->LogMessage(c.level, VString("test"), VString("m"));
        std::vector<const VValueBag*> records = logger->Read();
        ASSERT_EQ(records.size(), 1u) << c.level;
        EXPECT_EQ(records[0]->AttributeExists(ILoggerBagKeys::level), c.stored) << c.level;
        EXPECT_EQ(ILoggerBagKeys::level.Get(*records[0]), c.level);
        records[0]->Release();
    }
}

TEST_F(VLoggerTest, ARecordWithoutLevelIsAnInfoRecord) {
    auto logger = NewLogger();
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    ILoggerBagKeys::message.Set(*bag, VString("no level"));
    logger->WithInfo(false);
    logger->LogBag(bag.Get());
    EXPECT_TRUE(ReadMessages(*logger).empty());
    logger->WithInfo(true);
    logger->WithWarning(false);
    logger->LogBag(bag.Get());
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"no level"}));
}

TEST_F(VLoggerTest, ALoggerOverridingLogBagSeesAndFiltersEveryMessage) {
    // Sees each record, keeps it, and passes on all but those saying "drop".
    class SeeingLogger : public VLogger {
    public:
        void LogBag(const VValueBag* bag) override {
            fSeen.push_back(VRefPtr<const VValueBag>(bag));
            if (MessageOf(*bag) != u"drop") VLogger::LogBag(bag);
        }
        std::vector<VRefPtr<const VValueBag>> fSeen;
    };
    auto logger = VRefPtr<SeeingLogger>::Adopt(new SeeingLogger);
    logger->Start();
    logger->LogMessage(EML_Error, VString("test"), VString("kept"));
    logger->LogMessage(EML_Warning, VString("test"), VString("drop"));
    logger->LogMessage(EML_Debug, VString("test"), VString("masked")); // not even seen: ShouldLog comes first
    ASSERT_EQ(logger->fSeen.size(), 2u);
    EXPECT_EQ(ILoggerBagKeys::level.Get(*logger->fSeen[0]), EML_Error);
    EXPECT_EQ(ILoggerBagKeys::level.Get(*logger->fSeen[1]), EML_Warning);
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"kept"}));

    // A record logged again later is filtered by its own level.
    const VRefPtr<const VValueBag> error = logger->fSeen[0];
    logger->WithError(false);
    logger->LogBag(error.Get());
    EXPECT_TRUE(ReadMessages(*logger).empty());
    logger->WithError(true);
    logger->WithInfo(false);
    logger->LogBag(error.Get());
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"kept"}));
}

TEST_F(VLoggerTest, MessagesWithoutSourceNameTheProcess) {
    VString saved;
    GetLogSourceIdentifier(saved);
    SetLogSourceIdentifier(VString("Updater"));
    auto logger = NewLogger();
    logger->LogMessage(EML_Information, VString(), VString("empty"));
    logger->LogMessage(EML_Information, VString(true), VString("null"));
    logger->LogMessage(EML_Information, VString("Bundle"), VString("own"));
    SetLogSourceIdentifier(saved);
    std::vector<std::u16string> sources;
    for (const VValueBag* bag : logger->Read()) {
        sources.push_back(Text(ILoggerBagKeys::source.Get(*bag)));
        bag->Release();
    }
    EXPECT_EQ(sources, (std::vector<std::u16string>{u"Updater", u"Updater", u"Bundle"}));
}

TEST_F(VLoggerTest, ListenersReceiveEachBatchNewestRegisteredFirst) {
    auto logger = NewLogger();
    std::mutex lock;
    std::vector<std::string> calls;
    auto first = NewListener();
    auto second = NewListener();
    first->fOnPut = [&](const std::vector<const VValueBag*>&) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back("first");
    };
    second->fOnPut = [&](const std::vector<const VValueBag*>&) {
        std::lock_guard<std::mutex> guard(lock);
        calls.push_back("second");
    };
    EXPECT_FALSE(logger->AddLogListener(nullptr));
    EXPECT_TRUE(logger->AddLogListener(first.Get()));
    EXPECT_TRUE(logger->AddLogListener(second.Get()));
    EXPECT_FALSE(logger->AddLogListener(first.Get()));
    EXPECT_EQ(first->GetRefCount(), 2);
    for (int i = 1; i <= 3; ++i)
        logger->LogMessage(EML_Information, VString("test"), Numbered("", i));
    logger->Flush();
    ASSERT_TRUE(test::WaitUntil([&] { return first->Count() >= 3; }));
    EXPECT_EQ(second->Messages(), (std::vector<std::u16string>{u"1", u"2", u"3"}));
    EXPECT_EQ(first->Messages(), second->Messages());
    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(calls.size() % 2, 0u);
    for (size_t i = 0; i < calls.size(); i += 2) {
        EXPECT_EQ(calls[i], "second") << i;
        EXPECT_EQ(calls[i + 1], "first") << i;
    }
}

TEST_F(VLoggerTest, RemovingAListenerDeliversWhatIsPendingFirst) {
    auto logger = NewLogger();
    auto staying = NewListener();
    auto leaving = NewListener();
    ASSERT_TRUE(logger->AddLogListener(staying.Get()));
    ASSERT_TRUE(logger->AddLogListener(leaving.Get()));
    logger->LogMessage(EML_Warning, VString("test"), VString("a"));
    logger->LogMessage(EML_Error, VString("test"), VString("b"));
    EXPECT_TRUE(logger->RemoveLogListener(leaving.Get()));
    EXPECT_EQ(leaving->Messages(), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(leaving->GetRefCount(), 1);
    EXPECT_FALSE(logger->RemoveLogListener(leaving.Get()));
    EXPECT_FALSE(logger->RemoveLogListener(nullptr));

    logger->LogMessage(EML_Information, VString("test"), VString("c"));
    logger->Flush();
    ASSERT_TRUE(test::WaitUntil([&] { return staying->Count() >= 3; }));
    EXPECT_EQ(staying->Messages(), (std::vector<std::u16string>{u"a", u"b", u"c"}));
    EXPECT_EQ(leaving->Count(), 2u);
}

TEST_F(VLoggerTest, TheLoggerTaskDeliversWithoutExplicitFlush) {
    auto logger = NewLogger();
    auto listener = NewListener();
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    logger->LogMessage(EML_Information, VString("test"), VString("by itself"));
    ASSERT_TRUE(test::WaitUntil([&] { return listener->Count() >= 1; }));
    EXPECT_EQ(listener->Messages(), (std::vector<std::u16string>{u"by itself"}));

    // Stopped, the task delivers nothing more; records wait for a flush.
    logger->Stop();
    EXPECT_TRUE(logger->IsStarted());
    logger->LogMessage(EML_Information, VString("test"), VString("waiting"));
    EXPECT_EQ(ReadMessages(*logger), (std::vector<std::u16string>{u"waiting"}));
}

TEST_F(VLoggerTest, TasksLoggingAndFlushingLoseNoRecord) {
    constexpr int kTasks = 4;
    constexpr int kPerTask = 5000;
    // Each task flushes after this many of its own records: the ring never holds more than 4 x 200.
    constexpr int kFlushEvery = 200;
    auto logger = NewLogger();
    auto listener = NewListener();
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.push_back(test::StartTask([&logger, t] {
            VString source = Numbered("task ", t);
            for (int i = 0; i < kPerTask; ++i) {
                logger->LogMessage(EML_Information, source, Numbered(std::to_string(t).append(":").c_str(), i));
                if ((i + 1) % kFlushEvery == 0) logger->Flush();
            }
        }));
    }
    for (auto& task : tasks)
        ASSERT_TRUE(task->WaitForDeath(test::kWaitBoundMs));
    logger->Flush();
    std::vector<std::u16string> messages = listener->Messages();
    ASSERT_EQ(messages.size(), size_t(kTasks * kPerTask));
    // Each task's records arrive in the order it logged them.
    std::vector<int> next(kTasks, 0);
    for (const std::u16string& message : messages) {
        int t = message[0] - u'0';
        ASSERT_TRUE(t >= 0 && t < kTasks);
        EXPECT_EQ(message.substr(2), Text(Numbered("", next[size_t(t)]))) << t;
        ++next[size_t(t)];
    }
}

TEST_F(VLoggerTest, DestructionLetsTheLoggerTaskFinishItsDeliveryAndDropsTheRest) {
    auto logger = NewLogger();
    auto listener = NewListener();
    std::atomic<bool> entered{false};
    std::atomic<bool> sawKill{false};
    // Holds the Logger task inside its delivery until the destructor has killed it.
    listener->fOnPut = [&](const std::vector<const VValueBag*>&) {
        if (entered.exchange(true)) return;
        VTask* self = VTask::GetCurrent();
        sawKill = test::WaitUntil([&] { return self->IsDying(); });
    };
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    logger->LogMessage(EML_Information, VString("test"), VString("held"));
    ASSERT_TRUE(test::WaitUntil([&] { return entered.load(); }));
    logger->LogMessage(EML_Information, VString("test"), VString("never delivered"));
    logger.Clear(); // returns only once the Logger task is done with the logger
    EXPECT_TRUE(sawKill);
    EXPECT_EQ(listener->Messages(), (std::vector<std::u16string>{u"held"}));
    EXPECT_EQ(listener->GetRefCount(), 1);
}

// Records are reused once delivered, but never one that somebody still holds: a listener that keeps records
// and a caller that keeps the bag it logged must find them as they were, whatever is logged afterwards; every
// record, reused or not, carries only its own attributes.
TEST_F(VLoggerTest, RecordsStillHeldAreNeverReused) {
    auto logger = NewLogger();
    auto listener = NewListener();
    std::vector<VRefPtr<VValueBag>> kept;
    listener->fOnPut = [&](const std::vector<const VValueBag*>& bags) {
        for (const VValueBag* bag : bags)
            if (MessageOf(*bag) == u"keep") kept.push_back(VRefPtr<VValueBag>(const_cast<VValueBag*>(bag)));
    };
    ASSERT_TRUE(logger->AddLogListener(listener.Get()));
    logger->Stop(); // only the explicit flushes below deliver

    auto own = VRefPtr<VValueBag>::Adopt(new VValueBag);
    ILoggerBagKeys::message.Set(*own, VString("own"));
    ILoggerBagKeys::level.Set(*own, EML_Warning);
    logger->LogBag(own.Get());
    logger->LogMessage(EML_Error, VString("first"), VString("keep"));
    logger->LogMessage(EML_Information, VString("first"), VString("dropped"));
    logger->Flush();
    ASSERT_EQ(kept.size(), 1u);
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 10; ++i)
            logger->LogMessage(i % 2 == 0 ? EML_Information : EML_Warning, VString("later"), Numbered("n", i));
        logger->Flush();
    }
    EXPECT_EQ(MessageOf(*kept[0]), u"keep");
    EXPECT_EQ(ILoggerBagKeys::source.Get(*kept[0]), VString("first"));
    EXPECT_EQ(ILoggerBagKeys::level.Get(*kept[0]), EML_Error);
    EXPECT_EQ(MessageOf(*own), u"own");
    EXPECT_EQ(own->GetRefCount(), 1);

    // A reused record has no attribute left from its former life: an info record after a warning has no level.
    std::vector<int32> attributeCounts;
    std::vector<EMessageLevel> levels;
    listener->fOnPut = [&](const std::vector<const VValueBag*>& bags) {
        for (const VValueBag* bag : bags) {
            attributeCounts.push_back(bag->GetAttributesCount());
            levels.push_back(ILoggerBagKeys::level.Get(*bag));
        }
    };
    logger->LogMessage(EML_Information, VString("again"), VString("info"));
    logger->LogMessage(EML_Fatal, VString("again"), VString("fatal"));
    logger->Flush();
    EXPECT_EQ(attributeCounts, (std::vector<int32>{2, 3}));
    EXPECT_EQ(levels, (std::vector<EMessageLevel>{EML_Information, EML_Fatal}));
}
