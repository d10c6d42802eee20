#include "files/platform/XPosixVolumes.h"

#include "VolumesFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace vela {
namespace {

using test::U8;

std::string U8(const std::u16string& text) {
    VString v;
    v.FromUniString(text.data(), int32(text.size()));
    return U8(v);
}

TEST(XPosixMountInfoList, MountPointsAreTheFifthFieldWithEscapesDecoded) {
    const char* text = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
                       "35 22 0:30 / /mnt/my\\040disk rw - tmpfs tmpfs rw\n"
                       "36 22 0:31 / /mnt/tab\\011and\\134back rw - tmpfs tmpfs rw\n"
                       "37 22 0:32 / /mnt/not\\09 rw - tmpfs tmpfs rw\n"
                       "broken line\n"
                       "\n"
                       "38 22 0:33 / /mnt/last rw - tmpfs tmpfs rw";
    std::vector<std::string> points;
    XPosixMountInfoList::ParseMountInfo(text, points);
    EXPECT_EQ(points,
              (std::vector<std::string>{"/", "/mnt/my disk", "/mnt/tab\tand\\back", "/mnt/not\\09", "/mnt/last"}));
}

TEST(XPosixMountInfoList, TheRealListHoldsTheRoot) {
    XPosixMountInfoList list;
    std::vector<std::string> points;
    ASSERT_TRUE(list.ReadMountPoints(points));
    EXPECT_NE(std::find(points.begin(), points.end(), "/"), points.end());
    // Every line is read, however the kernel hands out the text: the same list as a stream's reading gives.
    std::ifstream file("/proc/self/mountinfo", std::ios::binary);
    ASSERT_TRUE(file);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> streamed;
    XPosixMountInfoList::ParseMountInfo(text, streamed);
    EXPECT_EQ(points, streamed);
}

TEST(XPosixVolumes, NamesComeFromTheLastElementAndAreMadeUnique) {
    auto named = XPosixVolumes::NameVolumes(
        {"/", "/media/usb", "/srv/usb", "/media/usb", "/mnt/a:b", "/mnt/Root", "/x/usb/", "/mnt/usb 2"});
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& [mount, name] : named)
        got.emplace_back(U8(mount), U8(name));
    EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{{"/", "Root"},
                                                                     {"/media/usb", "usb"},
                                                                     {"/srv/usb", "usb 2"},
                                                                     {"/mnt/a:b", "a/b"},
                                                                     {"/mnt/Root", "Root 2"},
                                                                     {"/x/usb/", "usb 3"},
                                                                     {"/mnt/usb 2", "usb 2 2"}}));
}

// Two mounts that would share a name each keep their own: a conversion never lands on the other volume.
TEST(XPosixVolumes, DuplicateNamesLeadBackToTheirOwnMount) {
    test::StFakeVolumes fake({"/", "/media/usb", "/srv/usb"});
    VString name;
    VString mount;
    ASSERT_TRUE(fake.Volumes().GetVolumeNameFromMountPath("/srv/usb", name));
    ASSERT_TRUE(fake.Volumes().GetMountPathFromVolumeName(name, mount));
    EXPECT_EQ(U8(mount), "/srv/usb");
    ASSERT_TRUE(fake.Volumes().GetVolumeNameFromMountPath("/media/usb", name));
    ASSERT_TRUE(fake.Volumes().GetMountPathFromVolumeName(name, mount));
    EXPECT_EQ(U8(mount), "/media/usb");
}

TEST(XPosixVolumes, NameLookupIsExact) {
    test::StFakeVolumes fake({"/", "/mnt/Data", "/mnt/Caf\xC3\xA9"});
    VString mount;
    EXPECT_TRUE(fake.Volumes().GetMountPathFromVolumeName(VString("Data"), mount));
    EXPECT_FALSE(fake.Volumes().GetMountPathFromVolumeName(VString("data"), mount));
    EXPECT_TRUE(fake.Volumes().GetMountPathFromVolumeName(VString("Caf\xC3\xA9"), mount));
    EXPECT_FALSE(fake.Volumes().GetMountPathFromVolumeName(VString("Cafe\xCC\x81"), mount));
    EXPECT_FALSE(fake.Volumes().GetMountPathFromVolumeName(VString("Gone"), mount));
    VString name;
    EXPECT_FALSE(fake.Volumes().GetVolumeNameFromMountPath("/mnt/data", name));
}

