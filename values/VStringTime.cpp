// VString members that read and write times and durations.

#include "core/VString.h"

#include "values/VDuration.h"
#include "values/VTime.h"

namespace vela {

void VString::GetTime(VTime& out) const {
    out.FromString(*this);
}

void VString::GetDuration(VDuration& out) const {
    out.FromString(*this);
}

void VString::FromTime(const VTime& time) {
    time.GetString(*this);
}

void VString::FromDuration(const VDuration& duration) {
    duration.GetString(*this);
}

} // namespace vela
