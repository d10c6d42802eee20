#include "json/VJSONObject.h"

#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "json/VJSONArray.h"
#include "json/VJSONClass.h"
#include "json/VJSONErrors.h"
#include "json/VJSONGraphNode.h"
#include "json/VJSONStamp.h"
#include "json/VStorageLocker.h"

#include <new>

namespace vela {

std::atomic<uint32> VJSONObject::sTaskToMonitor{0};
std::atomic<int32> VJSONObject::sTaskCounter{0};
const VString VJSONObject::sLockerIDName("__LockerID");

namespace {

bool IsMonitoredTask() noexcept {
    uint32 task = VJSONObject::sTaskToMonitor.load(std::memory_order_relaxed);
    return task != 0 && task == uint32(VTaskMgr::GetCurrentOwnerID());
}

VStorageLocker* NewLockerIf(bool shared) {
    return shared ? new VStorageLocker : nullptr;
}

} // namespace

// ---- Construction and lifetime

VJSONObject::VJSONObject(VJSONObject* classObject, IJSONObject* impl, VStorageLocker* locker, bool uncounted)
    : fImplementation(RetainRefCountable(impl)), fLocker(RetainRefCountable(locker)), fUncounted(uncounted) {
    if (VJSONClass* cls = VJSONClass::FromClassObject(classObject)) {
        _SetClass(cls);
        // A getter's stamp is the object's change counter: it exists from the start, so reads never create it.
        if (cls->HasGetters()) fStamps = new VJSONStamp;
    }
    if (fLocker != nullptr) fLink.SetShared();
    if (!fUncounted && IsMonitoredTask()) sTaskCounter.fetch_add(1, std::memory_order_relaxed);
    if (fImplementation != nullptr) fImplementation->IJSON_DoConnectDependencies(this);
}

VJSONObject::VJSONObject(VJSONObject* classObject, IJSONObject* impl, bool shared)
    : VJSONObject(classObject, impl, VRefPtr<VStorageLocker>::Adopt(NewLockerIf(shared)).Get(), false) {}

VJSONObject::~VJSONObject() {
    _DropClass();
    if (fLink.fGraph != nullptr) VJSONGraph::_LeaveOnDeath(VJSONGraph::Node{this, nullptr});
    ReleaseRefCountable(&fImplementation);
    ReleaseRefCountable(&fLocker);
    ReleaseRefCountable(&fStamps);
    if (!fUncounted && IsMonitoredTask()) sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
    // What the object held is dropped one value at a time, each checked first, so that a cycle below it is freed
    // now rather than with the whole graph.
    std::vector<VJSONPropertyMap::Property> taken;
    fProperties.TakeAll(taken);
    VJSONGraph::Node::DropHeldValues(
        taken, [](VJSONPropertyMap::Property& property) -> VJSONValue& { return property.fValue; });
}

void VJSONObject::DoOnRefCountZero() {
    if (fImplementation != nullptr) fImplementation->IJSON_DoDisconnectDependencies(this);
    VJSONGraph::DoObjectDeath(this);
}

void VJSONObject::_SetClass(VJSONClass* cls) {
    if (cls == nullptr || cls == fClass) return;
    cls->UseClassObject();
    VJSONClass* old = std::exchange(fClass, cls);
    if (old != nullptr) old->UnuseClassObject();
}

void VJSONObject::_SetImplementation(IJSONObject* impl) {
    if (impl == fImplementation) return;
    IJSONObject* old = fImplementation;
    if (old != nullptr) old->IJSON_DoDisconnectDependencies(this);
    fImplementation = RetainRefCountable(impl);
    if (impl != nullptr) impl->IJSON_DoConnectDependencies(this);
    if (old != nullptr) old->Release();
}

void VJSONObject::_DropClass() noexcept {
    if (VJSONClass* old = std::exchange(fClass, nullptr)) old->UnuseClassObject();
}

VJSONObject* VJSONObject::GetClassObject() const noexcept {
    return fClass != nullptr ? fClass->GetClassObject() : nullptr;
}

bool VJSONObject::IsGenericObject() const noexcept {
    return fClass == nullptr || fClass->GetSuperclass() == nullptr;
}

bool VJSONObject::IsInstanceOf(const VJSONClass* c) const noexcept {
    if (c == nullptr) return false;
    if (fClass == nullptr) return c->GetSuperclass() == nullptr;
    return fClass->IsKindOf(c);
}

bool VJSONObject::IsInstanceOf(const VJSONObject* classObject) const {
    VJSONClass* c = VJSONClass::FromClassObject(classObject);
    if (c == nullptr) {
        _ThrowError(VE_JSON_NOT_A_CLASS);
        return false;
    }
    return IsInstanceOf(c);
}

int32 VJSONObject::Retain(const char* label) const noexcept {
    return VJSONGraph::RetainNode(*this, label);
}

int32 VJSONObject::Release(const char* label) const noexcept {
    return VJSONGraph::ReleaseNode(*this, label);
}

// ---- Reading

bool VJSONObject::_IsLockerID(const VString& name) const noexcept {
    return fLocker != nullptr && name == sLockerIDName;
}

VJSONValue VJSONObject::_GetOwnProperty(const VString& name) const {
    if (_IsLockerID(name)) return VJSONValue(double(fLocker->GetSharedID()));
    int64 index = fProperties.Find(name);
    if (index < 0) return VJSONValue(JSON_undefined);
    return fProperties.At(size_t(index)).fValue;
}

VJSONValue VJSONObject::GetProperty(const VString& name, VDBLanguageContext* context) const {
    if (fImplementation == nullptr && fLocker == nullptr) {
        int64 index = fProperties.Find(name);
        if (index >= 0) return fProperties.At(size_t(index)).fValue;
        return _GetClassProperty(name, context);
    }
    {
        VJSONReadLock lock(this);
        VJSONValue result;
        if (fImplementation == nullptr ||
            fImplementation->IJSON_GetProperty(this, name, result, context) == EJSONStatus_notHandled)
            result = _GetOwnProperty(name);
        if (!result.IsUndefined()) return result;
    }
    return _GetClassProperty(name, context);
}

VJSONValue VJSONObject::_GetClassProperty(const VString& name, VDBLanguageContext* context) const {
    if (fClass == nullptr) return VJSONValue(JSON_undefined);
    if (VJSONObject* function = fClass->GetFunction(name)) return VJSONValue(function);
    VJSONValue result;
    if (VJSONObject* getter = fClass->GetGetter(name))
        getter->CallAsFunction(const_cast<VJSONObject*>(this), nullptr, nullptr, result, nullptr, context);
    return result;
}

VJSONValue VJSONObject::GetOwnProperty(const VString& name) const {
    VJSONReadLock lock(this);
    return _GetOwnProperty(name);
}

bool VJSONObject::HasProperty(const VString& name, VDBLanguageContext* context) const {
    VJSONReadLock lock(this);
    if (fImplementation != nullptr) {
        VJSONValue scratch;
        EJSONStatus status = fImplementation->IJSON_GetProperty(this, name, scratch, context);
        if (status == EJSONStatus_done && !scratch.IsUndefined()) return true;
        if (status != EJSONStatus_notHandled) return _PrototypeHasProperty(name, context);
    }
    if (_IsLockerID(name) || fProperties.Find(name) >= 0) return true;
    return _PrototypeHasProperty(name, context);
}

bool VJSONObject::_PrototypeHasProperty(const VString& name, VDBLanguageContext* context) const {
    VJSONObject* prototype = fClass != nullptr ? fClass->GetPrototype() : nullptr;
    return prototype != nullptr && prototype != this && prototype->HasProperty(name, context);
}

bool VJSONObject::HasOwnProperty(const VString& name) const {
    VJSONReadLock lock(this);
    return _IsLockerID(name) || fProperties.Find(name) >= 0;
}

VJSONValue VJSONObject::GetPropertyByIndex(size_t index, EJSONStatus* status) const {
    VJSONValue result;
    EJSONStatus answer = EJSONStatus_notHandled;
    if (fImplementation != nullptr) answer = fImplementation->IJSON_GetPropertyByIndex(this, index, result);
    if (status != nullptr) *status = answer;
    return result;
}

size_t VJSONObject::GetCountPropertiesByIndex(EJSONStatus* status) const {
    size_t count = 0;
    EJSONStatus answer = EJSONStatus_notHandled;
    if (fImplementation != nullptr) answer = fImplementation->IJSON_GetCountPropertiesByIndex(this, &count);
    if (status != nullptr) *status = answer;
    return answer == EJSONStatus_notHandled ? 0 : count;
}

std::vector<std::pair<VString, VJSONValue>> VJSONObject::GetInternalProperties() const {
    VJSONReadLock lock(this);
    std::vector<std::pair<VString, VJSONValue>> properties;
    properties.reserve(fProperties.GetCount());
    for (const VJSONPropertyMap::Property& property : fProperties) {
        VString name;
        property.fName.ToString(name);
        properties.emplace_back(std::move(name), property.fValue);
    }
    return properties;
}

size_t VJSONObject::GetPropertyCount() const {
    VJSONReadLock lock(this);
    return fProperties.GetCount();
}

bool VJSONObject::GetPropertyNameAt(size_t index, VString& out) const {
    VJSONReadLock lock(this);
    if (index >= fProperties.GetCount()) return false;
    fProperties.At(index).fName.ToString(out);
    return true;
}

bool VJSONObject::IsEmpty() const {
    VJSONReadLock lock(this);
    if (!fProperties.IsEmpty()) return false;
    if (fImplementation != nullptr && !fImplementation->IJSON_IsEmpty(this)) return false;
    return fClass == nullptr || !fClass->HasGetters();
}

void VJSONObject::GetString(VString& out) const {
    out.FromString(VJSONValue::sObjectString);
}

void VJSONObject::GetClassName(VString& out) const {
    out.Clear();
    if (fImplementation != nullptr && fImplementation->IJSON_GetClassName(this, out) != EJSONStatus_notHandled &&
        !out.IsEmpty())
        return;
    if (fClass != nullptr) out = fClass->GetName();
    if (out.IsEmpty()) out.FromCString(fLocker != nullptr ? "Shared Object" : "Object");
}

bool VJSONObject::DeepEqualTo(const VJSONObject* other, const VCompareOptions& options,
                              VJSONDeepEqualVisit* visit) const {
    if (other == this) return true;
    if (other == nullptr) return false;
    VJSONReadLock lock(this);
    VJSONReadLock otherLock(other);
    if (fImplementation != nullptr) {
        bool equal = false;
        EJSONStatus status = fImplementation->IJSON_DeepEqualTo(this, other, &equal);
        if (status != EJSONStatus_notHandled || equal) return equal;
    }
    VJSONDeepEqualVisit ownVisit;
    if (visit == nullptr) visit = &ownVisit;
    if (!visit->Enter(this, other)) return true; // being compared further up: equal unless that finds otherwise
    if (fProperties.GetCount() != other->fProperties.GetCount()) return false;
    for (const VJSONPropertyMap::Property& property : fProperties) {
        int64 index = other->fProperties.Find(property.fName.GetUnits(), property.fName.GetLength(), property.fHash);
        if (index < 0) return false;
        if (!property.fValue.DeepEqualTo(other->fProperties.At(size_t(index)).fValue, options, visit)) return false;
    }
    return true;
}

// ---- Writing

bool VJSONObject::SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context) {
    return SetProperty(name, VJSONValue(value), context);
}

