#pragma once

// The path conversions between POSIX and the internal form are static members of the file layer.
#include "files/platform/XPosixFile.h"
