#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "json/VInlineString.h"

#include <atomic>
#include <concepts>
#include <unordered_set>

namespace vela {

class IFile;
class VCompareOptions;
class VJSONArray;
class VJSONObject;
class VString;
class VTime;
class VValue;
struct VJSONDeepEqualVisit;

// The kinds of a JSON value. A boolean is stored as 1 + b. JSON_lastType (9) only marks the end of the list.
enum JSONType : int32 {
    JSON_null = 0,
    JSON_false = 1,
    JSON_true = 2,
    JSON_string = 3,
    JSON_number = 4,
    JSON_object = 5,
    JSON_array = 6,
    JSON_undefined = 7,
    JSON_time = 8,
    JSON_lastType = 9,
};

// A double as a 32-bit integer: truncated toward zero, NaN gives 0 and values out of range saturate.
int32 JSONNumberToLong(double number) noexcept;

// The tagged value of the JSON model: null, a boolean, a string (a shared counted buffer), a number, a reference to
// an object or array (one reference owned by the value), undefined, or a UTC date without time of day.
// Every constructor but the move constructor, and copy assignment, take a new stamp; setters keep it.
// Storing an object or array into a value does not connect graphs: that happens when the value is stored into an
// object property or an array element.
class VJSONValue : public VObject {
public:
    // Built at start-up in this order, each with the next stamp.
    static const VJSONValue sUndefined;
    static const VJSONValue sNull;
    static const VJSONValue sTrue;
    static const VJSONValue sFalse;
    static const VJSONValue sLastType;
    static const VString sUndefinedString; // "undefined"
    static const VString sNullString;      // "null"
    static const VString sTrueString;      // "true"
    static const VString sFalseString;     // "false"
    static const VString sObjectString;    // "[object Object]"

    // The change stamp counter; the first stamp handed out is 1. Threads take stamps from it in small blocks, so
    // stamps grow on each thread and differ between threads, without a shared write per stamp.
    static std::atomic<uint32> sStamp;
    static uint32 NextStamp() noexcept;

    // A value of kind type with an empty payload; an object or array kind makes a new empty one.
    VJSONValue(JSONType type = JSON_undefined);
    // Retains object (array); null gives null.
    VJSONValue(VJSONObject* object) noexcept;
    VJSONValue(VJSONArray* array) noexcept;
    // A null string gives null; otherwise the value shares the text's buffer.
    VJSONValue(const VString& text);
    // Always a string; the buffer, when present, gains one share.
    VJSONValue(const VInlineString& text) noexcept;
    VJSONValue(double number) noexcept;
    VJSONValue(int32 number) noexcept : VJSONValue(double(number)) {}
    // A null time gives null; otherwise a time holding the UTC date of time (its time of day is not kept).
    VJSONValue(const VTime& time) noexcept;
    // Booleans go through JSONType (or SetBool): an implicit bool would read as a number.
    template <std::same_as<bool> B> VJSONValue(B) = delete;
    VJSONValue(const VJSONValue& other) noexcept
        : VObject(other), fType(other.fType), fStamp(NextStamp()), fPayload(other.fPayload) {
        if (_HoldsReference()) _RetainPayload();
    }
    // Takes the source's stamp, tag and payload; the source is left undefined.
    VJSONValue(VJSONValue&& other) noexcept
        : VObject(other), fType(other.fType), fStamp(other.fStamp), fPayload(other.fPayload) {
        other.fType = JSON_undefined;
    }
    ~VJSONValue() override {
        if (_HoldsReference()) _ReleasePayload();
    }

    VJSONValue& operator=(const VJSONValue& other) noexcept;
    VJSONValue& operator=(VJSONValue&& other) noexcept;