bool VJSONObject::SetProperty(const VString& name, VJSONValue&& value, VDBLanguageContext* context) {
    if (value.IsUndefined()) {
        RemoveProperty(name);
        return true;
    }
    if (fImplementation != nullptr) {
        EJSONStatus status = fImplementation->IJSON_SetProperty(this, name, value, context);
        if (status != EJSONStatus_notHandled) return status == EJSONStatus_done;
    }
    // Most objects have no class: the setter lookup is not even called for them.
    if (fClass != nullptr) {
        if (EJSONStatus status = _SetClassProperty(name, value, context); status != EJSONStatus_notHandled)
            return status == EJSONStatus_done;
    }
    return _SetOwnProperty(name, std::move(value));
}

EJSONStatus VJSONObject::_SetClassProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context) {
    VJSONObject* setter = fClass != nullptr ? fClass->GetSetter(name) : nullptr;
    if (setter == nullptr) return EJSONStatus_notHandled;
    std::vector<VJSONValue> params{value};
    VJSONValue result;
    return setter->CallAsFunction(this, nullptr, &params, result, nullptr, context);
}

bool VJSONObject::SetOwnProperty(const VString& name, const VJSONValue& value) {
    if (value.IsUndefined()) {
        RemoveOwnProperty(name);
        return true;
    }
    return _SetOwnProperty(name, VJSONValue(value));
}

