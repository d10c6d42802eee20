#pragma once

#include "core/VObject.h"
#include "system/VProgressIndicatorInfo.h"

#include <deque>

namespace vela {

class VString;
class VValueBag;

// The record through which an indicator's sessions travel to another process and back: the session count, the
// levels (outermost first, the current one last) and versions that tell a receiver what changed. The flags say
// which parts the record carries.
class VRemoteProgressSessionInfo : public VObject {
public:
    enum : uint32 {
        kSessionCount = 1,
        kChangesVersion = 2,
        kSessionVersion = 4,
        kMasterSessionVersion = 8,
        kUserAbort = 16,
        kCanInterrupt = 32,
        kCurrent = 64,
        kSessionStack = 128,
    };

    VRemoteProgressSessionInfo() = default;
    VRemoteProgressSessionInfo(const VRemoteProgressSessionInfo& other) = default;
    VRemoteProgressSessionInfo& operator=(const VRemoteProgressSessionInfo& other) = default;
    ~VRemoteProgressSessionInfo() override = default;

    // Clears the count, versions, flags and levels.
    void Reset();
    // Sets the count and the three versions (flags 1, 2, 4, 8). With a stack, the levels are the stack then
    // current (flag 128); without one, a current level and a count of at least 1 make the only level (flag 64).
    void FromProgressInfo(const VProgressIndicatorInfo* current, const std::deque<VProgressIndicatorInfo>* stack,
                          int32 count, uint32 changesVersion, uint32 sessionVersion, uint32 masterVersion);

    // Writes the parts the flags name, leaving out the values equal to previous's; the current level goes as a
    // delta against previous's when both records have the same count (element "fCurrent"), the stack as full
    // levels ("fSessionStack" elements). "fFlags" names what was written. outKind: "DistantSessionInfo".
    void SaveToBag(VValueBag& bag, VString& outKind, const VRemoteProgressSessionInfo* previous = nullptr) const;
    // Reads the parts "fFlags" names onto this record: a stack replaces the levels; a current level is applied
    // to the last level (made when there is none). The flags become those read.
    void LoadFromBag(const VValueBag& bag);

    uint32 GetFlags() const noexcept { return fFlags; }
    // The fields of the last level that this record holds (VProgressIndicatorInfo's update flags): those of the
    // delta last read, else all.
    uint32 GetCurrentUpdateFlags() const noexcept { return fCurrentUpdateFlags; }
    int32 GetSessionCount() const noexcept { return fSessionCount; }
    const std::deque<VProgressIndicatorInfo>& GetLevels() const noexcept { return fLevels; }
    uint32 GetChangesVersion() const noexcept { return fChangesVersion; }
    uint32 GetSessionVersion() const noexcept { return fSessionVersion; }
    uint32 GetMasterSessionVersion() const noexcept { return fMasterSessionVersion; }
    bool GetUserAbort() const noexcept { return fUserAbort; }
    bool GetCanInterrupt() const noexcept { return fCanInterrupt; }
    // Each also sets its flag.
    void SetUserAbort(bool userAbort) noexcept;
    void SetCanInterrupt(bool canInterrupt) noexcept;

private:
    int32 fSessionCount = 0;
    std::deque<VProgressIndicatorInfo> fLevels;
    uint32 fChangesVersion = 0;
    uint32 fMasterSessionVersion = 0;
    uint32 fSessionVersion = 0;
    bool fUserAbort = false;
    bool fCanInterrupt = false;
    uint32 fFlags = 0;
    uint32 fCurrentUpdateFlags = VProgressIndicatorInfo::kAll;
};

} // namespace vela