    JSONType GetType() const noexcept { return fType; }
    bool IsNull() const noexcept { return fType == JSON_null; }
    bool IsUndefined() const noexcept { return fType == JSON_undefined; }
    bool IsBool() const noexcept { return fType == JSON_false || fType == JSON_true; }
    bool IsString() const noexcept { return fType == JSON_string; }
    bool IsNumber() const noexcept { return fType == JSON_number; }
    bool IsObject() const noexcept { return fType == JSON_object; }
    bool IsArray() const noexcept { return fType == JSON_array; }
    bool IsTime() const noexcept { return fType == JSON_time; }
    uint32 GetStamp() const noexcept { return fStamp; }
    // Gives the value a new stamp.
    void TouchStamp() noexcept { fStamp = NextStamp(); }
    // The tag of a string payload (0 for other kinds).
    uint32 GetStringTag() const noexcept { return fType == JSON_string ? fPayload.fString.fTag : 0; }

    // ---- Setters: each releases the old payload first and keeps the stamp.
    void SetNull() noexcept;
    void SetUndefined() noexcept;
    void SetBool(bool value) noexcept;
    void SetNumber(double number) noexcept;
    // A null text gives null. The same buffer changes nothing; the tag is renewed only when the kind changes.
    void SetString(const VString& text);
    void SetString(const VInlineString& text) noexcept;
    // A string holding a copy of the length units (no buffer for none, nor when memory runs out); the tag is
    // renewed only when the kind changes.
    void SetString(const UniChar* units, int32 length) noexcept;
    // Null gives null; the same object changes nothing; the new one is retained before the old is released.
    void SetObject(VJSONObject* object) noexcept;
    void SetArray(VJSONArray* array) noexcept;
    // A time holding the packed date (year << 16 | month << 8 | day, each field masked to its bits).
    void SetDate(int16 year, int16 month, int16 day) noexcept;
    // A null time gives null; otherwise a time holding the UTC date of time.
    void SetTime(const VTime& time) noexcept;
    // Empties the payload by kind: true becomes false, a string empty (new tag), a number 0, an object or array
    // null, a date 0; null, false and undefined stay.
    void Clear() noexcept;

    // ---- Reads
    // True, objects, arrays, non-empty strings, numbers other than 0 (NaN too) and dates other than 0.
    bool GetBool() const noexcept;
    // Numbers as stored, true 1; a string read as hexadecimal after "0x"/"0X", else as a real; anything else 0.
    double GetNumber() const { return fType == JSON_number ? fPayload.fNumber : _GetNumberOfOtherKinds(); }
    // The text form: empty for null and undefined, "false"/"true", the string itself, the JSON text of a number
    // ("null" when not finite), "[object Object]", an array's elements joined with ",", a date as YYYY-MM-DD.
    // Arrays detect cycles through visited (a set of their own when null): library error 900.
    VError GetString(VString& out, std::unordered_set<const VJSONArray*>* visited = nullptr) const;
    // The fields of a date and true; 0, 0, 0 and false for other kinds.
    bool GetDate(int16* year, int16* month, int16* day) const noexcept;
    // A date: its UTC midnight; a string: read by the time's FromString; anything else: out cleared and null.
    void GetTime(VTime& out) const;
    // A new value owned by the caller: VBoolean, VString (the text), VReal, VTime (UTC midnight of a date); an
    // object gives its implementation's value when it makes one; otherwise objects and arrays give the marker
    // texts U+0001 U+0002 U+0003 U+0001 (object) and U+0001 U+0002 U+0003 U+0002 (array) with withMarkers, else
    // a null VString, as null and undefined do.
    VValue* CreateVValue(bool withMarkers) const;
    // The object (array) with one more reference for the caller, or null for other kinds.
    VJSONObject* RetainObject() const noexcept;
    VJSONArray* RetainArray() const noexcept;
    // The object (array) without a new reference, or null; valid while the value holds it.
    VJSONObject* GetObjectPtr() const noexcept { return fType == JSON_object ? fPayload.fObject : nullptr; }
    VJSONArray* GetArrayPtr() const noexcept { return fType == JSON_array ? fPayload.fArray : nullptr; }