bool VJSONObject::SetOwnProperty(const VString& name, VJSONValue&& value) {
    if (value.IsUndefined()) {
        RemoveOwnProperty(name);
        return true;
    }
    return _SetOwnProperty(name, std::move(value));
}

bool VJSONObject::_IsLockedForCaller(bool raise) const {
    if (fLocker == nullptr || fLocker->IsUsedByCurrentTask()) return true;
    if (raise) _ThrowError(VE_JSON_OBJECT_NOT_IN_USE);
    return false;
}

// Inline in its two callers: it sits on the path of every property set.
inline bool VJSONObject::_StoreOwnProperty(int64 index, VJSONPropertyName&& name, uint32 hash, VJSONValue&& value,
                                           VJSONTreeLinker* linker) {
    auto connect = [this, linker](const VJSONValue& stored) {
        // Most values are scalars, which have no place in the graph: no call for them.
        if (!stored.IsObject() && !stored.IsArray()) return;
        if (linker != nullptr) {
            linker->Connect(this, nullptr, stored);
        } else {
            VJSONGraph::Connect(this, nullptr, stored);
        }
    };
    if (index < 0) {
        VJSONPropertyMap::Property* added = nullptr;
        try {
            added = &fProperties.Append(std::move(name), hash, std::move(value));
        } catch (const std::exception&) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
        connect(added->fValue);
        _TouchStamps();
        return true;
    }
    // The old value leaves its place before the release check runs on it, so that the reference it held is not
    // counted twice; it stays alive here until the check is over.
    VJSONValue& slot = fProperties.At(size_t(index)).fValue;
    VJSONValue old(std::move(slot));
    slot = std::move(value);
    connect(slot);
    _TouchStamps();
    VJSONGraph::Disconnect(old);
    return true;
}

