#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "system/VProgressIndicatorInfo.h"
#include "values/VUUID.h"

#include <map>
#include <vector>

namespace vela {

class VProgressIndicator;
class VString;
class VValueBag;

// A shared, unchanging snapshot of every level of one indicator, outermost first.
class VRefCountedSessionInfo : public VObject, public IRefCountable {
public:
    explicit VRefCountedSessionInfo(std::vector<VProgressIndicatorInfo>&& levels) noexcept
        : fLevels(std::move(levels)) {}

    int32 GetCount() const noexcept { return int32(fLevels.size()); }
    // The level at n (1-based); null out of range.
    const VProgressIndicatorInfo* GetNth(int32 n) const noexcept {
        return n >= 1 && n <= GetCount() ? &fLevels[size_t(n - 1)] : nullptr;
    }
    const std::vector<VProgressIndicatorInfo>& GetLevels() const noexcept { return fLevels; }

private:
    const std::vector<VProgressIndicatorInfo> fLevels;
};

// Makes the standard indicators of a process (installed by the application; none by default).
class IProgressFactory {
public:
    virtual ~IProgressFactory() = default;
    // A new indicator with a reference for the caller, or null.
    virtual VProgressIndicator* CreateStdProgress(int32 kind, uint32 options) = 0;
};

// The process-wide registry of progress indicators by UUID, from which any task finds an indicator and reads
// snapshots of its sessions. Its lock is taken before an indicator's snapshot lock, never after.
class VProgressManager : public VObject {
public:
    // Makes the one manager when there is none; true.
    static bool Init();
    // Deletes it. Indicators still alive stay usable; they are simply no longer registered.
    static void Deinit();
    // The manager, or null before Init and after Deinit.
    static VProgressManager* Get() noexcept;

    // Registers indicator under its UUID unless that UUID is taken (the first stays); nothing without manager.
    static void RegisterProgress(VProgressIndicator* indicator);
    // Unregisters it (when it is the one registered under its UUID), recording its current level's metrics.
    static void UnregisterProgress(VProgressIndicator* indicator);
    // The indicator registered under uuid, with a reference for the caller; null when none or no manager.
    static VProgressIndicator* RetainProgress(const VUUID& uuid);
    // The same with the UUID as text (null when the text is no UUID).
    static VProgressIndicator* RetainProgress(const VString& uuidText);
    // A standard indicator from the installed factory, with a reference for the caller; null without manager
    // or factory.
    static VProgressIndicator* CreateStdProgress(int32 kind, uint32 options);
    // Installs factory (not owned; null removes it).
    void SetProgressFactory(IProgressFactory* factory);

    // Appends the last snapshot of every registered indicator that has an open session, and asks each of them
    // for a fresh one.
    void GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& out);
    // Adds a "ProgressInfo" element, holding its bag form, for every registered indicator, or only for the one
    // whose UUID has the text uuidText.
    void GetProgressInfo(VValueBag& bag, const VString* uuidText);
    // The number of registered indicators.
    int32 GetCount() const;

private:
    VProgressManager() = default;
    ~VProgressManager() override = default;

    void _RegisterProgress(VProgressIndicator* indicator);
    void _UnregisterProgress(VProgressIndicator* indicator);
    VProgressIndicator* _RetainProgress(const VUUID& uuid);

    friend class VProgressIndicator;

    mutable VCriticalSection fLock;
    // Guarded by fLock; not owning.
    std::map<VUUID, VProgressIndicator*> fIndicators;
    IProgressFactory* fFactory = nullptr;
};

} // namespace vela
