#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "json/IJSONObject.h"
#include "json/VJSONGraph.h"
#include "json/VJSONPropertyMap.h"
#include "json/VJSONValue.h"

#include <atomic>
#include <utility>
#include <vector>

namespace vela {

class CDBZoBaseContext;
class VCompareOptions;
class VDBLanguageContext;
class VJSONClass;
class VJSONCloner;
class VJSONStamp;
class VStorageLocker;
class VString;

// The shared, reference-counted JSON object: named properties in the order they were added, an optional
// implementation (IJSONObject) that may answer for properties itself, an optional storage locker that makes it
// shareable between tasks, and a change counter. Reads ask the implementation first, then the own properties.
// Objects that refer to each other in cycles are freed through their reference graph (VJSONGraph).
// Objects are made with new and handed around by reference; the creator holds the first one.
class VJSONObject : public VObject, public IRefCountable {
public:
    // Task monitoring: while sTaskToMonitor holds a task ID (0: off; VTaskMgr::GetCurrentOwnerID, so a thread that
    // is no task counts as one), objects made on that task (except the uncounted ones) add 1 to sTaskCounter and
    // their destruction on it subtracts 1.
    static std::atomic<uint32> sTaskToMonitor;
    static std::atomic<int32> sTaskCounter;

    // The reserved property that reports the storage locker's ID on a shared object.
    static const VString sLockerIDName; // "__LockerID"

    // Retains impl and locker; then lets impl connect what it keeps. classObject (a class object, see VJSONClass)
    // gives the object its class; without one the object is generic (no class).
    explicit VJSONObject(VJSONObject* classObject = nullptr, IJSONObject* impl = nullptr,
                         VStorageLocker* locker = nullptr, bool uncounted = false);
    // With shared, the object gets a new fresh storage locker of its own.
    VJSONObject(VJSONObject* classObject, IJSONObject* impl, bool shared);
    ~VJSONObject() override;

    VJSONObject(const VJSONObject&) = delete;
    VJSONObject& operator=(const VJSONObject&) = delete;

    // Reference counting that keeps the graph's counters (see VJSONGraph).
    int32 Retain(const char* label = nullptr) const noexcept override;
    int32 Release(const char* label = nullptr) const noexcept override;

    // ---- Reading (under the read lock when the object has a storage locker)
    // The implementation's answer when it handles name, else the own property; undefined when neither has it.
    VJSONValue GetProperty(const VString& name, VDBLanguageContext* context = nullptr) const;
    // The own property, or undefined; "__LockerID" on a shared object answers its shared ID.
    VJSONValue GetOwnProperty(const VString& name) const;
    bool HasProperty(const VString& name, VDBLanguageContext* context = nullptr) const;
    bool HasOwnProperty(const VString& name) const;
    // Properties by index exist only through an implementation: undefined and status 1 otherwise.
    VJSONValue GetPropertyByIndex(size_t index, EJSONStatus* status) const;
    size_t GetCountPropertiesByIndex(EJSONStatus* status) const;
    // A copy of the own properties, in order.
    std::vector<std::pair<VString, VJSONValue>> GetInternalProperties() const;
    // The number of own properties.
    size_t GetPropertyCount() const;
    // The name of the own property at index (0-based, in order) into out; false past the end.
    bool GetPropertyNameAt(size_t index, VString& out) const;
    // True without own property when the implementation (if any) reports no property either.
    bool IsEmpty() const;
    // True when the object has no class, or the root class.
    bool IsGenericObject() const noexcept;
    // "[object Object]".
    void GetString(VString& out) const;
    // The implementation's class name, else the class's name, else "Shared Object" with a storage locker,
    // "Object" otherwise.
    void GetClassName(VString& out) const;
    // The implementation's description when it gives one, else the object's compact JSON text (VJSONWriter option
    // 1), cut after about 512 units and ended by "..." with truncate. out is unchanged when the text fails.
    void GetDescription(VString& out, bool truncate = false, VDBLanguageContext* context = nullptr) const;
    // The same object, or the implementation's answer, or the same own properties (any order), each pair of the
    // same kind and equal (scalars by CompareTo, objects and arrays deeply). Cycles are followed once.
    bool DeepEqualTo(const VJSONObject* other, const VCompareOptions& options,
                     VJSONDeepEqualVisit* visit = nullptr) const;
    IJSONObject* GetImplementation() const noexcept { return fImplementation; }

