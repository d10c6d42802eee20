#include "json/VJSONArray.h"

#include "core/VString.h"
#include "core/VTaskMgr.h"
#include "values/VCompareOptions.h"
#include "json/IJSONValueComparator.h"
#include "json/VJSONErrors.h"
#include "json/VJSONGraphNode.h"
#include "json/VJSONObject.h"
#include "json/VJSONRepeatBudget.h"
#include "json/VJSONStamp.h"
#include "json/VStorageLocker.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace vela {

std::atomic<uint32> VJSONArray::sTaskToMonitor{0};
std::atomic<int32> VJSONArray::sTaskCounter{0};

namespace {

bool IsMonitoredTask() noexcept {
    uint32 task = VJSONArray::sTaskToMonitor.load(std::memory_order_relaxed);
    return task != 0 && task == uint32(VTaskMgr::GetCurrentOwnerID());
}

VStorageLocker* NewLockerIf(bool shared) {
    return shared ? new VStorageLocker : nullptr;
}

bool IsNode(const VJSONValue& value) noexcept {
    return value.IsObject() || value.IsArray();
}

// Heap sort of the indexes in order: every access stays inside the vector whatever less answers.
template <class Less> void HeapSortIndexes(std::vector<uint32>& order, Less&& less) {
    auto siftDown = [&](size_t root, size_t end) {
        for (;;) {
            size_t child = 2 * root + 1;
            if (child >= end) return;
            if (child + 1 < end && less(order[child], order[child + 1])) ++child;
            if (!less(order[root], order[child])) return;
            std::swap(order[root], order[child]);
            root = child;
        }
    };
    size_t n = order.size();
    for (size_t start = n / 2; start-- > 0;)
        siftDown(start, n);
    for (size_t end = n; end-- > 1;) {
        std::swap(order[0], order[end]);
        siftDown(0, end);
    }
}

} // namespace

// ---- Construction and lifetime

VJSONArray::VJSONArray(VStorageLocker* locker) : fLocker(RetainRefCountable(locker)) {
    if (fLocker != nullptr) fLink.SetShared();
    if (IsMonitoredTask()) sTaskCounter.fetch_add(1, std::memory_order_relaxed);
}

VJSONArray::VJSONArray(bool shared) : VJSONArray(VRefPtr<VStorageLocker>::Adopt(NewLockerIf(shared)).Get()) {}

VJSONArray::~VJSONArray() {
    if (fLink.fGraph != nullptr) VJSONGraph::_LeaveOnDeath(VJSONGraph::Node{nullptr, this});
    ReleaseRefCountable(&fLocker);
    ReleaseRefCountable(&fStamps);
    if (IsMonitoredTask()) sTaskCounter.fetch_sub(1, std::memory_order_relaxed);
    std::vector<VJSONValue> taken;
    taken.swap(fValues);
    VJSONGraph::Node::DropHeldValues(taken, [](VJSONValue& value) -> VJSONValue& { return value; });
}

void VJSONArray::DoOnRefCountZero() {
    VJSONGraph::DoArrayDeath(this);
}

int32 VJSONArray::Retain(const char* label) const noexcept {
    return VJSONGraph::RetainNode(*this, label);
}

int32 VJSONArray::Release(const char* label) const noexcept {
    return VJSONGraph::ReleaseNode(*this, label);
}

// ---- Reading

size_t VJSONArray::GetCount() const {
    VJSONReadLock lock(this);
    return fValues.size();
}

VJSONValue VJSONArray::GetAt(size_t index) const {
    VJSONReadLock lock(this);
    if (index >= fValues.size()) return VJSONValue(JSON_undefined);
    return fValues[index];
}

bool VJSONArray::GetAt(size_t index, VJSONValue& out) const {
    VJSONReadLock lock(this);
    if (index >= fValues.size()) {
        out.SetUndefined();
        return false;
    }
    out = fValues[index];
    return true;
}

void VJSONArray::GetValues(std::vector<VJSONValue>& out) const {
    VJSONReadLock lock(this);
    out = fValues;
}

uint32 VJSONArray::GetStampAt(size_t index) const {
    VJSONReadLock lock(this);
    return index < fValues.size() ? fValues[index].GetStamp() : 0;
}

VError VJSONArray::GetString(VString& out, std::unordered_set<const VJSONArray*>* visited) const {
    std::unordered_set<const VJSONArray*> ownVisited;
    VJSONRepeatBudget repeats;
    // Nested arrays append to one text: joining each level's pieces would copy the deepest texts once per level.
    std::u16string text;
    VError error = VE_OK;
    try {
        error = _AppendString(text, visited != nullptr ? *visited : ownVisited, repeats);
    } catch (const std::exception&) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        error = VE_STRING_ALLOC_FAILED;
    }
    out.Clear();
    out.AppendUniChars(text.data(), int32(text.size()));
    return error;
}

