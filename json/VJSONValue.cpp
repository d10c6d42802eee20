#include "json/VJSONValue.h"

#include "core/VString.h"
#include "values/VCompareOptions.h"
#include "values/VTime.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vela {

std::atomic<uint32> VJSONValue::sStamp{0};

namespace {

// Stamps and string tags are handed out from per-thread blocks of the global counters (initial-exec: the library
// is loaded with the program, and the accesses stay plain loads).
constexpr uint32 kCounterBlock = 64;
struct CounterBlock {
    uint32 fNext;
    uint32 fLeft;

    uint32 Take(std::atomic<uint32>& counter) noexcept {
        if (fLeft == 0) {
            fNext = counter.fetch_add(kCounterBlock, std::memory_order_relaxed) + 1;
            fLeft = kCounterBlock;
        }
        --fLeft;
        return fNext++;
    }
};
[[gnu::tls_model("initial-exec")]] thread_local CounterBlock tStamps{0, 0};
[[gnu::tls_model("initial-exec")]] thread_local CounterBlock tTags{0, 0};

uint32 NextTag() noexcept {
    return tTags.Take(VInlineString_tag) - 1; // tags start at 0
}

} // namespace

uint32 VJSONValue::NextStamp() noexcept {
    return tStamps.Take(sStamp);
}

// Start-up order fixes the stamps of the constants: 1 to 5.
const VJSONValue VJSONValue::sUndefined(JSON_undefined);
const VJSONValue VJSONValue::sNull(JSON_null);
const VJSONValue VJSONValue::sTrue(JSON_true);
const VJSONValue VJSONValue::sFalse(JSON_false);
const VJSONValue VJSONValue::sLastType(JSON_lastType);
const VString VJSONValue::sUndefinedString("undefined");
const VString VJSONValue::sNullString("null");
const VString VJSONValue::sTrueString("true");
const VString VJSONValue::sFalseString("false");
const VString VJSONValue::sObjectString("[object Object]");

int32 JSONNumberToLong(double number) noexcept {
    if (std::isnan(number)) return 0;
    if (number >= 2147483647.0) return std::numeric_limits<int32>::max();
    if (number <= -2147483648.0) return std::numeric_limits<int32>::min();
    return int32(number); // in range: truncation toward zero is defined
}

namespace {

// The JSON text of a number: an integral value within 2^53 - 1 as a decimal integer, NaN and infinities as
// "null", anything else as C's "%.14G" (always with ".").
void NumberToJSONText(double number, VString& out) {
    if (!std::isfinite(number)) {
        out.FromCString("null");
        return;
    }
    char text[40];
    constexpr double kMaxExact = 9007199254740991.0;
    std::to_chars_result result;
    if (number == std::trunc(number) && std::fabs(number) <= kMaxExact) {
        result = std::to_chars(text, text + sizeof(text) - 1, int64(number));
    } else {
        result = std::to_chars(text, text + sizeof(text) - 1, number, std::chars_format::general, 14);
        for (char* c = text; c < result.ptr; ++c) {
            if (*c == 'e') *c = 'E';
        }
    }
    *result.ptr = 0;
    out.FromCString(text);
}

// A packed date as YYYY-MM-DD when it is a calendar date, else the text of a null time.
// A date as VTime writes it in JSON: "YYYY-MM-DD", the null form for a date that is no calendar date.
void DateToText(uint32 date, VString& out) {
    VTime time;
    time.FromUTCTime(int16(date >> 16), int16((date >> 8) & 0xFF), int16(date & 0xFF), 0, 0, 0, 0);
    time.GetJSONString(out, 512);
}

// Reals under options: NaN first, equal within the tolerance unless the comparison is exact.
int32 CompareNumbers(double a, double b, const VCompareOptions& options) noexcept {
    bool aNaN = std::isnan(a);
    bool bNaN = std::isnan(b);
    if (aNaN || bNaN) return aNaN && bNaN ? CR_EQUAL : (aNaN ? CR_SMALLER : CR_BIGGER);
    if (options.IsDiacritical() ? a == b : std::fabs(a - b) < options.GetEpsilon()) return CR_EQUAL;
    return a > b ? CR_BIGGER : CR_SMALLER;
}

template <class T> int32 CompareAddresses(const T* a, const T* b) noexcept {
    if (a == b) return CR_EQUAL;
    return std::less<const T*>()(a, b) ? CR_SMALLER : CR_BIGGER;
}

} // namespace