    // ---- Property shortcuts
    // On an object its property (VJSONObject::GetProperty); undefined for other kinds.
    VJSONValue GetProperty(const VString& name) const;
    // On an object VJSONObject::SetProperty; nothing for other kinds.
    void SetProperty(const VString& name, const VJSONValue& value) const;
    // True only when value is an object whose property at path is exactly true.
    static bool GetBoolByPath(const VJSONValue& value, const VString& path);
    // The number at path as an int32 (JSONNumberToLong); 0 when it is no number.
    static int32 GetLongByPath(const VJSONValue& value, const VString& path);
    // The string at path into out and true; false (out unchanged) when it is no string.
    static bool GetStringByPath(const VJSONValue& value, const VString& path, VString& out);

    // ---- Text and files (VJSONValueText.cpp; VJSONImporter and VJSONWriter give the details)
    // Parses text into this value: importer options 0, 192 with dates, 576 with dates and anyDate (anyDate alone
    // changes nothing). Answers the importer's error (550).
    VError ParseFromString(const VString& text, bool dates = false, bool anyDate = false);
    // Parses the file as UTF-8 text (importer options 0, or 192 with dates; VJSONImporter::ParseFile).
    VError LoadFromFile(const IFile* file, bool dates = false);
    // Replaces the file's content with this value's text (VJSONWriter::StringifyValueToFile).
    VError SaveToFile(const IFile* file, uint32 options) const;
    // out receives this value's text (writer options; 1 compact, 9 indented). With option 0x800 a value that
    // text cannot hold (a cycle, an object or array met twice, an object with a binary signature or a class) is
    // written as {"__PRIVATE_BINARY_OBJECT": Base64 of its binary JSON}, which ParseFromString reads back; the
    // text writer's refusals are then dropped, and the binary writer's failure is the answer.
    VError Stringify(VString& out, uint32 options = 1) const;

    // ---- Comparison
    // -1, 0 or 1. Different kinds: null and undefined are equal, else by kind number. Same kind: strings and
    // numbers under options, objects and arrays by identity then address, dates as signed packed numbers.
    // Two values of kind 9 answer -1000.
    int32 CompareTo(const VJSONValue& other, const VCompareOptions& options) const;
    // Same kind and equal contents, objects and arrays compared member by member (cycles are followed once).
    bool DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const;
    bool DeepEqualTo(const VJSONValue& other, const VCompareOptions& options, VJSONDeepEqualVisit* visit) const;

private:
    friend class VJSONArray;
    friend class VJSONObject;
    friend class VJSONWriter; // walks unshared nodes in place
    friend class VJSONBinaryWriter;
    friend class VJSONBinaryImporter;

    struct StringPayload {
        VInlineString fText;
        uint32 fTag;
    };
    union Payload {
        Payload() noexcept : fNumber(0.0) {}
        StringPayload fString;
        double fNumber;
        VJSONObject* fObject;
        VJSONArray* fArray;
        uint32 fDate;
    };

    // Strings, objects and arrays hold a share or a reference.
    bool _HoldsReference() const noexcept { return ((1u << uint32(fType)) & 0x68u) != 0; }
    // Drops the payload's reference or share; the kind and payload are left as they were.
    void _ReleasePayload() noexcept;
    // After a copy of the payload: takes a reference or share, and a new tag for a string.
    void _RetainPayload() noexcept;
    double _GetNumberOfOtherKinds() const;
    void _SetStringPayload(const VInlineString& text, bool newTag) noexcept;
    // Stores record, taking over the share it holds; the tag is renewed only when the kind changes.
    void _AdoptString(const VInlineString& record) noexcept;

    JSONType fType;
    uint32 fStamp;
    Payload fPayload;
};

// Pairs of objects or arrays already being compared by a deep comparison: a pair met again is taken as equal,
// so comparing cyclic graphs ends.
struct VJSONDeepEqualVisit {
    struct PairHash {
        size_t operator()(const std::pair<const void*, const void*>& pair) const noexcept {
            return std::hash<const void*>()(pair.first) * 31u + std::hash<const void*>()(pair.second);
        }
    };
    std::unordered_set<std::pair<const void*, const void*>, PairHash> fPairs;

    // False when the pair was already there.
    bool Enter(const void* a, const void* b) { return fPairs.emplace(a, b).second; }
};

} // namespace vela
