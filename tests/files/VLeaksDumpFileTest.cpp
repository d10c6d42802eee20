#include "core/VCppMemMgr.h"

#include "files/VFileStream.h"
#include "support/FileTestSupport.h"

namespace vela {
namespace {

class VLeaksDumpFileTest : public test::TempFolderFixture {};

TEST_F(VLeaksDumpFileTest, TheReportGoesBesideTheBundleAndReplacesAnOldOne) {
    WriteBytes(Posix("Zo Updater.test.leaks"), std::string(500, 'o'));
    VLeaksChecker checker;
    std::unique_ptr<VFileStream> report(checker.OpenDumpFileOfBundle(Posix("Zo Updater.app"), "test"));
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->PutData("the end\n", 8), VE_OK);
    // Deleting the stream writes what it holds.
    report.reset();
    const std::string text = ReadBytes(Posix("Zo Updater.test.leaks"));
    const size_t firstLine = text.find('\n');
    ASSERT_NE(firstLine, std::string::npos);
    EXPECT_EQ(text.substr(firstLine + 1), "No memory leaks.\nthe end\n");
}

TEST_F(VLeaksDumpFileTest, NoReportWhereNoneCanBeWritten) {
    VLeaksChecker checker;
    EXPECT_EQ(checker.OpenDumpFileOfBundle("", "test"), nullptr);
    StErrorContextInstaller errors(false, true);
    StPosixFault denied("open", EACCES);
    EXPECT_EQ(checker.OpenDumpFileOfBundle(Posix("X.app"), "test"), nullptr);
    EXPECT_TRUE(Codes(errors).empty());
    EXPECT_FALSE(Present(Posix("X.test.leaks")));
}

} // namespace
} // namespace vela
