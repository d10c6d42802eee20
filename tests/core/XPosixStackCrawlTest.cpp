#include "core/platform/XPosixStackCrawl.h"

#include "core/VString.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace vela;

namespace {

void* Address(uintptr_t value) {
    return reinterpret_cast<void*>(value);
}

XPosixStackCrawl CrawlOf(std::vector<uintptr_t> values) {
    std::vector<void*> addresses;
    for (uintptr_t value : values)
        addresses.push_back(Address(value));
    XPosixStackCrawl crawl;
    crawl.SetFrames(addresses.data(), int32(addresses.size()), 0, XPosixStackCrawl::kMaxFrames);
    return crawl;
}

std::string ToUTF8(const VString& text) {
    std::string bytes(size_t(text.GetLength()) * 3 + 4, '\0');
    bytes.resize(text.ToBlock(bytes.data(), bytes.size(), VTC_UTF_8, false, false));
    return bytes;
}

__attribute__((noinline)) void Capture(XPosixStackCrawl& crawl) {
    crawl.LoadFrames(0, 8);
    asm volatile(""); // keeps the call from becoming a tail call
}

} // namespace

TEST(XPosixStackCrawlTest, NewCrawlIsEmptyAndDumpsNothing) {
    XPosixStackCrawl crawl;
    EXPECT_EQ(crawl.GetCount(), 0);
    VString text("kept");
    crawl.Dump(text);
    EXPECT_EQ(ToUTF8(text), "kept");
    char buffer[64] = {};
    FILE* file = fmemopen(buffer, sizeof(buffer), "w");
    ASSERT_NE(file, nullptr);
    crawl.Dump(file);
    EXPECT_EQ(std::ftell(file), 0);
    std::fclose(file);
}

TEST(XPosixStackCrawlTest, SkipAndMaxSelectTheFramesKept) {
    struct Case {
        int32 depth;
        uint32 skip;
        uint32 max;
        int32 expected;
    };
    const Case cases[] = {
        {5, 4, 8, 1},
        {4, 4, 8, 0},
        {3, 4, 8, 0},
        {20, 2, 8, 8},
        {10, 0, 3, 3},
        {0, 0, 8, 0},
        // Beyond the 48 slots the request is capped instead of overrunning the array.
        {58, 0, 100, 48},
        {58, 5, 0xFFFFFFFFu, 48},
        // A negative skip from a setting wraps to a huge count: nothing is kept.
        {58, uint32(-1), 8, 0},
    };
    std::vector<void*> addresses;
    for (uintptr_t i = 0; i < 58; ++i)
        addresses.push_back(Address(0x1000 + i));
    for (const Case& c : cases) {
        XPosixStackCrawl crawl;
        crawl.SetFrames(addresses.data(), c.depth, c.skip, c.max);
        EXPECT_EQ(crawl.GetCount(), c.expected) << "depth " << c.depth << " skip " << c.skip << " max " << c.max;
        if (c.expected > 0) {
            EXPECT_EQ(crawl.GetFrame(0), addresses[c.skip]);
        }
    }
}

TEST(XPosixStackCrawlTest, OrdersByCountThenFrames) {
    EXPECT_TRUE(CrawlOf({1, 5}) < CrawlOf({2, 3}));
    EXPECT_FALSE(CrawlOf({2, 3}) < CrawlOf({1, 5}));
    EXPECT_FALSE(CrawlOf({2, 3}) < CrawlOf({2, 3}));
    EXPECT_TRUE(CrawlOf({9}) < CrawlOf({1, 1}));
    // Addresses compare unsigned.
    EXPECT_TRUE(CrawlOf({1}) < CrawlOf({~uintptr_t(0)}));
}

TEST(XPosixStackCrawlTest, LoadFramesCapturesTheCaller) {
    XPosixStackCrawl crawl;
    Capture(crawl);
    ASSERT_GT(crawl.GetCount(), 1);
    EXPECT_LE(crawl.GetCount(), 8);
    XPosixStackCrawl skipped;
    skipped.LoadFrames(1000, 8);
    EXPECT_EQ(skipped.GetCount(), 0);
}

TEST(XPosixStackCrawlTest, DumpsOneNumberedLinePerFrame) {
    XPosixStackCrawl crawl;
    Capture(crawl);
    ASSERT_GE(crawl.GetCount(), 2);
    VString text;
    crawl.Dump(text);
    std::string dump = ToUTF8(text);
    size_t lines = 0;
    for (char c : dump)
        lines += c == '\n';
    EXPECT_EQ(lines, size_t(crawl.GetCount()));
    // Numbers count down: the first stored frame carries count - 1.
    std::string first = "   {" + std::to_string(crawl.GetCount() - 1) + "} 0x";
    EXPECT_EQ(dump.rfind(first, 0), 0u) << dump;
    EXPECT_NE(dump.find("   {0} 0x"), std::string::npos);
    // The innermost frame is the capture itself, named after demangling.
    EXPECT_NE(dump.find("vela::XPosixStackCrawl::LoadFrames("), std::string::npos) << dump;

    char buffer[8192] = {};
    FILE* file = fmemopen(buffer, sizeof(buffer) - 1, "w");
    ASSERT_NE(file, nullptr);
    crawl.Dump(file);
    std::fclose(file);
    std::string lines2(buffer);
    EXPECT_EQ(lines2.rfind("  :: frame " + std::to_string(crawl.GetCount() - 1) + ": ", 0), 0u) << lines2;
}

TEST(XPosixStackCrawlTest, FramesWithoutSymbolShowInline) {
    XPosixStackCrawl crawl = CrawlOf({0x10});
    VString text;
    crawl.Dump(text);
    EXPECT_EQ(ToUTF8(text), "   {0} 0x0010 - <inline>\n");
}