// ---- Construction

VJSONValue::VJSONValue(JSONType type) : fType(type), fStamp(NextStamp()) {
    switch (type) {
    case JSON_string:
        _SetStringPayload(VInlineString(), true);
        break;
    case JSON_object:
        fPayload.fObject = new VJSONObject;
        break;
    case JSON_array:
        fPayload.fArray = new VJSONArray;
        break;
    case JSON_time:
        fPayload.fDate = 0;
        break;
    default:
        break;
    }
}

VJSONValue::VJSONValue(VJSONObject* object) noexcept : fType(JSON_null), fStamp(NextStamp()) {
    if (object == nullptr) return;
    object->Retain();
    fType = JSON_object;
    fPayload.fObject = object;
}

VJSONValue::VJSONValue(VJSONArray* array) noexcept : fType(JSON_null), fStamp(NextStamp()) {
    if (array == nullptr) return;
    array->Retain();
    fType = JSON_array;
    fPayload.fArray = array;
}

VJSONValue::VJSONValue(const VString& text) : fType(JSON_null), fStamp(NextStamp()) {
    if (text.IsNull()) return;
    fType = JSON_string;
    _SetStringPayload(VInlineString::RetainFromString(text), true);
}

VJSONValue::VJSONValue(const VInlineString& text) noexcept : fType(JSON_string), fStamp(NextStamp()) {
    text.Retain();
    _SetStringPayload(text, true);
}

VJSONValue::VJSONValue(double number) noexcept : fType(JSON_number), fStamp(NextStamp()) {
    fPayload.fNumber = number;
}

VJSONValue& VJSONValue::operator=(const VJSONValue& other) noexcept {
    if (this == &other) return *this;
    // Copy first: releasing our payload may free what other lives in.
    VJSONValue copy(other);
    _ReleasePayload();
    fType = copy.fType;
    fPayload = copy.fPayload;
    fStamp = copy.fStamp; // the copy's new stamp
    copy.fType = JSON_undefined;
    return *this;
}

VJSONValue& VJSONValue::operator=(VJSONValue&& other) noexcept {
    if (this == &other) return *this;
    JSONType type = other.fType;
    Payload payload = other.fPayload;
    uint32 stamp = other.fStamp;
    other.fType = JSON_undefined;
    _ReleasePayload();
    fType = type;
    fPayload = payload;
    fStamp = stamp;
    return *this;
}

void VJSONValue::_ReleasePayload() noexcept {
    switch (fType) {
    case JSON_string:
        fPayload.fString.fText.Release();
        break;
    case JSON_object:
        fPayload.fObject->Release();
        break;
    case JSON_array:
        fPayload.fArray->Release();
        break;
    default:
        break;
    }
}

void VJSONValue::_RetainPayload() noexcept {
    switch (fType) {
    case JSON_string:
        fPayload.fString.fText.Retain();
        fPayload.fString.fTag = NextTag();
        break;
    case JSON_object:
        fPayload.fObject->Retain();
        break;
    case JSON_array:
        fPayload.fArray->Retain();
        break;
    default:
        break;
    }
}

void VJSONValue::_SetStringPayload(const VInlineString& text, bool newTag) noexcept {
    fPayload.fString.fText = text;
    if (newTag) fPayload.fString.fTag = NextTag();
}

// ---- Setters

void VJSONValue::SetNull() noexcept {
    _ReleasePayload();
    fType = JSON_null;
}

void VJSONValue::SetUndefined() noexcept {
    _ReleasePayload();
    fType = JSON_undefined;
}

void VJSONValue::SetBool(bool value) noexcept {
    _ReleasePayload();
    fType = value ? JSON_true : JSON_false;
}

void VJSONValue::SetNumber(double number) noexcept {
    _ReleasePayload();
    fType = JSON_number;
    fPayload.fNumber = number;
}

