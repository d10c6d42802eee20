#include "system/VProgressManager.h"

#include "core/VString.h"
#include "system/VProgressIndicator.h"
#include "values/VValueBag.h"

#include <atomic>
#include <mutex>

namespace vela {

namespace {

// Made at start-up and deleted at shut-down, while no other task uses it.
std::atomic<VProgressManager*> sProgressManager{nullptr};

const StPackedDictionaryKey kKeyProgressInfo("ProgressInfo");

using StLock = std::lock_guard<VCriticalSection>;

} // namespace

bool VProgressManager::Init() {
    if (sProgressManager.load(std::memory_order_acquire) == nullptr) {
        auto* manager = new VProgressManager();
        VProgressManager* expected = nullptr;
        if (!sProgressManager.compare_exchange_strong(expected, manager, std::memory_order_acq_rel)) delete manager;
    }
    return true;
}

void VProgressManager::Deinit() {
    delete sProgressManager.exchange(nullptr, std::memory_order_acq_rel);
}

VProgressManager* VProgressManager::Get() noexcept {
    return sProgressManager.load(std::memory_order_acquire);
}

void VProgressManager::RegisterProgress(VProgressIndicator* indicator) {
    if (VProgressManager* manager = Get(); manager != nullptr && indicator != nullptr)
        manager->_RegisterProgress(indicator);
}

void VProgressManager::UnregisterProgress(VProgressIndicator* indicator) {
    if (VProgressManager* manager = Get(); manager != nullptr && indicator != nullptr)
        manager->_UnregisterProgress(indicator);
}

VProgressIndicator* VProgressManager::RetainProgress(const VUUID& uuid) {
    VProgressManager* manager = Get();
    return manager != nullptr ? manager->_RetainProgress(uuid) : nullptr;
}

VProgressIndicator* VProgressManager::RetainProgress(const VString& uuidText) {
    if (!VUUID::IsUUIDString(uuidText)) return nullptr;
    return RetainProgress(VUUID(uuidText));
}

VProgressIndicator* VProgressManager::CreateStdProgress(int32 kind, uint32 options) {
    VProgressManager* manager = Get();
    if (manager == nullptr) return nullptr;
    IProgressFactory* factory = nullptr;
    {
        StLock lock(manager->fLock);
        factory = manager->fFactory;
    }
    return factory != nullptr ? factory->CreateStdProgress(kind, options) : nullptr;
}

void VProgressManager::SetProgressFactory(IProgressFactory* factory) {
    StLock lock(fLock);
    fFactory = factory;
}

void VProgressManager::_RegisterProgress(VProgressIndicator* indicator) {
    StLock lock(fLock);
    fIndicators.emplace(indicator->GetUUID(), indicator);
}

void VProgressManager::_UnregisterProgress(VProgressIndicator* indicator) {
    StLock lock(fLock);
    auto found = fIndicators.find(indicator->GetUUID());
    // Another indicator may hold the UUID: this one was never registered then.
    if (found == fIndicators.end() || found->second != indicator) return;
    {
        StLock indicatorLock(indicator->fLock);
        if (indicator->GetSessionCount() > 0) indicator->_DoMetrics(indicator->fCurrent);
    }
    fIndicators.erase(found);
}

VProgressIndicator* VProgressManager::_RetainProgress(const VUUID& uuid) {
    StLock lock(fLock);
    auto found = fIndicators.find(uuid);
    // An indicator whose last reference went is still listed until its destructor unregisters it.
    if (found == fIndicators.end() || !found->second->TryRetain()) return nullptr;
    if (found->second->IsManagerValid()) return found->second;
    found->second->Release();
    return nullptr;
}

void VProgressManager::GetAllProgressInfo(std::vector<VRefPtr<VRefCountedSessionInfo>>& out) {
    StLock lock(fLock);
    for (const auto& [uuid, indicator] : fIndicators) {
        // An indicator being destroyed is intact until it unregisters, which waits for this lock.
        if (indicator->GetSessionCount() == 0) continue;
        VRefCountedSessionInfo* snapshot = indicator->_RequestAndRetainSnapshot();
        if (snapshot != nullptr) out.push_back(VRefPtr<VRefCountedSessionInfo>::Adopt(snapshot));
    }
}

void VProgressManager::GetProgressInfo(VValueBag& bag, const VString* uuidText) {
    StLock lock(fLock);
    for (const auto& [uuid, indicator] : fIndicators) {
        if (uuidText != nullptr) {
            VString text;
            uuid.GetString(text);
            if (!text.EqualToString(*uuidText, false)) continue;
        }
        auto element = VRefPtr<VValueBag>::Adopt(new VValueBag());
        indicator->SaveInfoToBag(*element);
        bag.AddElement(kKeyProgressInfo, element.Get());
    }
}

int32 VProgressManager::GetCount() const {
    StLock lock(fLock);
    return int32(fIndicators.size());
}

} // namespace vela
