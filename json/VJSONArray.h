#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "json/VJSONGraph.h"
#include "json/VJSONValue.h"

#include <atomic>
#include <string>
#include <unordered_set>
#include <vector>

namespace vela {

class IJSONValueComparator;
class VCompareOptions;
class VJSONCloner;
class VJSONRepeatBudget;
class VJSONStamp;
class VStorageLocker;
class VString;

// The array node of the JSON model: elements in order (0-based indexes), reference-counted, possibly part of a
// reference graph (VJSONGraph) and possibly shared between tasks under a storage locker. Writes to a shared array
// need the calling task to use its locker ('ZoRT' -10720 otherwise) and leave it unchanged when refused.
// Removed object and array elements leave the graph's count and are freed with what they hold when nothing
// outside refers to them any more.
class VJSONArray : public VObject, public IRefCountable {
public:
    // Task monitoring, as for objects (VJSONObject::sTaskToMonitor).
    static std::atomic<uint32> sTaskToMonitor;
    static std::atomic<int32> sTaskCounter;

    // Retains locker when given.
    explicit VJSONArray(VStorageLocker* locker = nullptr);
    // With shared, the array gets a new fresh storage locker of its own.
    explicit VJSONArray(bool shared);
    ~VJSONArray() override;

    VJSONArray(const VJSONArray&) = delete;
    VJSONArray& operator=(const VJSONArray&) = delete;

    int32 Retain(const char* label = nullptr) const noexcept override;
    int32 Release(const char* label = nullptr) const noexcept override;

    // ---- Reading (under the read lock when the array has a storage locker)
    size_t GetCount() const;
    bool IsEmpty() const { return GetCount() == 0; }
    // A copy of element index (new stamp); undefined past the end.
    VJSONValue GetAt(size_t index) const;
    // The same into out; false (out undefined) past the end.
    bool GetAt(size_t index, VJSONValue& out) const;
    // Copies of all elements.
    void GetValues(std::vector<VJSONValue>& out) const;
    // The elements' texts joined with ","; library error 900 for an array met again through visited (a cycle),
    // 107 when the text cannot be held or repeats shared arrays past VJSONRepeatBudget's bound, or the first
    // element's error (out then holds the text up to it).
    VError GetString(VString& out, std::unordered_set<const VJSONArray*>* visited = nullptr) const;
    // out: the texts of the elements joined by separator; null and undefined elements add "null" only with
    // keepNull, empty texts are added only with keepEmpty.
    void JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool keepNull) const;
    // An object {"ranges": [{"start": i, "end": j}, ...]}: the runs of consecutive indexes whose element is in
    // selection (an array): objects by identity, other values by CompareTo with a real tolerance of 1e-06.
    VJSONValue GetSelectedRows(const VJSONValue& selection) const;
    // The same array, or the same count with pairs of the same kind and equal (deeply for objects and arrays).
    bool DeepEqualTo(const VJSONArray* other, const VCompareOptions& options,
                     VJSONDeepEqualVisit* visit = nullptr) const;
    // The stamp of element index, 0 past the end.
    uint32 GetStampAt(size_t index) const;

    // out: a deep copy made through cloner (see VJSONCloner), or this array itself when the cloner keeps shared
    // nodes and this one has a storage locker (VJSONArrayClone.cpp). Answers the first error met; 'vela' 100 when
    // memory runs out.
    VError Clone(VJSONValue& out, VJSONCloner& cloner) const;

    // ---- Writing
    // Element index becomes a copy of value. With grow, an index at or past the end first extends the array with
    // undefined values; without, 'ZoRT' -10713 and false. False also on refusal of a shared array or when memory
    // runs out ('vela' 100).
    bool SetAt(size_t index, const VJSONValue& value, bool grow = false);
    // Appends a copy of value.
    bool Push(const VJSONValue& value);
    // The same, storing value itself instead of a copy.
    bool Push(VJSONValue&& value);
    // count elements: removed ones leave, new ones are VJSONValue(fill) (a new empty object or array each for
    // those kinds). False when refused or when memory runs out ('vela' 100).
    bool Resize(size_t count, JSONType fill = JSON_null);
    // Removes the elements index to min(index + count, size) - 1; nothing past the end.
    bool RemoveAt(size_t index, size_t count = 1);
    // Removes every element.
    bool Clear();
    // Exchanges the elements with values: the old ones leave the graph, the new ones join it.
    bool SwapValues(std::vector<VJSONValue>& values);
    // Appends copies of other's elements (a shared array accepts them one by one: false at the first refusal).
    bool Concatenate(const VJSONArray& other);
    // Reorders the elements by comparator (not stable). Any comparator is safe; 'vela' 917 and false when
    // memory runs out or the comparator changed the array's size.
    bool Sort(IJSONValueComparator* comparator);
    // Element index takes a new stamp.
    void TouchStampAt(size_t index);