void VJSONValue::SetString(const VString& text) {
    if (text.IsNull()) {
        SetNull();
        return;
    }
    if (fType == JSON_string && fPayload.fString.fText.fBuffer != nullptr &&
        fPayload.fString.fText.fBuffer == text.GetCPointer())
        return;
    _AdoptString(VInlineString::RetainFromString(text));
}

void VJSONValue::SetString(const VInlineString& text) noexcept {
    if (fType == JSON_string && fPayload.fString.fText.fBuffer == text.fBuffer) return;
    text.Retain();
    _AdoptString(text);
}

void VJSONValue::SetString(const UniChar* units, int32 length) noexcept {
    _AdoptString(VInlineString::FromUnits(units, length));
}

void VJSONValue::_AdoptString(const VInlineString& record) noexcept {
    if (fType == JSON_string) {
        fPayload.fString.fText.Release();
        fPayload.fString.fText = record;
        return;
    }
    _ReleasePayload();
    fType = JSON_string;
    _SetStringPayload(record, true);
}

void VJSONValue::SetObject(VJSONObject* object) noexcept {
    if (object == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_object && fPayload.fObject == object) return;
    object->Retain();
    _ReleasePayload();
    fType = JSON_object;
    fPayload.fObject = object;
}

void VJSONValue::SetArray(VJSONArray* array) noexcept {
    if (array == nullptr) {
        SetNull();
        return;
    }
    if (fType == JSON_array && fPayload.fArray == array) return;
    array->Retain();
    _ReleasePayload();
    fType = JSON_array;
    fPayload.fArray = array;
}

void VJSONValue::SetDate(int16 year, int16 month, int16 day) noexcept {
    _ReleasePayload();
    fType = JSON_time;
    fPayload.fDate = (uint32(uint16(year)) << 16) | (uint32(uint8(month)) << 8) | uint32(uint8(day));
}

void VJSONValue::Clear() noexcept {
    switch (fType) {
    case JSON_true:
        fType = JSON_false;
        break;
    case JSON_string:
        fPayload.fString.fText.Release();
        _SetStringPayload(VInlineString(), true);
        break;
    case JSON_number:
        fPayload.fNumber = 0.0;
        break;
    case JSON_object:
    case JSON_array:
        SetNull();
        break;
    case JSON_time:
        fPayload.fDate = 0;
        break;
    default:
        break;
    }
}

// ---- Reads

bool VJSONValue::GetBool() const noexcept {
    switch (fType) {
    case JSON_true:
    case JSON_object:
    case JSON_array:
        return true;
    case JSON_string:
        return fPayload.fString.fText.fLength > 0;
    case JSON_number:
        return fPayload.fNumber != 0.0; // NaN is true
    case JSON_time:
        return fPayload.fDate != 0;
    default:
        return false;
    }
}

double VJSONValue::_GetNumberOfOtherKinds() const {
    switch (fType) {
    case JSON_true:
        return 1.0;
    case JSON_string: {
        VString text;
        fPayload.fString.fText.ToString(text);
        const UniChar* units = text.GetCPointer();
        if (text.GetLength() >= 2 && units[0] == u'0' && (units[1] == u'x' || units[1] == u'X'))
            return double(uint64(text.GetHexLong()));
        return text.GetReal();
    }
    default:
        return 0.0;
    }
}

VError VJSONValue::GetString(VString& out, std::unordered_set<const VJSONArray*>* visited) const {
    switch (fType) {
    case JSON_false:
        out.FromString(sFalseString);
        return VE_OK;
    case JSON_true:
        out.FromString(sTrueString);
        return VE_OK;
    case JSON_string:
        fPayload.fString.fText.ToString(out);
        return VE_OK;
    case JSON_number:
        NumberToJSONText(fPayload.fNumber, out);
        return VE_OK;
    case JSON_object:
        out.FromString(sObjectString);
        return VE_OK;
    case JSON_array:
        return fPayload.fArray->GetString(out, visited);
    case JSON_time:
        DateToText(fPayload.fDate, out);
        return VE_OK;
    default:
        out.Clear();
        return VE_OK;
    }
}

