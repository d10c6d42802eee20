#include "app/VCommandLineParser.h"

#include "core/StStringConverter.h"
#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFilePath.h"
#include "files/VFolder.h"
#include "json/VJSONValue.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace vela {

namespace {

using Private::CommandLineParser::StOptionsInfos;
using Private::CommandLineParser::VOptionBase;

void WriteLine(FILE* stream, const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    if (utf8.GetSize() > 0) fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), stream);
    fputc('\n', stream);
    fflush(stream);
}

std::string ToUTF8(const VString& text) {
    StStringConverter<char> utf8(text, VTC_UTF_8);
    return std::string(utf8.GetCPointer() != nullptr ? utf8.GetCPointer() : "", utf8.GetSize());
}

bool EqualsASCIINoCase(const VString& text, const char* word) {
    int32 n = text.GetLength();
    for (int32 i = 0; i < n; ++i) {
        UniChar c = text.GetCPointer()[i];
        if (word[i] == 0) return false;
        if (c >= u'A' && c <= u'Z') c = UniChar(c - u'A' + u'a');
        if (c != UniChar(word[i])) return false;
    }
    return word[n] == 0;
}

// The text of an integer option without its surrounding blanks: 1 to 30 digits and signs, or nothing.
std::optional<std::string> IntegerText(const VString& text) {
    const UniChar* p = text.GetCPointer();
    int32 begin = 0;
    int32 end = text.GetLength();
    auto isBlank = [](UniChar c) { return c < 128 && isspace(int(c)); };
    while (begin < end && isBlank(p[begin]))
        ++begin;
    while (end > begin && isBlank(p[end - 1]))
        --end;
    if (end == begin || end - begin > 30) return std::nullopt;
    std::string digits;
    for (int32 i = begin; i < end; ++i) {
        UniChar c = p[i];
        if (!((c >= u'0' && c <= u'9') || c == u'+' || c == u'-')) return std::nullopt;
        digits.push_back(char(c));
    }
    return digits;
}

// Converts digits with the C library's conv; false when it does not take the whole text or overflows.
template <class Wide, class Conv> bool ConvertWhole(const std::string& digits, Wide& out, Conv conv) {
    char* end = nullptr;
    errno = 0;
    out = conv(digits.c_str(), &end, 0);
    return errno != ERANGE && end == digits.c_str() + digits.size();
}

template <class T> bool AppendSigned(T& target, const VString& text) {
    std::optional<std::string> digits = IntegerText(text);
    long long value = 0;
    if (!digits || !ConvertWhole(*digits, value, strtoll)) return false;
    if (value < (long long)std::numeric_limits<T>::min() || value > (long long)std::numeric_limits<T>::max())
        return false;
    target = T(value);
    return true;
}

// The C library negates "-1" into the largest unsigned value: a minus sign is refused unless the value is 0.
template <class T> bool AppendUnsigned(T& target, const VString& text) {
    std::optional<std::string> digits = IntegerText(text);
    unsigned long long value = 0;
    if (!digits || !ConvertWhole(*digits, value, strtoull)) return false;
    if (value > (unsigned long long)std::numeric_limits<T>::max()) return false;
    if (digits->find('-') != std::string::npos && value != 0) return false;
    target = T(value);
    return true;
}

bool IsBreak(UniChar c) {
    return c == u' ' || c == u'.' || c == u'\r' || c == u'\n' || c == u'\t';
}

VString WithoutChars(const VString& text, UniChar a, UniChar b) {
    VString out;
    for (int32 i = 0; i < text.GetLength(); ++i) {
        UniChar c = text.GetCPointer()[i];
        if (c != a && c != b) out.AppendUniChar(c);
    }
    return out;
}

VString JSONEscaped(const VString& text) {
    VString out;
    text.GetJSONString(out, 0);
    return out;
}

VString Blanks(int32 n) {
    VString out;
    for (int32 i = 0; i < n; ++i)
        out.AppendUniChar(u' ');
    return out;
}

