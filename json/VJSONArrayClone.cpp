// Copies of arrays through a VJSONCloner.

#include "core/VTask.h"
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

bool IsSharedNode(const VJSONValue& value) noexcept {
    if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) return object->IsSharedGraph();
    if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) return array->IsSharedGraph();
    return false;
}

VError RefusedPushError() noexcept {
    VError error = VTask::GetLastError();
    return error != VE_OK ? error : VE_UNKNOWN_ERROR;
}

} // namespace

VError VJSONArray::Clone(VJSONValue& out, VJSONCloner& cloner) const {
    return _Clone(out, cloner, true);
}

VError VJSONArray::_Clone(VJSONValue& out, VJSONCloner& cloner, bool remember) const {
    if (cloner.KeepsSharedNodes() && fLocker != nullptr) {
        out.SetArray(const_cast<VJSONArray*>(this));
        return VE_OK;
    }
    try {
        VRefPtr<VJSONArray> copy = VRefPtr<VJSONArray>::Adopt(new VJSONArray(cloner._LockerForCopies()));
        out.SetArray(copy.Get());
        if (remember) cloner._Remember(this, this, out);
        return cloner._Fill(VJSONCloner::Pending{VJSONValue(const_cast<VJSONArray*>(this)), out});
    } catch (const std::bad_alloc&) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
}

VError VJSONArray::_CloneElementsInto(VJSONArray* target, VJSONCloner& cloner) const {
    VJSONUser user(target);
    if (!user.IsInUse()) {
        _ThrowError(VE_JSON_ARRAY_NOT_IN_USE);
        return VE_JSON_ARRAY_NOT_IN_USE;
    }
    try {
        size_t count = GetCount();
        VJSONReadWriteLock lock(target, nullptr);
        target->fValues.reserve(target->fValues.size() + count);
    } catch (const std::exception&) {
        _ThrowError(VE_MEMORY_FULL);
        return VE_MEMORY_FULL;
    }
    auto push = [&](VJSONValue&& value) -> VError {
        if (target->fLocker != nullptr || target->IsSharedGraph() || IsSharedNode(value))
            return target->Push(std::move(value)) ? VE_OK : RefusedPushError();
        // Neither the target nor the value is shared: no lock and no locker's consent needed.
        try {
            target->fValues.push_back(std::move(value));
        } catch (const std::exception&) {
            _ThrowError(VE_MEMORY_FULL);
            return VE_MEMORY_FULL;
        }
        VJSONGraph::Connect(nullptr, target, target->fValues.back());
        target->_TouchStamps();
        return VE_OK;
    };
    const bool plain = fLocker == nullptr;
    // One element at a time, re-reading the size: what the copy runs (an implementation's hooks) may change this
    // array.
    for (size_t i = 0;; ++i) {
        if (plain && i < fValues.size() && cloner._IsUnshared(fValues[i])) {
            // Stored empty first, so that it joins the target's graph before it holds anything; then filled.
            VJSONCloner::Pending pending{fValues[i], VJSONCloner::_MakeEmptyCopy(fValues[i])};
            if (VError error = push(VJSONValue(pending.fCopy)); error != VE_OK) return error;
            if (VError error = cloner._Fill(pending); error != VE_OK) return error;
            continue;
        }
        VJSONValue value;
        if (plain) {
            if (i >= fValues.size()) break;
            value = fValues[i];
        } else if (!GetAt(i, value)) {
            break;
        }
        if (VError error = cloner.CloneValue(value); error != VE_OK) return error;
        if (VError error = push(std::move(value)); error != VE_OK) return error;
    }
    return VE_OK;
}

} // namespace vela