VError VJSONArray::_AppendString(std::u16string& out, std::unordered_set<const VJSONArray*>& visited,
                                 VJSONRepeatBudget& repeats) const {
    VJSONReadLock lock(this);
    if (fValues.empty()) return VE_OK;
    if (!visited.insert(this).second) {
        _ThrowError(VE_JSON_CYCLE);
        return VE_JSON_CYCLE;
    }
    const bool repeat = repeats.Enter(this, GetRefCount(), int64(out.size()));
    VError error = VE_OK;
    VString piece;
    for (size_t i = 0; i < fValues.size() && error == VE_OK; ++i) {
        if (i > 0) out += u',';
        if (const VJSONArray* array = fValues[i].GetArrayPtr()) {
            error = array->_AppendString(out, visited, repeats);
        } else {
            error = fValues[i].GetString(piece);
            out.append(piece.GetCPointer(), size_t(piece.GetLength()));
        }
        if (error == VE_OK && int64(out.size()) >= repeats.GetLimit()) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            error = VE_STRING_ALLOC_FAILED;
        }
    }
    repeats.Leave(repeat, int64(out.size()));
    visited.erase(this);
    return error;
}

void VJSONArray::JoinAsString(const VString& separator, VString& out, bool keepEmpty, bool keepNull) const {
    out.Clear();
    std::vector<VJSONValue> values;
    GetValues(values);
    bool first = true;
    VString piece;
    for (const VJSONValue& value : values) {
        if (value.IsNull() || value.IsUndefined()) {
            if (!keepNull) continue;
            piece.FromString(VJSONValue::sNullString);
        } else {
            value.GetString(piece);
            if (piece.IsEmpty() && !keepEmpty) continue;
        }
        if (!first) out.AppendString(separator);
        out.AppendString(piece);
        first = false;
    }
}

VJSONValue VJSONArray::GetSelectedRows(const VJSONValue& selection) const {
    static const VString sRanges("ranges");
    static const VString sStart("start");
    static const VString sEnd("end");
    VJSONValue result(JSON_object);
    VJSONValue ranges(JSON_array);
    result.GetObjectPtr()->SetProperty(sRanges, ranges);
    const VJSONArray* selectionArray = selection.GetArrayPtr();
    if (selectionArray == nullptr) return result;

    std::vector<VJSONValue> values;
    std::vector<VJSONValue> wanted;
    GetValues(values);
    selectionArray->GetValues(wanted);
    VCompareOptions options;
    options.SetEpsilon(1e-06);
    auto isSelected = [&](const VJSONValue& element) {
        for (const VJSONValue& item : wanted) {
            if (element.IsObject() ? item.GetObjectPtr() == element.GetObjectPtr()
                                   : element.CompareTo(item, options) == CR_EQUAL)
                return true;
        }
        return false;
    };
    auto pushRange = [&](size_t start, size_t end) {
        VJSONValue range(JSON_object);
        range.GetObjectPtr()->SetProperty(sStart, VJSONValue(double(start)));
        range.GetObjectPtr()->SetProperty(sEnd, VJSONValue(double(end)));
        ranges.GetArrayPtr()->Push(range);
    };
    bool inRun = false;
    size_t runStart = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        bool selected = isSelected(values[i]);
        if (selected && !inRun) {
            inRun = true;
            runStart = i;
        } else if (!selected && inRun) {
            inRun = false;
            pushRange(runStart, i - 1);
        }
    }
    if (inRun) pushRange(runStart, values.size() - 1);
    return result;
}

bool VJSONArray::DeepEqualTo(const VJSONArray* other, const VCompareOptions& options,
                             VJSONDeepEqualVisit* visit) const {
    if (other == this) return true;
    if (other == nullptr) return false;
    VJSONReadLock lock(this);
    VJSONReadLock otherLock(other);
    VJSONDeepEqualVisit ownVisit;
    if (visit == nullptr) visit = &ownVisit;
    if (!visit->Enter(this, other)) return true; // being compared further up: equal unless that finds otherwise
    if (fValues.size() != other->fValues.size()) return false;
    for (size_t i = 0; i < fValues.size(); ++i) {
        if (!fValues[i].DeepEqualTo(other->fValues[i], options, visit)) return false;
    }
    return true;
}

// ---- Writing

bool VJSONArray::_IsLockedForCaller() const {
    if (fLocker == nullptr || fLocker->IsUsedByCurrentTask()) return true;
    _ThrowError(VE_JSON_ARRAY_NOT_IN_USE);
    return false;
}

