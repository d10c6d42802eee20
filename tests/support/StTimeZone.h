#pragma once

#include "system/VSystem.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace vela::test {

// Runs the scope in a time zone (a TZ value such as "Europe/Paris" or "EST5"), restoring the process's zone
// afterwards.
class StTimeZone {
public:
    explicit StTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) fOld = old;
        setenv("TZ", zone, 1);
        VSystem::SystemDateTimeChanged();
    }
    ~StTimeZone() {
        if (fOld)
            setenv("TZ", fOld->c_str(), 1);
        else
            unsetenv("TZ");
        VSystem::SystemDateTimeChanged();
    }
    StTimeZone(const StTimeZone&) = delete;
    StTimeZone& operator=(const StTimeZone&) = delete;

private:
    std::optional<std::string> fOld;
};

} // namespace vela::test
