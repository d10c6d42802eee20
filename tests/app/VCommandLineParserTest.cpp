#include "app/VCommandLineParser.h"

#include "core/StStringConverter.h"
#include "core/VString.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace vela;
using vela::Extension::CommandLineParser::Argument;
using vela::Private::CommandLineParser::WrapText;

namespace {

std::string UTF8(const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    return std::string(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
}

std::vector<VString> Args(const std::vector<std::string>& texts) {
    std::vector<VString> args;
    for (const std::string& text : texts)
        args.emplace_back(text.c_str(), text.size(), VTC_UTF_8);
    return args;
}

std::string Blanks(size_t n) {
    return std::string(n, ' ');
}

// The variables the test options bind, with their defaults.
struct Bound {
    int pid = -1;
    bool silent = false;
    bool verbose = false;
    VString logDir;
    unsigned int count = 0;
    std::vector<VString> free;
};

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

// Declares pid (-p, int), silent (flag), verbose (-v flag), log-dir (string), count (-n, unsigned) and, when
// asked, a receiver of free arguments; parses args with both standard streams captured.
Outcome ParseWith(const std::vector<std::string>& texts, Bound& bound, bool withFree = true) {
    std::vector<VString> args = Args(texts);
    VCommandLineParser parser(args);
    parser.AddOption(u'p', "pid", "Wait for the caller's pid", bound.pid);
    parser.AddFlag("silent", "Stay silent", bound.silent);
    parser.AddFlag(u'v', "verbose", "Say more", bound.verbose);
    parser.AddOption("log-dir", "Folder of the log files", bound.logDir);
    parser.AddOption(u'n', "count", "How many", bound.count);
    if (withFree) parser.AddRemainingArguments(bound.free);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Outcome outcome;
    outcome.code = parser.Parse();
    outcome.out = testing::internal::GetCapturedStdout();
    outcome.err = testing::internal::GetCapturedStderr();
    return outcome;
}

std::vector<std::string> FreeTexts(const Bound& bound) {
    std::vector<std::string> texts;
    for (const VString& text : bound.free)
        texts.push_back(UTF8(text));
    return texts;
}

} // namespace

TEST(VCommandLineParserTest, ParsesOptionsValuesAndFreeArguments) {
    struct Case {
        std::vector<std::string> args;
        int pid;
        bool silent;
        bool verbose;
        std::string logDir;
        std::vector<std::string> free;
    };
    const Case cases[] = {
        {{"prog"}, -1, false, false, "", {}},
        {{"prog", "--pid=42"}, 42, false, false, "", {}},
        {{"prog", "--pid", " 42\t"}, 42, false, false, "", {}},
        {{"prog", "-p", "7"}, 7, false, false, "", {}},
        {{"prog", "-vp", "7"}, 7, false, true, "", {}},
        // A value is the next argument that is not an option: options in between still count.
        {{"prog", "--pid", "--silent", "12"}, 12, true, false, "", {}},
        {{"prog", "--pid", "--", "5"}, 5, false, false, "", {}},
        {{"prog", "a", "--pid", "5", "b"}, 5, false, false, "", {"a", "b"}},
        {{"prog", "--", "-v", "--pid"}, -1, false, false, "", {"-v", "--pid"}},
        {{"prog", ""}, -1, false, false, "", {""}},
        {{"prog", "--log-dir=/tmp/a=b"}, -1, false, false, "/tmp/a=b", {}},
        {{"prog", "--log-dir", "/x", "--silent"}, -1, true, false, "/x", {}},
        {{"prog", "--pid=010"}, 8, false, false, "", {}},
        {{"prog", "--pid=-2147483648"}, INT_MIN, false, false, "", {}},
        {{"prog", "--pid=+2147483647"}, INT_MAX, false, false, "", {}},
        {{"prog", "-ApplePersistenceIgnoreState", "YES", "x"}, -1, false, false, "", {"x"}},
        {{"prog", "-NSDocumentRevisionsDebugMode"}, -1, false, false, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Bound bound;
        Outcome outcome = ParseWith(c.args, bound);
        EXPECT_EQ(outcome.code, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(bound.pid, c.pid);
        EXPECT_EQ(bound.silent, c.silent);
        EXPECT_EQ(bound.verbose, c.verbose);
        EXPECT_EQ(UTF8(bound.logDir), c.logDir);
        EXPECT_EQ(FreeTexts(bound), c.free);
    }
}

TEST(VCommandLineParserTest, RefusesWithOneLineOnStandardError) {
    const std::string longValue(100, '7');
    struct Case {
        std::vector<std::string> args;
        bool withFree;
        std::string err;
    };
    const Case cases[] = {
        // Out of the target's range: refused, never truncated (4294967297 would become 1).
        {{"prog", "--pid=4294967297"},
         true,
         "invalid value for argument '-p, --pid' got \"4294967297\" expected a signed integral\n"},
        {{"prog", "--pid=4294967295"},
         true,
         "invalid value for argument '-p, --pid' got \"4294967295\" expected a signed integral\n"},
        {{"prog", "--pid", "2147483648"},
         true,
         "invalid value for argument '-p, --pid' got \"2147483648\" expected a signed integral\n"},
        {{"prog", "--count=-1"},
         true,
         "invalid value for argument '-n, --count' got \"-1\" expected an unsigned integral\n"},
        {{"prog", "--count=4294967296"},
         true,
         "invalid value for argument '-n, --count' got \"4294967296\" expected an unsigned integral\n"},
        {{"prog", "--pid=0x10"},
         true,
         "invalid value for argument '-p, --pid' got \"0x10\" expected a signed integral\n"},
        {{"prog", "--pid=08"}, true, "invalid value for argument '-p, --pid' got \"08\" expected a signed integral\n"},
        {{"prog", "--pid=1-2"},
         true,
         "invalid value for argument '-p, --pid' got \"1-2\" expected a signed integral\n"},
        {{"prog", "--pid=" + std::string(31, '1')},
         true,
         "invalid value for argument '-p, --pid' got \"" + std::string(31, '1') + "\" expected a signed integral\n"},
        {{"prog", "--pid="},
         true,
         "invalid value for argument '-p, --pid' got empty value expected a signed integral\n"},
        {{"prog", "--pid=" + longValue},
         true,
         "invalid value for argument '-p, --pid' got \"" + longValue.substr(0, 80) +
             "...\" expected a signed integral\n"},
        {{"prog", "--silent=1"}, true, "error: a value for option `silent` is not required\n"},
        {{"prog", "--help=1"}, true, "error: invalid value for option  `help`\n"},
        {{"prog", "--bogus"}, true, "error: unknown option `bogus`\n"},
        {{"prog", "--bogus=3"}, true, "error: unknown option `bogus`\n"},
        {{"prog", "-vx"}, true, "error: unknown option `x`\n"},
        {{"prog", "-"}, true, "error: missing short option `-`\n"},
        {{"prog", "--log-dir"}, true, "error: missing value for option --log-dir\n"},
        {{"prog", "--pid", "--silent"}, true, "error: missing value for option -p, --pid\n"},
        {{"prog", "-p"}, true, "error: missing value for option -p, --pid\n"},
        {{"prog", "file"}, false, "error: unknown option `file`\n"},
        {{"prog", "--", "-x"}, false, "error: unknown option `-x`\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Bound bound;
        Outcome outcome = ParseWith(c.args, bound, c.withFree);
        EXPECT_EQ(outcome.code, 1);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(bound.pid, -1);
    }
}

TEST(VCommandLineParserTest, StopsAtTheFirstRefusalKeepingEarlierValues) {
    Bound bound;
    Outcome outcome = ParseWith({"prog", "--log-dir=/a", "--pid=abc", "--silent"}, bound);
    EXPECT_EQ(outcome.code, 1);
    EXPECT_EQ(UTF8(bound.logDir), "/a");
    EXPECT_FALSE(bound.silent);
}

TEST(VCommandLineParserTest, HelpRequestsPrintTheUsageAndAnswerTwo) {
    for (const char* request : {"--help", "-h", "-?", "-vh"}) {
        SCOPED_TRACE(request);
        Bound bound;
        Outcome outcome = ParseWith({"./prog", request, "--bogus"}, bound);
        EXPECT_EQ(outcome.code, 2);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out.rfind("Usage: ./prog [OPTION]... [FILE]...\n\n", 0), 0u) << outcome.out;
    }
}

TEST(VCommandLineParserTest, HelpTextLaysOutEveryKindOfEntry) {
    std::vector<VString> args = Args({"prog", "x"});
    VCommandLineParser parser(args);
    int pid = 0;
    bool silent = false;
    bool verbose = false;
    VString longOne;
    unsigned int count = 0;
    std::vector<VString> free;
    parser.AddParagraph("\nTool\n\tdoes things\n");
    parser.AddOption(u'p', "pid", "Wait for the caller's pid", pid);
    parser.AddFlag("silent", "ensure that no message is displayed in case of error. Errors are still logged though",
                   silent);
    parser.AddOption("a-very-long-option-nm", "Help here", longOne);
    parser.AddFlag(u'v', "", "Verbose", verbose);
    parser.AddOption(u'n', "", "Count", count);
    parser.AddParagraph("");
    parser.AddRemainingArguments(free);

    std::string expected = "Usage: prog [OPTION]... [FILE]...\n"
                           "\nTool\ndoes things\n\n"
                           "  -p, --pid=VALUE" +
                           Blanks(12) + "Wait for the caller's pid\n" + Blanks(6) + "--silent" + Blanks(15) +
                           "ensure that no message is displayed in case of\n" + Blanks(29) +
                           "error. Errors are still logged though\n" + Blanks(6) + "--a-very-long-option-nm=VALUE\n" +
                           Blanks(29) + "Help here\n" + "  -v" + Blanks(20) + "Verbose\n" + "  -n VALUE" + Blanks(14) +
                           "Count\n" + "  -h, --help" + Blanks(17) + "Display the help and exit\n";
    EXPECT_EQ(UTF8(parser.GetOptionsInfos().BuildHelpUsage("prog", false)), expected);
}

TEST(VCommandLineParserTest, AutomaticHelpLeavesATakenShortNameAlone) {
    std::vector<VString> args = Args({"prog", "x"});
    VCommandLineParser parser(args);
    bool hidden = false;
    parser.AddFlag(u'h', "hidden", "Hide", hidden);
    std::string expected = "Usage: prog [OPTION]...\n\n"
                           "  -h, --hidden" +
                           Blanks(15) + "Hide\n" + Blanks(6) + "--help" + Blanks(17) + "Display the help and exit\n";
    EXPECT_EQ(UTF8(parser.GetOptionsInfos().BuildHelpUsage("prog", false)), expected);
}

TEST(VCommandLineParserTest, WrapsAtBreaksWithoutLosingCharacters) {
    struct Case {
        const char* text;
        int32 limit;
        const char* indent;
        const char* wrapped;
    };
    const Case cases[] = {
        {"short", 10, "", "short"},
        {"aaa bbb ccc ddd", 5, "", "aaa\nbbb\nccc ddd"},
        // A word longer than the limit right after an embedded line feed is cut at its own end.
        {"ab\ncdefghij kl", 5, "", "ab\ncdefghij\nkl"},
        {"one two three four", 9, "  ", "one two\n  three four"},
        {"ab.cd ef", 3, "", "ab\ncd ef"},
        {"abcdefgh ij", 3, "", "abcdefgh\nij"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(UTF8(WrapText(c.text, c.limit, c.indent)), c.wrapped);
    }
}

TEST(VCommandLineParserTest, ExportsDeclarationsAsJSONAndManPage) {
    std::vector<VString> args = Args({"prog", "a\"b"});
    VCommandLineParser parser(args);
    int pid = 0;
    bool verbose = false;
    parser.AddParagraph("Intro");
    parser.AddOption(u'p', "pid", "The \"pid\"", pid);
    parser.AddFlag(u'v', "", "Verbose\tmode", verbose);
    parser.AddParagraph("Help:\n");

    VString json;
    parser.ExportAsJSON(&json);
    EXPECT_EQ(UTF8(json), "{\n"
                          "\t\"arguments\": {\n"
                          "\t\t\"count\": 2,\n"
                          "\t\t\"values\": [\n"
                          "\t\t\t\"prog\",\n"
                          "\t\t\t\"a\\\"b\"\n"
                          "\t\t]\n"
                          "\t},\n"
                          "\t\"options\": {\n"
                          "\t\t\"count\": 4,\n"
                          "\t\t\"values\": [\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"paragraph\": \"Intro\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"shortName\": \"p\",\n"
                          "\t\t\t\t\"longName\": \"pid\",\n"
                          "\t\t\t\t\"requiresValue\": true,\n"
                          "\t\t\t\t\"description\": \"The \\\"pid\\\"\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"shortName\": \"v\",\n"
                          "\t\t\t\t\"description\": \"Verbose\\tmode\"\n"
                          "\t\t\t},\n"
                          "\t\t\t{\n"
                          "\t\t\t\t\"paragraph\": \"Help:\\n\"\n"
                          "\t\t\t}\n"
                          "\t\t]\n"
                          "\t}\n"
                          "}\n");

    VString man;
    parser.ExportAsManPage(&man);
    EXPECT_EQ(UTF8(man), ".SH OPTIONS\n"
                         ".TP\n.BR \\-p \", \" \\-\\-pid=\\fIVALUE\\fR\nThe \"pid\"\n"
                         ".TP\n.BR \\-v\nVerbosemode\n"
                         ".SS \"Help:\"\n");
}

TEST(VCommandLineParserTest, DeclaresNothingWithoutArguments) {
    std::vector<VString> args = Args({"prog"});
    VCommandLineParser parser(args);
    int pid = 3;
    parser.AddOption("pid", "Pid", pid);
    VString json;
    parser.ExportAsJSON(&json);
    EXPECT_NE(UTF8(json).find("\"count\": 0,"), std::string::npos);
    EXPECT_EQ(parser.Parse(), 0);
    EXPECT_EQ(pid, 3);
}

TEST(VCommandLineParserTest, ConvertsIntegersWithinTheirRange) {
    int i = 5;
    EXPECT_TRUE(Argument<int>::Append(i, " -17 "));
    EXPECT_EQ(i, -17);
    EXPECT_FALSE(Argument<int>::Append(i, "-2147483649"));
    EXPECT_FALSE(Argument<int>::Append(i, ""));
    EXPECT_FALSE(Argument<int>::Append(i, "  "));
    EXPECT_TRUE(Argument<int>::Append(i, std::string(28, '0').append("42").c_str()));
    EXPECT_EQ(i, 34);
    unsigned int u = 5;
    EXPECT_TRUE(Argument<unsigned int>::Append(u, "4294967295"));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_TRUE(Argument<unsigned int>::Append(u, "-0"));
    EXPECT_EQ(u, 0u);
    long long ll = 0;
    EXPECT_TRUE(Argument<long long>::Append(ll, "-9223372036854775808"));
    EXPECT_EQ(ll, LLONG_MIN);
    EXPECT_FALSE(Argument<long long>::Append(ll, "9223372036854775808"));
    unsigned long long ull = 0;
    EXPECT_TRUE(Argument<unsigned long long>::Append(ull, "18446744073709551615"));
    EXPECT_EQ(ull, ULLONG_MAX);
    EXPECT_FALSE(Argument<unsigned long long>::Append(ull, "18446744073709551616"));
    EXPECT_FALSE(Argument<unsigned long long>::Append(ull, "-1"));
    EXPECT_EQ(ull, ULLONG_MAX);
}

TEST(VCommandLineParserTest, ConvertsBooleansAndJSONValuesByTheirType) {
    struct BoolCase {
        const char* text;
        bool accepted;
        bool value;
    };
    for (const BoolCase& c : {BoolCase{"1", true, true}, BoolCase{"TRUE", true, true}, BoolCase{"false", true, false},
                              BoolCase{"0", true, false}, BoolCase{"yes", false, true}, BoolCase{"", false, true}}) {
        SCOPED_TRACE(c.text);
        bool target = true;
        EXPECT_EQ(Argument<bool>::Append(target, c.text), c.accepted);
        EXPECT_EQ(target, c.value);
    }
    VJSONValue flag(JSON_false);
    EXPECT_TRUE(Argument<VJSONValue>::Append(flag, "on"));
    EXPECT_EQ(flag.GetType(), JSON_true);
    EXPECT_FALSE(Argument<VJSONValue>::Append(flag, "maybe"));
    VJSONValue text(JSON_string);
    EXPECT_TRUE(Argument<VJSONValue>::Append(text, "{not json"));
    EXPECT_TRUE(text.IsString());
    VJSONValue object(JSON_undefined);
    EXPECT_TRUE(Argument<VJSONValue>::Append(object, "{\"a\": 1}"));
    EXPECT_TRUE(object.IsObject());
    EXPECT_FALSE(Argument<VJSONValue>::Append(object, "{\"a\": "));
    VJSONValue number(JSON_number);
    EXPECT_FALSE(Argument<VJSONValue>::Append(number, "1"));
}

TEST(VCommandLineParserTest, ResolvesPathsAndMarksFolders) {
    char folder[] = "/tmp/velaclpXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    VFilePath path;
    ASSERT_TRUE(Argument<VFilePath>::Append(path, VString(folder) + VString("/./")));
    EXPECT_EQ(UTF8(path.GetPath(FPS_POSIX)), std::string(folder) + "/");
    ASSERT_TRUE(Argument<VFilePath>::Append(path, "/no/such/thing"));
    EXPECT_EQ(UTF8(path.GetPath(FPS_POSIX)), "/no/such/thing");
    ASSERT_TRUE(Argument<VFilePath>::Append(path, ""));
    EXPECT_TRUE(path.GetPath().IsEmpty());
    rmdir(folder);
}

// A folder of files to name, made the working directory for the scope: "file", "sub/", a link "link" to the
// file, a link "dangling" to nothing, "folderlink" to sub.
class VCommandLineParserPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/velaclpXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        char* real = realpath(pattern, nullptr);
        ASSERT_NE(real, nullptr);
        fFolder = real;
        free(real);
        std::filesystem::create_directory(fFolder + "/sub");
        std::ofstream(fFolder + "/file") << "x";
        std::filesystem::create_symlink("file", fFolder + "/link");
        std::filesystem::create_symlink("nowhere", fFolder + "/dangling");
        std::filesystem::create_directory_symlink("sub", fFolder + "/folderlink");
        char* cwd = getcwd(nullptr, 0);
        ASSERT_NE(cwd, nullptr);
        fPrevious = cwd;
        free(cwd);
        ASSERT_EQ(chdir(fFolder.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(chdir(fPrevious.c_str()), 0);
        std::filesystem::remove_all(fFolder);
    }

    std::string fFolder;
    std::string fPrevious;
};

TEST_F(VCommandLineParserPathTest, RelativePathsAreTakenFromTheWorkingDirectory) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"file", fFolder + "/file"},
        {"./sub", fFolder + "/sub/"},
        // Nothing there: still from the working directory, never a volume name.
        {"logs/today", fFolder + "/logs/today"},
        {"./logs/", fFolder + "/logs/"},
        {"/abs/missing", "/abs/missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        VFilePath path;
        ASSERT_TRUE(Argument<VFilePath>::Append(path, VString(c.text.c_str())));
        EXPECT_EQ(UTF8(path.GetPath(FPS_POSIX)), c.expected);
    }
    EXPECT_EQ(UTF8(Extension::CommandLineParser::AbsolutePathText(VString("./a/b"))), fFolder + "/a/b");
    EXPECT_EQ(UTF8(Extension::CommandLineParser::AbsolutePathText(VString("/x"))), "/x");
    EXPECT_EQ(UTF8(Extension::CommandLineParser::AbsolutePathText(VString())), "");
}

TEST_F(VCommandLineParserPathTest, FileAndFolderArgumentsNameWhatExists) {
    struct Case {
        std::string text;
        std::string file;   // the file taken, "" when refused
        std::string folder; // the folder taken, "" when refused
    };
    const Case cases[] = {
        {"file", fFolder + "/file", ""},
        {fFolder + "/file", fFolder + "/file", ""},
        {"link", fFolder + "/file", ""},
        {"sub", "", fFolder + "/sub/"},
        {"folderlink/", "", fFolder + "/sub/"},
        {"dangling", "", ""},
        {"missing", "", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // A refusal drops what the target held.
        auto file = VRefPtr<VFile>::Adopt(new VFile(VFilePath(VString("/before"), FPS_POSIX)));
        EXPECT_EQ(Argument<VRefPtr<VFile>>::Append(file, VString(c.text.c_str())), !c.file.empty());
        EXPECT_EQ(file.Get() == nullptr ? "" : UTF8(file->GetPath().GetPath(FPS_POSIX)), c.file);
        auto folder = VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(VString("/before/"), FPS_POSIX)));
        EXPECT_EQ(Argument<VRefPtr<VFolder>>::Append(folder, VString(c.text.c_str())), !c.folder.empty());
        EXPECT_EQ(folder.Get() == nullptr ? "" : UTF8(folder->GetPath().GetPath(FPS_POSIX)), c.folder);
    }
}

TEST_F(VCommandLineParserPathTest, AnOptionBoundToAFolderRefusesAPathWithoutOne) {
    for (const char* value : {"sub", "file"}) {
        SCOPED_TRACE(value);
        const std::vector<VString> args = Args({"tool", std::string("--dir=") + value});
        VCommandLineParser parser(args);
        VRefPtr<VFolder> folder;
        parser.AddOption("dir", "a folder", folder);
        const bool isFolder = std::string(value) == "sub";
        EXPECT_EQ(parser.Parse(), isFolder ? 0 : 1);
        EXPECT_EQ(folder.Get() != nullptr, isFolder);
    }
}
