#include "app/VLog4jMsgFileLogger.h"

#include "app/VLogger.h"
#include "core/ILoggerBagKeys.h"
#include "core/StStringConverter.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "files/VFolder.h"
#include "support/TaskTestSupport.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vela;

namespace {

std::string UTF8(const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    return std::string(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
}

// A fresh folder under /tmp, removed with its files at the end.
class StTempFolder {
public:
    StTempFolder() {
        char pattern[] = "/tmp/velalogXXXXXX";
        fPath = mkdtemp(pattern) != nullptr ? pattern : "";
    }
    ~StTempFolder() {
        if (!fPath.empty()) std::system(("rm -rf '" + fPath + "'").c_str());
    }
    StTempFolder(const StTempFolder&) = delete;
    StTempFolder& operator=(const StTempFolder&) = delete;

    // The path of a file inside, or of the folder itself.
    std::string File(const std::string& name = "") const { return fPath + "/" + name; }
    VFilePath Folder(const std::string& sub = "") const { return VFilePath(VString(File(sub).c_str()), FPS_POSIX); }

private:
    std::string fPath;
};

bool FileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

int64 FileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? int64(info.st_size) : -1;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(Contents(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Installs a started process logger and a log source for the test's length.
class VLog4jMsgFileLoggerTest : public test::TaskTest {
protected:
    void SetUp() override {
        test::TaskTest::SetUp();
        fLogger = VRefPtr<VLogger>::Adopt(new VLogger);
        fLogger->Start();
        fPrevious = SetProcessLogger(fLogger.Get());
        GetLogSourceIdentifier(fPreviousSource);
        SetLogSourceIdentifier("tool");
    }
    void TearDown() override {
        SetProcessLogger(fPrevious);
        SetLogSourceIdentifier(fPreviousSource);
    }

    StTempFolder fTemp;
    VRefPtr<VLogger> fLogger;
    ILogger* fPrevious = nullptr;
    VString fPreviousSource;
};

VRefPtr<VValueBag> NewBag(const char* message) {
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (message != nullptr) ILoggerBagKeys::message.Set(*bag, VString(message));
    return bag;
}

constexpr uint32 kUpdater = 0x55505A6F; // 'UPZo'
constexpr uint32 kLibrary = 0x76656C61; // 'vela'

} // namespace

TEST_F(VLog4jMsgFileLoggerTest, StartContinuesTheLastFileOfTheUnbrokenRun) {
    struct Case {
        std::vector<int> existing;
        int expected;
    };
    const Case cases[] = {{{}, 1}, {{1, 2}, 2}, {{2}, 1}, {{1, 2, 4}, 2}};
    int round = 0;
    for (const Case& c : cases) {
        std::string name = "log" + std::to_string(++round);
        for (int n : c.existing)
            WriteFile(fTemp.File(name + "_" + std::to_string(n) + ".txt"), "old\n");
        VLog4jMsgFileLogger writer(fTemp.Folder(), VString(name.c_str()));
        writer.Start();
        ASSERT_TRUE(writer.IsStarted());
        EXPECT_EQ(writer.GetLogNumber(), c.expected) << name;
        fLogger->LogMessage(EML_Information, "", "new");
        writer.Stop();
        std::string file = fTemp.File(name + "_" + std::to_string(c.expected) + ".txt");
        std::vector<std::string> lines = Lines(file);
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_NE(lines.back().find("[tool] INFO - new ()"), std::string::npos) << name;
        bool continued = std::find(c.existing.begin(), c.existing.end(), c.expected) != c.existing.end();
        EXPECT_EQ(lines.size(), continued ? 2u : 1u) << name;
    }
}

TEST_F(VLog4jMsgFileLoggerTest, WritesEveryRecordAsOneLineInOrder) {
    VLog4jMsgFileLogger writer(fTemp.Folder("logs/deeper/"), "run");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    fLogger->LogMessage(EML_Information, "", "first");
    fLogger->LogMessage(EML_Error, "net", "second\nline");
    fLogger->LogMessage(EML_Debug, "", "not written: below info");
    fLogger->LogMessage(EML_Warning, "", "third");
    writer.Stop();
    EXPECT_FALSE(writer.IsStarted());

    std::vector<std::string> lines = Lines(fTemp.File("logs/deeper/run_1.txt"));
    ASSERT_EQ(lines.size(), 4u);
    const std::regex line(R"((\d+) \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} (.*))");
    const char* rests[] = {"[tool] INFO - first ()", "[net] ERROR - second", "line ()", "[tool] WARN - third ()"};
    unsigned long long previous = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        if (i == 2) {
            EXPECT_EQ(lines[i], rests[i]);
            continue;
        }
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, line));
        EXPECT_EQ(match[2].str(), rests[i]);
        unsigned long long sequence = std::stoull(match[1].str());
        EXPECT_GT(sequence, previous);
        previous = sequence;
    }
}