    // ---- Writing
    // Undefined removes the property (true). Otherwise the implementation first (true when it answers 0); else the
    // own property is set (SetOwnProperty).
    bool SetProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context = nullptr);
    // The same, storing value itself (its stamp is already a new one) instead of a copy.
    bool SetProperty(const VString& name, VJSONValue&& value, VDBLanguageContext* context = nullptr);
    // Sets the own property: a new name goes last, an existing one keeps its place; an object or array value joins
    // the object's graph. On a shared object: "__LockerID" is refused without error; the calling task must use
    // the locker ('ZoRT' -10719); object and array values must be accepted by the locker; a restricted locker
    // takes only null, objects, arrays and undefined ('ZoRT' -10727). False (nothing changed) on refusal, and with
    // 'vela' 100 when memory runs out.
    bool SetOwnProperty(const VString& name, const VJSONValue& value);
    bool SetOwnProperty(const VString& name, VJSONValue&& value);
    // SetProperty for each pair in order, stopping at the first failure, between the implementation's
    // Begin/EndChangeProperties.
    bool SetProperties(const std::vector<std::pair<VString, VJSONValue>>& properties,
                       VDBLanguageContext* context = nullptr);
    // The implementation's removal first, else RemoveOwnProperty.
    void RemoveProperty(const VString& name);
    // Removes the own property (later ones move up); a removed object or array leaves the graph's count and may be
    // freed with what it holds. On a shared object the calling task must use the locker ('ZoRT' -10719).
    void RemoveOwnProperty(const VString& name);
    // Empties the property's value as VJSONValue::Clear does and writes it back; true for an absent property.
    bool ClearProperty(const VString& name, VDBLanguageContext* context = nullptr);
    // The implementation's clear, then ClearInternalProperties.
    void Clear();
    // Drops every own property (shared object: 'ZoRT' -10719 unless the calling task uses the locker).
    void ClearInternalProperties();
    // SetProperty for each of other's own properties in order (only names this object lacks with onlyMissing).
    VError MergeWith(const VJSONObject* other, bool onlyMissing);

    // ---- Copies and calls (VJSONObjectClone.cpp, VJSONObjectCall.cpp)
    // out: a deep copy made through cloner (see VJSONCloner), or this object itself when the cloner keeps shared
    // nodes and this one is shared. An implementation copies itself (IJSON_CloneImpl) or makes the whole copy
    // (IJSON_Clone); when it does neither the copy has no implementation. Answers the first error met.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;
    // Empties target's own properties, then gives it a copy (through cloner) of each own property, in order.
    // Answers the first error met; a shared target that the calling task cannot use: 'ZoRT' -10719.
    VError CloneProperties(VJSONCloner& cloner, VJSONObject* target) const;
    // Calls the implementation as a function with thisObject (thisArray) as "this" and params (numbered from 1,
    // may be null); result receives the function's result. Without implementation: not handled (1), result
    // untouched. base and context are passed through to the function.
    EJSONStatus CallAsFunction(VJSONObject* thisObject, VJSONArray* thisArray, std::vector<VJSONValue>* params,
                               VJSONValue& result, CDBZoBaseContext* base = nullptr,
                               VDBLanguageContext* context = nullptr) const;

