#pragma once

#include "app/VSplitableLogFile.h"
#include "core/ILogListener.h"
#include "core/ILogger.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "files/VFilePath.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

class VFolder;
class VValueBag;

// Writes the process logger's records as lines "<seq> <local time> [<source>] <LEVEL> - <message>" into the
// numbered files of a VSplitableLogFile "<name>_<N>.txt" in one folder. Lines reach the file in the logger's
// batches, one flush per batch. Levels info, warning, error and fatal are written.
//
// Locks: Put runs under the process logger's listener lock and takes fLock; Start and Stop call the process
// logger (which takes its listener lock) only while holding fStartLock, never fLock, so the order is always
// fStartLock, listener lock, fLock.
class VLog4jMsgFileLogger : public VObject {
public:
    static constexpr uint32 kLevelMask = 0xF0;

    // Not started. An empty folder or name makes every Start fail.
    VLog4jMsgFileLogger(const VFilePath& folder, const VString& name);
    // The same on folder's path (null: none).
    VLog4jMsgFileLogger(const VFolder* folder, const VString& name);
    // Stops.
    ~VLog4jMsgFileLogger() override;
    VLog4jMsgFileLogger(const VLog4jMsgFileLogger&) = delete;
    VLog4jMsgFileLogger& operator=(const VLog4jMsgFileLogger&) = delete;

    // Continues the last file of the unbroken run name_1.txt, name_2.txt, ... (or creates name_1.txt).
    virtual void Start();
    // Opens file number (appending) and listens to the process logger. Stays not started, silently, when already
    // started, without folder or name, when the file cannot be opened, or when the process has no logger.
    void Start(int32 number);
    // Stops listening (records already logged are written first), then closes the file.
    virtual void Stop();
    virtual bool IsStarted() const;
    void Flush();
    // While paused, records are dropped.
    void Pause() noexcept { fPaused.store(true, std::memory_order_relaxed); }
    void Resume() noexcept { fPaused.store(false, std::memory_order_relaxed); }
    bool IsPaused() const noexcept { return fPaused.load(std::memory_order_relaxed); }
    // Started and level is one of the written levels.
    bool ShouldLog(EMessageLevel level) const;
    // How many files the open log keeps (no effect when not started); 0 when not started.
    void SetLogMaxNumberToKeep(int32 count);
    int32 GetLogMaxNumberToKeep() const;
    void GetLogFolderPath(VFilePath& out) const { out = fFolder; }
    void GetLogName(VString& out) const { out = fName; }
    // The open file's number, 0 when not started.
    int32 GetLogNumber() const;

    // "DUMP" ... "FATAL"; above fatal "INFO", below dump "DUMP".
    static const char* GetMessageLevelName(EMessageLevel level) noexcept;
    static void BuildLogFileName(const VString& name, int32 number, VString& out) {
        VSplitableLogFile::BuildLogFileName(name, number, out);
    }
    // The source (with ".<signature>"), level and message (with "[<code>] " and the parenthesised extra
    // attributes) of one record.
    static void GetLogInfosFromBag(const VValueBag* bag, VString& source, EMessageLevel& level, VString& message);

    // Writes one line when started, not paused and level is written.
    void Log(const VString& source, EMessageLevel level, const VString& message);
    void Log(const char* source, EMessageLevel level, const char* message);

private:
    class VLog4jLogListener : public VObject, public ILogListener {
    public:
        explicit VLog4jLogListener(VLog4jMsgFileLogger& owner) : fOwner(owner) {}
        void Put(const std::vector<const VValueBag*>& bags) override;

    protected:
        // Owned by the file logger: the count never frees it.
        void DoOnRefCountZero() override {}

    private:
        VLog4jMsgFileLogger& fOwner;
    };

    struct RecordParts;

    // The source (with its signature) and the whole message of a record.
    static void _Assemble(const RecordParts& parts, VString& source, VString& message);

    void _Put(const std::vector<const VValueBag*>& bags);
    // The rest under fLock.
    // Writes the record's line when it is plain ASCII and names its source (true; also when its level is not
    // written); false, spending nothing, for the general path.
    bool _WriteASCIIRecord(const RecordParts& parts);
    bool _ShouldWrite(EMessageLevel level) const noexcept;
    // Adds the line's part from its source on to the batch being written (when level is written).
    void _WriteLine(std::string_view source, EMessageLevel level, std::string_view message);
    // Numbers the batch's lines, stamps them with the local time and queues them in fPending (cut where the file
    // rolls over, so that every line lands in the file writing the lines one by one would have given it).
    void _NumberLines();
    // Lines wait in fPending and go out together, one write a batch (the calls that queue write them before
    // they return).
    void _WritePending();
    // "YYYY-MM-DDTHH:MM:SS.mmm", the current local time.
    void _AppendLocalTime(std::string& out);

    const VFilePath fFolder;
    const VString fName;
    // Serialises Start and Stop; held while the process logger is called.
    VCriticalSection fStartLock;
    // Guards fFile.
    mutable VCriticalSection fLock;
    std::unique_ptr<VSplitableLogFile> fFile;
    // Scratch of the line being written, kept to spare an allocation a line.
    std::string fSource8;
    std::string fMessage8;
    std::string fPending;
    // The batch's lines from their source on, and where each ends in fTails, until _NumberLines.
    std::string fTails;
    std::vector<size_t> fTailEnds;
    // The batch's local time between the blank after the sequence number and the " [" before the source.
    std::string fTime;
    // The record being written; its scratch texts are kept from record to record.
    std::unique_ptr<RecordParts> fParts;
    // The second of fTimePrefix, the local date and time up to its '.'.
    int64 fTimeSecond = -1;
    char fTimePrefix[80] = {};
    // The logger listened to (retained), set and cleared under fStartLock.
    ILogger* fLogger = nullptr;
    std::atomic<bool> fPaused{false};
    VLog4jLogListener fListener{*this};
};

} // namespace vela