void AppendOptionLine(VString& out, const VOptionBase& option, bool colours) {
    if (colours) out.AppendCString("\033[0;32m");
    bool hasLong = !option.GetLongName().IsEmpty();
    if (option.HasShortName()) {
        out.AppendCString("  -").AppendUniChar(option.GetShortName());
        if (hasLong)
            out.AppendCString(", ");
        else
            out.AppendString(option.TakesValue() ? VString(" VALUE") + Blanks(14) : Blanks(20));
    } else {
        out.AppendString(Blanks(6));
        if (!hasLong) out.AppendString(Blanks(option.TakesValue() ? 14 : 20));
    }
    if (hasLong) {
        out.AppendCString("--").AppendString(option.GetLongName());
        int32 width = option.GetLongName().GetLength() + 9;
        if (option.TakesValue()) {
            out.AppendCString("=VALUE");
            width += 6;
        }
        if (width > 29)
            out.AppendUniChar(u'\n').AppendString(Blanks(29));
        else
            out.AppendString(Blanks(30 - width));
    }
    if (colours) out.AppendCString("\033[0m");
    VString help = WithoutChars(option.GetHelp(), u'\t', u'\t');
    out.AppendString(help.GetLength() <= 50 ? help : Private::CommandLineParser::WrapText(help, 49, Blanks(29)));
    out.AppendUniChar(u'\n');
}

} // namespace

// Converters --------------------------------------------------------------------------------------------------

namespace Extension::CommandLineParser {

bool Argument<bool>::Append(bool& target, const VString& text) {
    if (EqualsASCIINoCase(text, "1") || EqualsASCIINoCase(text, "true")) {
        target = true;
        return true;
    }
    if (EqualsASCIINoCase(text, "0") || EqualsASCIINoCase(text, "false")) {
        target = false;
        return true;
    }
    return false;
}

bool Argument<int>::Append(int& target, const VString& text) {
    return AppendSigned(target, text);
}
bool Argument<long long>::Append(long long& target, const VString& text) {
    return AppendSigned(target, text);
}
bool Argument<unsigned int>::Append(unsigned int& target, const VString& text) {
    return AppendUnsigned(target, text);
}
bool Argument<unsigned long long>::Append(unsigned long long& target, const VString& text) {
    return AppendUnsigned(target, text);
}

VString AbsolutePathText(const VString& text) {
    if (text.IsEmpty() || text.GetUniChar(1) == u'/') return text;
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return text;
    VString out;
    out.FromBlock(cwd, strlen(cwd), VTC_UTF_8);
    free(cwd);
    if (!out.EndsWithRawString(VString("/"))) out.AppendUniChar(u'/');
    VString rest(text);
    while (rest.BeginsWithRawString(VString("./")))
        rest.Remove(1, 2);
    out += rest;
    return out;
}

namespace {

// The real path of text (links followed, a relative text taken from the working directory), "/" added for a
// folder; false when nothing is there.
bool RealPathText(const VString& text, VString& out, bool& isFolder) {
    isFolder = false;
    char* resolved = realpath(ToUTF8(text).c_str(), nullptr);
    if (resolved == nullptr) return false;
    out.FromBlock(resolved, strlen(resolved), VTC_UTF_8);
    struct stat info {};
    isFolder = stat(resolved, &info) == 0 && S_ISDIR(info.st_mode);
    if (isFolder && !out.EndsWithRawString(VString("/"))) out.AppendUniChar(u'/');
    free(resolved);
    return true;
}

} // namespace

bool Argument<VFilePath>::Append(VFilePath& target, const VString& text) {
    if (text.IsEmpty()) {
        target.Clear();
        return true;
    }
    VString full;
    bool isFolder = false;
    if (!RealPathText(text, full, isFolder)) full = AbsolutePathText(text);
    target.FromFullPath(full, FPS_POSIX);
    return true;
}

bool Argument<VRefPtr<VFile>>::Append(VRefPtr<VFile>& target, const VString& text) {
    target = nullptr;
    VString full;
    bool isFolder = false;
    if (text.IsEmpty() || !RealPathText(text, full, isFolder) || isFolder) return false;
    auto file = VRefPtr<VFile>::Adopt(new VFile(VFilePath(full, FPS_POSIX)));
    {
        // The parser raises nothing: a link that cannot be followed keeps the file itself.
        StErrorContextInstaller quiet(false, true);
        VRefPtr<VFile> resolved = file;
        if (VFile::ResolveAliasFile(resolved, false) == VE_OK) {
            if (!resolved->Exists()) return false;
            file = resolved;
        }
    }
    target = file;
    return true;
}

bool Argument<VRefPtr<VFolder>>::Append(VRefPtr<VFolder>& target, const VString& text) {
    target = nullptr;
    VString full;
    bool isFolder = false;
    if (text.IsEmpty() || !RealPathText(text, full, isFolder) || !isFolder) return false;
    target = VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(full, FPS_POSIX)));
    return true;
}