    // ---- Paths: dotted names with [index] parts, as in a.b[2].c
    // Splits path into parts: pieces between "." (trimmed of spaces), each piece a name followed by "[index]"
    // parts. Library error 902 for an empty part, 901 for an index part without "]" (raised and answered).
    static VError ExtractPath(const VString& path, std::vector<VString>& parts);
    // The value at path: names read with GetProperty, array parts as an index or "length" (any case);
    // undefined when the path is malformed or leads nowhere.
    VJSONValue GetPropertyWithPath(const VString& path, VDBLanguageContext* context = nullptr) const;
    // Sets the value at path, making missing containers on the way (an array when the next part is all digits,
    // else an object) and growing arrays to reach an index. False for a malformed path, a path through a scalar
    // (library error 903 for an index part, 904 for a name), an index beyond 2^24 or memory running out
    // ('vela' 100).
    bool SetPropertyWithPath(const VString& path, const VJSONValue& value, VDBLanguageContext* context = nullptr);
    // SetPropertyWithPath for each pair in order, stopping at the first failure.
    bool SetPropertiesWithPaths(const std::vector<std::pair<VString, VJSONValue>>& properties);
    // True for the empty text or decimal digits only.
    static bool isvalidnumber(const VString& text) noexcept;

    // ---- Stamps
    // Replaces the change counter (retain new, release old) and tells the implementation.
    void SetJSONStamp(VJSONStamp* stamps);
    VJSONStamp* GetJSONStamp() const noexcept { return fStamps; }
    // The stored value's stamp (0 when absent), or the implementation's answer; for a name the class reads with
    // a getter, the object's change counter.
    uint32 GetPropertyStamp(const VString& name) const;
    // The implementation's touch, else: the change counter moves on and the stored value takes a new stamp.
    void TouchPropertyStamp(const VString& name);
    // The same along a path; on an array the last part is an index or "length" (the count as stamp).
    uint32 GetPropertyStampWithPath(const VString& path) const;
    void TouchPropertyStampWithPath(const VString& path);

    // ---- Graph and sharing
    VJSONGraph* GetGraph() const noexcept { return fLink.fGraph; }
    // How many properties and elements of the graph's members refer to this object.
    int32 GetIncomingReferences() const noexcept { return fLink.fIncoming; }
    // The storage locker with one more reference, or null.
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    // Replaces the locker (retain new, release old), under the graph mutex when the object is shared.
    void SetStorageLocker(VStorageLocker* locker);
    void _SetStorageLocker(VStorageLocker* locker) noexcept;
    // 0 without locker, else the locker's ID (negated when restricted or fresh).
    int32 GetSharedID() const;
    // True with a locker, or an implementation that reports itself sharable.
    bool IsShared() const;
    // True once other tasks may reach the object: it got a locker or joined a graph marked shared (and stays so).
    // Its graph is then changed under the graph mutex only.
    bool IsSharedGraph() const noexcept { return fLink.IsShared(); }
    void MakeGraphShared() noexcept;
    // Gives value (an object or array) and all below it this object's locker when they can take it; the locker
    // stops being fresh in any case.
    void MakeValueSharedIfNecessary(VJSONValue& value);
    // An implementation keeping an object or array value for this object declares (and withdraws) it here, so
    // that the graph counts it as a property.
    void ConnectImplementationProperty(const VJSONValue& value);
    void DisconnectImplementationProperty(const VJSONValue& value);

    // ---- Class (VJSONClass): member functions and getters answer names that neither the implementation nor the
    // own properties know; setters take assignments the implementation leaves.
    VJSONClass* GetClass() const noexcept { return fClass; }
    // The class's class object (borrowed), or null for a generic object.
    VJSONObject* GetClassObject() const noexcept;
    // Puts a non-null class other than the current one in use and releases the old one.
    void _SetClass(VJSONClass* cls);
    // True when c is the object's class or one of its superclasses; a generic object is an instance of a root
    // class only.
    bool IsInstanceOf(const VJSONClass* c) const noexcept;
    // The same for a class object; an object that is no class object: 'ZoRT' -10745 and false.
    bool IsInstanceOf(const VJSONObject* classObject) const;

    // ---- Class fields (the class system sets them)
    int32 GetClassLevel() const noexcept { return fClassLevel; }
    void SetClassLevel(int32 level) noexcept { fClassLevel = level; }
    bool IsConstructing() const noexcept { return fConstructing; }
    void SetConstructing(bool constructing) noexcept { fConstructing = constructing; }

protected:
    void DoOnRefCountZero() override;

private:
    friend class VJSONGraph;
    friend class VJSONArray;
    friend class VJSONCloner;
    friend class VJSONReadLock;
    friend class VJSONReadWriteLock;
    friend class VJSONPropertyConstOrderedIterator;
    friend class VJSONPropertyIterator;
    friend class VJSONPropertyConstIterator;
    friend class VJSONWriter;   // walks unshared nodes in place
    friend class VJSONImporter; // fills new objects as it reads them
    friend class VJSONBinaryWriter;
    friend class VJSONBinaryImporter;
    friend class VJSONClassStore; // unbinds the root classes from each other