bool VJSONObject::_SetOwnProperty(const VString& name, VJSONValue&& value) {
    VJSONReadWriteLock lock(this, &value);
    if (fLocker != nullptr) {
        if (_IsLockerID(name)) return false;
        if (!_IsLockedForCaller(true)) return false;
        if ((value.IsObject() || value.IsArray()) && !VStorageLocker::Assign(VJSONNodeVariant(this), fLocker, value))
            return false;
        JSONType type = value.GetType();
        if (fLocker->IsRestricted() && type != JSON_null && type != JSON_object && type != JSON_array &&
            type != JSON_undefined) {
            _ThrowError(VE_JSON_SCALAR_IN_RESTRICTED);
            return false;
        }
    }
    const UniChar* units = name.GetCPointer();
    int32 length = name.GetLength();
    uint32 hash = VJSONPropertyMap::Hash(units, length);
    int64 index = fProperties.Find(units, length, hash);
    VJSONPropertyName key;
    if (index < 0 && !VJSONPropertyName::FromString(name, key)) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    return _StoreOwnProperty(index, std::move(key), hash, std::move(value), nullptr);
}

bool VJSONObject::_AdoptNewProperty(VJSONPropertyMap::Property& property, VJSONTreeLinker* linker) {
    if (linker == nullptr) {
        VJSONReadWriteLock lock(this, &property.fValue);
        return _AdoptNewPropertyUnlocked(property, nullptr);
    }
    return _AdoptNewPropertyUnlocked(property, linker);
}