bool Argument<VJSONValue>::Append(VJSONValue& target, const VString& text) {
    switch (target.GetType()) {
    case JSON_false:
    case JSON_true:
        if (EqualsASCIINoCase(text, "1") || EqualsASCIINoCase(text, "true") || EqualsASCIINoCase(text, "on")) {
            target.SetBool(true);
            return true;
        }
        if (EqualsASCIINoCase(text, "0") || EqualsASCIINoCase(text, "false") || EqualsASCIINoCase(text, "off")) {
            target.SetBool(false);
            return true;
        }
        return false;
    case JSON_string:
        target.SetString(text);
        return true;
    case JSON_object:
    case JSON_undefined: {
        VJSONValue parsed;
        if (parsed.ParseFromString(text) != VE_OK) return false;
        target = parsed;
        return true;
    }
    default:
        return false;
    }
}

} // namespace Extension::CommandLineParser

// Option objects and the registry -------------------------------------------------------------------------------

namespace Private::CommandLineParser {

VOptionBase::VOptionBase(UniChar shortName, const VString& longName, const VString& help, bool takesValue)
    : fShortName(shortName), fLongName(longName), fHelp(help), fTakesValue(takesValue) {}

int VOptionBase::AppendArgument(VCommandLineParser&, const VString&) {
    return 1;
}

bool VOptionBase::AppendFullName(VString& out) const {
    bool any = false;
    if (HasShortName()) {
        out.AppendUniChar(u'-').AppendUniChar(fShortName);
        any = true;
    }
    if (!fLongName.IsEmpty()) {
        if (any) out.AppendCString(", ");
        out.AppendCString("--").AppendString(fLongName);
        any = true;
    }
    return any;
}

void VOptionBase::PrintErrorWhenAppendingInvalidValue(const VString& hint, VString value) const {
    constexpr int32 kShownLength = 80;
    VString text("invalid value for argument '");
    if (!AppendFullName(text)) text.AppendCString("<anonymous>");
    text.AppendCString("' got ");
    if (value.IsEmpty()) {
        text.AppendCString("empty value ");
    } else if (value.GetLength() <= kShownLength) {
        text.AppendUniChar(u'"').AppendString(value).AppendCString("\" ");
    } else {
        value.Truncate(kShownLength);
        text.AppendUniChar(u'"').AppendString(value).AppendCString("...\" ");
    }
    text.AppendString(hint);
    VCommandLineParser::PrintArgumentError(text);
}

void StOptionsInfos::RegisterOption(bool takesValue, std::unique_ptr<VOptionBase> option) {
    Mapping mapping{option.get(), takesValue};
    if (option->HasShortName()) fShortOptions[option->GetShortName()] = mapping;
    const VString& name = option->GetLongName();
    if (!name.IsEmpty()) fLongOptions[std::u16string(name.GetCPointer(), size_t(name.GetLength()))] = mapping;
    fEntries.push_back(std::move(option));
}

const StOptionsInfos::Mapping* StOptionsInfos::FindShort(UniChar name) const {
    auto found = fShortOptions.find(name);
    return found == fShortOptions.end() ? nullptr : &found->second;
}

const StOptionsInfos::Mapping* StOptionsInfos::FindLong(const VString& name) const {
    auto found = fLongOptions.find(std::u16string(name.GetCPointer(), size_t(name.GetLength())));
    return found == fLongOptions.end() ? nullptr : &found->second;
}

void StOptionsInfos::Clear() {
    fShortOptions.clear();
    fLongOptions.clear();
    fEntries.clear();
    fFreeArguments.reset();
}

VString StOptionsInfos::BuildHelpUsage(const VString& programName, bool colours) const {
    VString out("Usage: ");
    out.AppendString(programName).AppendCString(" [OPTION]...");
    if (fFreeArguments) out.AppendCString(" [FILE]...");
    out.AppendUniChar(u'\n');
    if (fEntries.empty() || !fEntries.front()->IsParagraph()) out.AppendUniChar(u'\n');
    for (const auto& entry : fEntries) {
        if (!entry->IsParagraph()) {
            AppendOptionLine(out, *entry, colours);
            continue;
        }
        VString text = WithoutChars(entry->GetHelp(), u'\t', u'\t');
        if (text.IsEmpty()) continue;
        if (colours) out.AppendCString("\033[0;33m");
        out.AppendString(text.GetLength() < 80 ? text : WrapText(text, 79, VString()));
        if (colours) out.AppendCString("\033[0m");
        out.AppendUniChar(u'\n');
    }
    if (FindLong(VString("help")) == nullptr) {
        UniChar shortName = FindShort(u'h') == nullptr ? u'h' : UniChar(0);
        VOptionBase help(shortName, VString("help"), VString("Display the help and exit"), false);
        AppendOptionLine(out, help, colours);
    }
    return out;
}

void StOptionsInfos::HelpUsage(const VString& programName) const {
    VString text = BuildHelpUsage(programName, isatty(1) != 0);
    StStringConverter<char> utf8(text, VTC_UTF_8);
    if (utf8.GetSize() > 0) fwrite(utf8.GetCPointer(), 1, utf8.GetSize(), stdout);
    fflush(stdout);
}

VString WrapText(const VString& text, int32 limit, const VString& indent) {
    constexpr int32 kNone = -1;
    const UniChar* t = text.GetCPointer();
    const int32 length = text.GetLength();
    VString out;
    int32 lineStart = 0;
    int32 lastBreak = kNone;
    int32 pos = 0;
    auto cutLine = [&](int32 end) {
        out.AppendUniChars(t + lineStart, end - lineStart);
        out.AppendUniChar(u'\n').AppendString(indent);
        lineStart = end + 1;
        lastBreak = kNone;
    };
    for (;;) {
        int32 b = pos;
        while (b < length && !IsBreak(t[b]))
            ++b;
        if (b >= length) break;
        if (b - lineStart <= limit) {
            if (t[b] == u'\n') {
                cutLine(b);
            } else {
                lastBreak = b;
            }
            pos = b + 1;
            continue;
        }
        // A cut at an earlier break leaves b to be weighed again against the new line's start; a word longer
        // than the limit is cut at its own end.
        int32 cut = (lastBreak == kNone || lastBreak == 0) ? b : lastBreak;
        cutLine(cut);
        pos = cut + 1;
    }
    if (lineStart < length) out.AppendUniChars(t + lineStart, length - lineStart);
    return out;
}

} // namespace Private::CommandLineParser

