#pragma once

#include "core/IRefCountable.h"
#include "core/VTypes.h"

namespace vela {

class VErrorBase;
class VString;

// The level of a log record; the number is also the level's bit in a logger's level mask.
enum EMessageLevel : int32 {
    EML_Dump = 0,
    EML_Trace = 1,
    EML_Assert = 2,
    EML_Debug = 3,
    EML_Information = 4,
    EML_Warning = 5,
    EML_Error = 6,
    EML_Fatal = 7,
};

// The process logger as the error layer and the debug manager see it: level filtering and the records they
// hand over. Any task may call it at any time.
class ILogger : public IRefCountable {
public:
    // Whether a record of level would be kept.
    virtual bool ShouldLog(EMessageLevel level) const = 0;
    // Logs message at level; an empty source stands for the process's own.
    virtual void LogMessage(EMessageLevel level, const VString& source, const VString& message) = 0;
    // Logs error (not retained beyond the call unless the logger keeps it) at level error, when that level is
    // taken; null is ignored.
    virtual void LogErrorIfNecessary(VErrorBase* error) = 0;
    // Logs a failed assertion (condition text, source file, line) at level assert, when that level is taken.
    virtual void LogAssertIfNecessary(const char* message, const char* file, int line) = 0;
};

// The process's logger, or null when it has none. Borrowed: the process frame owns it and uninstalls it before
// destroying it.
ILogger* GetProcessLogger() noexcept;
// Installs the process logger (null: none); answers the previous one. Called by the process frame and tests.
ILogger* SetProcessLogger(ILogger* logger) noexcept;

} // namespace vela
