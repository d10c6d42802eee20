#pragma once

#include "app/VLogger.h"
#include "core/ILoggerBagKeys.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VValueBag.h"

#include <mutex>
#include <string>
#include <vector>

namespace vela::test {

// A started process logger that keeps, at once and from any task, every record its level filter takes, instead of
// waiting for a flush. Levels are filtered by a mask (bit n = level n); the default takes info, warning, error
// and fatal, as a new process logger does.
class RecordingLogger : public VLogger {
public:
    struct Record {
        EMessageLevel level;
        std::string kind; // "message", "error" (has "error_code") or "assert" (has "file_name")
        VError code = VE_OK;
        // "message"; for an assertion "message@file_name".
        std::u16string text;
        int32 taskID = 0;
        int32 line = 0;
        VRefPtr<VValueBag> bag;
    };

    explicit RecordingLogger(uint32 mask = kDefaultLevelMask) {
        Start();
        SetMask(mask);
    }

    void SetMask(uint32 mask) {
        for (uint32 bit = 0; bit < 32; ++bit)
            WithTag(bit, (mask & (uint32(1) << bit)) != 0);
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

    void LogBag(const VValueBag* bag) override {
        if (bag == nullptr || !ShouldLog(ILoggerBagKeys::level.Get(*bag))) return;
        Record record;
        record.level = ILoggerBagKeys::level.Get(*bag);
        record.kind = "message";
        VString message;
        ILoggerBagKeys::message.Get(*bag, message);
        record.text = Text(message);
        ILoggerBagKeys::task_id.Get(*bag, record.taskID);
        ILoggerBagKeys::line_number.Get(*bag, record.line);
        uint64 code = 0;
        VString file;
        if (ILoggerBagKeys::error_code.Get(*bag, code)) {
            record.kind = "error";
            record.code = code;
        } else if (ILoggerBagKeys::file_name.Get(*bag, file)) {
            record.kind = "assert";
            record.text += u"@" + Text(file);
        }
        record.bag = VRefPtr<VValueBag>(const_cast<VValueBag*>(bag));
        std::lock_guard<std::mutex> guard(fLock);
        fRecords.push_back(std::move(record));
    }

    static std::u16string Text(const VString& text) {
        return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
    }

private:
    mutable std::mutex fLock;
    std::vector<Record> fRecords;
};

// Installs a recording logger as the process logger while it lives.
class StRecordingProcessLogger {
public:
    explicit StRecordingProcessLogger(uint32 mask = VLogger::kDefaultLevelMask)
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