// The parser ------------------------------------------------------------------------------------------------------

VCommandLineParser::VCommandLineParser(const std::vector<VString>& arguments) {
    fInfos.fArguments = &arguments;
    fInfos.fHasArguments = arguments.size() >= 2;
}

VCommandLineParser::~VCommandLineParser() = default;

void VCommandLineParser::_Declare(bool takesValue, std::unique_ptr<VOptionBase> option) {
    if (fInfos.fHasArguments) fInfos.RegisterOption(takesValue, std::move(option));
}

void VCommandLineParser::AddRemainingArguments(std::vector<VString>& target) {
    if (!fInfos.fHasArguments) return;
    fInfos.fFreeArguments = std::make_unique<Private::CommandLineParser::VArgOption<std::vector<VString>>>(
        UniChar(0), VString(), VString(), true, target);
}

void VCommandLineParser::AddParagraph(const VString& text) {
    if (fInfos.fAcceptsParagraphs)
        fInfos.RegisterOption(false, std::make_unique<VOptionBase>(u' ', VString(), text, false));
}

void VCommandLineParser::Clear() {
    fInfos.Clear();
}

void VCommandLineParser::Print(const VString& text) {
    WriteLine(stdout, text);
}

int VCommandLineParser::PrintArgumentError(const VString& text) {
    WriteLine(stderr, text);
    return 1;
}

namespace {

int PrintMessage(const char* before, const VString& subject, const char* after) {
    VString text(before);
    text.AppendString(subject).AppendCString(after);
    return VCommandLineParser::PrintArgumentError(text);
}

int UnknownOption(const VString& name) {
    return PrintMessage("error: unknown option `", name, "`");
}

int MissingValue(const VOptionBase& option) {
    VString name;
    option.AppendFullName(name);
    return PrintMessage("error: missing value for option ", name, "");
}

// One walk over the arguments; next is the lowest index not yet taken as a value.
class ParseRun {
public:
    ParseRun(VCommandLineParser& parser, const StOptionsInfos& infos)
        : fParser(parser), fInfos(infos), fArgs(*infos.fArguments), fCount(fArgs.size()) {}

