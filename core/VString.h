#pragma once

#include "core/CharSet.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <atomic>
#include <cstdarg>
#include <vector>

namespace vela {

class VCollator;
class VCompareOptions;
class VIntlMgr;
class VStream;
template <size_t Granularity, size_t Divisor, size_t Cap> class VMemoryBuffer;

// The one text type: mutable UTF-16, a value of kind 10. Positions seen by callers are 1-based.
// Storage has three tiers: an inline area inside the object, counted heap buffers shared between copies
// until one of them changes (copy-on-write), and wrapped caller buffers or constants that are never freed.
class VString : public VValueSingle {
public:
    static constexpr uint16 kKind = 10;
    // Flag bits of the value byte that belong to the string.
    static constexpr uint8 kForeignBuffer = 0x10; // never released by the string
    static constexpr uint8 kPrivateBuffer = 0x40; // no reference count, never shared
    static constexpr int32 kMaxLength = 0x7FFFFFFF;

    static const VString sEmpty;

    VString() noexcept;
    explicit VString(bool null) noexcept;
    explicit VString(UniChar c);
    VString(const UniChar* text);
    explicit VString(const wchar_t* text);
    VString(const char* text);
    VString(const void* bytes, size_t size, CharSet charSet);
    // Wraps a caller's zero-terminated buffer of byteSize bytes without copying; never frees it. The length
    // is counted up to the zero, within the buffer. byteSize SIZE_MAX means "as long as the text".
    VString(UniChar* buffer, size_t byteSize) noexcept;
    // Wraps a caller's buffer holding length units (a null buffer gives a null, empty string).
    VString(UniChar* buffer, int32 length, size_t byteSize) noexcept;
    VString(const VString& other);
    VString(VString&& other) noexcept;
    ~VString() override;

    VString& operator=(const VString& other) {
        FromString(other);
        return *this;
    }
    VString& operator=(VString&& other) noexcept;

    // A new string object (owned by the caller, released with delete) whose inline area holds n units.
    static VString* NewString(int32 n);

    // ---- Access
    int32 GetLength() const noexcept { return fLength; }
    bool IsEmpty() const noexcept { return fLength == 0; }
    int32 GetCapacity() const noexcept { return fMaxLength; }
    int32 GetInlineCapacity() const noexcept { return fInlineMaxLength; }
    // The units, zero-terminated; valid until the string changes.
    const UniChar* GetCPointer() const noexcept { return fString; }
    // The buffer made writable for n units (content kept); null when it cannot be had. Call Validate after.
    UniChar* GetCPointerForWrite(int32 n) { return _MakeWritable(n) ? fString : nullptr; }
    // After writing units directly into the buffer: length n (0..capacity), terminator, not null, dirty.
    bool Validate(int32 n) noexcept {
        // Only a buffer made writable (GetCPointerForWrite) may take a new length: never a shared or constant one.
        if (n < 0 || !_IsWritableFor(n)) return false;
        fLength = n;
        _Modified();
        return true;
    }
    // Makes the buffer writable for n units, keeping the text (the length is left to the caller).
    bool EnsureSize(int32 n, bool keepContent = true) { return _ReallocBuffer(n, keepContent); }
    // 1-based; 0 or false out of range or on a null string.
    UniChar GetUniChar(int32 position) const noexcept;
    bool SetUniChar(int32 position, UniChar c);
    // True when the buffer is a counted heap buffer that copies may share.
    bool IsSharedBuffer() const noexcept;
    // The count of a shared buffer (0 for any other buffer); for tests and diagnostics.
    int32 GetSharedBufferRefCount() const noexcept;

    // ---- Assignment
    void FromString(const VString& other) override;
    void FromUniString(const UniChar* text, int32 n);
    void FromUniCString(const UniChar* text);
    // A one-unit text; 0 clears the string.
    void FromUniChar(UniChar c);
    void FromCString(const char* text);
    // Decodes size bytes of charSet (UTF-16 copies size / 2 units); answers the bytes consumed.
    size_t FromBlock(const void* bytes, size_t size, CharSet charSet);
    // Skips and honours a byte-order mark, or guesses the character set of unmarked text; answers the set used.
    CharSet FromBlockWithOptionalBOM(const void* bytes, size_t size, CharSet charSet);
    size_t AppendBlock(const void* bytes, size_t size, CharSet charSet);

