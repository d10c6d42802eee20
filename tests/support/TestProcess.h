#pragma once

#include "core/VDebugMgr.h"
#include "core/VError.h"
#include "core/VTaskMgr.h"
#include "support/RecordingLogger.h"

#include <gtest/gtest.h>

namespace vela::test {

// Marks a process object as existing while it lives, so that raises build error objects and push them.
class StProcessObject {
public:
    StProcessObject() : fPrevious(ProcessObjectExists()) { SetProcessObjectExists(true); }
    ~StProcessObject() { SetProcessObjectExists(fPrevious); }
    StProcessObject(const StProcessObject&) = delete;
    StProcessObject& operator=(const StProcessObject&) = delete;

private:
    bool fPrevious;
};

// A minimal process for a test: the process-object mark, the task manager with the calling thread as main task,
// the debug manager switched on and a recording process logger (levels by mask; the default takes info and
// above). Everything is undone at the end, in reverse order; a manager already started by someone else stays.
class StTestProcess {
public:
    explicit StTestProcess(uint32 loggerMask = 0xF0) : fLogger(loggerMask) {
        fStartedTasks = !VTaskMgr::IsInited() && VTaskMgr::Get()->Init();
        fDebugWasEnabled = VDebugMgr::Get()->GetMessagesEnabled();
        VDebugMgr::Get()->Init();
    }
    ~StTestProcess() {
        if (!fDebugWasEnabled) VDebugMgr::Get()->DeInit();
        if (fStartedTasks) VTaskMgr::Get()->DeInit();
    }
    StTestProcess(const StTestProcess&) = delete;
    StTestProcess& operator=(const StTestProcess&) = delete;

    RecordingLogger& Logger() const { return *fLogger; }
    // Whether the calling thread is a task now.
    bool HasTasks() const { return VTaskMgr::IsInited(); }

private:
    StProcessObject fProcessObject;
    StRecordingProcessLogger fLogger;
    bool fStartedTasks = false;
    bool fDebugWasEnabled = false;
};

// A test whose body runs inside a StTestProcess.
class TestProcessFixture : public ::testing::Test {
protected:
    RecordingLogger& Logger() const { return fProcess.Logger(); }

    StTestProcess fProcess;
};

} // namespace vela::test
