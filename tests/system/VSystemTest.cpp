#include "system/VSystem.h"

#include "core/VString.h"
#include "support/StEnvironment.h"
#include "system/platform/XPosixSystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {
namespace {

std::string ToUtf8(const VString& text) {
    std::string out(size_t(text.GetLength()) * 3 + 1, '\0');
    out.resize(text.ToBlock(out.data(), out.size(), VTC_UTF_8, false, false));
    return out;
}

// One reading of the millisecond clock on each side of a tick reading, so that the tick lies between them.
struct ClockReading {
    uint32 msBefore;
    uint64 ticks;
    uint32 msAfter;
};

ClockReading ReadClocks() {
    ClockReading reading;
    reading.msBefore = VSystem::GetCurrentTime();
    reading.ticks = VSystem::GetCurrentTicks();
    reading.msAfter = VSystem::GetCurrentTime();
    return reading;
}

TEST(VSystemClocks, MonotonicAndInAgreement) {
    constexpr uint32 kSpanMs = 250;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);

    const ClockReading start = ReadClocks();
    ClockReading previous = start;
    ClockReading now = start;
    // Spins until the millisecond clock has moved on by the span (bounded by the test's own deadline). The
    // difference is signed: the start's second reading may already be a millisecond past the first.
    while (int32(now.msBefore - start.msAfter) < int32(kSpanMs)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the millisecond clock does not advance";
        now = ReadClocks();
        ASSERT_LE(uint32(previous.msAfter - start.msBefore), uint32(now.msBefore - start.msBefore))
            << "milliseconds went back";
        ASSERT_LE(previous.ticks, now.ticks) << "ticks went back";
        previous = now;
    }

    // 60 ticks a second: the ticks that passed match the milliseconds that passed, give or take the
    // truncation of both clocks (one tick is 16.7 ms).
    const double ticksAsMs = double(now.ticks - start.ticks) * 1000.0 / 60.0;
    const double shortest = double(uint32(now.msBefore - start.msAfter));
    const double longest = double(uint32(now.msAfter - start.msBefore));
    EXPECT_GE(ticksAsMs, shortest - 18.0);
    EXPECT_LE(ticksAsMs, longest + 18.0);
}

TEST(VSystemClocks, DeltaTicksIsAnAbsoluteDifference) {
    uint32 now = uint32(VSystem::GetCurrentTicks());
    EXPECT_LE(VSystem::GetCurrentDeltaTicks(now), 60u);
    uint32 earlier = now - 1000;
    uint32 delta = VSystem::GetCurrentDeltaTicks(earlier);
    EXPECT_GE(delta, 1000u);
    EXPECT_LE(delta, 1060u);
    uint32 later = now + 1000;
    delta = VSystem::GetCurrentDeltaTicks(later);
    EXPECT_LE(delta, 1000u);
    EXPECT_GE(delta, 940u);
}

TEST(VSystemClocks, ProfilingCounter) {
    EXPECT_EQ(VSystem::GetProfilingFrequency(), 1000000000u);
    int64 counter = 0;
    int64 answered = VSystem::GetProfilingCounter(counter);
    EXPECT_EQ(answered, counter);
    EXPECT_GT(counter, 0);
    int64 later = 0;
    VSystem::GetProfilingCounter(later);
    EXPECT_GE(later, counter);
}

TEST(VSystemProcessors, AtLeastOneLogicalProcessor) {
    EXPECT_GE(VSystem::GetNumberOfLogicalProcessors(), 1);
}

TEST(VSystemMemory, PageSizeIsAPowerOfTwo) {
    size_t page = VSystem::GetVMPageSize();
    EXPECT_GE(page, 4096u);
    EXPECT_EQ(page & (page - 1), 0u);
}

TEST(VSystemMemory, RoundUpVMPageSize) {
    const size_t page = VSystem::GetVMPageSize();
    struct Case {
        size_t size;
        size_t rounded;
    };
    const Case cases[] = {
        {0, 0},
        {1, page},
        {page - 1, page},
        {page, page},
        {page + 1, 2 * page},
        {10 * page, 10 * page},
        {SIZE_MAX - page + 1, SIZE_MAX - page + 1}, // the last whole page
        {SIZE_MAX, 0},                              // cannot be rounded up: no size rather than a wrapped one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(VSystem::RoundUpVMPageSize(c.size), c.rounded);
    }
}

TEST(VSystemMemory, VirtualAllocGivesZeroFilledWritablePages) {
    const size_t page = VSystem::GetVMPageSize();
    const size_t size = 3 * page + 1; // rounded up to four pages
    auto* pages = static_cast<unsigned char*>(VSystem::VirtualAlloc(size, nullptr));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pages) % page, 0u);
    for (size_t i = 0; i < 4 * page; ++i)
        ASSERT_EQ(pages[i], 0) << "byte " << i;
    std::memset(pages, 0x5A, 4 * page);
    EXPECT_EQ(pages[4 * page - 1], 0x5A);
    EXPECT_EQ(VSystem::VirtualFree(pages, size, false), 0);
}