bool VJSONArray::_Accepts(const VJSONValue& value) {
    if (fLocker == nullptr || !IsNode(value)) return true;
    return VStorageLocker::Assign(VJSONNodeVariant(this), fLocker, value);
}

void VJSONArray::_TouchStamps() noexcept {
    if (fStamps != nullptr) fStamps->Touch();
}

bool VJSONArray::SetAt(size_t index, const VJSONValue& value, bool grow) {
    VJSONReadWriteLock lock(this, &value);
    if (!_IsLockedForCaller() || !_Accepts(value)) return false;
    if (index >= fValues.size()) {
        if (!grow) {
            _ThrowError(VE_JSON_INDEX_PAST_END);
            return false;
        }
        try {
            if (index >= fValues.max_size()) throw std::length_error("index");
            fValues.resize(index + 1);
        } catch (const std::exception&) {
            _ThrowError(VE_MEMORY_FULL);
            return false;
        }
    }
    _TouchStamps();
    // As for properties: the old element leaves its place before the release check runs on it.
    VJSONValue& slot = fValues[index];
    VJSONValue old(std::move(slot));
    slot = value;
    VJSONGraph::Connect(nullptr, this, slot);
    VJSONGraph::Disconnect(old);
    return true;
}

bool VJSONArray::Push(const VJSONValue& value) {
    return Push(VJSONValue(value));
}

bool VJSONArray::Push(VJSONValue&& value) {
    VJSONReadWriteLock lock(this, &value);
    if (!_IsLockedForCaller() || !_Accepts(value) || !_Append(std::move(value))) return false;
    _TouchStamps();
    if (const VJSONValue& added = fValues.back(); added.IsObject() || added.IsArray())
        VJSONGraph::Connect(nullptr, this, added);
    return true;
}

bool VJSONArray::_Append(VJSONValue&& value) {
    try {
        if (fValues.capacity() == 0) fValues.reserve(4); // small arrays: one block
        fValues.push_back(std::move(value));
    } catch (const std::exception&) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    return true;
}

bool VJSONArray::_AppendNewElement(VJSONValue&& value, VJSONTreeLinker* linker) {
    if (!_Append(std::move(value))) return false;
    _ConnectNewElement(fValues.back(), linker);
    return true;
}

void VJSONArray::_ConnectNewElement(const VJSONValue& added, VJSONTreeLinker* linker) {
    JSONType type = added.GetType();
    if (type != JSON_object && type != JSON_array) return;
    if (linker != nullptr) {
        linker->Connect(nullptr, this, added);
    } else {
        VJSONReadWriteLock lock(this, &added);
        VJSONGraph::Connect(nullptr, this, added);
    }
}