// One batch mixing the plain ASCII records with records that are not (past the first block of units, in the
// source, in the extras): its lines come in the records' order, numbered one after the other, with one time.
TEST_F(VLog4jMsgFileLoggerTest, ABatchIsNumberedInOrderAcrossBothRecordPaths) {
    VLog4jMsgFileLogger writer(fTemp.Folder("logs/"), "run");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    // Held back until the records are all there: the logger's task must not deliver them in two batches.
    fLogger->DisableFlush();
    const std::string longASCII = "a message longer than two blocks of sixteen units each";
    fLogger->LogMessage(EML_Information, "src", longASCII.c_str());
    VString accented(longASCII.c_str());
    accented.AppendUniChar(u'\u00E9');
    fLogger->LogMessage(EML_Warning, "src", accented);
    fLogger->LogMessage(EML_Information, VString(u"s\u00F6urce"), "plain");
    VRefPtr<VValueBag> extra = NewBag("with extra");
    extra->SetString("task_name", VString(u"t\u00E2che"));
    fLogger->LogBag(extra.Get());
    fLogger->LogMessage(EML_Error, "src", "last");
    fLogger->EnableFlush();
    writer.Stop();

    std::vector<std::string> lines = Lines(fTemp.File("logs/run_1.txt"));
    ASSERT_EQ(lines.size(), 5u);
    const std::regex line(R"((\d+) (\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}) (.*))");
    const std::string rests[] = {"[src] INFO - " + longASCII + " ()", "[src] WARN - " + longASCII + "\xC3\xA9 ()",
                                 "[s\xC3\xB6urce] INFO - plain ()",
                                 "[tool] INFO - with extra (taskName=t\xC3\xA2"
                                 "che)",
                                 "[src] ERROR - last ()"};
    unsigned long long first = 0;
    std::string time;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, line));
        EXPECT_EQ(match[3].str(), rests[i]);
        if (i == 0) {
            first = std::stoull(match[1].str());
            time = match[2].str();
        }
        EXPECT_EQ(std::stoull(match[1].str()), first + i);
        EXPECT_EQ(match[2].str(), time);
    }
}

TEST_F(VLog4jMsgFileLoggerTest, AMessageEndingInALoneHighSurrogateIsWrittenWhole) {
    VLog4jMsgFileLogger writer(fTemp.Folder("logs/"), "run");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    const char16_t units[] = u"caf\u00E9 cut\xD800";
    VString message;
    message.FromUniString(units, int32(std::size(units) - 1));
    writer.Log(VString("s"), EML_Information, message);
    writer.Stop();
    std::vector<std::string> lines = Lines(fTemp.File("logs/run_1.txt"));
    ASSERT_EQ(lines.size(), 1u);
    const std::string end = "[s] INFO - caf\xC3\xA9 cut\xED\xA0\x80";
    ASSERT_GE(lines[0].size(), end.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - end.size()), end);
}