    // Releases the class, leaving the object generic.
    void _DropClass() noexcept;
    // Replaces the implementation (retain new, release old), each told of the change as at construction and
    // death.
    void _SetImplementation(IJSONObject* impl);

    // Adds a property to a new object that a reader fills (no implementation, no locker): a repeated name replaces
    // the earlier value in its place. An object or array value is connected through linker, or alone (under the
    // graph mutex when shared) without it. False, with 'vela' 100, when memory runs out (property is left as it was).
    bool _AdoptNewProperty(VJSONPropertyMap::Property& property, VJSONTreeLinker* linker);
    bool _AdoptNewPropertyUnlocked(VJSONPropertyMap::Property& property, VJSONTreeLinker* linker);
    // Stores value at index, or as a new property named name for index -1, and connects it through linker (alone
    // without one). False, with 'vela' 100, when memory runs out; name and value are then left as they were.
    bool _StoreOwnProperty(int64 index, VJSONPropertyName&& name, uint32 hash, VJSONValue&& value,
                           VJSONTreeLinker* linker);
    // True when reads must lock (a storage locker).
    bool _NeedsReadLock() const noexcept { return fLocker != nullptr; }
    bool _IsLockedForCaller(bool raise) const;
    bool _IsLockerID(const VString& name) const noexcept;
    // The class's member function or getter result for name; undefined without either.
    VJSONValue _GetClassProperty(const VString& name, VDBLanguageContext* context) const;
    bool _PrototypeHasProperty(const VString& name, VDBLanguageContext* context) const;
    // Hands the assignment to the class's setter of name; not handled without one.
    EJSONStatus _SetClassProperty(const VString& name, const VJSONValue& value, VDBLanguageContext* context);
    VJSONValue _GetOwnProperty(const VString& name) const;
    bool _SetOwnProperty(const VString& name, VJSONValue&& value);
    // Clone, recording the copy in cloner only when remember is set (the cloner records it itself otherwise).
    VError _Clone(VJSONValue& out, VJSONCloner& cloner, bool remember) const;
    // CloneProperties into target, a plain and empty object, from this object without locker.
    VError _ClonePropertiesIntoPlain(VJSONCloner& cloner, VJSONObject* target) const;
    // Empties the own properties; each removed object or array is disconnected and checked one at a time.
    void _RemoveAllProperties();
    // Drops every value without graph bookkeeping (the object has left its graph).
    void _DropAllValues() noexcept;
    void _TouchStamps() noexcept;
    template <class F> void _ForEachChild(F&& visit) const;

    VJSONPropertyMap fProperties;
    VJSONGraphLink<VJSONObject> fLink;
    IJSONObject* fImplementation = nullptr;
    VStorageLocker* fLocker = nullptr;
    VJSONStamp* fStamps = nullptr;
    VJSONClass* fClass = nullptr;
    int32 fClassLevel = 0;
    bool fConstructing = false;
    bool fUncounted;
};

template <class F> void VJSONObject::_ForEachChild(F&& visit) const {
    for (const VJSONPropertyMap::Property& property : fProperties) {
        JSONType type = property.fValue.GetType();
        if (type == JSON_object || type == JSON_array) visit(property.fValue);
    }
}

inline VJSONReadLock::VJSONReadLock(const VJSONObject* object) {
    if (object->fLocker != nullptr) _Take(object->fLocker);
}

inline VJSONReadWriteLock::VJSONReadWriteLock(const VJSONObject* object, const VJSONValue* value) {
    if (object->IsSharedGraph() ||
        (value != nullptr && (value->IsObject() || value->IsArray()) && _IsSharedNode(*value)))
        _Take(object->fLocker);
}

} // namespace vela