    int Run() {
        for (size_t i = 1; i < fCount; ++i) {
            const VString& arg = fArgs[i];
            int result =
                (!fEndOfOptions && arg.GetLength() > 0 && arg.GetCPointer()[0] == u'-') ? _Option(i) : _Free(i);
            if (result != 0) return result;
        }
        return 0;
    }

private:
    // The next argument that can be a value, consumed; nothing when none is left.
    const VString* _TakeValue() {
        while (fNext < fCount) {
            const VString& arg = fArgs[fNext];
            if (fEndOfOptions || arg.IsEmpty() || arg.GetCPointer()[0] != u'-') {
                ++fNext;
                return &arg;
            }
            ++fNext;
            if (arg.EqualToUSASCIICString("--")) fEndOfOptions = true;
        }
        return nullptr;
    }

    int _Apply(VOptionBase& option, const VString& value) {
        int result = option.AppendArgument(fParser, value);
        if (result == 0) return 0;
        if (result == 2) {
            _Help();
            return 2;
        }
        return 1;
    }

    int _ApplyWithValue(VOptionBase& option) {
        const VString* value = _TakeValue();
        if (value == nullptr) return MissingValue(option);
        return _Apply(option, *value);
    }

    void _Help() const { fInfos.HelpUsage(fArgs[0]); }

    int _Option(size_t i) {
        const VString& arg = fArgs[i];
        if (fNext <= i) fNext = i + 1;
        if (arg.GetLength() >= 2 && arg.GetCPointer()[1] == u'-') return _Long(arg);
        if (arg.EqualToUSASCIICString("-ApplePersistenceIgnoreState") ||
            arg.EqualToUSASCIICString("-NSDocumentRevisionsDebugMode")) {
            _TakeValue();
            return 0;
        }
        if (arg.GetLength() == 1) return PrintMessage("error: missing short option `", arg, "`");
        for (int32 k = 1; k < arg.GetLength(); ++k) {
            UniChar c = arg.GetCPointer()[k];
            const StOptionsInfos::Mapping* known = fInfos.FindShort(c);
            if (known == nullptr) {
                if (c == u'?' || c == u'h') {
                    _Help();
                    return 2;
                }
                return UnknownOption(VString(c));
            }
            if (!known->fTakesValue) {
                known->fOption->SetFlag();
                continue;
            }
            if (int result = _ApplyWithValue(*known->fOption); result != 0) return result;
        }
        return 0;
    }

    int _Long(const VString& arg) {
        if (arg.GetLength() == 2) {
            fEndOfOptions = true;
            return 0;
        }
        VString body = arg.After(2);
        int32 equals = body.FindUniChar(u'=');
        if (equals > 0) {
            VString name = body.Before(equals);
            VString value = body.After(equals);
            const StOptionsInfos::Mapping* known = fInfos.FindLong(name);
            if (known == nullptr) {
                if (name.EqualToUSASCIICString("help"))
                    return PrintMessage("error: invalid value for option  `", name, "`");
                return UnknownOption(name);
            }
            if (!known->fTakesValue) return PrintMessage("error: a value for option `", name, "` is not required");
            return _Apply(*known->fOption, value);
        }
        const StOptionsInfos::Mapping* known = fInfos.FindLong(body);
        if (known == nullptr) {
            if (body.EqualToUSASCIICString("help")) {
                _Help();
                return 2;
            }
            return UnknownOption(body);
        }
        if (!known->fTakesValue) {
            known->fOption->SetFlag();
            return 0;
        }
        return _ApplyWithValue(*known->fOption);
    }

    int _Free(size_t i) {
        if (i < fNext) return 0;
        if (!fInfos.fFreeArguments) return UnknownOption(fArgs[i]);
        return fInfos.fFreeArguments->AppendArgument(fParser, fArgs[i]) == 0 ? 0 : 1;
    }

    VCommandLineParser& fParser;
    const StOptionsInfos& fInfos;
    const std::vector<VString>& fArgs;
    const size_t fCount;
    size_t fNext = 1;
    bool fEndOfOptions = false;
};

} // namespace

int VCommandLineParser::Parse() {
    if (fInfos.fArguments == nullptr || fInfos.fArguments->size() < 2) return 0;
    return ParseRun(*this, fInfos).Run();
}

