#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/VJSONGraph.h"
#include "json/VJSONPropertyMap.h"
#include "json/VJSONValue.h"

#include <memory>
#include <string>
#include <vector>

namespace vela {

class IFile;
class StPackedDictionaryKey;
class VJSONObject;
class VStorageLocker;
class VValueBag;

// Reads JSON text (UTF-16) into a VJSONValue tree. Lenient by default: unquoted words are strings, a string
// without its closing quote ends the text, and text after the first value is not examined. Option kStrict makes
// unquoted keys, unknown words and unterminated strings errors. Every failure pushes its specific error (551 to
// 554, or 108 for nesting deeper than kJSONTextMaxDepth) and then 550 with the line and position of the token
// (both 1-based), and answers 550. Nothing is read past the end of the text, whatever it holds.
// An object with a string member "__PRIVATE_BINARY_OBJECT" stands for the value whose binary JSON (Base64) that
// string holds (what VJSONValue::Stringify writes for values text cannot hold): the value read replaces the
// object, and its failure (VJSONBinaryImporter's errors; 200 for text that is no Base64) is the parse's.
class VJSONImporter : public VObject {
public:
    // Kinds of token; the names used in error parameters are "", "{", "}", "[", "]", ",", ":" and "\"".
    enum JsonToken : int32 {
        jsonNone = 0, // end of text
        jsonBeginObject = 1,
        jsonEndObject = 2,
        jsonBeginArray = 3,
        jsonEndArray = 4,
        jsonSeparator = 5,
        jsonAssigner = 6,
        jsonString = 7, // a quoted string or a bare word
    };

    // Option bits.
    static constexpr uint32 kUndefinedOnFailure = 1; // a failed parse leaves undefined, not the partial value
    static constexpr uint32 kStrict = 2;
    static constexpr uint32 kQuietTokens = 4;    // invalid and missing tokens answer 550 without pushing errors
    static constexpr uint32 kPathsAndLines = 8;  // records where each property and element starts (GetPathsLines)
    static constexpr uint32 kMarkedDates = 64;   // quoted "!!...!!" texts become dates (see kAnyDate)
    static constexpr uint32 kISODates = 128;     // quoted "YYYY-MM-DD" texts become dates
    static constexpr uint32 kSharedLocker = 256; // every object and array gets one shared storage locker
    static constexpr uint32 kAnyDate = 512;      // with kMarkedDates, only "!!YYYY-MM-DD!!" texts become dates

    // "__symbols": the property name reserved for the paths-and-lines object.
    static const VString sNameOfThePropertyWithPathsAndLines;
    // "__PRIVATE_BINARY_OBJECT": the member that carries a value as Base64 binary JSON.
    static const VString sBinaryObjectPropertyName;

    // Keeps a copy of text (sharing its buffer).
    explicit VJSONImporter(const VString& text, uint32 options = 0);
    ~VJSONImporter() override;
    VJSONImporter(const VJSONImporter&) = delete;
    VJSONImporter& operator=(const VJSONImporter&) = delete;

    // Reads the first value of the text into out. On failure out holds what was built (objects and arrays partly
    // filled), or undefined with kUndefinedOnFailure, and the answer is 550.
    VError Parse(VJSONValue& out);
    static VError ParseString(const VString& text, VJSONValue& out, uint32 options = 0);
    // Reads the file as UTF-8 text (a byte-order mark wins) and parses it; "source" of error 550 names its POSIX
    // path. A null file makes out undefined and answers 0. A file that cannot be read answers its error (raised)
    // and leaves out unchanged.
    static VError ParseFile(const IFile* file, VJSONValue& out, uint32 options = 0);

    // Reads an object straight into bag, without building values: a member whose value is an object becomes a
    // child bag marked "____objectunic" = true, an array one child per item (an object item as a child bag, any
    // other token as a child holding its scalar under "____FakeArrayElement"), "__CDATA" the character data, and
    // other members attributes: quoted texts strings (times for "!!YYYY-MM-DD!!" with kAnyDate, else for
    // "YYYY-MM-DD", unless the date is impossible), unquoted null a null string, true and false booleans, -?digits
    // that fit 64 bits integers, other words reals. Lenient: commas are optional, a bare-word key is
    // accepted and text that stops before the closing brace ends the object without error. The text must start
    // with an object. Errors as Parse; bag keeps what was read before the error.
    VError JSONObjectToBag(VValueBag& bag);

