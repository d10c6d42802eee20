#pragma once

#include "core/ILogger.h"
#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VString.h"

#include <mutex>
#include <string>
#include <vector>

namespace vela::test {

// A logger that keeps what it is handed, from any task. Levels are filtered by a mask (bit n = level n); the
// default takes info, warning, error and fatal, as a new process logger does.
class RecordingLogger : public ILogger {
public:
    struct Record {
        EMessageLevel level;
        std::string kind; // "message", "error" or "assert"
        VError code = VE_OK;
        std::u16string text;
        VRefPtr<VErrorBase> error;
        int line = 0;
    };

    explicit RecordingLogger(uint32 mask = 0xF0) : fMask(mask) {}

    void SetMask(uint32 mask) {
        std::lock_guard<std::mutex> guard(fLock);
        fMask = mask;
    }
    std::vector<Record> All() const {
        std::lock_guard<std::mutex> guard(fLock);
        return fRecords;
    }
    // The codes of the error records, in order.
    std::vector<VError> ErrorCodes() const {
        std::vector<VError> codes;
        for (const Record& record : All())
            if (record.kind == "error") codes.push_back(record.code);
        return codes;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(fLock);
        fRecords.clear();
    }

    bool ShouldLog(EMessageLevel level) const override {
        std::lock_guard<std::mutex> guard(fLock);
        return level >= 0 && level < 32 && (fMask & (1u << uint32(level))) != 0;
    }
    void LogMessage(EMessageLevel level, const VString&, const VString& message) override {
        if (!ShouldLog(level)) return;
        _Add({level, "message", VE_OK, Text(message), {}, 0});
    }
    void LogErrorIfNecessary(VErrorBase* error) override {
        if (error == nullptr || !ShouldLog(EML_Error)) return;
        VString description;
        error->GetErrorDescription(description);
        _Add({EML_Error, "error", error->GetError(), Text(description), VRefPtr<VErrorBase>(error), 0});
    }
    void LogAssertIfNecessary(const char* message, const char* file, int line) override {
        if (!ShouldLog(EML_Assert)) return;
        VString text(message);
        text.AppendCString("@");
        text.AppendCString(file);
        _Add({EML_Assert, "assert", VE_OK, Text(text), {}, line});
    }

    static std::u16string Text(const VString& text) {
        return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
    }

private:
    void _Add(Record record) {
        std::lock_guard<std::mutex> guard(fLock);
        fRecords.push_back(std::move(record));
    }

    mutable std::mutex fLock;
    uint32 fMask;
    std::vector<Record> fRecords;
};

// Installs a recording logger as the process logger while it lives.
class StRecordingProcessLogger {
public:
    explicit StRecordingProcessLogger(uint32 mask = 0xF0)
        : fLogger(VRefPtr<RecordingLogger>::Adopt(new RecordingLogger(mask))),
          fPrevious(SetProcessLogger(fLogger.Get())) {}
    ~StRecordingProcessLogger() { SetProcessLogger(fPrevious); }
    StRecordingProcessLogger(const StRecordingProcessLogger&) = delete;
    StRecordingProcessLogger& operator=(const StRecordingProcessLogger&) = delete;

    RecordingLogger& operator*() const { return *fLogger; }
    RecordingLogger* operator->() const { return fLogger.Get(); }

private:
    VRefPtr<RecordingLogger> fLogger;
    ILogger* fPrevious;
};

} // namespace vela::test
