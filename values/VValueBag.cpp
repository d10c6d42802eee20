#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/IBaggable.h"
#include "values/VBagArray.h"
#include "values/VBagMarkers.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VUUID.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

namespace vela {

namespace {

using namespace VBagMarkers;

constexpr size_t kNotFound = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>::kNotFound;

// A missing attribute leaves out cleared, never holding what it held before.
bool GetAttributeOrClear(const VValueBag& bag, const StPackedDictionaryKey& key, VValueSingle& out) {
    if (bag.GetAttribute(key, out)) return true;
    out.Clear();
    return false;
}

} // namespace

const VValueInfo_default<VValueBag, VValueBag::kKind> VValueBag::sInfo;

// ---- Life cycle

VValueBag::VValueBag() noexcept = default;

VValueBag::VValueBag(const VValueBag& other) : VValue(other), IRefCountable() {
    fFlags |= kDirtyFlag;
    fAttributes = other.fAttributes;
    if (other.fElements != nullptr && !other.fElements->IsEmpty())
        fElements.reset(new ElementDictionary(*other.fElements));
}

VValueBag::~VValueBag() = default;

VValueBag* VValueBag::Clone() const {
    try {
        return new VValueBag(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void VValueBag::Destroy() noexcept {
    fAttributes.Clear();
    fElements.reset();
}

VValueBag::ElementDictionary& VValueBag::_Elements() {
    if (fElements == nullptr) fElements.reset(new ElementDictionary);
    return *fElements;
}

const StPackedDictionaryKey& VValueBag::CDataAttributeName() noexcept {
    return kCDataName;
}

bool VValueBag::IsEmpty(bool ignoreJSONMarkers) const {
    if (fElements != nullptr && !fElements->IsEmpty()) return false;
    if (!ignoreJSONMarkers) return fAttributes.IsEmpty();
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        StPackedDictionaryKey name = fAttributes.GetKeyAt(i);
        if (!(name == kObjectUnicName) && !(name == kPropertyNameInArrayName)) return false;
    }
    return true;
}

bool VValueBag::EqualTo(const VValueBag& other) const {
    if (this == &other) return true;
    const size_t count = fAttributes.GetCount();
    if (count != other.fAttributes.GetCount()) return false;
    for (size_t i = 0; i < count; ++i) {
        if (!(fAttributes.GetKeyAt(i) == other.fAttributes.GetKeyAt(i)) ||
            !fAttributes.NthEqualsStored(i, other.fAttributes, i))
            return false;
    }
    const int32 names = GetElementNamesCount();
    if (names != other.GetElementNamesCount()) return false;
    for (size_t i = 0; i < size_t(names); ++i) {
        if (!(fElements->GetKeyAt(i) == other.fElements->GetKeyAt(i))) return false;
        const VBagArray* mine = fElements->GetNthValue(i);
        const VBagArray* theirs = other.fElements->GetNthValue(i);
        const int32 bags = mine != nullptr ? mine->GetCount() : 0;
        if (bags != (theirs != nullptr ? theirs->GetCount() : 0)) return false;
        for (int32 n = 1; n <= bags; ++n) {
            const VValueBag* a = mine->GetNth(n);
            const VValueBag* b = theirs->GetNth(n);
            if (a == nullptr || b == nullptr ? a != b : !a->EqualTo(*b)) return false;
        }
    }
    return true;
}

CharSet VValueBag::DebugDump(char* buffer, int& length) const {
    if (buffer == nullptr || length <= 0 || !ProcessObjectExists()) {
        length = 0;
        return VTC_UTF_16;
    }
    VString text;
    VString name;
    for (int32 n = 1; n <= GetAttributesCount(); ++n) {
        const VValueSingle* value = GetNthAttribute(n, &name);
        VString valueText;
        if (value != nullptr) value->GetString(valueText);
        text.AppendString(name).AppendCString(" = ").AppendString(valueText).AppendUniChar(u'\n');
    }
    for (int32 n = 1; n <= GetElementNamesCount(); ++n) {
        const VBagArray* array = GetNthElementName(n, &name);
        const int32 count = array != nullptr ? array->GetCount() : 0;
        text.AppendCString("=======\n").AppendLong(count);
        text.AppendUniChar(u' ').AppendString(name).AppendCString(" :\n");
        for (int32 i = 1; i <= count; ++i) {
            VString child;
            const VValueBag* bag = array->GetNth(i);
            if (bag != nullptr) bag->VObject::DebugDump(child);
            text.AppendCString("--\n").AppendString(child);
        }
    }
    const int32 units = std::min(text.GetLength(), int32(length / 2));
    std::memcpy(buffer, text.GetCPointer(), size_t(units) * sizeof(UniChar));
    length = units * int32(sizeof(UniChar));
    return VTC_UTF_16;
}

// ---- Attributes

void VValueBag::SetAttribute(const StPackedDictionaryKey& key, const VValueSingle& value) {
    if (!fAttributes.SetExistingValue(key, value)) fAttributes.Append(key, value);
}

bool VValueBag::GetAttribute(const StPackedDictionaryKey& key, VValueSingle& out) const {
    return fAttributes.GetValue(key, out);
}

bool VValueBag::AttributeExists(const StPackedDictionaryKey& key) const {
    return fAttributes._Find(key) != kNotFound;
}

const VValueSingle* VValueBag::GetNthAttribute(int32 n, VString* outName) const {
    if (n < 1 || n > GetAttributesCount()) {
        if (outName != nullptr) outName->Clear();
        return nullptr;
    }
    if (outName != nullptr) fAttributes.GetNameAt(size_t(n - 1), *outName);
    return fAttributes.GetNthValue(size_t(n - 1));
}

namespace {
// Typed setters of fixed-size kinds write the datum straight into its record when they can.
template <class Value, class Datum>
void SetFixed(VPackedDictionary_with_backstore<VPackedValue_VValueSingle>& attributes, const StPackedDictionaryKey& key,
              Datum datum) {
    attributes.SetFixedValue(key, Value::kKind, datum, Value(datum));
}

// Typed getters read a record of the expected kind directly, and convert anything else through a value.
template <class Value, class Datum>
bool GetFixed(const VPackedDictionary_with_backstore<VPackedValue_VValueSingle>& attributes,
              const StPackedDictionaryKey& key, Datum& out) {
    const size_t index = attributes._Find(key);
    if (index == kNotFound) {
        out = Datum();
        return false;
    }
    if (const void* data = attributes.GetRecordDataAt(index, Value::kKind)) {
        std::memcpy(&out, data, sizeof(out));
        return true;
    }
    Value value;
    attributes.GetValueAt(index, value);
    out = value.Get();
    return true;
}
} // namespace

void VValueBag::SetBool(const StPackedDictionaryKey& key, bool value) {
    SetFixed<VBoolean>(fAttributes, key, uint8(value ? 1 : 0));
}
void VValueBag::SetByte(const StPackedDictionaryKey& key, int8 value) {
    SetFixed<VByte>(fAttributes, key, value);
}
void VValueBag::SetWord(const StPackedDictionaryKey& key, int16 value) {
    SetFixed<VWord>(fAttributes, key, value);
}
void VValueBag::SetLong(const StPackedDictionaryKey& key, int32 value) {
    SetFixed<VLong>(fAttributes, key, value);
}
void VValueBag::SetLong8(const StPackedDictionaryKey& key, int64 value) {
    SetFixed<VLong8>(fAttributes, key, value);
}
void VValueBag::SetReal(const StPackedDictionaryKey& key, double value) {
    SetFixed<VReal>(fAttributes, key, value);
}
void VValueBag::SetString(const StPackedDictionaryKey& key, const VString& value) {
    if (!value.IsNull()) {
        SetAttribute(key, value);
        return;
    }
    VString text(value); // a not-null copy: typed setters store values that are not null
    text.SetNull(false);
    SetAttribute(key, text);
}
void VValueBag::SetVUUID(const StPackedDictionaryKey& key, const VUUID& value) {
    SetAttribute(key, value);
}

void VValueBag::SetTime(const StPackedDictionaryKey& key, const VTime& value) {
    SetAttribute(key, value);
}

void VValueBag::SetDuration(const StPackedDictionaryKey& key, const VDuration& value) {
    SetAttribute(key, value);
}

bool VValueBag::GetBool(const StPackedDictionaryKey& key, bool& out) const {
    uint8 datum = 0;
    bool found = GetFixed<VBoolean>(fAttributes, key, datum);
    out = datum != 0;
    return found;
}
bool VValueBag::GetLong(const StPackedDictionaryKey& key, int32& out) const {
    return GetFixed<VLong>(fAttributes, key, out);
}
bool VValueBag::GetLong8(const StPackedDictionaryKey& key, int64& out) const {
    return GetFixed<VLong8>(fAttributes, key, out);
}
bool VValueBag::GetReal(const StPackedDictionaryKey& key, double& out) const {
    return GetFixed<VReal>(fAttributes, key, out);
}
bool VValueBag::GetString(const StPackedDictionaryKey& key, VString& out) const {
    return GetAttributeOrClear(*this, key, out);
}
bool VValueBag::GetVUUID(const StPackedDictionaryKey& key, VUUID& out) const {
    return GetAttributeOrClear(*this, key, out);
}

bool VValueBag::GetTime(const StPackedDictionaryKey& key, VTime& out) const {
    return GetAttributeOrClear(*this, key, out);
}

bool VValueBag::GetDuration(const StPackedDictionaryKey& key, VDuration& out) const {
    return GetAttributeOrClear(*this, key, out);
}

void VValueBag::AppendToCData(const VString& text) {
    const size_t index = fAttributes._Find(kCDataName);
    VValueSingle* value = index != kNotFound ? fAttributes.GetNthValueForChange(index) : nullptr;
    if (value == nullptr) {
        SetString(kCDataName, text);
        return;
    }
    if (value->GetTrueValueKind() == VString::kKind) {
        static_cast<VString*>(value)->AppendString(text); // grows in place
        return;
    }
    VString data;
    value->GetString(data);
    data.AppendString(text);
    SetAttribute(kCDataName, data);
}

// ---- Elements

VBagArray* VValueBag::GetElements(const StPackedDictionaryKey& key) const {
    return fElements != nullptr ? fElements->GetValue(key) : nullptr;
}

void VValueBag::SetElements(const StPackedDictionaryKey& key, VBagArray* array) {
    try {
        _Elements().SetValue(key, array);
    } catch (const std::bad_alloc&) {
        // Absorbed: the name is not added.
    }
}

int32 VValueBag::GetElementNamesCount() const noexcept {
    return fElements != nullptr ? int32(fElements->GetCount()) : 0;
}

VBagArray* VValueBag::GetNthElementName(int32 n, VString* outName) const {
    if (n < 1 || n > GetElementNamesCount()) {
        if (outName != nullptr) outName->Clear();
        return nullptr;
    }
    if (outName != nullptr) fElements->GetNameAt(size_t(n - 1), *outName);
    return fElements->GetNthValue(size_t(n - 1));
}

void VValueBag::AddElement(const StPackedDictionaryKey& key, VValueBag* bag) {
    if (bag == nullptr) return;
    assert(bag != this && "a bag inside itself makes a cycle");
    try {
        ElementDictionary& elements = _Elements();
        const size_t index = elements._FindToAdd(key);
        VBagArray* array = index != kNotFound ? elements.GetNthValue(index) : nullptr;
        if (array != nullptr) {
            array->AddTail(bag);
            return;
        }
        VRefPtr<VBagArray> created = VRefPtr<VBagArray>::Adopt(new VBagArray);
        if (!created->AddTail(bag)) return;
        if (index == kNotFound) {
            elements.SetValue(key, created.Get());
        } else {
            elements.SetNthValue(index, created.Get()); // a name left without list by SetElements
        }
    } catch (const std::bad_alloc&) {
        // Absorbed: the element is not added.
    }
}

VError VValueBag::AddElement(const IBaggable* object) {
    if (object == nullptr) return VE_OK;
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    VString kind;
    VError error = object->SaveToBag(*bag, kind);
    if (error == VE_OK) AddElement(StPackedDictionaryKey(kind), bag.Get());
    return error;
}

void VValueBag::RemoveElements(const StPackedDictionaryKey& key) {
    if (fElements != nullptr) fElements->Remove(key);
}

bool VValueBag::ReplaceElement(const StPackedDictionaryKey& key, VValueBag* bag) {
    if (bag == nullptr) {
        RemoveElements(key);
        return false;
    }
    VBagArray* array = GetElements(key);
    if (array == nullptr) {
        AddElement(key, bag);
        return true;
    }
    if (array->GetCount() == 1 && array->GetNth(1) == bag) return false;
    VRefPtr<VValueBag> keep(bag); // the list may hold the only other reference
    array->Destroy();
    array->AddTail(bag);
    return true;
}

VValueBag* VValueBag::GetUniqueElementAnyKind(VString& outName) const {
    if (GetElementNamesCount() == 1) {
        const VBagArray* array = fElements->GetNthValue(0);
        if (array != nullptr && array->GetCount() == 1) {
            fElements->GetNameAt(0, outName);
            return array->GetNth(1);
        }
    }
    outName.Clear();
    return nullptr;
}

VValueBag* VValueBag::RetainUniqueElementWithAttribute(const StPackedDictionaryKey& elementKey,
                                                       const StPackedDictionaryKey& attributeKey,
                                                       const VValueSingle& value) const {
    const VBagArray* array = GetElements(elementKey);
    if (array == nullptr) return nullptr;
    std::unique_ptr<VValue> copy(value.Clone());
    VValueSingle* probe = copy != nullptr ? copy->IsVValueSingle() : nullptr;
    if (probe == nullptr) return nullptr;
    VValueBag* found = nullptr;
    for (int32 n = 1; n <= array->GetCount(); ++n) {
        VValueBag* child = array->GetNth(n);
        probe->Clear();
        if (child != nullptr) child->GetAttribute(attributeKey, *probe);
        if (!probe->EqualTo(value)) continue;
        if (found != nullptr) return nullptr; // several match
        found = child;
    }
    if (found != nullptr) found->Retain();
    return found;
}

// ---- Paths

void VValueBag::GetKeysFromPath(const VString& path, StKeyPath& keys) {
    keys.clear();
    const UniChar* units = path.GetCPointer();
    const int32 length = path.GetLength();
    int32 start = 0;
    for (int32 i = 0; i <= length; ++i) {
        if (i < length && units[i] != u'/') continue;
        if (i == length && start == length) break; // a trailing empty segment gives no name
        VString segment;
        segment.FromUniString(units + start, i - start);
        keys.push_back(StPackedDictionaryKey::CutToMaxLength(segment));
        start = i + 1;
    }
}

void VValueBag::GetKeysFromUTF8PathNoCopy(const char* path, StKeyPath& keys) {
    keys.clear();
    if (path == nullptr) return;
    const size_t length = std::strlen(path);
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && path[i] != '/') continue;
        if (i == length && start == length) break;
        size_t size = i - start;
        // A stored name holds at most 255 bytes: cut before the character that would cross that limit.
        if (size > StPackedDictionaryKey::kMaxLength) {
            size = StPackedDictionaryKey::kMaxLength;
            while (size > 0 && (uint8(path[start + size]) & 0xC0) == 0x80)
                --size;
        }
        keys.emplace_back(path + start, size, StPackedDictionaryKey::Borrowed{});
        start = i + 1;
    }
}

VValueBag* VValueBag::GetUniqueElementByPath(const StKeyPath& keys) const {
    const VValueBag* bag = this;
    for (const StPackedDictionaryKey& key : keys) {
        const VBagArray* array = bag->GetElements(key);
        bag = array != nullptr ? array->GetNth(1) : nullptr;
        if (bag == nullptr) return nullptr;
    }
    return const_cast<VValueBag*>(bag);
}

VValueBag* VValueBag::GetUniqueElementByPath(const VString& path) const {
    StKeyPath keys;
    GetKeysFromPath(path, keys);
    return GetUniqueElementByPath(keys);
}

VValueBag* VValueBag::GetElementByPathAndCreateIfDontExists(const StKeyPath& keys) {
    VValueBag* bag = this;
    for (const StPackedDictionaryKey& key : keys) {
        const VBagArray* array = bag->GetElements(key);
        VValueBag* child = array != nullptr ? array->GetNth(1) : nullptr;
        if (child == nullptr) {
            VRefPtr<VValueBag> created = VRefPtr<VValueBag>::Adopt(new VValueBag);
            bag->ReplaceElement(key, created.Get());
            array = bag->GetElements(key);
            if (array == nullptr || array->GetNth(1) != created.Get()) return nullptr; // memory ran out
            child = created.Get();
        }
        bag = child;
    }
    return bag;
}

bool VValueBag::ReplaceElementByPath(const StKeyPath& keys, VValueBag* bag) {
    if (keys.empty()) return false;
    if (keys.size() == 1) return ReplaceElement(keys.front(), bag);
    const StKeyPath parentPath(keys.begin(), keys.end() - 1);
    if (bag != nullptr) {
        VValueBag* parent = GetElementByPathAndCreateIfDontExists(parentPath);
        return parent != nullptr && parent->ReplaceElement(keys.back(), bag);
    }
    VValueBag* parent = GetUniqueElementByPath(parentPath);
    if (parent != nullptr) parent->RemoveElements(keys.back());
    return true;
}

// ---- Merging

void VValueBag::_SetAttributes(const VValueBag& other) {
    for (size_t i = 0; i < other.fAttributes.GetCount(); ++i) {
        const VValueSingle* value = other.fAttributes.GetNthValue(i);
        if (value != nullptr) SetAttribute(other.fAttributes.GetKeyAt(i), *value); // no descriptor: skipped
    }
}

bool VValueBag::_Merge(const VValueBag& other, bool override) {
    if (&other == this) {
        // Merging with itself merges with a copy: the lists being read are never the ones that grow.
        VRefPtr<VValueBag> copy = VRefPtr<VValueBag>::Adopt(Clone());
        return copy && _Merge(*copy, override);
    }
    _SetAttributes(other);
    const size_t names = other.fElements != nullptr ? other.fElements->GetCount() : 0;
    for (size_t i = 0; i < names; ++i) {
        const StPackedDictionaryKey key = other.fElements->GetKeyAt(i);
        const VBagArray* source = other.fElements->GetNthValue(i);
        if (source == nullptr) continue;
        if (override) {
            VBagArray* mine = GetElements(key);
            if (mine != nullptr && mine->GetCount() == 1 && source->GetCount() == 1 && mine->GetNth(1) != nullptr &&
                source->GetNth(1) != nullptr) {
                if (!mine->GetNth(1)->Override(source->GetNth(1))) return false;
                continue;
            }
        }
        const int32 count = source->GetCount(); // fixed before the loop: a shared list may grow meanwhile
        for (int32 n = 1; n <= count; ++n) {
            const VValueBag* child = source->GetNth(n);
            if (child == nullptr) continue;
            VRefPtr<VValueBag> copy = VRefPtr<VValueBag>::Adopt(child->Clone());
            if (!copy) return false;
            AddElement(key, copy.Get());
        }
    }
    return true;
}

bool VValueBag::UnionClone(const VValueBag* other) {
    return other == nullptr || _Merge(*other, false);
}

bool VValueBag::Override(const VValueBag* other) {
    return other == nullptr || _Merge(*other, true);
}

// ---- Sorting

void VValueBag::SortElements(const StPackedDictionaryKey& key, const StBagElementsOrdering* table) {
    if (table == nullptr || GetElementNamesCount() < 1) return;
    for (const StBagElementsOrdering* row = table; row->fElementName != nullptr; ++row) {
        if (*row->fElementName == key) {
            _SortElements(*row, table);
            return;
        }
    }
}

void VValueBag::_SortElements(const StBagElementsOrdering& row, const StBagElementsOrdering* table) {
    const size_t names = GetElementNamesCount();
    if (names >= 2) {
        std::vector<int32> ranks(names, 0);
        for (size_t i = 0; i < names; ++i) {
            const StPackedDictionaryKey name = fElements->GetKeyAt(i);
            for (int32 r = 0; r < 10 && row.fChildren[r] != nullptr; ++r) {
                if (*row.fChildren[r] == name) {
                    ranks[i] = r + 1;
                    break;
                }
            }
        }
        // Only a listed name right behind a name of higher rank asks for sorting; an unlisted name in between
        // never does (a, c, b under the row b, a stays as it is).
        bool unordered = false;
        for (size_t i = 1; i < names && !unordered; ++i)
            unordered = ranks[i] != 0 && ranks[i - 1] > ranks[i];
        if (unordered) {
            std::vector<size_t> order(names);
            for (size_t i = 0; i < names; ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ranks[a] < ranks[b]; });
            try {
                fElements->Reorder(order);
            } catch (const std::bad_alloc&) {
                // Absorbed: the order stays as it was.
            }
        }
    }
    if (table == nullptr) return;
    for (size_t i = 0; i < size_t(GetElementNamesCount()); ++i) {
        const StPackedDictionaryKey name = fElements->GetKeyAt(i);
        const VBagArray* array = fElements->GetNthValue(i);
        for (int32 n = 1; array != nullptr && n <= array->GetCount(); ++n) {
            VValueBag* child = array->GetNth(n);
            if (child == nullptr || child->GetElementNamesCount() == 0) continue;
            for (const StBagElementsOrdering* other = table; other->fElementName != nullptr; ++other)
                if (*other->fElementName == name) child->_SortElements(*other, table);
        }
    }
}

} // namespace vela