TEST(VSystemMemory, VirtualAllocOfNothingFails) {
    EXPECT_EQ(VSystem::VirtualAlloc(0, nullptr), nullptr);
}

TEST(VSystemMemory, VirtualAllocAtATakenAddressFailsAndLeavesThePagesAlone) {
    const size_t page = VSystem::GetVMPageSize();
    auto* taken = static_cast<unsigned char*>(VSystem::VirtualAlloc(2 * page, nullptr));
    ASSERT_NE(taken, nullptr);
    std::memset(taken, 0x77, 2 * page);

    EXPECT_EQ(VSystem::VirtualAlloc(page, taken), nullptr);
    EXPECT_EQ(VSystem::VirtualAlloc(page, taken + page), nullptr);
    bool physical = true;
    EXPECT_EQ(VSystem::VirtualAllocPhysicalMemory(page, taken, &physical), nullptr);
    EXPECT_FALSE(physical);

    for (size_t i = 0; i < 2 * page; ++i)
        ASSERT_EQ(taken[i], 0x77) << "byte " << i << " was replaced";
    EXPECT_EQ(VSystem::VirtualFree(taken, 2 * page, false), 0);
}

TEST(VSystemMemory, VirtualAllocAtAFreeAddress) {
    const size_t page = VSystem::GetVMPageSize();
    void* probe = VSystem::VirtualAlloc(page, nullptr);
    ASSERT_NE(probe, nullptr);
    ASSERT_EQ(VSystem::VirtualFree(probe, page, false), 0);

    bool physical = false;
    void* again = VSystem::VirtualAllocPhysicalMemory(page, probe, &physical);
    ASSERT_EQ(again, probe);
    EXPECT_TRUE(physical);
    EXPECT_EQ(VSystem::VirtualFree(again, page, false), 0);
}

TEST(VSystemMemory, VirtualFreeAnswersTheSystemError) {
    EXPECT_EQ(VSystem::VirtualFree(nullptr, 4096, false), 0);
    const size_t page = VSystem::GetVMPageSize();
    auto* pages = static_cast<unsigned char*>(VSystem::VirtualAlloc(page, nullptr));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(VSystem::VirtualFree(pages + 1, page, false), EINVAL); // not on a page boundary
    EXPECT_EQ(VSystem::VirtualFree(pages, page, false), 0);
}

TEST(VSystemSymbols, DemangleSymbol) {
    struct Case {
        const char* symbol;
        const char* text;
    };
    const Case cases[] = {
        {"_ZN4vela7VStringC1Ev", "vela::VString::VString()"},
        {"_ZN4vela7VSystem14GetCurrentTimeEv", "vela::VSystem::GetCurrentTime()"},
        {"main", "main"},
        {"not a symbol", "not a symbol"},
        {"_Z", "_Z"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.symbol);
        VString out("previous");
        VSystem::DemangleSymbol(c.symbol, out);
        EXPECT_EQ(ToUtf8(out), c.text);
    }
    VString out("previous");
    VSystem::DemangleSymbol(nullptr, out);
    EXPECT_EQ(ToUtf8(out), "");
}

TEST(VSystemInterface, DoubleClickTicksFromTheSettingsText) {
    const std::pair<const char*, uint32> cases[] = {
        {"400\n", 24},
        {"uint32 250\n", 15},
        {"int32 500", 30},
        {"1000", 60},
        // Not above 0, not a number, or more than a number: the usual half second.
        {"0\n", 30},
        {"-5\n", 30},
        {"", 30},
        {"abc\n", 30},
        {"400 ms\n", 30},
        {"99999999999999999999999\n", 30},
    };
    for (const auto& [printed, ticks] : cases)
        EXPECT_EQ(XPosixSystem::DoubleClickTicksFromSetting(printed), ticks) << printed;
}

TEST(VSystemInterface, DoubleClickTicksComeFromGSettingsOnThePath) {
    char pattern[] = "/tmp/vela-gsettings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string answer = folder + "/answer";
    {
        std::ofstream script(folder + "/gsettings");
        // Answers only the one question, with what the test put in the answer file.
        script << "#!/bin/sh\n[ \"$*\" = \"get org.gnome.desktop.peripherals.mouse double-click\" ] || exit 2\n"
               << "cat '" << answer << "' || exit 1\n";
    }
    ASSERT_EQ(chmod((folder + "/gsettings").c_str(), 0700), 0);
    {
        test::StEnvironment path("PATH", folder + ":/usr/bin:/bin");
        std::ofstream(answer) << "250\n";
        EXPECT_EQ(VSystem::GetDoubleClicTicks(), 15u);
        // A failing program (here: no answer to print) leaves the default.
        unlink(answer.c_str());
        EXPECT_EQ(VSystem::GetDoubleClicTicks(), 30u);
    }
    {
        test::StEnvironment path("PATH", folder + "/none");
        EXPECT_EQ(VSystem::GetDoubleClicTicks(), 30u);
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace vela