    // Reads the next token; token receives its text (decoded for a quoted string, empty for punctuation) and
    // quoted (may be null) whether it was a quoted string. In strict mode an unterminated string answers jsonNone
    // and, when err is given, raises 552 then 550 and sets *err to 550.
    JsonToken GetNextJSONToken(VString& token, bool* quoted = nullptr, VError* err = nullptr);
    // The same scan without the text.
    JsonToken GetNextJSONToken(VError* err = nullptr);

    // With kPathsAndLines: an object whose properties are the paths met ("a", "a[0]", "a[1].b", ...), each an
    // object {"line": n, "offset": column of the token's first unit (0-based)}. Null otherwise; not retained.
    VJSONObject* GetPathsLines() const noexcept { return fPathsLines.Get(); }
    // With kPathsAndLines, records under "}" the line and column of the last unit read.
    void SetPathLineForEncompasingObject();
    // The source named by error 550 (the file's path); empty by default.
    void SetSource(const VString& source) { fSource = source; }

    // Raises 550 with the line and position of the current token and answers it (the quick array reader's
    // failures).
    VError ThrowMalformed() { return _ThrowMalformed(); }

private:
    // The current token: its text (in the source text, or in fDecoded after escapes) and whether it was quoted.
    struct Token {
        const UniChar* fText = nullptr;
        int32 fLength = 0;
        bool fQuoted = false;
    };

    JsonToken _Scan(VError* err);
    JsonToken _ScanString(const UniChar* p, VError* err);
    JsonToken _ScanWord(const UniChar* p);
    void _CountLineBreak(const UniChar* p) noexcept;

    VError _ParseValue(VJSONValue& out);
    VError _ParseObject(VJSONValue& out);
    VError _ParseArray(VJSONValue& out);
    // Replaces object by the value its "__PRIVATE_BINARY_OBJECT" string holds, when it holds a string.
    VError _ReadBinaryObject(VJSONValue& object);
    VError _StringToValue(VJSONValue& out, const char* expected);
    void _QuotedToValue(VJSONValue& out);
    const UniChar* _TokenUnits() const noexcept { return fToken.fText != nullptr ? fToken.fText : fStart; }
    const VString& _KeyString();
    VJSONTreeLinker* _Linker() noexcept { return (fOptions & kSharedLocker) != 0 ? nullptr : &fLinker; }
    void _RecordPathLine();
    void _ShareLocker(VJSONObject* object, VJSONArray* array);
    bool _EnterContainer(VError& err);
    VError _ReadBagObject(VValueBag& bag);
    VError _ReadBagArray(VValueBag& bag, const StPackedDictionaryKey& key);
    void _SetBagScalar(VValueBag& bag, const StPackedDictionaryKey& key);
    void _SkipSeparator();

    // Error raising: each answers 550.
    VError _ThrowInvalidToken(const VString& found, const char* expected);
    VError _ThrowInvalidToken(JsonToken token, const char* expected);
    VError _ThrowAfterSpecific(VError code, const char* name, const VString& value);
    VError _ThrowMalformed();
    VString _GetStartTokenFirstChar() const;
    VString _TokenText() const;

    VString fText;
    uint32 fOptions;
    const UniChar* fStart;
    const UniChar* fEnd;
    const UniChar* fCursor;
    const UniChar* fTokenStart; // where the scan of the current token began, before its blanks
    VString fSource;
    VString fCurrentPath;
    VRefPtr<VJSONObject> fPathsLines;
    int32 fLine = 1;
    const UniChar* fLineStart;
    int32 fTokenLine = 1;           // line of the current token's first unit
    const UniChar* fTokenLineStart; // start of that line
    const UniChar* fTokenFirst;     // the current token's first unit
    VRefPtr<VStorageLocker> fSharedLocker;
    bool fAnyDate;
    int32 fDepth = 0;
    Token fToken;
    std::u16string fDecoded; // a string token with escapes or NUL units, decoded
    VStr<255> fScratch;      // string values pass through here on their way into a value
    static constexpr int32 kKeyCacheSize = 256;
    std::unique_ptr<VString[]> fKeys; // recent property names (made on first need): repeated keys share a buffer
    // Containers take each member as it is read, so that their storage lies close to them, in the order a writer
    // walks the tree (gathering the members first and storing them at the end made writing the tree slower).
    // Without a shared locker, the containers read join one graph as they are filled.
    VJSONTreeLinker fLinker;
    // The elements read so far of the arrays being read, innermost last: an array takes its own in one block of
    // their exact size once it is read, instead of growing its block element by element (a pair of reals took a
    // block for 4; json_parse_numbers_rapidjson 21.9 -> 15.7 ms for the same instruction count in callgrind).
    std::vector<VJSONValue> fElements;
};

} // namespace vela
