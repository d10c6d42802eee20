#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"
#include "json/VJSONValue.h"
#include "json/VStorageLocker.h"

#include <memory>
#include <utility>
#include <vector>

namespace vela {

class VJSONArray;
class VJSONObject;

// Deep copies of object and array graphs. The cloner remembers the nodes it copied, so a node met twice (shared
// sub-objects, cycles) is copied once and the copy refers to that one copy; a later call given such a node
// answers the same copy. It keeps a reference to each remembered source node and its copy until it goes. A node
// that only its one container refers to cannot be met twice: it is copied without being remembered. Deep graphs
// are copied without deep recursion: below a few dozen levels, nested objects and arrays are made empty and
// filled before the outermost call returns. A cloner belongs to one task at a time.
class VJSONCloner : public VObject {
public:
    // Modes: other values make plain deep copies.
    // Shared nodes (an array with a storage locker; an object with one, or with a sharable implementation) are not
    // copied: the copy refers to the source node itself.
    static constexpr int32 eKeepShared = 1;
    // Every copied object and array is put under the cloner's storage locker.
    static constexpr int32 eLockCopies = 2;

    explicit VJSONCloner(int32 mode = 0) noexcept : fMode(mode) {}
    ~VJSONCloner() override;

    VJSONCloner(const VJSONCloner&) = delete;
    VJSONCloner& operator=(const VJSONCloner&) = delete;

    int32 GetMode() const noexcept { return fMode; }
    bool KeepsSharedNodes() const noexcept { return fMode == eKeepShared; }
    bool LocksCopies() const noexcept { return fMode == eLockCopies; }

    // Replaces an object or array value by its copy; other kinds stay as they are (0).
    VError CloneValue(VJSONValue& value);
    // out: the copy of array (object), the one made before when the cloner met it already; undefined for null.
    // Errors: 'vela' 100 when memory runs out (out undefined), or the first error met while copying.
    VError CloneArray(const VJSONArray* array, VJSONValue& out);
    VError CloneObject(const VJSONObject* object, VJSONValue& out);

    // The locker of the copies, made (fresh) on first call; from the second call on it is no longer fresh.
    // Borrowed: the cloner keeps its reference.
    VStorageLocker* GetStorageLockerAndAssignIfNecessary();
    // The locker, or null; borrowed.
    VStorageLocker* GetStorageLocker() const noexcept { return fLocker.Get(); }
    // Replaces the locker (retains the new one, releases the old one).
    void SetStorageLocker(VStorageLocker* locker) noexcept { fLocker.Set(locker); }

private:
    friend class VJSONArray;
    friend class VJSONObject;

    // A source node (one reference, so that its address names it while the cloner lives) and its copy.
    struct Entry {
        Entry() noexcept = default;
        Entry(Entry&& other) noexcept : fSource(std::exchange(other.fSource, nullptr)), fCopy(std::move(other.fCopy)) {}
        Entry& operator=(Entry&&) = delete;
        ~Entry() {
            if (fSource != nullptr) fSource->Release();
        }
        const IRefCountable* fSource = nullptr;
        VJSONValue fCopy;
    };
    struct Slot {
        const void* fKey;
        Entry* fEntry;
    };
    // A copy made empty whose content is still to come from its source (both held).
    struct Pending {
        VJSONValue fSource;
        VJSONValue fCopy;
    };

    // The entry of key, made (with source retained) when there is none; added tells which. Throws when memory
    // runs out (nothing added then). Entries never move.
    Entry* _FindOrAdd(const void* key, const IRefCountable* source, bool& added);
    void _Grow();
    // The locker that new copies get: in eLockCopies mode the cloner's (made when needed), else the one set, if any.
    VStorageLocker* _LockerForCopies();
    // Records copy as the copy of source when the cloner has none for it yet.
    void _Remember(const void* key, const IRefCountable* source, const VJSONValue& copy);
    // True when held, the value of a property or element, is an object without implementation or an array, not
    // shared, that nothing but that place refers to, while the copies get no locker: such a node needs no entry
    // and its copy is a new empty one (_MakeEmptyCopy) filled through _Fill.
    bool _IsUnshared(const VJSONValue& held) const noexcept;
    static VJSONValue _MakeEmptyCopy(const VJSONValue& source);
    // Fills a copy from its source: now, or before the outermost call returns.
    VError _Fill(const Pending& pending);
    VError _FillNow(const Pending& pending);

    std::unique_ptr<Slot[]> fSlots; // open addressing over the source addresses; null key: free
    uint32 fSlotMask = 0;
    size_t fCount = 0;
    std::vector<std::vector<Entry>> fChunks; // each filled up to its reserved size only, so entries stay in place
    std::vector<Pending> fPending;
    VRefPtr<VStorageLocker> fLocker;
    int32 fMode;
    int32 fDepth = 0; // fills under way on the stack; 0 outside any copy
    // Counts the calls into implementations' hooks: while it stays still, no code but the copy's has run.
    uint64 fHookCalls = 0;
    // Fills nested deeper than this wait in fPending.
    static constexpr int32 kEagerDepth = 32;
};

} // namespace vela