bool VJSONValue::GetDate(int16* year, int16* month, int16* day) const noexcept {
    bool isTime = fType == JSON_time;
    uint32 date = isTime ? fPayload.fDate : 0;
    if (year != nullptr) *year = int16(date >> 16);
    if (month != nullptr) *month = int16((date >> 8) & 0xFF);
    if (day != nullptr) *day = int16(date & 0xFF);
    return isTime;
}

VJSONObject* VJSONValue::RetainObject() const noexcept {
    if (fType != JSON_object) return nullptr;
    fPayload.fObject->Retain();
    return fPayload.fObject;
}

VJSONArray* VJSONValue::RetainArray() const noexcept {
    if (fType != JSON_array) return nullptr;
    fPayload.fArray->Retain();
    return fPayload.fArray;
}

// ---- Property shortcuts

VJSONValue VJSONValue::GetProperty(const VString& name) const {
    if (fType != JSON_object) return sUndefined;
    return fPayload.fObject->GetProperty(name, nullptr);
}

void VJSONValue::SetProperty(const VString& name, const VJSONValue& value) const {
    if (fType == JSON_object) fPayload.fObject->SetProperty(name, value, nullptr);
}

bool VJSONValue::GetBoolByPath(const VJSONValue& value, const VString& path) {
    if (value.fType != JSON_object) return false;
    return value.fPayload.fObject->GetPropertyWithPath(path).fType == JSON_true;
}

int32 VJSONValue::GetLongByPath(const VJSONValue& value, const VString& path) {
    if (value.fType != JSON_object) return 0;
    VJSONValue found = value.fPayload.fObject->GetPropertyWithPath(path);
    return found.fType == JSON_number ? JSONNumberToLong(found.fPayload.fNumber) : 0;
}

bool VJSONValue::GetStringByPath(const VJSONValue& value, const VString& path, VString& out) {
    if (value.fType != JSON_object) return false;
    VJSONValue found = value.fPayload.fObject->GetPropertyWithPath(path);
    if (found.fType != JSON_string) return false;
    found.fPayload.fString.fText.ToString(out);
    return true;
}

// ---- Comparison

int32 VJSONValue::CompareTo(const VJSONValue& other, const VCompareOptions& options) const {
    if (fType != other.fType) {
        bool bothEmpty = (fType == JSON_null || fType == JSON_undefined) &&
                         (other.fType == JSON_null || other.fType == JSON_undefined);
        if (bothEmpty) return CR_EQUAL;
        return fType < other.fType ? CR_SMALLER : CR_BIGGER;
    }
    switch (fType) {
    case JSON_string: {
        VString a;
        VString b;
        fPayload.fString.fText.ToString(a);
        other.fPayload.fString.fText.ToString(b);
        return a.CompareToSameKindWithOptions(&b, options);
    }
    case JSON_number:
        return CompareNumbers(fPayload.fNumber, other.fPayload.fNumber, options);
    case JSON_object:
        return CompareAddresses(fPayload.fObject, other.fPayload.fObject);
    case JSON_array:
        return CompareAddresses(fPayload.fArray, other.fPayload.fArray);
    case JSON_time: {
        int32 a = int32(fPayload.fDate);
        int32 b = int32(other.fPayload.fDate);
        return a == b ? CR_EQUAL : (a < b ? CR_SMALLER : CR_BIGGER);
    }
    case JSON_lastType:
        return CR_UNRELEVANT;
    default:
        return CR_EQUAL;
    }
}

bool VJSONValue::DeepEqualTo(const VJSONValue& other, const VCompareOptions& options) const {
    return DeepEqualTo(other, options, nullptr);
}

bool VJSONValue::DeepEqualTo(const VJSONValue& other, const VCompareOptions& options,
                             VJSONDeepEqualVisit* visit) const {
    if (fType != other.fType) return false;
    if (fType == JSON_object) return fPayload.fObject->DeepEqualTo(other.fPayload.fObject, options, visit);
    if (fType == JSON_array) return fPayload.fArray->DeepEqualTo(other.fPayload.fArray, options, visit);
    return CompareTo(other, options) == CR_EQUAL;
}

} // namespace vela
