#pragma once

#include "core/IRefCountable.h"
#include "core/VCriticalSection.h"
#include "core/VObject.h"

#include <atomic>
#include <variant>
#include <vector>

namespace vela {

class VJSONArray;
class VJSONObject;
class VJSONValue;
class VSyncEvent;
class VTask;

// An object or an array, as a container or a contained node.
using VJSONNodeVariant = std::variant<VJSONObject*, VJSONArray*>;

// The lock that makes objects and arrays shareable between tasks: a critical section that guards reads and
// writes of the shared data, and an owner (a task using the locker, re-entrantly) without which no write is
// accepted. A locker is fresh until it takes in nodes of another locker or a value is made shared into it.
// Owners are tasks (threads that are not tasks count as tasks of their own). A task waiting for the locker
// keeps executing its messages.
class VStorageLocker : public VObject, public IRefCountable {
public:
    // The next ID; the first locker of a process has ID 1.
    static std::atomic<int32> sNextID;

    VStorageLocker() noexcept;
    ~VStorageLocker() override;

    int32 GetID() const noexcept { return fID; }
    bool IsRestricted() const noexcept { return fRestricted; }
    void SetRestricted(bool restricted) noexcept { fRestricted = restricted; }
    bool IsFresh() const noexcept { return fFresh; }
    void SetFresh(bool fresh) noexcept { fFresh = fresh; }
    // The ID as shared objects report it: negated for a restricted or fresh locker.
    int32 GetSharedID() const noexcept { return fRestricted || fFresh ? -fID : fID; }

    // The critical section (recursive). The graph mutex, when needed, is taken before it.
    void Lock() { fSection.Lock(); }
    void Unlock() { fSection.Unlock(); }

    // Takes the locker in use, waiting while another task uses it; the depth grows for the calling task. A task
    // executes its messages while it waits. False, without error, when the calling task is dying.
    bool Use();
    // Takes the locker in use when it is free or already used by the calling task (the depth grows); false at
    // once when another task uses it or the section is busy.
    bool TryToUse();
    // Ends one use by the calling task; at depth 0 the locker is free again and its waiters are woken.
    // Nothing for other tasks.
    void EndUse();
    // True when the calling task uses the locker (depth at least 1).
    bool IsUsedByCurrentTask() const;
    uint32 GetOwner() const;
    int32 GetUseCount() const;

    // Whether child (with its locker, possibly null) may be stored into parent (with its locker). Without parent
    // locker: yes. A fresh child locker joins the parent's ('ZoRT' -10753 when another task uses it); a settled
    // child locker must be the parent's, or the parent's fresh locker gives way to it ('ZoRT' -10724 for an
    // object, -10725 for an array otherwise); a child without locker is refused ('ZoRT' -10721) unless it is an
    // object whose implementation is sharable. Raises the error it answers false for.
    static bool Assign(const VJSONNodeVariant& parent, VStorageLocker* parentLocker, const VJSONNodeVariant& child,
                       VStorageLocker* childLocker);
    // The same for a value: other kinds than objects and arrays are accepted.
    static bool Assign(const VJSONNodeVariant& parent, VStorageLocker* parentLocker, const VJSONValue& child);

private:
    // A task waiting in Use; threads that are not tasks wait on an event of their own.
    struct Waiter {
        VTask* task;
        VSyncEvent* event;
    };
    // Takes the locker for caller when free or already its (section held).
    bool _TryTake(uint32 caller) noexcept;

    std::vector<Waiter> fWaiters;
    mutable VCriticalSection fSection;
    uint32 fOwner = 0;
    int32 fUseCount = 0;
    int32 fID;
    bool fRestricted = false;
    bool fFresh = true;
};

} // namespace vela
