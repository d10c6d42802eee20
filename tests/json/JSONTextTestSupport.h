#pragma once

#include "core/StStringConverter.h"
#include "core/VErrorBase.h"
#include "core/VErrorContext.h"
#include "core/VString.h"
#include "core/VTask.h"
#include "support/TestProcess.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"
#include "json/VJSONWriter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vela::test {

// An error as a test sees it: its code and its named parameters as texts (numbers written in decimal), without
// the code parameters every error carries.
struct SeenError {
    VError code = VE_OK;
    std::map<std::string, std::u16string> params;

    bool operator==(const SeenError& other) const { return code == other.code && params == other.params; }
};

inline std::ostream& operator<<(std::ostream& out, const SeenError& error) {
    out << "{" << NumberOfVError(error.code);
    for (const auto& [name, value] : error.params)
        out << " " << name << "=" << std::string(value.begin(), value.end());
    return out << "}";
}

inline std::vector<SeenError> ErrorsOf(const VErrorContext& context) {
    std::vector<SeenError> seen;
    for (const VRefPtr<VErrorBase>& error : context.GetErrors()) {
        SeenError one{error->GetError(), {}};
        VJSONObject* params = error->GetParameters();
        for (size_t i = 0; i < params->GetPropertyCount(); ++i) {
            VString name;
            params->GetPropertyNameAt(i, name);
            std::string key = to_string(name);
            if (key == "errCode" || key == "componentSignature") continue;
            VString text;
            params->GetProperty(name).GetString(text);
            one.params[key] = std::u16string(text.GetCPointer(), size_t(text.GetLength()));
        }
        seen.push_back(std::move(one));
    }
    return seen;
}

// The compact text of a value (writer option 1).
inline std::u16string Compact(const VJSONValue& value, uint32 options = VJSONWriter::kQuoted) {
    VString text;
    VJSONWriter writer(options);
    EXPECT_EQ(writer.StringifyValue(value, text), VE_OK);
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

inline VString Text(const std::u16string& text) {
    VString string;
    string.FromUniString(text.data(), int32(text.size()));
    return string;
}

// A test on a task with a process object, so that raised errors are pushed and can be read back.
class JSONTextFixture : public TestProcessFixture {
protected:
    void SetUp() override {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        VTask::FlushErrors();
    }
    void TearDown() override { VTask::FlushErrors(); }

    // Parses text with options, keeping the errors raised meanwhile.
    VError Parse(const std::u16string& text, VJSONValue& out, uint32 options = 0) {
        StErrorContextInstaller errors(false, true);
        VError err = VJSONImporter::ParseString(Text(text), out, options);
        fErrors = ErrorsOf(*errors.GetContext());
        return err;
    }

    std::vector<SeenError> fErrors;
};

// ASCII text as UTF-16.
inline std::u16string U(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// UTF-16 text for messages: units beyond ASCII as '?'.
inline std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? char(c) : '?';
    return out;
}

// The parser's 550 with its place.
inline SeenError Malformed(int line, int position, const std::u16string& source = u"") {
    return {VE_JSON_MALFORMED,
            {{"source", source}, {"line", U(std::to_string(line))}, {"position", U(std::to_string(position))}}};
}

// The parser's 551 (a token found where others were expected), or 552 when no token was found.
inline SeenError Invalid(const std::u16string& found, const std::u16string& expected) {
    return {found.empty() ? VE_JSON_NO_TOKEN : VE_JSON_INVALID_TOKEN, {{"found", found}, {"expected", expected}}};
}

// A string left open at the end of the text, by the quote that opened it.
inline SeenError Unterminated(const std::u16string& quote) {
    return {VE_JSON_UNTERMINATED_STRING, {{"token", quote}}};
}

} // namespace vela::test