TEST_F(VLog4jMsgFileLoggerTest, FormatsSourceLevelMessageAndExtras) {
    struct Case {
        const char* name;
        VRefPtr<VValueBag> bag;
        std::string source;
        EMessageLevel level;
        std::string message;
    };
    std::vector<Case> cases;
    {
        auto bag = NewBag("hello");
        ILoggerBagKeys::component_signature.Set(*bag, kUpdater);
        cases.push_back({"signature", bag, "tool.UPZo", EML_Information, "hello ()"});
    }
    {
        auto bag = NewBag("boom");
        ILoggerBagKeys::error_code.Set(*bag, (uint64(kLibrary) << 32) | 600u);
        ILoggerBagKeys::level.Set(*bag, EML_Error);
        ILoggerBagKeys::source.Set(*bag, VString("app"));
        ILoggerBagKeys::task_id.Set(*bag, 5);
        ILoggerBagKeys::task_name.Set(*bag, VString("Main"));
        cases.push_back({"error code", bag, "app.vela", EML_Error, "[600] boom (task=5, taskName=Main)"});
    }
    {
        auto bag = NewBag("neg");
        ILoggerBagKeys::error_code.Set(*bag, (uint64(kLibrary) << 32) | uint32(-3));
        ILoggerBagKeys::component_signature.Set(*bag, 0u);
        cases.push_back({"present zero signature", bag, "tool", EML_Information, "[-3] neg ()"});
    }
    {
        auto bag = NewBag("a\nb");
        ILoggerBagKeys::dump_buffer.Set(*bag, VString("x\ny\nz"));
        bag->SetAttribute(StPackedDictionaryKey("color"), VString("red"));
        ILoggerBagKeys::source.Set(*bag, VString(""));
        cases.push_back({"extras", bag, "", EML_Information, "a\nb (data=x ; y ; z, color=red)"});
    }
    cases.push_back({"empty", NewBag(nullptr), "tool", EML_Information, " ()"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VString source;
        VString message;
        EMessageLevel level = EML_Dump;
        VLog4jMsgFileLogger::GetLogInfosFromBag(c.bag.Get(), source, level, message);
        EXPECT_EQ(UTF8(source), c.source);
        EXPECT_EQ(level, c.level);
        EXPECT_EQ(UTF8(message), c.message);
    }
}

// Each line the writer makes from a record says what GetLogInfosFromBag reads in it, whichever way the line is
// made (plain ASCII records, texts in other scripts, error codes, signatures, extras, a text stored as a number,
// the process's identifier standing in for a missing source).
TEST_F(VLog4jMsgFileLoggerTest, LinesSayWhatTheRecordsHold) {
    std::vector<VRefPtr<VValueBag>> bags;
    auto add = [&](const char* message, const char* source) {
        auto bag = NewBag(message);
        if (source != nullptr) ILoggerBagKeys::source.Set(*bag, VString(source, std::strlen(source), VTC_UTF_8));
        bags.push_back(bag);
        return bag;
    };
    add("plain", "src");
    add("caf\xC3\xA9 \xF0\x9F\x98\x80", "src");
    add("plain", "\xC3\xA9t\xC3\xA9");
    add("no source", nullptr);
    {
        auto bag = add("boom", "app");
        ILoggerBagKeys::error_code.Set(*bag, (uint64(kLibrary) << 32) | 600u);
        ILoggerBagKeys::level.Set(*bag, EML_Error);
    }
    {
        auto bag = add("coded", "app");
        ILoggerBagKeys::error_code.Set(*bag, 42u);
        const char* name = "T\xC3\xA2"
                           "che";
        ILoggerBagKeys::task_name.Set(*bag, VString(name, std::strlen(name), VTC_UTF_8));
        ILoggerBagKeys::level.Set(*bag, EML_Warning);
    }
    {
        auto bag = add("signed", "src");
        ILoggerBagKeys::component_signature.Set(*bag, kUpdater);
    }
    {
        auto bag = add("with extras", "src");
        ILoggerBagKeys::dump_buffer.Set(*bag, VString("x\ny"));
        ILoggerBagKeys::line_number.Set(*bag, 12);
    }
    {
        auto bag = add(nullptr, "src");
        bag->SetLong(StPackedDictionaryKey("message"), 1234);
    }
    {
        auto bag = add("", "");
        ILoggerBagKeys::level.Set(*bag, EML_Fatal);
    }

    VLog4jMsgFileLogger writer(fTemp.Folder(), "lines");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    for (const auto& bag : bags)
        fLogger->LogBag(bag.Get());
    writer.Stop();

    std::string expected;
    for (const auto& bag : bags) {
        VString source;
        VString message;
        EMessageLevel level = EML_Dump;
        VLog4jMsgFileLogger::GetLogInfosFromBag(bag.Get(), source, level, message);
        expected +=
            "[" + UTF8(source) + "] " + VLog4jMsgFileLogger::GetMessageLevelName(level) + " - " + UTF8(message) + "\n";
    }
    // Without the sequence number and time that start each line.
    const std::regex start(R"(\d+ \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} )");
    const std::string written = std::regex_replace(Contents(fTemp.File("lines_1.txt")), start, "");
    EXPECT_EQ(written, expected);
}

// Lines go out a batch at a time, yet each file ends with the first line that takes it past the bound, as
// when lines are written one by one: also when a batch starts on a file already past it.
TEST_F(VLog4jMsgFileLoggerTest, BatchesRollOverBetweenTheSameLinesAsSingleLines) {
    VLog4jMsgFileLogger writer(fTemp.Folder(), "big");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    constexpr int kRecords = 80;
    for (int i = 0; i < kRecords; ++i) {
        VString message(std::string(size_t(250000 + 997 * i), char('a' + i % 26)).c_str());
        message.AppendLong(i);
        fLogger->LogMessage(EML_Information, "big", message);
        if (i == kRecords / 2) fLogger->Flush(); // the second batch starts where the first left the file
    }
    writer.Stop();

    int lines = 0;
    for (int number = 1;; ++number) {
        const std::string path = fTemp.File("big_" + std::to_string(number) + ".txt");
        const int64 size = FileSize(path);
        if (size < 0) break;
        SCOPED_TRACE(path);
        const std::vector<std::string> fileLines = Lines(path);
        ASSERT_FALSE(fileLines.empty());
        const int64 last = int64(fileLines.back().size()) + 1;
        EXPECT_LE(size - last, VSplitableLogFile::kMaxFileSize) << "a line was written past the bound";
        if (FileSize(fTemp.File("big_" + std::to_string(number + 1) + ".txt")) >= 0) {
            EXPECT_GT(size, VSplitableLogFile::kMaxFileSize) << "rolled over before the bound";
        }
        for (const std::string& line : fileLines) {
            const std::string end = std::to_string(lines) + " ()";
            EXPECT_EQ(line.substr(line.size() - end.size()), end);
            ++lines;
        }
    }
    EXPECT_EQ(lines, kRecords);
}

TEST_F(VLog4jMsgFileLoggerTest, LevelNamesClampOutsideTheTable) {
    const std::pair<int32, const char*> cases[] = {
        {INT_MIN, "DUMP"}, {-1, "DUMP"}, {0, "DUMP"},  {1, "TRACE"}, {2, "ASSERT"}, {3, "DEBUG"},      {4, "INFO"},
        {5, "WARN"},       {6, "ERROR"}, {7, "FATAL"}, {8, "INFO"},  {9, "INFO"},   {INT_MAX, "INFO"},
    };
    for (const auto& [level, name] : cases)
        EXPECT_STREQ(VLog4jMsgFileLogger::GetMessageLevelName(EMessageLevel(level)), name) << level;
}

TEST_F(VLog4jMsgFileLoggerTest, PausedRecordsAreDroppedAndLevelsOutsideTheMaskNeverWritten) {
    VLog4jMsgFileLogger writer(fTemp.Folder(), "p");
    writer.Start(1);
    writer.Pause();
    writer.Log("s", EML_Error, "dropped");
    writer.Resume();
    writer.Log("s", EMessageLevel(-1), "negative");
    writer.Log("s", EMessageLevel(40), "beyond");
    writer.Log("s", EML_Fatal, "kept");
    writer.Stop();
    std::vector<std::string> lines = Lines(fTemp.File("p_1.txt"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("[s] FATAL - kept"), std::string::npos);
}

TEST_F(VLog4jMsgFileLoggerTest, AFolderObjectNamesTheFolderMadeOnStart) {
    auto folder = VRefPtr<VFolder>::Adopt(new VFolder(fTemp.Folder("made/here/")));
    VLog4jMsgFileLogger writer(folder.Get(), "f");
    writer.Start();
    ASSERT_TRUE(writer.IsStarted());
    writer.Stop();
    EXPECT_TRUE(FileExists(fTemp.File("made/here/f_1.txt")));
    VLog4jMsgFileLogger none(static_cast<const VFolder*>(nullptr), "f");
    none.Start();
    EXPECT_FALSE(none.IsStarted());
}

TEST_F(VLog4jMsgFileLoggerTest, DoesNotStartWithoutAProcessLoggerFolderOrName) {
    VLog4jMsgFileLogger noName(fTemp.Folder(), "");
    noName.Start();
    EXPECT_FALSE(noName.IsStarted());
    VLog4jMsgFileLogger noFolder(VFilePath(), "x");
    noFolder.Start(1);
    EXPECT_FALSE(noFolder.IsStarted());
    SetProcessLogger(nullptr);
    VLog4jMsgFileLogger noLogger(fTemp.Folder(), "x");
    noLogger.Start(1);
    EXPECT_FALSE(noLogger.IsStarted());
    EXPECT_EQ(noLogger.GetLogMaxNumberToKeep(), 0);
}

// Forwards to a real logger and tells when a listener removal has begun.
class ObservedLogger : public ILogger {
public:
    explicit ObservedLogger(VLogger& logger) : fLogger(logger) {}
    std::atomic<bool> fRemoving{false};

    void Start() override { fLogger.Start(); }
    void Stop() override { fLogger.Stop(); }
    void EnableFlush() override { fLogger.EnableFlush(); }
    void DisableFlush() override { fLogger.DisableFlush(); }
    bool IsStarted() const override { return fLogger.IsStarted(); }
    bool ShouldLog(EMessageLevel level) const override { return fLogger.ShouldLog(level); }
    void LogBag(const VValueBag* bag) override { fLogger.LogBag(bag); }
    void LogMessage(EMessageLevel level, const VString& source, const VString& message) override {
        fLogger.LogMessage(level, source, message);
    }
    void Flush() override { fLogger.Flush(); }
    bool WithTrace(bool on) override { return fLogger.WithTrace(on); }
    bool WithDump(bool on) override { return fLogger.WithDump(on); }
    bool WithDebug(bool on) override { return fLogger.WithDebug(on); }
    bool WithWarning(bool on) override { return fLogger.WithWarning(on); }
    bool WithError(bool on) override { return fLogger.WithError(on); }
    bool WithFatal(bool on) override { return fLogger.WithFatal(on); }
    bool WithAssert(bool on) override { return fLogger.WithAssert(on); }
    bool WithInfo(bool on) override { return fLogger.WithInfo(on); }
    bool AddLogListener(ILogListener* listener) override { return fLogger.AddLogListener(listener); }
    bool RemoveLogListener(ILogListener* listener) override {
        fRemoving.store(true);
        return fLogger.RemoveLogListener(listener);
    }

private:
    VLogger& fLogger;
};

// Holds up the first batch it is handed (inside the process logger's flush, so under its listener lock) until
// release() answers true.
class GateListener : public ILogListener {
public:
    std::function<bool()> fRelease;
    std::atomic<bool> fEntered{false};
    std::atomic<bool> fReleased{false};

    void Put(const std::vector<const VValueBag*>&) override {
        if (fEntered.exchange(true)) return;
        fReleased.store(test::WaitUntil(fRelease));
    }
};

TEST_F(VLog4jMsgFileLoggerTest, StopWhileTheLoggerTaskIsWritingDoesNotDeadlock) {
    auto observed = VRefPtr<ObservedLogger>::Adopt(new ObservedLogger(*fLogger));
    SetProcessLogger(observed.Get());
    VLog4jMsgFileLogger writer(fTemp.Folder(), "busy");
    writer.Start(1);
    ASSERT_TRUE(writer.IsStarted());
    // Registered last, so handed each batch first: the flush that reaches the writer waits here until Stop
    // has begun removing the writer's listener.
    auto gate = VRefPtr<GateListener>::Adopt(new GateListener);
    gate->fRelease = [&] { return observed->fRemoving.load(); };
    ASSERT_TRUE(fLogger->AddLogListener(gate.Get()));

    fLogger->LogMessage(EML_Information, "", "in flight");
    ASSERT_TRUE(test::WaitUntil([&] { return gate->fEntered.load(); }));
    std::atomic<bool> stopped{false};
    VRefPtr<VTask> stopper = test::StartTask([&] {
        writer.Stop();
        stopped.store(true);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return stopped.load(); })) << "Stop and the flush wait for each other";
    EXPECT_TRUE(gate->fReleased.load());
    EXPECT_FALSE(writer.IsStarted());
    fLogger->RemoveLogListener(gate.Get());
    std::vector<std::string> lines = Lines(fTemp.File("busy_1.txt"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("INFO - in flight ()"), std::string::npos);
}

TEST(VSplitableLogFileTest, RollsOverPastTheBoundToTheNextNumber) {
    StTempFolder temp;
    VSplitableLogFile file(temp.Folder(), "r", 1, false);
    ASSERT_TRUE(file.Open(false, false));
    const std::string bound(size_t(VSplitableLogFile::kMaxFileSize), 'a');
    file.AppendString(bound.c_str());
    EXPECT_EQ(file.CheckLogSize(), 0) << "a file of exactly the bound is not full";
    file.AppendString("b");
    EXPECT_EQ(file.GetLogNumber(), 1);
    file.AppendString("c");
    EXPECT_EQ(file.GetLogNumber(), 2);
    file.Close();
    EXPECT_EQ(FileSize(temp.File("r_1.txt")), VSplitableLogFile::kMaxFileSize + 1);
    EXPECT_EQ(Contents(temp.File("r_2.txt")), "c");
}

TEST(VSplitableLogFileTest, ARecordLongerThanTheBoundStaysWholeInOneFile) {
    StTempFolder temp;
    VSplitableLogFile file(temp.Folder(), "big", 1, false);
    ASSERT_TRUE(file.Open(false, false));
    const std::string record(size_t(VSplitableLogFile::kMaxFileSize) * 11 / 10, 'r');
    file.AppendString(record.c_str());
    file.AppendString("next");
    file.Close();
    EXPECT_EQ(FileSize(temp.File("big_1.txt")), int64(record.size()));
    EXPECT_EQ(Contents(temp.File("big_2.txt")), "next");
}

TEST(VSplitableLogFileTest, RolloverDeletesTheFileBeyondTheKeepCount) {
    StTempFolder temp;
    VSplitableLogFile file(temp.Folder(), "k", 1, false);
    file.SetMaxLogsToKeep(2);
    ASSERT_TRUE(file.Open(false, false));
    const std::string full(size_t(VSplitableLogFile::kMaxFileSize) + 1, 'f');
    file.AppendString(full.c_str());
    file.AppendString("2");
    EXPECT_TRUE(FileExists(temp.File("k_1.txt")));
    file.AppendString(full.c_str());
    file.AppendString("3");
    file.Close();
    EXPECT_FALSE(FileExists(temp.File("k_1.txt")));
    EXPECT_TRUE(FileExists(temp.File("k_2.txt")));
    EXPECT_EQ(Contents(temp.File("k_3.txt")), "3");
}

TEST(VSplitableLogFileTest, NamesAndFindsFreeNumbers) {
    VString name;
    VSplitableLogFile::BuildLogFileName("2026-01-02_03-04-05_log", 12, name);
    EXPECT_EQ(UTF8(name), "2026-01-02_03-04-05_log_12.txt");
    VSplitableLogFile::BuildLogFileNameWithExt("a", 3, ".log", name);
    EXPECT_EQ(UTF8(name), "a_3.log");

    StTempFolder temp;
    WriteFile(temp.File("f_1.txt"), "1");
    WriteFile(temp.File("f_2.txt"), "2");
    VSplitableLogFile file(temp.Folder(), "f", 1, false);
    ASSERT_TRUE(file.Open(false, true));
    EXPECT_EQ(file.GetLogNumber(), 3);
    // Appending to an existing file keeps it; overwriting truncates it.
    file.Close();
    ASSERT_TRUE(file.Open(1, false));
    file.AppendString("+");
    file.Close();
    EXPECT_EQ(Contents(temp.File("f_1.txt")), "1+");
    ASSERT_TRUE(file.Open(2, true));
    file.Close();
    EXPECT_EQ(Contents(temp.File("f_2.txt")), "");
}
