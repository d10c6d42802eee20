#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"

#include <atomic>
#include <mutex>

namespace vela {

class VJSONArray;
class VJSONGraph;
class VJSONObject;
class VJSONValue;
class VStorageLocker;

// What an object or array carries for its reference graph: the graph (null when none), its neighbours in the
// graph's member list, the number of references it gets from members of its graph, a mark for walks, and whether
// other tasks may reach the node.
template <class T> struct VJSONGraphLink {
    VJSONGraph* fGraph = nullptr;
    T* fPrev = nullptr;
    T* fNext = nullptr;
    int32 fIncoming = 0;
    // Set, never cleared, under the graph mutex when the node gets a storage locker or its graph becomes shared:
    // before another task can reach it. Until then the node is its task's alone and so is its link; from then on
    // the link is read and written under the graph mutex only (a merge repoints it and frees the old graph), so
    // the decision to lock is taken from this flag, never from the graph.
    std::atomic<bool> fShared{false};
    uint64 fMark = 0;

    bool IsShared() const noexcept { return fShared.load(std::memory_order_acquire); }
    void SetShared() noexcept { fShared.store(true, std::memory_order_release); }
};

// The reference graph of objects and arrays that refer to each other. Reference counting alone never frees a
// cycle; the graph counts the references of all its members (total) and those that members hold on members
// (internal). When a release drops the last reference from outside (total = internal + 1) the graph is broken:
// every member is emptied, which frees them all. A dropped property or element runs the same test on the part of
// the graph below it. An object or array joins a graph when it first holds, or is held by, another; graphs grow by
// merging (the smaller into the larger) and members leave when they die or when a break frees them.
// Unshared graphs are used by one task at a time; shared ones are changed under the graph mutex.
class VJSONGraph : public VObject, public IRefCountable {
public:
    bool MayHoldCycles() const noexcept { return fMayHoldCycles; }
    bool IsShared() const noexcept { return fShared; }
    // Marks the graph and every member shared, for good (under the graph mutex when other tasks may reach it).
    void SetShared() noexcept;
    int32 GetTotalReferences() const noexcept { return fTotal.load(std::memory_order_relaxed); }
    int32 GetInternalReferences() const noexcept { return fInternal; }
    int32 CountObjects() const noexcept { return fObjectCount; }
    int32 CountArrays() const noexcept { return fArrayCount; }

    // Records that parent (an object or an array, the other null) now holds child's object or array (nothing for
    // other kinds): the child gains an incoming reference and both end in one graph.
    static void Connect(VJSONObject* parentObject, VJSONArray* parentArray, const VJSONValue& child);
    // Records that a member no longer holds child (already removed from its place, still alive in the caller's
    // hands), then frees the part of the graph below child when nothing outside refers to it any more.
    static void Disconnect(const VJSONValue& child);

    // Breaks the whole graph when the reference being released is the last one from outside; true when it did.
    static bool ReleaseGraphDependenciesIfNecessary(VJSONGraph* graph);
    // When object (array) is held by members and by exactly one outside reference, the one being dropped: walks
    // what it reaches and, when nothing outside refers to that part, breaks it.
    static void ReleaseObjectDependenciesIfNecessary(VJSONObject* object);
    static void ReleaseArrayDependenciesIfNecessary(VJSONArray* array);

    // A member's death (count 0): it leaves the graph at once; its deletion, which drops what it held one value at
    // a time (each disconnected and checked), runs after the deletion under way on the calling thread, if any, so
    // that freeing a long chain needs no deep stack.
    static void DoObjectDeath(VJSONObject* object) noexcept;
    static void DoArrayDeath(VJSONArray* array) noexcept;

    // Retain and Release of an object or an array: inside a graph, the graph's total follows the node's count,
    // and the last outside reference breaks a graph that may hold cycles.
    template <class Member> static int32 RetainNode(const Member& node, const char* label) noexcept;
    template <class Member> static int32 ReleaseNode(const Member& node, const char* label) noexcept;

private:
    friend class VJSONObject;
    friend class VJSONArray;
    friend class VJSONTreeLinker;
    struct Node;

    VJSONGraph() noexcept = default;

    static void _Connect(Node parent, Node child);
    static void _Join(VJSONGraph* graph, Node node);
    // The intrusive member lists: at the head, out of the list, and all of from moved to another graph's list
    // (answers how many moved).
    template <class T> static void _PushMember(T* member, T*& head, int32& count) noexcept;
    template <class T> static void _UnlinkMember(T* member, T*& head, int32& count) noexcept;
    template <class T>
    static int32 _MoveMembers(T*& from, int32& fromCount, VJSONGraph* to, T*& toHead, int32& toCount) noexcept;
    static void _Leave(Node node);
    static VJSONGraph* _Merge(VJSONGraph* a, VJSONGraph* b);
    static void _ReleaseNodeDependenciesIfNecessary(Node node);
    static void _LeaveOnDeath(Node node) noexcept;
    // Drops a value that a deleted node held: disconnects it and runs the release check first.
    static void _DropHeldValue(VJSONValue& value) noexcept;
    static void _QueueDeletion(Node node) noexcept;
    static uint64 _NextMark() noexcept;
    // Whether node and all below it can take locker (nodes with a locker: when it is locker or fresh; objects
    // with an implementation: when it is sharable).
    static bool _CanMakeShared(Node node, VStorageLocker* locker);
    // Gives node and all below it locker.
    static void _SetStorageLockerDeep(Node node, VStorageLocker* locker);

