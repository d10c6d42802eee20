// Internal header: the graph's view of an object or array, for the JSON model's sources; include json/VJSONGraph.h.
#pragma once

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONGraph.h"
#include "json/VJSONObject.h"

namespace vela {

// An object or an array, the other pointer null.
struct VJSONGraph::Node {
    VJSONObject* fObject = nullptr;
    VJSONArray* fArray = nullptr;

    static Node Of(const VJSONValue& value) noexcept { return {value.GetObjectPtr(), value.GetArrayPtr()}; }
    // Asks for the first line of the node value refers to, if any: releases read it next, and nodes lie anywhere.
    static void Prefetch(const VJSONValue& value) noexcept {
        if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) __builtin_prefetch(object, 1);
        if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) __builtin_prefetch(array, 1);
    }
    // How many values ahead of the one being dropped a deletion asks for the nodes they refer to.
    static constexpr size_t kPrefetchAhead = 4;

    // Drops the values a deleted node held (valueOf gives the value of an element of values), the last first: as
    // deletions run at once, a tree is then freed in about the reverse order of its making, which suits the
    // allocator.
    template <class Values, class ValueOf> static void DropHeldValues(Values& values, ValueOf valueOf) noexcept {
        for (size_t i = values.size(); i-- > 0;) {
            if (i >= kPrefetchAhead) Prefetch(valueOf(values[i - kPrefetchAhead]));
            VJSONGraph::_DropHeldValue(valueOf(values[i]));
        }
    }
    bool IsNull() const noexcept { return fObject == nullptr && fArray == nullptr; }
    bool operator==(const Node&) const noexcept = default;

    VJSONGraph*& Graph() const noexcept { return fObject != nullptr ? fObject->fLink.fGraph : fArray->fLink.fGraph; }
    int32& Incoming() const noexcept { return fObject != nullptr ? fObject->fLink.fIncoming : fArray->fLink.fIncoming; }
    uint64& Mark() const noexcept { return fObject != nullptr ? fObject->fLink.fMark : fArray->fLink.fMark; }
    // Whether other tasks may reach the node (see VJSONGraphLink::fShared).
    bool IsShared() const noexcept { return fObject != nullptr ? fObject->fLink.IsShared() : fArray->fLink.IsShared(); }
    void SetShared() const noexcept {
        if (fObject != nullptr) {
            fObject->fLink.SetShared();
        } else {
            fArray->fLink.SetShared();
        }
    }
    int32 RefCount() const noexcept { return fObject != nullptr ? fObject->GetRefCount() : fArray->GetRefCount(); }
    void Retain() const noexcept {
        if (fObject != nullptr) {
            fObject->Retain();
        } else {
            fArray->Retain();
        }
    }
    void Release() const noexcept {
        if (fObject != nullptr) {
            fObject->Release();
        } else {
            fArray->Release();
        }
    }
    VStorageLocker* Locker() const noexcept { return fObject != nullptr ? fObject->fLocker : fArray->fLocker; }
    void SetLocker(VStorageLocker* locker) const noexcept {
        if (fObject != nullptr) {
            fObject->_SetStorageLocker(locker);
        } else {
            fArray->_SetStorageLocker(locker);
        }
    }
    // Shared between tasks: a storage locker, or an object implementation that reports itself sharable.
    bool QualifiesAsShared() const {
        if (fObject != nullptr)
            return fObject->fLocker != nullptr ||
                   (fObject->fImplementation != nullptr && fObject->fImplementation->IsSharable(fObject));
        return fArray->fLocker != nullptr;
    }
    template <class F> void ForEachChild(F&& visit) const {
        if (fObject != nullptr) {
            fObject->_ForEachChild(visit);
        } else {
            fArray->_ForEachChild(visit);
        }
    }
    void DropAllValues() const noexcept {
        if (fObject != nullptr) {
            fObject->_DropAllValues();
        } else {
            fArray->_DropAllValues();
        }
    }
};

} // namespace vela
