// The heap watch marks for huge pages what the heap grew by, whole pages only, and nothing it had before.

#include "core/platform/XPosixHeapGrowth.h"

#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace vela {
namespace {

// The flags of the mapping that holds address, as /proc/self/smaps shows them; empty when none holds it.
std::string MappingFlags(uintptr_t address) {
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::istringstream header(line);
        uintptr_t start = 0;
        uintptr_t end = 0;
        char dash = 0;
        if (header >> std::hex >> start >> dash >> end && dash == '-') {
            inside = address >= start && address < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line + " ";
        }
    }
    return "";
}

bool MarkedForHugePages(uintptr_t address) {
    return MappingFlags(address).find(" hg ") != std::string::npos;
}

// A region of address space, never touched, that stands for the heap.
class XPosixHeapGrowthTest : public ::testing::Test {
protected:
    static constexpr size_t kSize = size_t(16) << 20;

    void SetUp() override {
        fPage = uintptr_t(sysconf(_SC_PAGESIZE));
        void* region = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(region, MAP_FAILED);
        fBase = reinterpret_cast<uintptr_t>(region);
        if (madvise(region, fPage, MADV_HUGEPAGE) != 0) GTEST_SKIP() << "no transparent huge pages here";
        ASSERT_EQ(madvise(region, fPage, MADV_NOHUGEPAGE), 0);
        ASSERT_FALSE(MarkedForHugePages(fBase));
    }
    void TearDown() override {
        if (fBase != 0) munmap(reinterpret_cast<void*>(fBase), kSize);
    }

    uintptr_t fBase = 0;
    uintptr_t fPage = 0;
};

TEST_F(XPosixHeapGrowthTest, MarksWhatEachGrowthAddsAndNothingBelow) {
    const uintptr_t mib = uintptr_t(1) << 20;
    XPosixHeapGrowth watch(fBase + 4 * mib);
    watch.Advance(fBase + 8 * mib);
    EXPECT_EQ(watch.GetMarkedEnd(), fBase + 8 * mib);
    watch.Advance(fBase + 10 * mib);
    for (uintptr_t offset : {4 * mib, 8 * mib - 1, 8 * mib, 10 * mib - 1})
        EXPECT_TRUE(MarkedForHugePages(fBase + offset)) << offset;
    for (uintptr_t offset : {uintptr_t(0), 4 * mib - 1, 10 * mib})
        EXPECT_FALSE(MarkedForHugePages(fBase + offset)) << offset;
}

TEST_F(XPosixHeapGrowthTest, AfterAShrinkTheNextGrowthIsMarkedFromTheNewEnd) {
    const uintptr_t mib = uintptr_t(1) << 20;
    XPosixHeapGrowth watch(fBase + 8 * mib);
    watch.Advance(fBase + 4 * mib);
    EXPECT_EQ(watch.GetMarkedEnd(), fBase + 4 * mib);
    EXPECT_FALSE(MarkedForHugePages(fBase + 4 * mib));
    watch.Advance(fBase + 6 * mib);
    EXPECT_TRUE(MarkedForHugePages(fBase + 4 * mib));
    EXPECT_TRUE(MarkedForHugePages(fBase + 6 * mib - 1));
    EXPECT_FALSE(MarkedForHugePages(fBase + 6 * mib));
}

TEST_F(XPosixHeapGrowthTest, PagesTheGrowthOnlyPartlyCoversStayUnmarked) {
    XPosixHeapGrowth watch(fBase + fPage / 2);
    watch.Advance(fBase + 3 * fPage + 10);
    EXPECT_FALSE(MarkedForHugePages(fBase));
    EXPECT_TRUE(MarkedForHugePages(fBase + fPage));
    EXPECT_TRUE(MarkedForHugePages(fBase + 3 * fPage - 1));
    EXPECT_FALSE(MarkedForHugePages(fBase + 3 * fPage));
}

} // namespace
} // namespace vela