bool VJSONObject::_AdoptNewPropertyUnlocked(VJSONPropertyMap::Property& property, VJSONTreeLinker* linker) {
    int64 index = fProperties.IsEmpty()
                      ? -1
                      : fProperties.Find(property.fName.GetUnits(), property.fName.GetLength(), property.fHash);
    return _StoreOwnProperty(index, std::move(property.fName), property.fHash, std::move(property.fValue), linker);
}

bool VJSONObject::SetProperties(const std::vector<std::pair<VString, VJSONValue>>& properties,
                                VDBLanguageContext* context) {
    if (properties.empty()) return true;
    if (fImplementation != nullptr && fImplementation->IJSON_BeginChangeProperties() == EJSONStatus_failed)
        return false;
    bool ok = true;
    for (const auto& [name, value] : properties) {
        if (!SetProperty(name, value, context)) {
            ok = false;
            break;
        }
    }
    if (fImplementation != nullptr && fImplementation->IJSON_EndChangeProperties() == EJSONStatus_failed) ok = false;
    return ok;
}

void VJSONObject::RemoveProperty(const VString& name) {
    if (fImplementation != nullptr && fImplementation->IJSON_RemoveProperty(this, name) != EJSONStatus_notHandled)
        return;
    RemoveOwnProperty(name);
}

void VJSONObject::RemoveOwnProperty(const VString& name) {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller(true)) return;
    _TouchStamps();
    int64 index = fProperties.Find(name);
    if (index < 0) return;
    VJSONValue removed;
    fProperties.RemoveAt(size_t(index), removed);
    VJSONGraph::Disconnect(removed);
}

bool VJSONObject::ClearProperty(const VString& name, VDBLanguageContext* context) {
    VJSONValue value = GetProperty(name, context);
    if (value.IsUndefined()) return true;
    value.Clear();
    return SetProperty(name, value, context);
}

void VJSONObject::Clear() {
    if (fImplementation != nullptr) fImplementation->IJSON_Clear(this);
    ClearInternalProperties();
}

void VJSONObject::ClearInternalProperties() {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller(true)) return;
    _TouchStamps();
    _RemoveAllProperties();
}

void VJSONObject::_RemoveAllProperties() {
    std::vector<VJSONPropertyMap::Property> taken;
    fProperties.TakeAll(taken);
    for (VJSONPropertyMap::Property& property : taken) {
        VJSONGraph::Disconnect(property.fValue);
        property.fValue.SetUndefined();
    }
}

void VJSONObject::_DropAllValues() noexcept {
    std::vector<VJSONPropertyMap::Property> taken;
    fProperties.TakeAll(taken);
}

VError VJSONObject::MergeWith(const VJSONObject* other, bool onlyMissing) {
    if (other == nullptr) return VE_OK;
    for (const auto& [name, value] : other->GetInternalProperties()) {
        if (onlyMissing && HasOwnProperty(name)) continue;
        SetProperty(name, value);
    }
    return VE_OK;
}

// ---- Stamps

void VJSONObject::_TouchStamps() noexcept {
    if (fStamps != nullptr) fStamps->Touch();
}

