// Reads arbitrary text with every text reader of date-times and durations (RFC 3339, XML and JSON with "!!"
// marks, the plain and short forms, RFC 822, ISO 8601 durations, colon forms, millisecond counts): never crashes
// or reads out of bounds; and whatever a reader accepts, the library writes in its own forms and reads back equal.
#include "core/VString.h"
#include "values/VDuration.h"
#include "values/VTime.h"

#include <cstdint>
#include <cstdlib>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// The written forms of a time read back to the same time. Years beyond four digits are written wider than the
// reader's four-digit field, and the zero stamp is written in the form that reads as null: both are left out.
void CheckTimeRoundTrip(const VTime& time) {
    if (time.IsNull() || time.GetStamp() == 0 || (time.GetStamp() >> 48) > 9999) return;
    VString text;
    VTime back;
    time.GetRfc3339String(text, VTime::kRfc3339UTC);
    Check(back.FromRfc3339String(text));
    Check(back == time && !back.IsNull());
    time.GetJSONString(text, 4096);
    back.Clear();
    Check(back.FromJSONString(text) == VE_OK);
    Check(back == time);
    time.GetXMLString(text, VTime::kRfc3339UTC);
    Check(back.FromXMLString(text));
    Check(back == time);
}

void CheckDurationRoundTrip(const VDuration& duration) {
    int64 days = duration.ConvertToMilliseconds() / VDuration::kMsPerDay;
    if (days > INT32_MAX || days < -INT32_MAX) return; // ISO parts are 32-bit
    VString text;
    VDuration back;
    duration.GetXMLString(text, 1);
    back.FromXMLString(text);
    Check(back == duration);
    duration.GetJSONString(text);
    back.FromJSONString(text);
    Check(back == duration);
}

void ReadAll(const VString& text) {
    VTime time;
    time.FromRfc3339String(text);
    CheckTimeRoundTrip(time);
    time.FromXMLString(text);
    CheckTimeRoundTrip(time);
    time.FromJSONString(text);
    CheckTimeRoundTrip(time);
    time.FromString(text);
    CheckTimeRoundTrip(time);
    time.FromRfc822String(text);
    CheckTimeRoundTrip(time);

    VDuration duration;
    duration.FromXMLString(text);
    CheckDurationRoundTrip(duration);
    duration.FromString(text);
    CheckDurationRoundTrip(duration);
    duration.FromJSONString(text);
    CheckDurationRoundTrip(duration);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    ReadAll(VString(data, size, VTC_UTF_8));
    // One unit per byte as well: control characters and NULs reach the readers as they are.
    VString units;
    UniChar* buffer = units.GetCPointerForWrite(int32(size));
    if (buffer == nullptr) return 0;
    for (size_t i = 0; i < size; ++i)
        buffer[i] = UniChar(data[i]);
    units.Validate(int32(size));
    ReadAll(units);
    return 0;
}
