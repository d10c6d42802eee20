#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/VTypes.h"

#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vela {

class VCommandLineParser;
class VFile;
class VFilePath;
class VFolder;
class VJSONValue;

namespace Extension::CommandLineParser {

// Converts an option's text into a T; Append answers whether the text was accepted (the target is left as it
// was, or cleared where said, when not). Integers: blanks around the text are ignored; 1 to 30 characters of
// digits and signs; base by prefix (a leading 0 means octal); a value outside T's range is refused, never
// truncated, and so is a negative value for an unsigned T.
template <class T> struct Argument;

template <> struct Argument<bool> {
    // "1" or "true" give true, "0" or "false" give false (case-insensitive).
    static bool Append(bool& target, const VString& text);
    static const char* Hint() noexcept { return "expected 0, 1, true or false"; }
};
template <> struct Argument<int> {
    static bool Append(int& target, const VString& text);
    static const char* Hint() noexcept { return "expected a signed integral"; }
};
template <> struct Argument<unsigned int> {
    static bool Append(unsigned int& target, const VString& text);
    static const char* Hint() noexcept { return "expected an unsigned integral"; }
};
template <> struct Argument<long long> {
    static bool Append(long long& target, const VString& text);
    static const char* Hint() noexcept { return "expected a signed integral"; }
};
template <> struct Argument<unsigned long long> {
    static bool Append(unsigned long long& target, const VString& text);
    static const char* Hint() noexcept { return "expected an unsigned integral"; }
};
template <> struct Argument<VString> {
    // Always taken.
    static bool Append(VString& target, const VString& text) {
        target = text;
        return true;
    }
    static const char* Hint() noexcept { return ""; }
};
template <> struct Argument<std::vector<VString>> {
    // Appends text; always taken.
    static bool Append(std::vector<VString>& target, const VString& text) {
        target.push_back(text);
        return true;
    }
    static const char* Hint() noexcept { return ""; }
};
// text as an absolute POSIX path, nothing resolved: a relative text is taken from the working directory (its
// leading "./" dropped), as the shell takes it. An empty or absolute text, or any text when the working directory
// is unknown, comes back as given.
VString AbsolutePathText(const VString& text);

template <> struct Argument<VFilePath> {
    // Empty text clears the path. Otherwise the resolved real path ("/" added for a folder), or, when it does not
    // resolve, AbsolutePathText(text); POSIX style. Always taken.
    static bool Append(VFilePath& target, const VString& text);
    static const char* Hint() noexcept { return "expected a path"; }
};
template <> struct Argument<VRefPtr<VFile>> {
    // The file at the resolved real path (as for VFilePath), a link to a file followed to its target, which must
    // exist; a link that cannot be followed keeps the link's file. Refused (target set to null) when the text
    // names nothing or a folder.
    static bool Append(VRefPtr<VFile>& target, const VString& text);
    static const char* Hint() noexcept { return "expected an existing file"; }
};
template <> struct Argument<VRefPtr<VFolder>> {
    // The folder at the resolved real path (as for VFilePath). Refused (target set to null) when the text names
    // nothing or no folder.
    static bool Append(VRefPtr<VFolder>& target, const VString& text);
    static const char* Hint() noexcept { return "expected an existing folder"; }
};
template <> struct Argument<VJSONValue> {
    // By the target's current type: a boolean takes "1", "true", "on", "0", "false", "off"; a string takes the
    // text; an object or undefined target takes the text parsed as JSON. Other types refuse everything.
    static bool Append(VJSONValue& target, const VString& text);
    static const char* Hint() noexcept { return "expected a JSON value"; }
};

} // namespace Extension::CommandLineParser

namespace Private::CommandLineParser {

// An option as declared: short name (a blank or 0: none), long name (empty: none), help, whether it takes a
// value. A nameless one is a help paragraph. The base refuses every value and ignores flags.
class VOptionBase : public VObject {
public:
    VOptionBase(UniChar shortName, const VString& longName, const VString& help, bool takesValue);
    ~VOptionBase() override = default;
    VOptionBase(const VOptionBase&) = delete;
    VOptionBase& operator=(const VOptionBase&) = delete;

    // 0: taken; 1: refused (the reason is printed); 2: show the help.
    virtual int AppendArgument(VCommandLineParser& parser, const VString& value);
    // The option was given without a value.
    virtual void SetFlag() {}

    UniChar GetShortName() const noexcept { return fShortName; }
    bool HasShortName() const noexcept { return fShortName != 0 && fShortName != u' '; }
    const VString& GetLongName() const noexcept { return fLongName; }
    const VString& GetHelp() const noexcept { return fHelp; }
    bool TakesValue() const noexcept { return fTakesValue; }
    bool IsParagraph() const noexcept { return fShortName == u' ' && fLongName.IsEmpty(); }