void VCommandLineParser::ExportAsJSON(VString* out) const {
    out->Clear();
    auto line = [out](int tabs, const VString& text) {
        for (int k = 0; k < tabs; ++k)
            out->AppendUniChar(u'\t');
        out->AppendString(text).AppendUniChar(u'\n');
    };
    auto quoted = [](const VString& text) {
        VString q("\"");
        return q.AppendString(text).AppendUniChar(u'"');
    };
    const std::vector<VString>& args = *fInfos.fArguments;
    line(0, "{");
    line(1, "\"arguments\": {");
    VString count;
    count.Printf("\"count\": %u,", unsigned(args.size()));
    line(2, count);
    line(2, "\"values\": [");
    for (size_t i = 0; i < args.size(); ++i) {
        VString item = quoted(JSONEscaped(args[i]));
        if (i + 1 < args.size()) item.AppendUniChar(u',');
        line(3, item);
    }
    line(2, "]");
    line(1, "},");
    line(1, "\"options\": {");
    count.Printf("\"count\": %u,", unsigned(fInfos.fEntries.size()));
    line(2, count);
    line(2, "\"values\": [");
    for (size_t i = 0; i < fInfos.fEntries.size(); ++i) {
        const VOptionBase& entry = *fInfos.fEntries[i];
        line(3, "{");
        std::vector<VString> members;
        if (entry.IsParagraph()) {
            members.push_back(VString("\"paragraph\": ") + quoted(JSONEscaped(entry.GetHelp())));
        } else {
            if (entry.HasShortName())
                members.push_back(VString("\"shortName\": ") + quoted(VString(entry.GetShortName())));
            if (!entry.GetLongName().IsEmpty())
                members.push_back(VString("\"longName\": ") + quoted(entry.GetLongName()));
            if (entry.TakesValue()) members.push_back(VString("\"requiresValue\": true"));
            members.push_back(VString("\"description\": ") + quoted(JSONEscaped(entry.GetHelp())));
        }
        for (size_t m = 0; m < members.size(); ++m) {
            if (m + 1 < members.size()) members[m].AppendUniChar(u',');
            line(4, members[m]);
        }
        line(3, i + 1 < fInfos.fEntries.size() ? "}," : "}");
    }
    line(2, "]");
    line(1, "}");
    line(0, "}");
}

void VCommandLineParser::ExportAsManPage(VString* out) const {
    out->AppendCString(".SH OPTIONS\n");
    bool optionWritten = false;
    for (const auto& entry : fInfos.fEntries) {
        if (entry->IsParagraph()) {
            if (!optionWritten) continue;
            out->AppendCString(".SS \"")
                .AppendString(JSONEscaped(WithoutChars(entry->GetHelp(), u'\n', u'\t')))
                .AppendCString("\"\n");
            continue;
        }
        bool hasLong = !entry->GetLongName().IsEmpty();
        out->AppendCString(".TP\n.BR ");
        if (entry->HasShortName()) {
            out->AppendCString("\\-").AppendUniChar(entry->GetShortName());
            if (hasLong)
                out->AppendCString(" \", \" ");
            else if (entry->TakesValue())
                out->AppendCString(" \\fIVALUE\\fR");
        }
        if (hasLong) {
            out->AppendCString("\\-\\-").AppendString(entry->GetLongName());
            if (entry->TakesValue()) out->AppendCString("=\\fIVALUE\\fR");
        }
        out->AppendUniChar(u'\n').AppendString(WithoutChars(entry->GetHelp(), u'\n', u'\t')).AppendUniChar(u'\n');
        optionWritten = true;
    }
}

void VCommandLineParser::PrintAllArguments(bool toStandardError) const {
    VString json;
    ExportAsJSON(&json);
    if (json.IsEmpty()) return;
    WriteLine(toStandardError ? stderr : stdout, json);
}

bool VCommandLineParser::ValidateLongOptionName(const VString& name) {
    int32 n = name.GetLength();
    if (n == 0) return true;
    if (n == 1) return false;
    const UniChar* p = name.GetCPointer();
    if (p[0] == u'-' || p[n - 1] == u'-') return false;
    for (int32 i = 0; i < n; ++i) {
        UniChar c = p[i];
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || c == u'-')) return false;
    }
    return true;
}

bool VCommandLineParser::ValidateShortOptionName(unsigned short name) {
    return name == 0 || name == u' ' || (name >= u'A' && name <= u'Z') || (name >= u'a' && name <= u'z') ||
           (name >= u'0' && name <= u'9');
}

} // namespace vela
