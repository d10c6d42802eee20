#pragma once

#include "core/VError.h"
#include "core/VString.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vela::test {

// Records every raised error while it lives (one at a time per process).
class RecordingRaiser {
public:
    struct Raised {
        VError code;
        std::vector<std::pair<std::string, std::u16string>> params;
    };

    RecordingRaiser() {
        Records().clear();
        fPrevious = SetErrorRaiser(&Record);
    }
    ~RecordingRaiser() { SetErrorRaiser(fPrevious); }
    RecordingRaiser(const RecordingRaiser&) = delete;
    RecordingRaiser& operator=(const RecordingRaiser&) = delete;

    std::vector<Raised> All() const {
        std::lock_guard<std::mutex> guard(Lock());
        return Records();
    }
    std::vector<VError> Codes() const {
        std::vector<VError> codes;
        for (const Raised& raised : All())
            codes.push_back(raised.code);
        return codes;
    }

private:
    static std::vector<Raised>& Records() {
        static std::vector<Raised> sRecords;
        return sRecords;
    }
    static std::mutex& Lock() {
        static std::mutex sLock;
        return sLock;
    }
    static void Record(VError code, const char* names[], const VString* values[], int count) {
        Raised raised{code, {}};
        for (int i = 0; i < count; ++i)
            raised.params.emplace_back(names[i],
                                       std::u16string(values[i]->GetCPointer(), size_t(values[i]->GetLength())));
        std::lock_guard<std::mutex> guard(Lock());
        Records().push_back(std::move(raised));
    }

    ErrorRaiser fPrevious = nullptr;
};

} // namespace vela::test