bool VJSONArray::_AdoptNewElements(std::vector<VJSONValue>& values, size_t from, VJSONTreeLinker* linker) {
    const size_t count = values.size() - from;
    try {
        fValues.reserve(count);
    } catch (const std::exception&) {
        values.resize(from);
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    for (size_t i = from; i < values.size(); ++i) {
        fValues.push_back(std::move(values[i]));
        _ConnectNewElement(fValues.back(), linker);
    }
    values.resize(from);
    return true;
}

bool VJSONArray::Resize(size_t count, JSONType fill) {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    size_t size = fValues.size();
    if (count <= size) {
        _TouchStamps();
        _RemoveFrom(count, size - count);
        return true;
    }
    try {
        if (count > fValues.max_size()) throw std::length_error("count");
        fValues.reserve(count);
        while (fValues.size() < count) {
            fValues.emplace_back(fill);
            VJSONGraph::Connect(nullptr, this, fValues.back());
        }
    } catch (const std::exception&) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    _TouchStamps();
    return true;
}

void VJSONArray::_RemoveFrom(size_t index, size_t count) {
    if (index >= fValues.size() || count == 0) return;
    count = std::min(count, fValues.size() - index);
    // Removed elements leave the array first, then each is disconnected and checked while still alive here.
    if (index == 0 && count == fValues.size()) {
        std::vector<VJSONValue> taken;
        taken.swap(fValues);
        for (VJSONValue& value : taken) {
            VJSONGraph::Disconnect(value);
            value.SetUndefined();
        }
        return;
    }
    auto first = fValues.begin() + std::ptrdiff_t(index);
    std::rotate(first, first + std::ptrdiff_t(count), fValues.end());
    for (size_t i = 0; i < count && !fValues.empty(); ++i) {
        VJSONValue old(std::move(fValues.back()));
        fValues.pop_back();
        VJSONGraph::Disconnect(old);
    }
}

bool VJSONArray::RemoveAt(size_t index, size_t count) {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    if (index >= fValues.size()) return true;
    _TouchStamps();
    _RemoveFrom(index, count);
    return true;
}

bool VJSONArray::Clear() {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    _TouchStamps();
    _RemoveFrom(0, fValues.size());
    return true;
}

bool VJSONArray::SwapValues(std::vector<VJSONValue>& values) {
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    for (const VJSONValue& value : values) {
        if (!_Accepts(value)) return false;
    }
    fValues.swap(values);
    _TouchStamps();
    for (const VJSONValue& value : fValues)
        VJSONGraph::Connect(nullptr, this, value);
    // The old elements go back to the caller, who still holds them: they stop counting as held from inside,
    // but no release check runs on them (it would take the caller's hold for the last one and empty them).
    for (const VJSONValue& value : values) {
        VJSONGraph::Node node = VJSONGraph::Node::Of(value);
        if (node.IsNull() || node.Graph() == nullptr) continue;
        --node.Incoming();
        --node.Graph()->fInternal;
    }
    return true;
}

bool VJSONArray::Concatenate(const VJSONArray& other) {
    std::vector<VJSONValue> added;
    other.GetValues(added); // copied first: other may be this array
    if (added.empty()) return true;
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    try {
        fValues.reserve(fValues.size() + added.size());
    } catch (const std::exception&) {
        _ThrowError(VE_MEMORY_FULL);
        return false;
    }
    _TouchStamps();
    for (VJSONValue& value : added) {
        if (!_Accepts(value)) return false;
        fValues.push_back(std::move(value)); // room reserved: cannot fail
        VJSONGraph::Connect(nullptr, this, fValues.back());
    }
    return true;
}

bool VJSONArray::Sort(IJSONValueComparator* comparator) {
    if (comparator == nullptr) return false;
    VJSONReadWriteLock lock(this, nullptr);
    if (!_IsLockedForCaller()) return false;
    size_t count = fValues.size();
    if (count < 2) return true;
    try {
        // The comparator sees copies, so whatever it does to the array cannot pull elements from under it.
        std::vector<VJSONValue> copies(fValues);
        std::vector<uint32> order(count);
        std::iota(order.begin(), order.end(), 0u);
        HeapSortIndexes(order, [&](uint32 a, uint32 b) { return (*comparator)(copies[a], copies[b]); });
        if (fValues.size() != count) throw std::length_error("the array changed while sorting");
        std::vector<VJSONValue> sorted;
        sorted.reserve(count);
        for (uint32 index : order)
            sorted.push_back(std::move(fValues[index]));
        fValues.swap(sorted);
    } catch (...) {
        _ThrowError(VE_JSON_SORT_FAILED);
        return false;
    }
    _TouchStamps();
    return true;
}

void VJSONArray::TouchStampAt(size_t index) {
    VJSONReadWriteLock lock(this, nullptr);
    if (index < fValues.size()) fValues[index].TouchStamp();
}

void VJSONArray::_DropAllValues() noexcept {
    std::vector<VJSONValue> taken;
    taken.swap(fValues);
}

// ---- Graph and sharing

VRefPtr<VStorageLocker> VJSONArray::GetStorageLocker() const {
    if (fLocker == nullptr) return VRefPtr<VStorageLocker>();
    StGraphLocker lock;
    return VRefPtr<VStorageLocker>(fLocker);
}

void VJSONArray::SetStorageLocker(VStorageLocker* locker) {
    StGraphLocker lock(IsSharedGraph());
    _SetStorageLocker(locker);
}

void VJSONArray::_SetStorageLocker(VStorageLocker* locker) noexcept {
    if (locker == fLocker) return;
    if (locker != nullptr) fLink.SetShared();
    RetainRefCountable(locker);
    ReleaseRefCountable(&fLocker);
    fLocker = locker;
}

void VJSONArray::SetJSONStamp(VJSONStamp* stamps) {
    StGraphLocker lock(IsSharedGraph());
    if (stamps == fStamps) return;
    RetainRefCountable(stamps);
    ReleaseRefCountable(&fStamps);
    fStamps = stamps;
}

int32 VJSONArray::GetSharedID() const {
    if (fLocker == nullptr) return 0;
    VJSONReadLock lock(this);
    return fLocker->GetSharedID();
}

void VJSONArray::MakeGraphShared() noexcept {
    StGraphLocker lock;
    if (fLink.fGraph != nullptr) fLink.fGraph->SetShared();
}

void VJSONArray::MakeValueSharedIfNecessary(VJSONValue& value) {
    if (fLocker == nullptr || !IsNode(value)) return;
    StGraphLocker lock;
    VJSONGraph::Node node = VJSONGraph::Node::Of(value);
    if (VJSONGraph::_CanMakeShared(node, fLocker)) VJSONGraph::_SetStorageLockerDeep(node, fLocker);
    fLocker->SetFresh(false);
}

} // namespace vela
