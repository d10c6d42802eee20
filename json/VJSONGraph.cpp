#include "json/VJSONGraph.h"

#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONGraphNode.h"
#include "json/VJSONObject.h"
#include "json/VStorageLocker.h"

#include <new>
#include <vector>

namespace vela {

namespace {

// Deletions on this thread. A node dying while another one is deleted is deleted at once, while it is still in the
// cache, down to kInlineDeletionDepth nested deletions. Deeper ones wait in a list linked through their (unused by
// then) graph link, which the outermost deletion empties, the last queued first: freeing a long chain needs no
// deep stack.
constexpr int32 kInlineDeletionDepth = 16;
struct PendingDeletions {
    VJSONObject* fObjects;
    VJSONArray* fArrays;
    int32 fDepth;
};
thread_local PendingDeletions tPending{nullptr, nullptr, 0};

} // namespace

std::recursive_mutex& StGraphLocker::GetMutex() noexcept {
    static std::recursive_mutex sMutex;
    return sMutex;
}

uint64 VJSONGraph::_NextMark() noexcept {
    static std::atomic<uint64> sMark{0};
    return sMark.fetch_add(1, std::memory_order_relaxed) + 1;
}

template <class T> void VJSONGraph::_PushMember(T* member, T*& head, int32& count) noexcept {
    member->fLink.fPrev = nullptr;
    member->fLink.fNext = head;
    if (head != nullptr) head->fLink.fPrev = member;
    head = member;
    ++count;
}

template <class T> void VJSONGraph::_UnlinkMember(T* member, T*& head, int32& count) noexcept {
    auto& link = member->fLink;
    if (link.fPrev != nullptr) {
        link.fPrev->fLink.fNext = link.fNext;
    } else {
        head = link.fNext;
    }
    if (link.fNext != nullptr) link.fNext->fLink.fPrev = link.fPrev;
    link.fPrev = link.fNext = nullptr;
    --count;
}

template <class T>
int32 VJSONGraph::_MoveMembers(T*& from, int32& fromCount, VJSONGraph* to, T*& toHead, int32& toCount) noexcept {
    int32 moved = 0;
    for (T* member = from; member != nullptr; ++moved) {
        T* next = member->fLink.fNext;
        member->fLink.fGraph = to;
        _PushMember(member, toHead, toCount);
        member = next;
    }
    from = nullptr;
    fromCount = 0;
    return moved;
}

void VJSONGraph::_Join(VJSONGraph* graph, Node node) {
    node.Graph() = graph;
    graph->Retain();
    if (node.fObject != nullptr) {
        _PushMember(node.fObject, graph->fObjects, graph->fObjectCount);
    } else {
        _PushMember(node.fArray, graph->fArrays, graph->fArrayCount);
    }
    graph->fTotal.fetch_add(node.RefCount(), std::memory_order_relaxed);
    if (node.QualifiesAsShared()) graph->SetShared();
    if (graph->fShared) node.SetShared();
}

void VJSONGraph::SetShared() noexcept {
    if (fShared) return;
    fShared = true;
    for (VJSONObject* object = fObjects; object != nullptr; object = object->fLink.fNext)
        object->fLink.SetShared();
    for (VJSONArray* array = fArrays; array != nullptr; array = array->fLink.fNext)
        array->fLink.SetShared();
}

void VJSONGraph::_Leave(Node node) {
    VJSONGraph* graph = node.Graph();
    if (node.fObject != nullptr) {
        _UnlinkMember(node.fObject, graph->fObjects, graph->fObjectCount);
    } else {
        _UnlinkMember(node.fArray, graph->fArrays, graph->fArrayCount);
    }
    graph->fTotal.fetch_sub(node.RefCount(), std::memory_order_relaxed);
    node.Graph() = nullptr;
    node.Incoming() = 0;
    graph->Release();
}

VJSONGraph* VJSONGraph::_Merge(VJSONGraph* a, VJSONGraph* b) {
    VJSONGraph* big = a;
    VJSONGraph* small = b;
    if (a->fObjectCount + a->fArrayCount < b->fObjectCount + b->fArrayCount) std::swap(big, small);
    big->fMayHoldCycles = big->fMayHoldCycles || small->fMayHoldCycles;
    // Sharing spreads to the members of both before any of them moves.
    if (small->fShared) big->SetShared();
    if (big->fShared) small->SetShared();
    big->fTotal.fetch_add(small->fTotal.load(std::memory_order_relaxed), std::memory_order_relaxed);
    big->fInternal += small->fInternal;

    int32 moved = _MoveMembers(small->fObjects, small->fObjectCount, big, big->fObjects, big->fObjectCount);
    moved += _MoveMembers(small->fArrays, small->fArrayCount, big, big->fArrays, big->fArrayCount);
    // Each moved member held one reference on its old graph and now holds one on the new: the last release
    // deletes the emptied graph.
    for (int32 i = 0; i < moved; ++i) {
        big->Retain();
        small->Release();
    }
    return big;
}

void VJSONGraph::_Connect(Node parent, Node child) {
    ++child.Incoming();
    VJSONGraph* parentGraph = parent.Graph();
    VJSONGraph* childGraph = child.Graph();
    // A node without graph holds no object or array but the child just stored, so joining a graph adds exactly
    // one internal reference.
    if (parent == child) {
        if (parentGraph == nullptr) {
            auto* graph = new VJSONGraph;
            graph->fMayHoldCycles = true;
            _Join(graph, parent);
            graph->Release(); // the member's reference keeps it
            parentGraph = graph;
        } else {
            parentGraph->fMayHoldCycles = true;
        }
        ++parentGraph->fInternal;
        return;
    }
    if (parentGraph == nullptr && childGraph == nullptr) {
        auto* graph = new VJSONGraph;
        _Join(graph, parent);
        _Join(graph, child);
        graph->Release();
        ++graph->fInternal;
        return;
    }
    if (parentGraph == nullptr) {
        _Join(childGraph, parent);
        ++childGraph->fInternal;
        return;
    }
    if (childGraph == nullptr) {
        _Join(parentGraph, child);
        ++parentGraph->fInternal;
        return;
    }
    if (parentGraph == childGraph) {
        parentGraph->fMayHoldCycles = true;
        ++parentGraph->fInternal;
        return;
    }
    VJSONGraph* merged = _Merge(parentGraph, childGraph);
    ++merged->fInternal;
}

void VJSONGraph::Connect(VJSONObject* parentObject, VJSONArray* parentArray, const VJSONValue& child) {
    Node childNode = Node::Of(child);
    if (childNode.IsNull()) return;
    _Connect(Node{parentObject, parentObject != nullptr ? nullptr : parentArray}, childNode);
}

VJSONTreeLinker::~VJSONTreeLinker() {
    if (fGraph != nullptr) fGraph->Release();
}

void VJSONTreeLinker::Connect(VJSONObject* parentObject, VJSONArray* parentArray, const VJSONValue& child) {
    using Node = VJSONGraph::Node;
    Node childNode = Node::Of(child);
    if (childNode.IsNull()) return;
    Node parent{parentObject, parentObject != nullptr ? nullptr : parentArray};
    if (fGraph == nullptr) fGraph = new VJSONGraph;
    if (parent.Graph() == nullptr) VJSONGraph::_Join(fGraph, parent);
    if (childNode.Graph() == nullptr) VJSONGraph::_Join(fGraph, childNode);
    ++childNode.Incoming();
    ++fGraph->fInternal;
}

void VJSONGraph::Disconnect(const VJSONValue& child) {
    Node node = Node::Of(child);
    if (node.IsNull()) return;
    VJSONGraph* graph = node.Graph();
    if (graph == nullptr) return;
    --node.Incoming();
    --graph->fInternal;
    _ReleaseNodeDependenciesIfNecessary(node);
}

namespace {

// Frees the listed nodes, which have left their graph and hold one extra reference each: each is emptied, then
// loses the extra reference. A node still held by a listed node not yet emptied lives until that one is.
template <class NodeT> void EmptyAndRelease(const std::vector<NodeT>& nodes) noexcept {
    for (const NodeT& node : nodes) {
        node.DropAllValues();
        node.Release();
    }
}

} // namespace

void VJSONGraph::_ReleaseNodeDependenciesIfNecessary(Node node) {
    VJSONGraph* graph = node.Graph();
    if (graph == nullptr) return;
    int32 incoming = node.Incoming();
    if (incoming == 0 || incoming != node.RefCount() - 1) return;

    // Walk what node reaches, counting every reference on the way plus the one being dropped. When the walk
    // met a node twice and the references counted are all those the nodes have, nothing outside holds them.
    std::vector<Node> nodes;
    int64 count = 1;
    bool metTwice = false;
    try {
        uint64 mark = _NextMark();
        node.Mark() = mark;
        nodes.push_back(node);
        for (size_t next = 0; next < nodes.size(); ++next) {
            nodes[next].ForEachChild([&](const VJSONValue& value) {
                Node child = Node::Of(value);
                ++count;
                if (child.Mark() == mark) {
                    metTwice = true;
                    return;
                }
                child.Mark() = mark;
                nodes.push_back(child);
            });
        }
    } catch (const std::bad_alloc&) {
        return; // without memory nothing is freed now; the whole graph's release check still can
    }
    if (!metTwice) return;
    int64 held = 0;
    for (const Node& each : nodes)
        held += each.RefCount();
    if (held != count) return;

    graph->Retain();
    graph->fInternal -= int32(count - 1);
    for (const Node& each : nodes) {
        _Leave(each);
        each.Retain();
    }
    EmptyAndRelease(nodes);
    graph->Release();
}

void VJSONGraph::ReleaseObjectDependenciesIfNecessary(VJSONObject* object) {
    if (object != nullptr) _ReleaseNodeDependenciesIfNecessary(Node{object, nullptr});
}

void VJSONGraph::ReleaseArrayDependenciesIfNecessary(VJSONArray* array) {
    if (array != nullptr) _ReleaseNodeDependenciesIfNecessary(Node{nullptr, array});
}

bool VJSONGraph::ReleaseGraphDependenciesIfNecessary(VJSONGraph* graph) {
    if (graph == nullptr) return false;
    if (graph->fTotal.load(std::memory_order_relaxed) != graph->fInternal + 1) return false;
    std::vector<Node> nodes;
    try {
        nodes.reserve(size_t(graph->fObjectCount) + size_t(graph->fArrayCount));
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Every member leaves at once (the lists are dropped whole) and is kept alive while all are emptied.
    graph->Retain();
    auto detach = [graph, &nodes](Node node, auto& link) {
        link.fGraph = nullptr;
        link.fPrev = link.fNext = nullptr;
        link.fIncoming = 0;
        nodes.push_back(node);
        node.Retain();
        graph->Release();
    };
    for (VJSONObject* object = graph->fObjects; object != nullptr;) {
        VJSONObject* next = object->fLink.fNext;
        detach(Node{object, nullptr}, object->fLink);
        object = next;
    }
    for (VJSONArray* array = graph->fArrays; array != nullptr;) {
        VJSONArray* next = array->fLink.fNext;
        detach(Node{nullptr, array}, array->fLink);
        array = next;
    }
    graph->fObjects = nullptr;
    graph->fArrays = nullptr;
    graph->fObjectCount = graph->fArrayCount = 0;
    graph->fTotal.store(0, std::memory_order_relaxed);
    graph->fInternal = 0;
    EmptyAndRelease(nodes);
    graph->Release();
    return true;
}

void VJSONGraph::_LeaveOnDeath(Node node) noexcept {
    // What the dying node holds still counts as held from inside until its deletion drops the values one by one
    // (Disconnect each): nothing can reach the node meanwhile, so a walk never counts those edges and a break
    // only sees them as references it must not free.
    if (node.Graph() != nullptr) _Leave(node);
}

void VJSONGraph::_DropHeldValue(VJSONValue& value) noexcept {
    Node child = Node::Of(value);
    if (!child.IsNull()) {
        StGraphLocker lock(child.IsShared());
        if (child.Graph() != nullptr) Disconnect(value);
    }
    value.SetUndefined();
}

void VJSONGraph::_QueueDeletion(Node node) noexcept {
    if (tPending.fDepth > 0 && tPending.fDepth < kInlineDeletionDepth) {
        ++tPending.fDepth;
        delete node.fObject;
        delete node.fArray;
        --tPending.fDepth;
        return;
    }
    if (tPending.fDepth > 0) {
        if (node.fObject != nullptr) {
            node.fObject->fLink.fNext = tPending.fObjects;
            tPending.fObjects = node.fObject;
        } else {
            node.fArray->fLink.fNext = tPending.fArrays;
            tPending.fArrays = node.fArray;
        }
        return;
    }
    tPending.fDepth = 1;
    for (Node next = node; !next.IsNull();) {
        delete next.fObject;
        delete next.fArray;
        next = Node();
        if (tPending.fObjects != nullptr) {
            next.fObject = tPending.fObjects;
            tPending.fObjects = next.fObject->fLink.fNext;
            next.fObject->fLink.fNext = nullptr;
            // The waiting nodes were queued long ago: the next one is asked for while this one is deleted.
            if (tPending.fObjects != nullptr) __builtin_prefetch(tPending.fObjects, 1);
        } else if (tPending.fArrays != nullptr) {
            next.fArray = tPending.fArrays;
            tPending.fArrays = next.fArray->fLink.fNext;
            next.fArray->fLink.fNext = nullptr;
            if (tPending.fArrays != nullptr) __builtin_prefetch(tPending.fArrays, 1);
        }
    }
    tPending.fDepth = 0;
}

void VJSONGraph::DoObjectDeath(VJSONObject* object) noexcept {
    _LeaveOnDeath(Node{object, nullptr});
    _QueueDeletion(Node{object, nullptr});
}

void VJSONGraph::DoArrayDeath(VJSONArray* array) noexcept {
    _LeaveOnDeath(Node{nullptr, array});
    _QueueDeletion(Node{nullptr, array});
}

bool VJSONGraph::_CanMakeShared(Node node, VStorageLocker* locker) {
    // Iterative, with a mark per walk: graphs may be cyclic and deep.
    uint64 mark = _NextMark();
    std::vector<Node> pending{node};
    while (!pending.empty()) {
        Node each = pending.back();
        pending.pop_back();
        if (each.Mark() == mark) continue;
        each.Mark() = mark;
        if (VStorageLocker* own = each.Locker(); own != nullptr) {
            if (own != locker && !own->IsFresh()) return false;
            continue;
        }
        if (each.fObject != nullptr && each.fObject->fImplementation != nullptr) {
            if (!each.fObject->fImplementation->IsSharable(each.fObject)) return false;
            continue;
        }
        each.ForEachChild([&](const VJSONValue& value) { pending.push_back(Node::Of(value)); });
    }
    return true;
}

void VJSONGraph::_SetStorageLockerDeep(Node node, VStorageLocker* locker) {
    uint64 mark = _NextMark();
    std::vector<Node> pending{node};
    while (!pending.empty()) {
        Node each = pending.back();
        pending.pop_back();
        if (each.Mark() == mark) continue;
        each.Mark() = mark;
        each.SetLocker(locker);
        each.ForEachChild([&](const VJSONValue& value) { pending.push_back(Node::Of(value)); });
    }
}

// ---- Locks

void VJSONReadLock::_Release() noexcept {
    if (fLocker != nullptr) {
        fLocker->Unlock();
        fLocker->Release();
        fLocker = nullptr;
    }
    if (fMutexHeld) {
        StGraphLocker::GetMutex().unlock();
        fMutexHeld = false;
    }
}

void VJSONReadLock::_Take(VStorageLocker* locker) {
    StGraphLocker::GetMutex().lock();
    fMutexHeld = true;
    if (locker != nullptr) {
        locker->Retain();
        locker->Lock();
        fLocker = locker;
    }
}

bool VJSONReadWriteLock::_IsSharedNode(const VJSONValue& value) noexcept {
    if (const VJSONObject* object = value.GetObjectPtr(); object != nullptr) return object->IsSharedGraph();
    if (const VJSONArray* array = value.GetArrayPtr(); array != nullptr) return array->IsSharedGraph();
    return false;
}

} // namespace vela
