#pragma once

#include "core/VString.h"

namespace vela {

// A new string formatted like VString::Printf (the same conversions, %S %A %V included).
VString Printf(const char* format, ...);

} // namespace vela
