// Arbitrary arguments (the bytes cut at each zero byte, read as UTF-8) through the command-line parser, against
// options of every kind it declares: never crashes, never reads out of bounds, and answers 0, 1 or 2. Arguments it
// accepted, written back as "--name=value" for each option, then "--" and the free arguments, parse again to the
// same values. What the parser prints goes to /dev/null: a crash while it prints is reported by running the target
// on the input it kept.
#include "app/VCommandLineParser.h"
#include "core/CharSet.h"
#include "core/VString.h"
#include "files/VFilePath.h"
#include "json/VJSONValue.h"

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vela;

struct Targets {
    int fInt = 0;
    unsigned int fUnsigned = 0;
    long long fLong = 0;
    unsigned long long fULong = 0;
    VString fText;
    std::vector<VString> fList;
    VFilePath fPath;
    VJSONValue fJSON;
    bool fFlag = false;
    std::vector<VString> fFree;

    bool operator==(const Targets& other) const {
        auto same = [](const std::vector<VString>& a, const std::vector<VString>& b) {
            if (a.size() != b.size()) return false;
            for (size_t i = 0; i < a.size(); ++i)
                if (!a[i].EqualToStringRaw(b[i])) return false;
            return true;
        };
        return fInt == other.fInt && fUnsigned == other.fUnsigned && fLong == other.fLong && fULong == other.fULong &&
               fText.EqualToStringRaw(other.fText) && same(fList, other.fList) && fFlag == other.fFlag &&
               same(fFree, other.fFree);
    }
};

// Standard output and error sent to /dev/null for the life of the guard.
class StQuiet {
public:
    StQuiet() {
        std::fflush(stdout);
        std::fflush(stderr);
        fOut = ::dup(1);
        fErr = ::dup(2);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close(null);
    }
    ~StQuiet() {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(fOut, 1);
        ::dup2(fErr, 2);
        ::close(fOut);
        ::close(fErr);
    }
    StQuiet(const StQuiet&) = delete;
    StQuiet& operator=(const StQuiet&) = delete;

private:
    int fOut, fErr;
};

int Parse(const std::vector<VString>& arguments, Targets& targets) {
    VCommandLineParser parser(arguments);
    parser.AddParagraph(VString("Fuzzed options."));
    parser.AddOption(u'i', VString("int"), VString("a signed integer"), targets.fInt);
    parser.AddOption(u'u', VString("unsigned"), VString("an unsigned integer"), targets.fUnsigned);
    parser.AddOption(VString("long"), VString("a 64-bit integer"), targets.fLong);
    parser.AddOption(VString("ulong"), VString("an unsigned 64-bit integer"), targets.fULong);
    parser.AddOption(u's', VString("text"), VString("a text"), targets.fText);
    parser.AddOption(u'l', VString("list"), VString("texts"), targets.fList);
    parser.AddOption(u'p', VString("path"), VString("a path"), targets.fPath);
    parser.AddOption(u'j', VString("json"), VString("a JSON value"), targets.fJSON);
    parser.AddFlag(u'f', VString("flag"), VString("a flag"), targets.fFlag);
    parser.AddRemainingArguments(targets.fFree);
    StQuiet quiet;
    const int result = parser.Parse();
    VString exported;
    parser.ExportAsJSON(&exported);
    return result;
}

VString Option(const char* name, const VString& value) {
    VString text("--");
    text.AppendCString(name);
    text.AppendUniChar(u'=');
    text.AppendString(value);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<VString> arguments{VString("/usr/bin/fuzzed")};
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != 0) continue;
        arguments.emplace_back(data + start, i - start, VTC_UTF_8);
        start = i + 1;
    }
    Targets first;
    const int result = Parse(arguments, first);
    if (result < 0 || result > 2) __builtin_trap();
    if (result != 0) return 0;

    std::vector<VString> written{VString("/usr/bin/fuzzed")};
    VString number;
    number.FromLong8(first.fInt);
    written.push_back(Option("int", number));
    number.FromLong8(first.fUnsigned);
    written.push_back(Option("unsigned", number));
    number.FromLong8(first.fLong);
    written.push_back(Option("long", number));
    number.Clear();
    number.AppendULong8(first.fULong);
    written.push_back(Option("ulong", number));
    written.push_back(Option("text", first.fText));
    for (const VString& item : first.fList)
        written.push_back(Option("list", item));
    if (first.fFlag) written.push_back(VString("--flag"));
    written.push_back(VString("--"));
    written.insert(written.end(), first.fFree.begin(), first.fFree.end());
    Targets second;
    if (Parse(written, second) != 0 || !(second == first)) __builtin_trap();
    return 0;
}
