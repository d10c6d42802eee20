#include "core/ILogger.h"

#include "core/ILoggerBagKeys.h"
#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "support/RecordingLogger.h"
#include "support/TaskTestSupport.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace vela;

namespace {

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

// The one record logger holds; fails the test when there is not exactly one.
const VValueBag& OnlyBag(const test::RecordingLogger& logger) {
    static VRefPtr<VValueBag> sEmpty = VRefPtr<VValueBag>::Adopt(new VValueBag);
    auto records = logger.All();
    EXPECT_EQ(records.size(), 1u);
    return records.size() == 1 ? *records[0].bag : *sEmpty;
}

auto NewLogger(uint32 mask) {
    return VRefPtr<test::RecordingLogger>::Adopt(new test::RecordingLogger(mask));
}

} // namespace

TEST(ILoggerTest, SequenceNumbersHaveNoGapsOrRepeatsAcrossTasks) {
    test::StTaskMgrScope scope;
    ASSERT_TRUE(scope.IsInited());
    constexpr int kTasks = 4;
    constexpr int kCalls = 2000;
    std::vector<std::vector<uint64>> taken(kTasks);
    std::vector<VRefPtr<VTask>> tasks;
    for (int t = 0; t < kTasks; ++t) {
        tasks.push_back(test::StartTask([&taken, t] {
            for (int i = 0; i < kCalls; ++i)
                taken[size_t(t)].push_back(ILogger::GetSequenceNumber());
        }));
    }
    for (auto& task : tasks)
        ASSERT_TRUE(task->WaitForDeath(test::kWaitBoundMs));
    std::vector<uint64> all;
    for (const auto& numbers : taken) {
        EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
        all.insert(all.end(), numbers.begin(), numbers.end());
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), size_t(kTasks * kCalls));
    EXPECT_GE(all.front(), 1u);
    for (size_t i = 1; i < all.size(); ++i)
        ASSERT_EQ(all[i], all[i - 1] + 1) << i;
    EXPECT_EQ(ILogger::GetSequenceNumber(), all.back() + 1);
}

TEST(ILoggerTest, ReservedSequenceNumbersAreTakenAsOneBlock) {
    const uint64 first = ILogger::ReserveSequenceNumbers(5);
    EXPECT_GE(first, 1u);
    // The next number follows the block; a block of none takes nothing.
    const uint64 next = ILogger::ReserveSequenceNumbers(0);
    EXPECT_EQ(next, first + 5);
    EXPECT_EQ(ILogger::GetSequenceNumber(), first + 5);
}

TEST(ILoggerTest, StackCrawlLinesAreShortened) {
    struct Case {
        const char* crawl;
        const char16_t* cleaned;
    };
    const Case cases[] = {
        {"vela::VTask::Run() const", u"VTask::Run"},
        {"   {1} 0x1f - non-virtual thunk to vela::VFile::Read(char*, int)  ", u"{1} 0x1f - VFile::Read"},
        {"f(int) const const", u"f const const"}, // the first " const" does not end the line
        {"g() const x", u"g const x"},
        {"h)(x)", u"h)(x)"}, // the first ')' must follow the first '('
        {"vela::a::vela::b(vela::C)", u"a::b"},
        {"a()\n  b()\n", u"a <- b"}, // the last line feed ends the text
        {"a\n\nb", u"a <-  <- b"},
        {"", u""},
    };
    for (const Case& c : cases) {
        VString out("stale");
        ILogger::CleanStackCrawl(VString(c.crawl), out);
        EXPECT_EQ(Text(out), c.cleaned) << c.crawl;
    }
}

TEST(ILoggerTest, AssertionRecordsCarryFileLineAndTheCallersStack) {
    struct Case {
        const char* file;
        const char16_t* name;
    };
    const Case cases[] = {{"/a/b/c.cpp", u"c.cpp"}, {"c.cpp", u"c.cpp"}, {"/a/b/", u""}, {nullptr, u""}};
    for (const Case& c : cases) {
        auto logger = NewLogger(0xFF);
        logger->LogAssertIfNecessary("x > 0", c.file, 42);
        const VValueBag& bag = OnlyBag(*logger);
        EXPECT_EQ(ILoggerBagKeys::level.Get(bag), EML_Assert);
        EXPECT_EQ(Text(ILoggerBagKeys::file_name.Get(bag)), c.name);
        EXPECT_EQ(ILoggerBagKeys::line_number.Get(bag), 42);
        EXPECT_EQ(Text(ILoggerBagKeys::message.Get(bag)), u"x > 0");
        // A gtest body is more than eight frames deep: eight are kept.
        VString crawl = ILoggerBagKeys::stack_crawl.Get(bag);
        std::vector<VString> frames;
        crawl.GetSubStrings(VString(" <- "), frames, true);
        EXPECT_EQ(frames.size(), 8u);
    }
    auto refusing = NewLogger(0xF0);
    refusing->LogAssertIfNecessary("x > 0", "c.cpp", 1);
    EXPECT_TRUE(refusing->All().empty());
}