    // ---- Graph and sharing
    VJSONGraph* GetGraph() const noexcept { return fLink.fGraph; }
    int32 GetIncomingReferences() const noexcept { return fLink.fIncoming; }
    VRefPtr<VStorageLocker> GetStorageLocker() const;
    void SetStorageLocker(VStorageLocker* locker);
    void _SetStorageLocker(VStorageLocker* locker) noexcept;
    void SetJSONStamp(VJSONStamp* stamps);
    VJSONStamp* GetJSONStamp() const noexcept { return fStamps; }
    int32 GetSharedID() const;
    // As VJSONObject::IsSharedGraph.
    bool IsSharedGraph() const noexcept { return fLink.IsShared(); }
    void MakeGraphShared() noexcept;
    void MakeValueSharedIfNecessary(VJSONValue& value);

protected:
    void DoOnRefCountZero() override;

private:
    // Appends the text of GetString to out.
    VError _AppendString(std::u16string& out, std::unordered_set<const VJSONArray*>& visited,
                         VJSONRepeatBudget& repeats) const;

    friend class VJSONCloner;
    friend class VJSONGraph;
    friend class VJSONObject;
    friend class VJSONReadLock;
    friend class VJSONReadWriteLock;
    friend class VJSONWriter;   // walks unshared nodes in place
    friend class VJSONImporter; // fills new arrays as it reads them
    friend class VJSONBinaryWriter;
    friend class VJSONBinaryImporter;

    // Appends a value to a new array that a reader fills (no locker); an object or array value is connected as
    // VJSONObject::_AdoptNewProperty does. False, with 'vela' 100, when memory runs out (value is left in place).
    bool _AppendNewElement(VJSONValue&& value, VJSONTreeLinker* linker);
    // Moves values[from] onwards into this new array that a reader fills (no locker, no element yet), in one
    // block of their exact size, and connects them as _AppendNewElement does; values keeps its first from. False,
    // with 'vela' 100, when memory runs out (the moved values are then dropped).
    bool _AdoptNewElements(std::vector<VJSONValue>& values, size_t from, VJSONTreeLinker* linker);
    // Connects an element just stored (an object or array) to this new array's graph.
    void _ConnectNewElement(const VJSONValue& added, VJSONTreeLinker* linker);
    // Puts value last (small arrays get room for 4 at first); false, with 'vela' 100, when memory runs out.
    bool _Append(VJSONValue&& value);

    // Clone, recording the copy in cloner only when remember is set.
    VError _Clone(VJSONValue& out, VJSONCloner& cloner, bool remember) const;
    // Appends copies (through cloner) of the elements to target, a new array.
    VError _CloneElementsInto(VJSONArray* target, VJSONCloner& cloner) const;
    // The ownership test of writes on a shared array; raises -10720 when it fails.
    bool _IsLockedForCaller() const;
    // The locker's acceptance of an object or array value (true for other kinds and unshared arrays).
    bool _Accepts(const VJSONValue& value);
    // Takes the elements from index on out of the array, then disconnects and checks them one at a time.
    void _RemoveFrom(size_t index, size_t count);
    void _DropAllValues() noexcept;
    void _TouchStamps() noexcept;
    template <class F> void _ForEachChild(F&& visit) const;

    std::vector<VJSONValue> fValues;
    VJSONGraphLink<VJSONArray> fLink;
    VStorageLocker* fLocker = nullptr;
    VJSONStamp* fStamps = nullptr;
};

template <class F> void VJSONArray::_ForEachChild(F&& visit) const {
    for (const VJSONValue& value : fValues) {
        JSONType type = value.GetType();
        if (type == JSON_object || type == JSON_array) visit(value);
    }
}

inline VJSONReadLock::VJSONReadLock(const VJSONArray* array) {
    if (array->fLocker != nullptr) _Take(array->fLocker);
}

inline VJSONReadWriteLock::VJSONReadWriteLock(const VJSONArray* array, const VJSONValue* value) {
    if (array->IsSharedGraph() ||
        (value != nullptr && (value->IsObject() || value->IsArray()) && _IsSharedNode(*value)))
        _Take(array->fLocker);
}

} // namespace vela
