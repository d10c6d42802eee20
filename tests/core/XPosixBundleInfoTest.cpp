#include "core/platform/XPosixBundleInfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace vela {
namespace {

using Dictionary = XPosixBundleInfo::Dictionary;

TEST(XPosixBundleInfo, BundlePathOfExecutable) {
    struct Case {
        const char* executable;
        const char* bundle;
    };
    const Case cases[] = {
        {"/Applications/Zo.app/Contents/MacOS/Zo", "/Applications/Zo.app"},
        {"/a/b c/X.app/Contents/MacOS/x", "/a/b c/X.app"},
        {"X.app/Contents/MacOS/x", "X.app"},
        {"/usr/bin/updater", ""},
        {"updater", ""},
        {"", ""},
        {"/Contents/MacOS/x", ""},
        {"/a/X.app/Contents/MacOSX/x", ""},
        {"/a/X.app/Contents/MacOS/sub/x", ""},
        {"/a/X.app/contents/macos/x", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.executable);
        EXPECT_EQ(XPosixBundleInfo::BundlePathOfExecutable(c.executable), c.bundle);
    }
}

TEST(XPosixBundleInfo, ParsesStringsBooleansAndIntegers) {
    const std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>MemoryAllocator</key>
	<string>vela</string>
	<key>CFBundleShortVersionString</key>
	<string>2.4.1</string>
	<key>LSUIElement</key>
	<true/>
	<key>NSHighResolutionCapable</key>
	<false />
	<key>Build</key>
	<integer>-42</integer>
	<key>Empty</key>
	<string/>
	<key>AlsoEmpty</key>
	<string></string>
</dict>
</plist>
)";
    std::optional<Dictionary> info = XPosixBundleInfo::ParseInfoPlist(text);
    ASSERT_TRUE(info.has_value());
    const Dictionary expected = {
        {"MemoryAllocator", "vela"},
        {"CFBundleShortVersionString", "2.4.1"},
        {"LSUIElement", "true"},
        {"NSHighResolutionCapable", "false"},
        {"Build", "-42"},
        {"Empty", ""},
        {"AlsoEmpty", ""},
    };
    EXPECT_EQ(*info, expected);
}

TEST(XPosixBundleInfo, SkipsNestedAndOtherValues) {
    const std::string text = R"(<plist version="1.0"><dict>
<key>UTExportedTypeDeclarations</key>
<array>
  <dict>
    <key>UTTypeIdentifier</key><string>com.example.zolink</string>
    <key>UTTypeConformsTo</key><array><string>public.data</string><array/></array>
  </dict>
</array>
<key>Nested</key><dict><key>Inner</key><dict><key>Deep</key><true/></dict></dict>
<key>EmptyDict</key><dict/>
<key>Ratio</key><real>1.5</real>
<key>When</key><date>2024-01-01T00:00:00Z</date>
<key>Blob</key><data>AAEC</data>
<key>After</key><string>kept</string>
</dict></plist>)";
    std::optional<Dictionary> info = XPosixBundleInfo::ParseInfoPlist(text);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (Dictionary{{"After", "kept"}}));
}

TEST(XPosixBundleInfo, DecodesEntities) {
    const std::string text = "<plist><dict><key>A&amp;B</key><string>&lt;x&gt; &quot;y&quot; &apos;z&apos; "
                             "&amp;lt; &unknown; &</string></dict></plist>";
    std::optional<Dictionary> info = XPosixBundleInfo::ParseInfoPlist(text);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (Dictionary{{"A&B", "<x> \"y\" 'z' &lt; &unknown; &"}}));
}

TEST(XPosixBundleInfo, IgnoresComments) {
    const std::string text = "<plist><!-- <dict><key>Fake</key><string>no</string></dict> -->"
                             "<dict><!-- a <key>note</key> --><key>Real</key><!----><string>yes</string></dict>"
                             "</plist>";
    std::optional<Dictionary> info = XPosixBundleInfo::ParseInfoPlist(text);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (Dictionary{{"Real", "yes"}}));
}

TEST(XPosixBundleInfo, AnEmptyTopDictionary) {
    for (const char* text : {"<plist><dict></dict></plist>", "<plist><dict/></plist>", "<plist><dict /></plist>"}) {
        SCOPED_TRACE(text);
        std::optional<Dictionary> info = XPosixBundleInfo::ParseInfoPlist(text);
        ASSERT_TRUE(info.has_value());
        EXPECT_TRUE(info->empty());
    }
}

TEST(XPosixBundleInfo, RejectsBrokenText) {
    const char* cases[] = {
        "",
        "not a property list",
        "<plist></plist>",
        "<plist><dict><key>A</key><string>x</string>",                                  // no end of dict
        "<plist><dict><key>A</key><string>x</dict></plist>",                            // unterminated string
        "<plist><dict><key>A</key></dict></plist>",                                     // key without value
        "<plist><dict><key>A</key><string>x</string><string>y</string></dict></plist>", // value without key
        "<plist><dict><key>A</key><array><string>x</string></dict></plist>",            // unbalanced array
        "<plist><dict><key>A",                                                          // cut in a key
        "<plist><dict><!-- <key>A</key><string>x</string></dict></plist>",              // unterminated comment
        "<plist><dict><key>A</key><string>x</string></dict",                            // cut in a tag
        "< />",                                                                         // nameless tags
        "<>",
        "<plist>< /><dict/></plist>",
        "<plist><dict><key>A</key>< /></dict></plist>",
        "<plist><dict><key>A</key><array>< /></array></dict></plist>",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(XPosixBundleInfo::ParseInfoPlist(text).has_value());
    }
}

class XPosixBundleInfoFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "bundleinfoXXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        fFolder = pattern;
    }
    void TearDown() override {
        std::remove((fFolder + "/Info.plist").c_str());
        rmdir(fFolder.c_str());
    }
    std::string fFolder;
};

TEST_F(XPosixBundleInfoFile, ReadsAFile) {
    std::string path = fFolder + "/Info.plist";
    {
        std::ofstream file(path, std::ios::binary);
        file << "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n"
                "\t<key>MemoryAllocator</key>\n\t<string>STDLIB</string>\n"
                "\t<key>Count</key>\n\t<integer>3</integer>\n</dict>\n</plist>\n";
    }
    std::optional<Dictionary> info = XPosixBundleInfo::ReadInfoPlist(path);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(*info, (Dictionary{{"MemoryAllocator", "STDLIB"}, {"Count", "3"}}));
}

TEST_F(XPosixBundleInfoFile, MissingOrBrokenFile) {
    EXPECT_FALSE(XPosixBundleInfo::ReadInfoPlist(fFolder + "/Info.plist").has_value());
    EXPECT_FALSE(XPosixBundleInfo::ReadInfoPlist(fFolder).has_value()); // a folder
    {
        std::ofstream file(fFolder + "/Info.plist", std::ios::binary);
        file << "<plist><dict><key>A</key>";
    }
    EXPECT_FALSE(XPosixBundleInfo::ReadInfoPlist(fFolder + "/Info.plist").has_value());
}

TEST(XPosixBundleInfo, TheTestExecutableIsNotInABundle) {
    EXPECT_EQ(XPosixBundleInfo::MainBundlePath(), "");
    EXPECT_FALSE(XPosixBundleInfo::GetMainBundleValue("MemoryAllocator").has_value());
}

} // namespace
} // namespace vela
