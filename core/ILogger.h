#pragma once

#include "core/IRefCountable.h"
#include "core/VTypes.h"

#include <atomic>

namespace vela {

class ILogListener;
class VErrorBase;
class VString;
class VValueBag;

// The level of a log record; the number is also the level's bit in a logger's level mask. Only 0..31 are
// levels: any other number is refused wherever a level is taken.
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

// Whether level names a bit of a 32-bit level mask.
constexpr bool IsValidMessageLevel(int32 level) noexcept {
    return level >= 0 && level < 32;
}

// The process logger: collects log records (value bags keyed by ILoggerBagKeys) from any task, filters them by
// level and hands them in batches to its listeners. Any task may log at any time.
class ILogger : public IRefCountable {
public:
    // Lets records in (ShouldLog refuses everything before).
    virtual void Start() = 0;
    // Stops the background delivery; records stay where they are.
    virtual void Stop() = 0;
    // Ends the collecting mode of DisableFlush: what it collected is filtered again by the level mask.
    virtual void EnableFlush() = 0;
    // Collects records of every level and delivers nothing until EnableFlush.
    virtual void DisableFlush() = 0;
    virtual bool IsStarted() const = 0;
    // Whether a record of level would be kept; false for numbers outside 0..31.
    virtual bool ShouldLog(EMessageLevel level) const = 0;
    // Keeps bag (not null; retained when kept, the caller keeps its own reference) when its level is taken; a
    // bag without "level" is an info record.
    virtual void LogBag(const VValueBag* bag) = 0;
    // Logs message at level; an empty source stands for the process's log source identifier.
    virtual void LogMessage(EMessageLevel level, const VString& source, const VString& message) = 0;
    // Hands every kept record to the listeners, oldest first (nothing while flushing is disabled).
    virtual void Flush() = 0;
    // The level switches set or clear their level's bit of the mask and answer the bit's previous value.
    virtual bool WithTrace(bool on) = 0;
    virtual bool WithDump(bool on) = 0;
    virtual bool WithDebug(bool on) = 0;
    virtual bool WithWarning(bool on) = 0;
    virtual bool WithError(bool on) = 0;
    virtual bool WithFatal(bool on) = 0;
    virtual bool WithAssert(bool on) = 0;
    virtual bool WithInfo(bool on) = 0;
    // Retains listener and puts it first in the delivery order; false for null or a listener already there.
    virtual bool AddLogListener(ILogListener* listener) = 0;
    // Flushes (the leaving listener still gets pending records), then releases listener; false for null or
    // an unknown listener.
    virtual bool RemoveLogListener(ILogListener* listener) = 0;

    // The process-wide record counter: each call answers the next number, 1 for the first call of the process,
    // from any task without gaps or repeats.
    static uint64 GetSequenceNumber() noexcept;
    // Takes count consecutive numbers of the same counter at once and answers the first (a writer numbering a
    // whole batch of lines); 0 takes none.
    static uint64 ReserveSequenceNumbers(uint64 count) noexcept;

    // Logs error at level error (its code, task, parameters and description, the component signature of
    // non-zero high bits, and the process's source) when that level is taken; null is ignored. error is not
    // retained.
    void LogErrorIfNecessary(VErrorBase* error);
    // Logs a failed assertion at level assert when that level is taken: message (ASCII or UTF-8), the file name
    // after its last '/', line, and the caller's cleaned stack crawl. Null texts count as empty.
    void LogAssertIfNecessary(const char* message, const char* file, int line);

    // A stack-crawl text (one frame a line) in its short form: argument lists, "vela::", "non-virtual thunk to "
    // and a trailing " const" removed from each line, the lines joined with " <- ".
    static void CleanStackCrawl(const VString& crawl, VString& out);

protected:
    static std::atomic<uint64> sSequenceNumber;
};

// The process's logger, or null when it has none. Borrowed: the process frame owns it and uninstalls it before
// destroying it.
ILogger* GetProcessLogger() noexcept;
// Installs the process logger (null: none); answers the previous one. Called by the process frame and tests.
ILogger* SetProcessLogger(ILogger* logger) noexcept;

// The name under which the process's records are logged when they name no source: the product name, the
// executable's file name until one is set. Any task may call these; the process object sets it at start-up.
void GetLogSourceIdentifier(VString& out);
void SetLogSourceIdentifier(const VString& identifier);

} // namespace vela