TEST(ILoggerTest, AssertionMessageMayBeUTF8) {
    auto logger = NewLogger(0xFF);
    logger->LogAssertIfNecessary("caf\xC3\xA9", "c.cpp", 1);
    logger->LogAssertIfNecessary(nullptr, "c.cpp", 2);
    auto records = logger->All();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Text(ILoggerBagKeys::message.Get(*records[0].bag)), u"caf\u00E9");
    EXPECT_EQ(Text(ILoggerBagKeys::message.Get(*records[1].bag)), u"");
}

TEST(ILoggerTest, ErrorRecordsCarryTheErrorAndTheProcessSource) {
    struct Case {
        VError code;
        bool hasSignature;
    };
    const Case cases[] = {{MakeLibraryError(600), true}, {MakeVError(0, 5), false}};
    VString saved;
    GetLogSourceIdentifier(saved);
    SetLogSourceIdentifier(VString("Updater"));
    for (const Case& c : cases) {
        auto logger = NewLogger(0xF0);
        auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(c.code));
        error->SetDescription(VString("went wrong"));
        logger->LogErrorIfNecessary(error.Get());
        EXPECT_EQ(error->GetRefCount(), 1);
        const VValueBag& bag = OnlyBag(*logger);
        EXPECT_EQ(ILoggerBagKeys::level.Get(bag), EML_Error);
        EXPECT_TRUE(bag.AttributeExists(ILoggerBagKeys::level));
        EXPECT_EQ(ILoggerBagKeys::error_code.Get(bag), c.code);
        EXPECT_EQ(Text(ILoggerBagKeys::message.Get(bag)), u"went wrong");
        EXPECT_EQ(Text(ILoggerBagKeys::source.Get(bag)), u"Updater");
        EXPECT_EQ(bag.AttributeExists(ILoggerBagKeys::component_signature), c.hasSignature);
        if (c.hasSignature) {
            EXPECT_EQ(ILoggerBagKeys::component_signature.Get(bag), kComponentVela);
        }
        EXPECT_NE(bag.GetElements(ErrorBagKeys::parameters), nullptr);
        EXPECT_FALSE(bag.AttributeExists(ILoggerBagKeys::stack_crawl));
    }
    SetLogSourceIdentifier(saved);

    auto refusing = NewLogger(0x0F);
    auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase(MakeLibraryError(600)));
    refusing->LogErrorIfNecessary(error.Get());
    refusing->LogErrorIfNecessary(nullptr);
    EXPECT_TRUE(refusing->All().empty());
}

TEST(ILoggerTest, TheSourceIdentifierDefaultsToTheExecutableName) {
    VString identifier;
    GetLogSourceIdentifier(identifier);
    EXPECT_EQ(Text(identifier), u"core_tests");
}

TEST(ILoggerTest, RecordKeysAreNamedByTheirAttributes) {
    namespace K = ILoggerBagKeys;
    struct Case {
        const StPackedDictionaryKey* key;
        const char* name;
    };
    const Case cases[] = {{&K::message, "message"},
                          {&K::level, "level"},
                          {&K::source, "source"},
                          {&K::task_name, "task_name"},
                          {&K::file_name, "file_name"},
                          {&K::stack_crawl, "stack_crawl"},
                          {&K::line_number, "line_number"},
                          {&K::component_signature, "component_signature"},
                          {&K::elapsed_milliseconds, "elapsed_milliseconds"},
                          {&K::count_bytes_sent, "count_bytes_sent"},
                          {&K::count_bytes_received, "count_bytes_received"},
                          {&K::base_context_uuid, "base_context_uuid"},
                          {&K::error_code, "error_code"},
                          {&K::count_bytes_asked, "count_bytes_asked"},
                          {&K::socket, "socket"},
                          {&K::is_blocking, "is_blocking"},
                          {&K::is_ssl, "is_ssl"},
                          {&K::is_select_io, "is_select_io"},
                          {&K::payload, "payload"},
                          {&K::ms_timeout, "ms_timeout"},
                          {&K::ms_spent, "ms_spent"},
                          {&K::dump_offset, "dump_offset"},
                          {&K::dump_buffer, "dump_buffer"},
                          {&K::local_addr, "local_addr"},
                          {&K::peer_addr, "peer_addr"},
                          {&K::local_port, "local_port"},
                          {&K::peer_port, "peer_port"},
                          {&K::task_id, "task_id"},
                          {&K::exchange_id, "exchange_id"},
                          {&K::debug_context, "debug_context"},
                          {&K::jobId, "jobId"},
                          {&K::jobState, "jobState"},
                          {&K::pipe, "pipe"},
                          {&K::user_id, "user_id"},
                          {&K::stream_id, "stream_id"},
                          {&K::system_username, "system_username"},
                          {&K::hostname, "hostname"}};
    for (const Case& c : cases)
        EXPECT_TRUE(c.key->Equals(c.name, std::strlen(c.name))) << c.name;
    EXPECT_EQ(K::level.GetDefault(), EML_Information);
}