    // ---- Editing, searching and comparison (VStringOperations.cpp)
    // Positions are 1-based and lengths in UTF-16 units; bad positions or counts make a call do nothing. An
    // edit that would reach kMaxLength units, or finds no buffer, raises error 107 and leaves the text as it was.
    // Raw members compare code units; the others go through the current international manager (VIntlMgr).

    // Appending (the unit 0 is appended like any other; a null text appends nothing).
    VString& AppendUniChar(UniChar c);
    VString& AppendUniChars(const UniChar* text, int32 n);
    // A zero-terminated text.
    VString& AppendUniCString(const UniChar* text);
    VString& AppendString(const VString& other);
    // ASCII bytes one by one; with any byte above 0x7F the whole text is decoded as UTF-8.
    VString& AppendCString(const char* text);
    VString& operator+=(const VString& other) { return AppendString(other); }
    VString& operator+=(UniChar c) { return AppendUniChar(c); }

    // c (not 0) goes before position pos (pos >= 1); a pos beyond the length appends it.
    void Insert(UniChar c, int32 pos);
    void Insert(const VString& text, int32 pos);
    // Removes n units from pos (1 <= pos <= length, n >= 0), or everything from pos when the range passes the end.
    void Remove(int32 pos, int32 n);
    // The n units from pos (n >= 1) become text; a range reaching the end cuts at pos - 1 and appends text.
    void Replace(const VString& text, int32 pos, int32 n);
    // Shortens to n units (negative: 0); keepPairs keeps a surrogate pair whole by cutting before its first
    // unit. A heap block is shrunk when more than n / 8 + 32 units would be left unused.
    void Truncate(int32 n, bool keepPairs = false) {
        // The common cut needs no call: a buffer written in place that would not waste room after the cut.
        if (n >= 0 && n < fLength && !keepPairs && _IsWritableFor(n) && int64(fMaxLength) <= int64(n) + n / 8 + 32) {
            fLength = n;
            _Modified();
            return;
        }
        _Truncate(n, keepPairs);
    }
    // Keeps only the min(n, length - pos + 1) units from pos.
    void SubString(int32 pos, int32 n);
    // Removes every leading and every trailing c.
    void TrimUniChar(UniChar c);
    // Removes the white run at the start (leading) and at the end (trailing); white is U+0020 and U+0009, or
    // intlMgr->IsSpace(c, flag) when a manager is given. The counts removed go to leadCount and trailCount
    // (either may be null). A high surrogate left last by the trailing cut goes too.
    void RemoveWhiteSpaces(bool leading = true, bool trailing = true, int32* leadCount = nullptr,
                           int32* trailCount = nullptr, VIntlMgr* intlMgr = nullptr, bool flag = false);
    // The whole text through the current manager's ToUpperLowerCase; the argument changes nothing.
    void ToUpperCase(bool = false);
    void ToLowerCase(bool = false);
    // Unicode canonical decomposition (NFD) and composition (NFC) in place; unchanged when memory runs out.
    void Decompose() noexcept;
    void Compose() noexcept;
    // Exchanges the texts: heap blocks change hands, inline texts and wrapped caller buffers are copied (a
    // caller's buffer never moves to the other string). Both end not null and dirty.
    void Swap(VString& other) noexcept;
    // Up to n occurrences of a, searched from pos, become b.
    void Exchange(UniChar a, UniChar b, int32 pos = 1, int32 n = kMaxLength);
    // Up to n raw, non-overlapping occurrences of pattern at or after pos become replacement; answers how many
    // (0 for an empty pattern, or when the result would reach kMaxLength units: 107 raised, text unchanged).
    int32 ExchangeRawString(const VString& pattern, const VString& replacement, int32 pos = 1, int32 n = kMaxLength);
    // The same through collator (null: the current manager's), whose matches may differ in length from pattern.
    void Exchange(const VString& pattern, const VString& replacement, int32 pos = 1, int32 n = kMaxLength,
                  bool diacritical = false, VCollator* collator = nullptr);

