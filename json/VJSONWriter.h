#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "json/VJSONRepeatBudget.h"

#include <unordered_set>
#include <vector>

namespace vela {

class IFile;
class VDBLanguageContext;
class VJSONArray;
class VJSONObject;
class VJSONValue;

// Writes a VJSONValue tree as JSON text, compact or indented with tabs. Objects met again inside themselves are
// errors (or "[circular]" on request), and so, on request, are objects met twice, objects with a binary signature
// and objects that are not generic. Nesting deeper than kJSONTextMaxDepth objects and arrays fails with 108. An
// object's implementation may write the object itself (IJSON_Stringify). Text repeated for nodes held in several
// places is bounded (VJSONRepeatBudget): past the bound the write fails with 107. After a failure the caller's
// text keeps what it held; every failure is raised.
// A writer serves one top-level call: the set of written objects, the length counter and the ellipsis flag are
// never reset, so a second call sees the first one's state.
class VJSONWriter : public VObject {
public:
    // Option bits; the whole word also reaches the string and date formatters.
    static constexpr uint32 kQuoted = 1;                    // strings, keys and dates between double quotes
    static constexpr uint32 kPretty = 8;                    // line feeds, tab indentation, ": "
    static constexpr uint32 kRaw = 16;                      // strings without escapes
    static constexpr uint32 kLocalMidnight = 128;           // dates written as the local midnight of their day
    static constexpr uint32 kRefuseBinarySignature = 0x100; // 911
    static constexpr uint32 kDateOnly = 0x200;              // dates as "YYYY-MM-DD" (at midnight UTC)
    static constexpr uint32 kEscapeAmpersandApostrophe = 0x400;
    static constexpr uint32 kMarkedDates = 0x1000;         // dates between "!!" marks
    static constexpr uint32 kCircularAsText = 0x2000;      // an object inside itself is written "[circular]"
    static constexpr uint32 kTruncate = 0x4000;            // stops after about 512 units and appends "..."
    static constexpr uint32 kRefuseNonGeneric = 0x8000;    // 914
    static constexpr uint32 kRefuseWrittenTwice = 0x10000; // 916 (an object or an array)

    explicit VJSONWriter(uint32 options = kQuoted);
    // context is passed to VJSONObject::GetProperty for the names an object's implementation reports.
    VJSONWriter(VDBLanguageContext* context, uint32 options);
    ~VJSONWriter() override;
    VJSONWriter(const VJSONWriter&) = delete;
    VJSONWriter& operator=(const VJSONWriter&) = delete;

    // out receives the text of value: null and undefined as "null", numbers as FormatJSONNumber writes them,
    // dates as VTime::GetJSONString writes their UTC midnight (local midnight with option 128). Library error 107
    // when the text cannot be held.
    VError StringifyValue(const VJSONValue& value, VString& out);
    // out receives the text of array ("undefined" for null). An array inside itself: 900.
    VError StringifyArray(const VJSONArray* array, VString& out);
    // out receives the text of object ("undefined" for null). An object inside itself: 900, or "\"[circular]\""
    // with kCircularAsText.
    VError StringifyObject(const VJSONObject* object, VString& out);

    // The nesting level and the current indentation (a line feed and one tab per level, with kPretty), for
    // implementations that write their objects themselves.
    int32 GetLevel() const noexcept { return fLevel; }
    uint32 GetOptions() const noexcept { return fOptions; }
    void IncrementLevel();
    void DecrementLevel();
    // With kPretty, puts the current indentation before (Insert) or after (Append) the text of s.
    void InsertIndentString(VString& s) const;
    void AppendIndentString(VString& s) const;

    // Writes value without context and replaces the file's content with the text in UTF-8 (line ends kept). A
    // failure of the writer or of the file is answered and the old content stays (IFile::SetContent replaces it
    // whole); a null file writes nothing and answers 0.
    static VError StringifyValueToFile(const IFile* file, const VJSONValue& value, uint32 options);

private:
    class Output;

    // Runs write on a fresh output; out takes the text only when all of it was written.
    template <class Write> VError _Stringify(VString& out, Write&& write);
    VError _WriteValue(const VJSONValue& value, Output& out);
    // A value read in place from an object or array.
    VError _WriteElement(const VJSONValue& value, Output& out);
    VError _WriteArray(const VJSONArray* array, Output& out);
    VError _WriteObject(const VJSONObject* object, Output& out);
    VError _WriteMembers(const VJSONObject* object, Output& out);
    VError _WriteString(const UniChar* units, int32 length, Output& out);
    bool _IsOnStack(const void* node) const noexcept;
    // Enters node (held by holders) in the repeat budget, and leaves it; the output's limit follows.
    bool _EnterNode(const void* node, int32 holders, Output& out);
    void _LeaveNode(bool repeat, Output& out) noexcept;

    VDBLanguageContext* fContext;
    uint32 fOptions;
    int32 fLevel = 0;
    VString fIndentUnit;
    VString fIndent;
    std::vector<const void*> fStack;
    std::unordered_set<const void*> fWritten; // objects and arrays, with kRefuseWrittenTwice
    VJSONRepeatBudget fRepeats;
    uint32 fWrittenLength = 0;
    bool fEllipsisWritten = false;
};

} // namespace vela