    // Appends "-c", ", " between, "--name"; answers whether anything was appended.
    bool AppendFullName(VString& out) const;
    // Prints on standard error why value was refused, ending in hint (a value is shown up to 80 characters).
    void PrintErrorWhenAppendingInvalidValue(const VString& hint, VString value) const;

private:
    UniChar fShortName;
    VString fLongName;
    VString fHelp;
    bool fTakesValue;
};

// An option bound to a variable of type T (borrowed: it must outlive the parse).
template <class T> class VArgOption : public VOptionBase {
public:
    VArgOption(UniChar shortName, const VString& longName, const VString& help, bool takesValue, T& target)
        : VOptionBase(shortName, longName, help, takesValue), fTarget(&target) {}

    int AppendArgument(VCommandLineParser&, const VString& value) override {
        if (Extension::CommandLineParser::Argument<T>::Append(*fTarget, value)) return 0;
        PrintErrorWhenAppendingInvalidValue(Extension::CommandLineParser::Argument<T>::Hint(), value);
        return 1;
    }
    void SetFlag() override {
        if constexpr (std::is_same_v<T, VString>)
            *fTarget = "1";
        else if constexpr (std::is_same_v<T, std::vector<VString>>)
            *fTarget = {VString()};
        else if constexpr (std::is_arithmetic_v<T>)
            *fTarget = T(1);
    }

private:
    T* fTarget;
};

// The registry of declared options.
class StOptionsInfos {
public:
    struct Mapping {
        VOptionBase* fOption = nullptr;
        bool fTakesValue = false;
    };

    // Takes ownership; maps its short and long names (a later option under the same name wins) and lists it.
    void RegisterOption(bool takesValue, std::unique_ptr<VOptionBase> option);
    // Writes the help text for programName to standard output.
    void HelpUsage(const VString& programName) const;
    // The help text for programName; colour escapes when colours is set.
    VString BuildHelpUsage(const VString& programName, bool colours) const;
    void Clear();

    const Mapping* FindShort(UniChar name) const;
    const Mapping* FindLong(const VString& name) const;

    std::unordered_map<UniChar, Mapping> fShortOptions;
    std::unordered_map<std::u16string, Mapping> fLongOptions;
    std::unique_ptr<VOptionBase> fFreeArguments;
    std::vector<std::unique_ptr<VOptionBase>> fEntries;
    const std::vector<VString>* fArguments = nullptr;
    bool fHasArguments = false;
    bool fAcceptsParagraphs = true;
};

// Wraps text at break characters (blank, '.', CR, LF, tab) so that no line passes limit characters where a
// break allows, starting each new line with indent. The break character at a cut is not printed.
VString WrapText(const VString& text, int32 limit, const VString& indent);

} // namespace Private::CommandLineParser

// Reads the process's arguments against declared options: "--name", "--name=value" or "--name value", grouped
// single-letter options after one dash, free arguments, the end marker "--", and an automatic help. Every error
// is one line on standard error.
class VCommandLineParser : public VObject {
public:
    // arguments (element 0 the program path) is borrowed and must outlive the parser. Options are declared only
    // when it holds something after the program path.
    explicit VCommandLineParser(const std::vector<VString>& arguments);
    ~VCommandLineParser() override;
    VCommandLineParser(const VCommandLineParser&) = delete;
    VCommandLineParser& operator=(const VCommandLineParser&) = delete;

    // Declares an option that takes a value into target (int, unsigned, long long, unsigned long long, VString,
    // a list of VString, VFilePath, VRefPtr<VFile>, VRefPtr<VFolder>, VJSONValue). shortName 0 or a blank: none.
    template <class T> void AddOption(UniChar shortName, const VString& longName, const VString& help, T& target) {
        _Declare(true,
                 std::make_unique<Private::CommandLineParser::VArgOption<T>>(shortName, longName, help, true, target));
    }
    template <class T> void AddOption(const VString& longName, const VString& help, T& target) {
        AddOption(UniChar(0), longName, help, target);
    }
    // Declares a flag: given alone it sets target (true, 1, "1"); "--name=value" is refused.
    template <class T> void AddFlag(UniChar shortName, const VString& longName, const VString& help, T& target) {
        _Declare(false,
                 std::make_unique<Private::CommandLineParser::VArgOption<T>>(shortName, longName, help, false, target));
    }
    template <class T> void AddFlag(const VString& longName, const VString& help, T& target) {
        AddFlag(UniChar(0), longName, help, target);
    }
    // Free arguments go to target (appended in order); replaces an earlier receiver. Without one they are errors.
    void AddRemainingArguments(std::vector<VString>& target);
    // A paragraph of the help text, in declaration order.
    void AddParagraph(const VString& text);

    // 0: parsed (also with nothing after the program path); 1: rejected (one line printed); 2: help printed.
    int Parse();
    // Forgets every declaration.
    void Clear();

    // Writes text as UTF-8 and a line feed to standard output, flushed.
    static void Print(const VString& text);
    // The same on standard error; answers 1.
    static int PrintArgumentError(const VString& text);

    // The arguments and declarations as a JSON document.
    void ExportAsJSON(VString* out) const;
    // Appends an OPTIONS section in manual-page markup.
    void ExportAsManPage(VString* out) const;
    // Writes ExportAsJSON to standard error or standard output.
    void PrintAllArguments(bool toStandardError) const;

    // Neither check is applied by declaration or parsing.
    static bool ValidateLongOptionName(const VString& name);
    static bool ValidateShortOptionName(unsigned short name);

    // The registry, for reading only.
    const Private::CommandLineParser::StOptionsInfos& GetOptionsInfos() const noexcept { return fInfos; }

private:
    void _Declare(bool takesValue, std::unique_ptr<Private::CommandLineParser::VOptionBase> option);

    Private::CommandLineParser::StOptionsInfos fInfos;
};

} // namespace vela