    // out receives the min(n, length - pos + 1) units from pos; out is cleared when pos < 1, n < 0 or
    // pos > length.
    void GetSubString(int32 pos, int32 n, VString& out) const;
    // The units before pos (pos < 1: none; pos > length: all).
    VString Before(int32 pos) const;
    // The units after pos (pos < 1: all; pos >= length: none).
    VString After(int32 pos) const;
    // Position of c from max(start, 1) forwards, or from there down to 1; 0 when absent or start > length.
    int32 FindUniChar(UniChar c, int32 start = 1, bool backwards = false) const noexcept;
    // Position of the first raw occurrence of pattern at or after pos; 0 when pos < 1, it does not fit or is
    // absent. An empty pattern is found at pos.
    int32 FindRawString(const VString& pattern, int32 pos = 1) const noexcept;
    // Position of pattern (m units) in text (n units), linear time; 0 when absent, 1 for an empty pattern.
    static int32 FindRawString(const UniChar* text, int32 n, const UniChar* pattern, int32 m) noexcept;
    // Position of the collator's first match at or after pos; 0 when absent.
    int32 Find(const VString& pattern, int32 pos = 1, bool diacritical = false) const;
    // Raw prefix and suffix tests; an empty pattern matches.
    bool BeginsWithRawString(const VString& prefix) const noexcept;
    bool EndsWithRawString(const VString& suffix) const noexcept;
    // Through the current manager's collator (the prefix is looked for in the first |prefix| + 16 units).
    bool BeginsWith(const VString& prefix, bool diacritical = false) const;
    bool EndsWith(const VString& suffix, bool diacritical = false) const;
    // pieces receives the texts between separators (trimmed of U+0020 with trim; empty ones only with
    // keepEmpty). An empty string gives one empty piece with keepEmpty. True when a separator was found.
    bool GetSubStrings(UniChar separator, std::vector<VString>& pieces, bool keepEmpty = false,
                       bool trim = false) const;
    // The same into a string array value, emptied first (VStringArray.cpp).
    bool GetSubStrings(UniChar separator, class VArrayString& pieces, bool keepEmpty = false, bool trim = false) const;
    // The same at the collator's matches of separator. An empty string gives no piece; an empty separator
    // gives one piece, the whole text.
    bool GetSubStrings(const VString& separator, std::vector<VString>& pieces, bool keepEmpty = false,
                       bool trim = false, bool diacritical = false) const;
    // Replaces the text with the pieces joined by separator; false (107 raised, text unchanged) when the result
    // would reach kMaxLength units. No pieces: empty text.
    bool Join(const std::vector<VString>& pieces, UniChar separator);
    bool Join(const std::vector<VString>& pieces, const VString& separator);
    // Longest common subsequence of the units divided by this length (not symmetric); 0 when either is empty.
    float SimilarToString(const VString& other) const;
    // True when the terminator stands at index length.
    bool IsStringValid() const noexcept;

    // Same length and units.
    bool EqualToStringRaw(const VString& other) const noexcept;
    // -1, 0 or 1 by code units, up to the first U+0000 of either text.
    CompareResult CompareToStringRaw(const VString& other) const noexcept;
    // The same with A-Z taken as a-z.
    CompareResult CompareToStringRawCase(const VString& other) const noexcept;
    // Each byte (a signed char) equals the unit at its place and both texts end together; null is "".
    bool EqualToUSASCIICString(const char* text) const noexcept;
    // The current manager's EqualString and CompareString (diacritical: case and accents count).
    bool EqualToString(const VString& other, bool diacritical = false) const;
    CompareResult CompareToString(const VString& other, bool diacritical = false) const;
    // The current manager's LIKE comparisons; pattern holds the wildcards.
    bool EqualToString_Like(const VString& pattern, bool diacritical = false) const;
    CompareResult CompareToString_Like(const VString& pattern, bool diacritical = false) const;
    // The other value's text compared with the current manager's CompareString.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;

