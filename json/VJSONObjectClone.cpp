// Copies of objects through a VJSONCloner.

#include "core/VTask.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONCloner.h"
#include "json/VJSONErrors.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"
#include "json/VJSONStamp.h"
#include "json/VJSONUser.h"
#include "json/VStorageLocker.h"

#include <new>

namespace vela {

namespace {

// The error of a store that the target refused: the refusal raised it on the task's context; off a task it
// cannot be read back.
VError RefusedStoreError() noexcept {
    VError error = VTask::GetLastError();
    return error != VE_OK ? error : VE_UNKNOWN_ERROR;
}

VError HookError(VError error) noexcept {
    return error != VE_OK ? error : VE_UNKNOWN_ERROR;
}

bool IsSharedNode(const VJSONValue& value) noexcept {
    if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) return object->IsSharedGraph();
    if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) return array->IsSharedGraph();
    return false;
}

} // namespace

VError VJSONObject::Clone(VJSONValue& out, VJSONCloner& cloner) const {
    return _Clone(out, cloner, true);
}

VError VJSONObject::_Clone(VJSONValue& out, VJSONCloner& cloner, bool remember) const {
    if (cloner.KeepsSharedNodes() && IsShared()) {
        out.SetObject(const_cast<VJSONObject*>(this));
        return VE_OK;
    }
    try {
        VRefPtr<IJSONObject> implementation;
        if (fImplementation != nullptr) {
            ++cloner.fHookCalls;
            VError error = VE_OK;
            EJSONStatus status = fImplementation->IJSON_CloneImpl(this, cloner, implementation, &error);
            if (status == EJSONStatus_notHandled) {
                implementation.Clear();
                status = fImplementation->IJSON_Clone(this, cloner, out, &error);
                if (status == EJSONStatus_done) {
                    if (remember) cloner._Remember(this, this, out);
                    return VE_OK;
                }
                // Neither hook copies: the copy is a plain object, as if there had been no implementation.
                if (status != EJSONStatus_notHandled) return HookError(error);
            } else if (status != EJSONStatus_done) {
                return HookError(error);
            }
        }
        VRefPtr<VJSONObject> copy = VRefPtr<VJSONObject>::Adopt(
            new VJSONObject(GetClassObject(), implementation.Get(), cloner._LockerForCopies(), false));
        out.SetObject(copy.Get());
        if (remember) cloner._Remember(this, this, out);
        return cloner._Fill(VJSONCloner::Pending{VJSONValue(const_cast<VJSONObject*>(this)), out});
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
}

VError VJSONObject::CloneProperties(VJSONCloner& cloner, VJSONObject* target) const {
    if (target == nullptr) return VE_OK;
    VJSONUser user(target);
    if (!user.IsInUse()) {
        _ThrowError(VE_JSON_OBJECT_NOT_IN_USE);
        return VE_JSON_OBJECT_NOT_IN_USE;
    }
    // Copying an object into itself replaces each property by its copy: the properties are read before they go.
    std::vector<std::pair<VString, VJSONValue>> own;
    if (target == this) own = GetInternalProperties();
    target->ClearInternalProperties();
    const bool sharedTarget = target->fLocker != nullptr;
    auto store = [&](const VString& name, VJSONValue& value) -> VError {
        if (sharedTarget && name == sLockerIDName) return VE_OK; // a shared object keeps no such property
        if (VError error = cloner.CloneValue(value); error != VE_OK) return error;
        if (!target->SetOwnProperty(name, std::move(value))) return RefusedStoreError();
        return VE_OK;
    };
    if (target == this) {
        for (auto& [name, value] : own) {
            if (VError error = store(name, value); error != VE_OK) return error;
        }
        return VE_OK;
    }
    if (fLocker == nullptr && !target->IsSharedGraph() && target->fProperties.IsEmpty())
        return _ClonePropertiesIntoPlain(cloner, target);
    // Read one property at a time: what the copy runs (an implementation's hooks) may change this object.
    VString name;
    for (size_t i = 0;; ++i) {
        VJSONValue value;
        {
            VJSONReadLock lock(this);
            if (i >= fProperties.GetCount()) break;
            const VJSONPropertyMap::Property& property = fProperties.At(i);
            property.fName.ToString(name);
            value = property.fValue;
        }
        if (VError error = store(name, value); error != VE_OK) return error;
    }
    return VE_OK;
}

VError VJSONObject::_ClonePropertiesIntoPlain(VJSONCloner& cloner, VJSONObject* target) const {
    // Neither object needs a lock: names and hashes are taken over as they are, and a name is looked for only
    // among the properties already copied.
    try {
        target->fProperties.Reserve(fProperties.GetCount());
    } catch (const std::exception&) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    // While no hook has run (a target without implementation runs none) and no store went the locked way, the target
    // holds only what this loop appended, under this object's names, which are distinct: no name needs a lookup.
    const uint64 hookCalls = cloner.fHookCalls;
    bool onlyAppended = target->fImplementation == nullptr;
    auto append = [&](VJSONPropertyName&& name, uint32 hash, VJSONValue&& value) -> VError {
        onlyAppended = onlyAppended && cloner.fHookCalls == hookCalls;
        if (IsSharedNode(value) || target->IsSharedGraph() ||
            (!onlyAppended && target->fProperties.Find(name.GetUnits(), name.GetLength(), hash) >= 0)) {
            onlyAppended = false;
            // A kept shared node (or a target it made part of a shared graph) needs the locked store; a name met
            // again (the copy ran something that changed the target) replaces the value in place.
            VString text;
            name.ToString(text);
            return target->SetOwnProperty(text, std::move(value)) ? VE_OK : RefusedStoreError();
        }
        VJSONPropertyMap::Property* added = nullptr;
        try {
            added = &target->fProperties.Append(std::move(name), hash, std::move(value));
        } catch (const std::exception&) {
            _ThrowError(VE_MEMORY_FULL);
            return VE_MEMORY_FULL;
        }
        VJSONGraph::Connect(target, nullptr, added->fValue);
        target->_TouchStamps();
        return VE_OK;
    };
    for (size_t i = 0; i < fProperties.GetCount(); ++i) {
        // The name and the value are taken before the copy runs: it may change this object.
        const VJSONPropertyMap::Property& property = fProperties.At(i);
        VJSONPropertyName name(property.fName);
        const uint32 hash = property.fHash;
        if (cloner._IsUnshared(property.fValue)) {
            // Stored empty first, so that it joins the target's graph before it holds anything; then filled.
            VJSONCloner::Pending pending{property.fValue, VJSONCloner::_MakeEmptyCopy(property.fValue)};
            if (VError error = append(std::move(name), hash, VJSONValue(pending.fCopy)); error != VE_OK) return error;
            if (VError error = cloner._Fill(pending); error != VE_OK) return error;
            continue;
        }
        VJSONValue value(property.fValue);
        if (VError error = cloner.CloneValue(value); error != VE_OK) return error;
        if (VError error = append(std::move(name), hash, std::move(value)); error != VE_OK) return error;
    }
    return VE_OK;
}

} // namespace vela