    std::atomic<int32> fTotal{0};
    int32 fInternal = 0;
    bool fMayHoldCycles = false;
    bool fShared = false;
    VJSONObject* fObjects = nullptr;
    VJSONArray* fArrays = nullptr;
    int32 fObjectCount = 0;
    int32 fArrayCount = 0;
};

// Connects the nodes of a tree that one reader builds from its leaves up. They all join one graph, made on first
// need, rather than a graph per subtree that its parent's graph then absorbs: the graph ends as connecting them
// one by one would leave it, for a fraction of the work. Every node handed to it is new and unshared (no storage
// locker, no implementation) and belongs to no graph but this linker's.
class VJSONTreeLinker {
public:
    VJSONTreeLinker() noexcept = default;
    ~VJSONTreeLinker();
    VJSONTreeLinker(const VJSONTreeLinker&) = delete;
    VJSONTreeLinker& operator=(const VJSONTreeLinker&) = delete;

    // Records that parent (an object or an array, the other null) now holds child's object or array (nothing for
    // other kinds).
    void Connect(VJSONObject* parentObject, VJSONArray* parentArray, const VJSONValue& child);
    // After a Connect whose child was already a member (a node held twice): the graph may now hold cycles.
    void MarkMayHoldCycles() noexcept {
        if (fGraph != nullptr) fGraph->fMayHoldCycles = true;
    }

private:
    VJSONGraph* fGraph = nullptr; // one reference: the graph outlives subtrees dropped on the way
};

// Holds the process-wide graph mutex, which guards shared graphs, for a scope (when asked to).
class StGraphLocker {
public:
    // The graph mutex: recursive, taken before any locker's section.
    static std::recursive_mutex& GetMutex() noexcept;

    explicit StGraphLocker(bool lock = true) : fLocked(lock) {
        if (fLocked) GetMutex().lock();
    }
    ~StGraphLocker() {
        if (fLocked) GetMutex().unlock();
    }
    StGraphLocker(const StGraphLocker&) = delete;
    StGraphLocker& operator=(const StGraphLocker&) = delete;

private:
    bool fLocked;
};

template <class Member> int32 VJSONGraph::RetainNode(const Member& node, const char* label) noexcept {
    StGraphLocker lock(node.fLink.IsShared());
    if (node.fLink.fGraph != nullptr) node.fLink.fGraph->fTotal.fetch_add(1, std::memory_order_relaxed);
    return node.IRefCountable::Retain(label);
}

template <class Member> int32 VJSONGraph::ReleaseNode(const Member& node, const char* label) noexcept {
    StGraphLocker lock(node.fLink.IsShared());
    if (node.fLink.fGraph != nullptr && node.fLink.fGraph->MayHoldCycles())
        ReleaseGraphDependenciesIfNecessary(node.fLink.fGraph);
    if (node.fLink.fGraph != nullptr) node.fLink.fGraph->fTotal.fetch_sub(1, std::memory_order_relaxed);
    return node.IRefCountable::Release(label);
}

// Read access to a node: with a storage locker, the graph mutex and then the locker's section for the scope.
class VJSONReadLock {
public:
    // Defined inline beside VJSONObject and VJSONArray: most nodes need no lock and pay one test.
    inline explicit VJSONReadLock(const VJSONObject* object);
    inline explicit VJSONReadLock(const VJSONArray* array);
    ~VJSONReadLock() {
        if (fLocker != nullptr || fMutexHeld) _Release();
    }
    VJSONReadLock(const VJSONReadLock&) = delete;
    VJSONReadLock& operator=(const VJSONReadLock&) = delete;

protected:
    VJSONReadLock() noexcept = default;
    // Takes the graph mutex, then locker's section when there is a locker.
    void _Take(VStorageLocker* locker);
    void _Release() noexcept;

    VStorageLocker* fLocker = nullptr; // the locker whose section is held (one reference)
    bool fMutexHeld = false;
};

// Write access: taken when the node or the stored value is shared (a locker or a shared graph).
class VJSONReadWriteLock : public VJSONReadLock {
public:
    inline VJSONReadWriteLock(const VJSONObject* object, const VJSONValue* value);
    inline VJSONReadWriteLock(const VJSONArray* array, const VJSONValue* value);

private:
    // True when value is an object or array in a shared graph.
    static bool _IsSharedNode(const VJSONValue& value) noexcept;
};

} // namespace vela