    // Same-kind comparisons of the value model through the current manager (the WithOptions members through
    // the options' manager, or the current one when it has none). Ptr members take a stored form; "Begining"
    // members compare this text cut to the other's length, IsTheBegining the other cut to this length.
    CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareBeginingToSameKind(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr(const void* data, bool diacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr(const void* data, bool diacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr(const void* data, bool diacritical = false) const override;
    CompareResult CompareToSameKind_Like(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool diacritical = false) const override;
    bool EqualToSameKind_Like(const VValue* other, bool diacritical = false) const override;
    CompareResult CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    CompareResult Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    CompareResult CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    CompareResult IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    bool EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    bool Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const override;
    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const override;
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;
    CompareResult Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const override;

    // ---- Formatting and numbers (VStringFormat.cpp)
    // printf formatting. Besides the C conversions: %S takes a VString*, %A a VValueSingle* (its GetString
    // text), %V any VObject* (its DebugDump text), flags and width not applying; a null or wrong object writes
    // "@@invalid VObject@@", "@@invalid VString@@" or "@@invalid VValueSingle@@". Bytes are read as UTF-8; numbers use
    // "." whatever the locale; %n stores nothing; positional arguments ("%1$d") are not supported.
    // Printf and VPrintf replace the text (an argument may be this string: its text before the call is used).
    // When memory runs out, error 107 is raised and the text is unchanged.
    void Printf(const char* format, ...);
    void VPrintf(const char* format, va_list args);
    void AppendPrintf(const char* format, ...);
    // The engine behind the three: appends the formatted text.
    void _Printf(const char* format, va_list args);

    // Number writers: Append... append, From... replace the text. Decimal with "-" for negatives.
    void AppendLong(int32 value);
    void AppendLong8(int64 value);
    void AppendULong8(uint64 value);
    void FromULong8(uint64 value);
    static VString ToString(int value);
    static VString ToString(long value);
    static VString ToString(long long value);
    static VString ToString(unsigned long value);
    static VString ToString(unsigned long long value);
    // Reals as C's "%.14G" in the POSIX locale: 0.1 -> "0.1", 1e20 -> "1E+20", infinity -> "INF".
    void AppendReal(double value);
    // The four bytes of a code, most significant first, decoded as UTF-8.
    void AppendOsType(uint32 code);
    void FromOsType(uint32 code);
    // Upper-case hexadecimal without leading zeros. With prefix: "0x", then the digits padded with zeros to
    // 4, 8 or 16 digits (64-bit), 4 or 8 (32-bit), 2 (byte). A char is taken by its byte value.
    void FromHexLong(int64 value, bool prefix);
    void FromHexLong(int32 value, bool prefix);
    void FromHexLong(uchar value, bool prefix);
    void FromHexLong(char value, bool prefix);
    // Appends the value's GetString text.
    void AppendValue(const VValueSingle& value);
    // Replaces each "{name}" by the text of bag's attribute name (VStringFormatBag.cpp). "{{" and "}}" escape
    // braces unless the second brace ends the text; "{}" and names with a space stay. A missing attribute's
    // placeholder stays, or goes with removeMissing. Replaced text is not scanned again. Null bag: nothing.
    void Format(const class VValueBag* bag, bool removeMissing = false);

    // Number readers; an empty text gives 0 or false.
    // Integers: digits are gathered in order (64-bit, wrapping), other characters skipped; a "-" met before
    // any non-zero digit makes the result negative; the first character of the current international
    // manager's decimal separator ends the scan. "1 234" -> 1234, "12.7" -> 12, "12-3" -> 123.
    int64 GetLong8() const override;
    // GetLong8 when it fits the type, else 0.
    int32 GetLong() const override;
    int16 GetWord() const override;
    int8 GetByte() const override;
    // A C real with "." (leading white space, sign, exponent, inf, nan, hexadecimal); 0 when none.
    double GetReal() const override;
    // GetReal; overflow (may be null) tells whether the value was out of range (result 0 or infinite).
    double GetRealCheckOverflow(bool* overflow) const;
    // True when the text equals "true" for the current international manager, diacritics not counting.
    bool GetBoolean() const override;
    // Every hexadecimal digit in order (64-bit, wrapping), other characters skipped.
    int64 GetHexLong() const noexcept;
    // The text as up to 4 bytes of UTF-8, padded with spaces, first byte on top; 0 when it needs more.
    uint32 GetOsType() const;
    // Shape only: "dddd-dd-dd", and "!!dddd-dd-dd!!".
    bool IsISODate() const noexcept;
    bool IsNonAmbigousDate() const noexcept;

    // Placeholders filled from a JSON object (VStringFormatJSON.cpp). Format replaces each "{name}" by the text
    // of the object's property name (null and undefined count as missing: removed with removeMissing, else
    // kept); doubled braces, empty names and names with a space are left alone, as in the bag form.
    // FormatWithTemplate writes into out this text with each "{{path}}" replaced by the text of the property at
    // that dotted path (nothing for null, undefined or a null object).
    void Format(const class VJSONObject* object, bool removeMissing);
    void FormatWithTemplate(const class VJSONObject* object, VString& out) const;

    // Value model: From... replace the text with the number (a boolean as "true" or "false").
    void FromBoolean(uint8 value) override;
    void FromByte(int8 value) override;
    void FromWord(int16 value) override;
    void FromLong(int32 value) override;
    void FromLong8(int64 value) override;
    void FromReal(double value) override;

    // ---- XML, JSON, Base64 and line ends (VStringEncoders.cpp)
    // Escapes " & ' < > as XML entities; with escapeControls also U+0000-U+001F (but tab, LF and CR) and U+007F
    // as "&#xHH;". A text that needs no escape is left untouched. 107 raised (text unchanged) when too long.
    void TranscodeToXML(bool escapeControls = false);
    // Resolves &amp; &gt; &lt; &quot; &apos; and "&#x<hex>;" (a pair of units above U+FFFF). Anything else,
    // including references to 0, to surrogates or beyond U+10FFFF, stays as written.
    void TranscodeFromXML();
    // out receives the text with its XML escapes (no control escapes); options are not used.
    void GetXMLString(VString& out, uint32 options = 0) const override;
    // Takes xml and resolves its escapes; always true.
    bool FromXMLString(const VString& xml) override;

    // JSON option bits: 1 surround with double quotes (writing only), 16 raw (no escaping either way), 1024 also
    // escape "&" and the apostrophe. out receives the escaped text; 107 raised and returned when it cannot fit.
    VError GetJSONString(VString& out, uint32 options = 0) const override;
    // Takes json with its escapes resolved ("\u" takes the next four units, skipping non-hexadecimal ones; with
    // fewer than four left it gives "u" and ends the text). Answers VE_OK.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    // JSON null makes this string null; any other value gives its text (VJSONValue::GetString, whose error is
    // answered). GetJSONValue: a null string gives JSON null, any other a JSON string (VStringJSONValue.cpp).
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    // out receives the a-z, A-Z, 0-9, "_" and "$" of the text, behind a "_" when the text begins with a digit.
    void GetCleanJSName(VString& out) const;

    // Replaces the text with the Base64 of size bytes (no line breaks, URL alphabet when url); false when the
    // coder fails.
    bool EncodeBase64(const void* data, size_t size, bool url = false);
    // Replaces the text with the Base64 of its bytes in charSet (line ends kept); empty or null stays, true.
    bool EncodeBase64(CharSet charSet, bool url = false);
    // Decodes the text into out. Raises 210 for a unit at or above U+0080, 100 when memory runs out; false then.
    bool DecodeBase64(VMemoryBuffer<1024, 2, 1048576>& out, bool url = false) const;
    // Replaces the text with its Base64 bytes decoded as charSet; empty or null stays, true.
    bool DecodeBase64(CharSet charSet, bool url = false);

    // The line-end form of the first line end: LF gives 4, CR LF 2, a CR alone 3; none gives fallback.
    ECarriageReturnMode GetCarriageReturnMode(ECarriageReturnMode fallback) const noexcept;
    // Rewrites every line end (CR LF, lone CR, lone LF) in the mode's form; eCRM_NATIVE keeps them. False (107
    // raised, text unchanged) when no buffer can be had.
    bool ConvertCarriageReturns(ECarriageReturnMode mode);
    // The same on encoded text, by the set's code units (16 or 32 bits in its byte order, else bytes); the bytes
    // of a cut unit at the end stay as they are. CharSet 0 does nothing. False when the block cannot grow.
    static bool ConvertCarriageReturns(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet,
                                       ECarriageReturnMode mode);
    // Converts length units in place within capacity units and answers the new length; swapped compares the
    // units byte-swapped. *needed receives the length the whole conversion takes; with less room in CR LF mode
    // only the first line ends are converted and the caller calls again with more room. Unit: uchar, UniChar or
    // uint32.
    template <class Unit>
    static size_t _ConvertCarriageReturns(Unit* text, size_t length, size_t capacity, ECarriageReturnMode mode,
                                          size_t* needed = nullptr, bool swapped = false) noexcept;

    // Wraps read-only literals: sets the storage fields directly (see core/CVSTR.h).
    friend struct CVSTR_struct;

    // ---- Encoding
    // Encodes into dest (size bytes); answers the bytes produced. The prefix is the count (16-bit units for
    // UTF-16, a byte otherwise; 0 when it does not fit) and the zero terminator one unit of the set.
    size_t ToBlock(void* dest, size_t size, CharSet charSet, bool zeroTerminated, bool lengthPrefixed) const;
    // Resets the buffer's used size and fills it with the text in charSet; false without converter.
    bool ToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet) const;

    // ---- Counted buffers shared with other owners
    // A counted buffer holding the text (+1 count), which the caller releases with ReleaseSharedBuffer; null
    // and 0, 0 for an empty or null string or when memory runs out.
    UniChar* RetainBuffer(int32* length, int32* capacity) const;
    // Drops one count of a counted buffer of this layout, freeing it at zero.
    static void ReleaseSharedBuffer(UniChar* buffer, int32 capacity) noexcept;
    // Makes this string share a counted buffer (+1 count); a null buffer empties it.
    void ShareBuffer(UniChar* buffer, int32 length, int32 capacity);

    // ---- Value kind 10
    const VValueInfo* GetValueInfo() const override;
    void Clear() override;
    VValue* Clone() const override { return new VString(*this); }
    CharSet DebugDump(char* buffer, int& length) const override;
    void GetString(VString& out) const override { out.FromString(*this); }
    void GetValue(VValueSingle& out) const override { out.FromString(*this); }
    void FromValue(const VValueSingle& value) override;
    bool FromValueSameKind(const VValue* other) override;
    // Identifiers go through text: out reads this text with its FromString, and FromVUUID takes the
    // identifier's GetString.
    void GetVUUID(VUUID& out) const override;
    void FromVUUID(const VUUID& id) override;
    // Times and durations go through text as well: out reads this text with its FromString, and FromTime and
    // FromDuration take the value's GetString (VStringTime.cpp).
    void GetTime(VTime& out) const override;
    void GetDuration(VDuration& out) const override;
    void FromTime(const VTime& time) override;
    void FromDuration(const VDuration& duration) override;

    // Stored form: int32 length in machine order, then the units, no terminator.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    void* WriteToPtr(void* data, bool swap = false, size_t limit = 0) const override;
    size_t GetSpace(size_t limit = 0) const override;

    // Stream form: int32 minus the length, then the units in the stream's order; empty is a single 0.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // An over-estimate for reserving room: 2 × length + 10 (4 when empty).
    size_t GetSizeInStream() const noexcept { return fLength > 0 ? size_t(fLength) * 2 + 10 : 4; }

    // 32-bit hash of the length and up to 16 units (first and last 8 of longer strings).
    uint32 GetHashValue() const noexcept;

    // Units up to the zero; 0 for null.
    static int32 UniCStringLength(const UniChar* text) noexcept;
    // Size in units of a new heap block for a string holding old units that must hold n; 0 when too large.
    static int64 ComputeProgressiveResize(int32 oldLength, int32 newLength) noexcept;

protected:
    // For strings with a larger inline area: area holds inlineCapacity + 1 units and lives as long as the object.
    VString(UniChar* area, int32 inlineCapacity) noexcept;

    void DoNullChanged() override;

    // Gives the string a writable buffer of its own for n units; keep copies min(length, n) units. False (and
    // library error 107 raised) when no buffer can be had; the text is then unchanged.
    bool _ReallocBuffer(int32 n, bool keep);
    // True when the buffer may be written in place for n units.
    bool _IsWritableFor(int32 n) const noexcept {
        if (n > fMaxLength) return false;
        if (_IsInline() || (fFlags & kPrivateBuffer) != 0) return true;
        if ((fFlags & kForeignBuffer) != 0) return false; // inside a counted buffer owned by someone else
        return _Count()->load(std::memory_order_acquire) < 2;
    }
    // Empties the text, back on the inline area, without touching the null and dirty flags.
    void _Clear() noexcept;
    // Ends a modification: terminator at length, not null, dirty.
    void _Modified() noexcept {
        fString[fLength] = 0;
        SetNull(false);
        fFlags |= kDirtyFlag;
    }
    bool _MakeWritable(int32 n) { return _IsWritableFor(n) || _ReallocBuffer(n, true); }
    void _Truncate(int32 n, bool keepPairs);

private:
    bool _IsInline() const noexcept { return fString == fInline; }
    void _ReleaseBuffer() noexcept;
    std::atomic<int32>* _Count() const noexcept { return CountOf(fString, fMaxLength); }
    // The count sits just behind the terminator slot, on a 4-byte boundary.
    static std::atomic<int32>* CountOf(UniChar* buffer, int32 capacity) noexcept {
        return reinterpret_cast<std::atomic<int32>*>(buffer + (capacity | 1) + 1);
    }
    void _ResetToInline() noexcept;
    void _CopyFrom(const UniChar* text, int32 n);
    void _StealFrom(VString& other) noexcept;
    VError _ReadOldStreamForm(VStream* stream, int32 n);

    UniChar* fString;
    int32 fLength = 0;
    int32 fMaxLength;
    int32 fInlineMaxLength;
    UniChar* fInline;
    UniChar fTerminator = 0; // the inline area of a plain string
};

// A string with an inline area of N units: texts up to N units need no heap block.
template <int32 N> class VStr : public VString {
public:
    VStr() noexcept : VString(fArea, N) {}
    VStr(const VString& other) : VStr() { FromString(other); }
    VStr(const VStr& other) : VStr() { FromString(other); }
    VStr(const char* text) : VStr() { FromCString(text); }
    VStr(const UniChar* text) : VStr() { FromUniCString(text); }
    // The one unit c: length 1 (also for 0), not null, dirty.
    explicit VStr(UniChar c) : VStr() { AppendUniChar(c); }
    VStr& operator=(const VString& other) {
        FromString(other);
        return *this;
    }
    VStr& operator=(const VStr& other) {
        FromString(other);
        return *this;
    }

private:
    UniChar fArea[N + 1];
};

using VStr4 = VStr<4>;
using VStr15 = VStr<15>;
using VStr31 = VStr<31>;
using VStr50 = VStr<50>;
using VStr63 = VStr<63>;
using VStr80 = VStr<80>;
using VStr100 = VStr<100>;
using VStr255 = VStr<255>;
using VStr1000 = VStr<1000>;

// Descriptor of kind 10.
class VString_info : public VValueInfo {
public:
    VString_info() : VValueInfo(VString::kKind, VString::kKind) {}
    using VValueInfo::Generate;
    VValue* Generate() const override { return new VString; }
    VValue* LoadFromPtr(const void* data, bool swap = false) const override;
    // Swaps the length and every unit of a stored form; nativeOrder tells whether the length is readable as is.
    void* ByteSwapPtr(void* data, bool nativeOrder) const override;
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool diacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool diacritical = false) const override;
    // Stored forms compared as VString's same-kind members compare them (VStringOperations.cpp).
    CompareResult CompareTwoPtrToData_Like(const void* a, const void* b, bool diacritical = false) const override;
    CompareResult CompareTwoPtrToDataBegining_Like(const void* a, const void* b,
                                                   bool diacritical = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b,
                                                 const VCompareOptions& options) const override;
    size_t GetSizeOfValueDataPtr(const void* data) const override;
    size_t GetAvgSpace() const override { return 64; }
};

bool operator==(const VString& a, const VString& b) noexcept;
inline bool operator!=(const VString& a, const VString& b) noexcept {
    return !(a == b);
}
VString operator+(const VString& a, const VString& b);

// Hash and exact (unit by unit) equality of strings for hash maps, e.g.
// std::unordered_map<VString, T, hash_VString, hash_VString>. The hash covers every unit and is keyed by a
// random seed drawn once per process, so keys chosen from outside cannot be made to collide in advance.
struct hash_VString {
    size_t operator()(const VString& text) const noexcept;
    bool operator()(const VString& a, const VString& b) const noexcept { return a.EqualToStringRaw(b); }
};

} // namespace vela
