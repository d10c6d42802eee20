#pragma once

#include "core/VTypes.h"

#include <string>
#include <vector>

namespace vela {

// The Linux process table behind VSystem's process operations: the numeric entries of procRoot (normally
// "/proc"; tests point it elsewhere).
class XPosixProcesses {
public:
    XPosixProcesses() = delete;

    // Appends the numeric entries of procRoot to pids; false (pids unchanged) when it cannot be read.
    static bool ListProcesses(std::vector<int>& pids, const char* procRoot = "/proc");
    // The short name of pid (its "comm" entry without the line feed). found is false when pid has no entry;
    // the result is false when the table itself cannot be read.
    static bool ReadProcessName(int pid, std::string& name, bool& found, const char* procRoot = "/proc");
    // The target of pid's "exe" link; false when it cannot be read.
    static bool ReadProcessPath(int pid, std::string& path, const char* procRoot = "/proc");
};

} // namespace vela