TEST(XPosixVolumes, TheListIsReadAgainOnlyAfterTwoSeconds) {
    test::StFakeVolumes fake({"/"});
    VString mount;
    test::sFakeNow = 5000;
    EXPECT_FALSE(fake.Volumes().GetMountPathFromVolumeName(VString("late"), mount));
    EXPECT_EQ(fake.List().Reads(), 1);

    fake.List().fPoints.push_back("/mnt/late");
    test::sFakeNow = 7000;
    EXPECT_FALSE(fake.Volumes().GetMountPathFromVolumeName(VString("late"), mount));
    EXPECT_EQ(fake.List().Reads(), 1);

    test::sFakeNow = 7001;
    EXPECT_TRUE(fake.Volumes().GetMountPathFromVolumeName(VString("late"), mount));
    EXPECT_EQ(U8(mount), "/mnt/late");
    EXPECT_EQ(fake.List().Reads(), 2);
}

TEST(XPosixVolumes, TheFirstLookupReadsTheListWhateverTheClock) {
    test::StFakeVolumes fake({"/", "/mnt/x"});
    test::sFakeNow = 0;
    VString name;
    EXPECT_TRUE(fake.Volumes().GetVolumeNameFromMountPath("/mnt/x", name));
    EXPECT_EQ(U8(name), "x");
}

TEST(XPosixVolumes, TheClockMayWrap) {
    test::StFakeVolumes fake({"/"});
    VString mount;
    test::sFakeNow = 0xFFFFFF00u;
    fake.Volumes().GetMountPathFromVolumeName(VString("Root"), mount);
    test::sFakeNow = 1000; // 1280 ms later
    fake.Volumes().GetMountPathFromVolumeName(VString("Root"), mount);
    EXPECT_EQ(fake.List().Reads(), 1);
    test::sFakeNow = 2000; // 2280 ms later
    fake.Volumes().GetMountPathFromVolumeName(VString("Root"), mount);
    EXPECT_EQ(fake.List().Reads(), 2);
}

TEST(XPosixVolumes, TheVolumeOfAPathIsItsLongestMount) {
    test::StFakeVolumes fake({"/", "/mnt", "/mnt/a", "/mnt/a/b"});
    struct Case {
        const char16_t* path;
        int32 length;
        const char* name;
    } const cases[] = {
        {u"/", 1, "Root"},       {u"/x", 1, "Root"},    {u"/mnt", 4, "mnt"},      {u"/mnt/ab", 4, "mnt"},
        {u"/mnt/a/x/y", 6, "a"}, {u"/mnt/a/b", 8, "b"}, {u"/mnt/a/b/c", 8, "b"},  {u"/mnt/a/", 6, "a"},
        {u"/mn", 1, "Root"},     {u"/mnta", 1, "Root"}, {u"/mnt/a/bc/d", 6, "a"}, {u"/mnt/a/b/", 8, "b"},
    };
    for (const auto& c : cases) {
        int32 length = 0;
        VString name;
        ASSERT_TRUE(fake.Volumes().FindVolumeOfPath(c.path, length, name)) << U8(std::u16string(c.path));
        EXPECT_EQ(length, c.length) << U8(std::u16string(c.path));
        EXPECT_EQ(U8(name), c.name) << U8(std::u16string(c.path));
    }
    int32 length = 0;
    VString name;
    EXPECT_FALSE(fake.Volumes().FindVolumeOfPath(u"relative", length, name));
}

TEST(XPosixVolumes, WithoutARootVolumeAPathOutsideTheMountsHasNone) {
    test::StFakeVolumes fake({"/mnt/a"});
    int32 length = 0;
    VString name;
    EXPECT_FALSE(fake.Volumes().FindVolumeOfPath(u"/mnt/b", length, name));
    EXPECT_TRUE(fake.Volumes().FindVolumeOfPath(u"/mnt/a/b", length, name));
    EXPECT_EQ(length, 6);
}

// Lookups read the table a reload replaces, with no lock: each one must see a whole table, old or new.
TEST(XPosixVolumes, LookupsStayRightWhileTheListIsReadAgain) {
    test::StFakeVolumes fake({"/", "/mnt/a", "/mnt/a/b"});
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                int32 length = 0;
                VString name;
                if (!fake.Volumes().FindVolumeOfPath(u"/mnt/a/b/c", length, name) || length != 8 || U8(name) != "b")
                    ++wrong;
                VString mount;
                if (!fake.Volumes().GetMountPathFromVolumeName(VString("a"), mount) || U8(mount) != "/mnt/a") ++wrong;
            }
        });
    }
    // Each step of the clock makes the next lookup read the list again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fake.List().Reads() < 50 && std::chrono::steady_clock::now() < deadline)
        test::sFakeNow += XPosixVolumes::kReloadIntervalMs + 1;
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_GE(fake.List().Reads(), 50);
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace vela