void VJSONObject::SetJSONStamp(VJSONStamp* stamps) {
    {
        StGraphLocker lock(IsShared() || IsSharedGraph());
        if (stamps != fStamps) {
            RetainRefCountable(stamps);
            ReleaseRefCountable(&fStamps);
            fStamps = stamps;
        }
    }
    if (fImplementation != nullptr) fImplementation->IJSON_SetJSONStamp(stamps);
}

uint32 VJSONObject::GetPropertyStamp(const VString& name) const {
    if (fImplementation != nullptr) {
        uint32 stamp = 0;
        if (fImplementation->IJSON_GetPropertyStamp(name, &stamp) != EJSONStatus_notHandled) return stamp;
    }
    if (fClass != nullptr && fClass->GetGetter(name) != nullptr) {
        VJSONReadLock lock(this);
        return fStamps != nullptr ? fStamps->GetStamp() : 0;
    }
    VJSONReadLock lock(this);
    int64 index = fProperties.Find(name);
    return index < 0 ? 0 : fProperties.At(size_t(index)).fValue.GetStamp();
}

void VJSONObject::TouchPropertyStamp(const VString& name) {
    if (fImplementation != nullptr && fImplementation->IJSON_TouchPropertyStamp(name) != EJSONStatus_notHandled) return;
    VJSONReadWriteLock lock(this, nullptr);
    _TouchStamps();
    int64 index = fProperties.Find(name);
    if (index >= 0) fProperties.At(size_t(index)).fValue.TouchStamp();
}

// ---- Graph and sharing

VRefPtr<VStorageLocker> VJSONObject::GetStorageLocker() const {
    if (fLocker == nullptr) return VRefPtr<VStorageLocker>();
    StGraphLocker lock;
    return VRefPtr<VStorageLocker>(fLocker);
}

void VJSONObject::SetStorageLocker(VStorageLocker* locker) {
    StGraphLocker lock(IsShared() || IsSharedGraph());
    _SetStorageLocker(locker);
}

void VJSONObject::_SetStorageLocker(VStorageLocker* locker) noexcept {
    if (locker == fLocker) return;
    if (locker != nullptr) fLink.SetShared();
    RetainRefCountable(locker);
    ReleaseRefCountable(&fLocker);
    fLocker = locker;
}

int32 VJSONObject::GetSharedID() const {
    if (fLocker == nullptr) return 0;
    VJSONReadLock lock(this);
    return fLocker->GetSharedID();
}

bool VJSONObject::IsShared() const {
    if (fLocker != nullptr) return true;
    return fImplementation != nullptr && fImplementation->IsSharable(this);
}

void VJSONObject::MakeGraphShared() noexcept {
    StGraphLocker lock;
    if (fLink.fGraph != nullptr) fLink.fGraph->SetShared();
}

void VJSONObject::MakeValueSharedIfNecessary(VJSONValue& value) {
    if (fLocker == nullptr || !(value.IsObject() || value.IsArray())) return;
    StGraphLocker lock;
    VJSONGraph::Node node = VJSONGraph::Node::Of(value);
    if (VJSONGraph::_CanMakeShared(node, fLocker)) VJSONGraph::_SetStorageLockerDeep(node, fLocker);
    fLocker->SetFresh(false);
}

void VJSONObject::ConnectImplementationProperty(const VJSONValue& value) {
    if (!(value.IsObject() || value.IsArray())) return;
    StGraphLocker lock(IsSharedGraph() || VJSONGraph::Node::Of(value).IsShared());
    VJSONGraph::Connect(this, nullptr, value);
}

void VJSONObject::DisconnectImplementationProperty(const VJSONValue& value) {
    if (!(value.IsObject() || value.IsArray())) return;
    StGraphLocker lock(IsSharedGraph() || VJSONGraph::Node::Of(value).IsShared());
    if (fLink.fGraph != nullptr) VJSONGraph::Disconnect(value);
}

} // namespace vela
