// The exchange between bags and the JSON model (VValueBag::FromJSONValue and GetJSONValue), and bags read from
// JSON text (FromJSONString).
#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VBagArray.h"
#include "values/VBagMarkers.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace vela {

namespace {

using namespace VBagMarkers;

constexpr uint32 kSingleChildAsObject = 32;
// The options the bag writer gives its values.
constexpr uint32 kValueJSONOptions = 513;
// The bag option that selects the marked date form.
constexpr uint32 kBagAnyDate = 4096;

// Integral numbers that a double holds exactly become 64-bit integers, as the importer reads "42".
constexpr double kExactIntegerLimit = 9007199254740992.0; // 2^53

void SetScalar(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONValue& value) {
    switch (value.GetType()) {
    case JSON_false:
    case JSON_true:
        bag.SetBool(key, value.GetBool());
        return;
    case JSON_number: {
        double number = value.GetNumber();
        if (std::isfinite(number) && std::trunc(number) == number && std::fabs(number) <= kExactIntegerLimit) {
            bag.SetLong8(key, int64(number));
        } else {
            bag.SetReal(key, number);
        }
        return;
    }
    case JSON_null:
        bag.SetString(key, VString::sEmpty); // stored values keep no null flag
        return;
    default: { // strings, and dates as their text
        VString text;
        value.GetString(text);
        bag.SetString(key, text);
        return;
    }
    }
}

// The most bags the tree made from one object graph may hold. An object held in several places is copied in
// each, so sharing multiplies the tree (a chain of objects each holding the next twice doubles it per link).
constexpr uint64 kMaxBagsFromGraph = uint64(1) << 24;

VError Refuse(VError error) {
    _ThrowError(error);
    return error;
}

// Makes the tree of bags of an object graph. The graph is measured first, every object once (the shape of an
// object met again is taken as measured), so that a cycle, a tree too deep or too large is refused before
// anything is added. The making counts again, as the objects of a shared graph may change in between.
class GraphToBags {
public:
    VError Fill(VValueBag& bag, const VJSONObject* root) {
        Shape shape;
        VError error = _Measure(root, 0, shape);
        if (error == VE_OK) error = _Fill(bag, root, 0);
        return error;
    }

private:
    // The tree one object becomes: its bags (its own, its object children's and one per scalar array item) and
    // its height in objects.
    struct Shape {
        uint64 fBags = 0;
        int32 fHeight = 0;
    };
    // The height of an object whose measure is under way: it lies on the current path.
    static constexpr int32 kOnPath = -1;

    VError _Measure(const VJSONObject* object, int32 depth, Shape& outShape);
    VError _MeasureChild(const VJSONObject* object, int32 depth, Shape& shape);
    VError _Fill(VValueBag& bag, const VJSONObject* object, int32 depth);
    VError _AddObjectChild(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONObject* object, bool unique,
                           int32 depth);
    VError _AddScalarChild(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONValue& item);
    VError _CountBag();

    std::unordered_map<const VJSONObject*, Shape> fShapes;
    uint64 fBagsMade = 0;
};

VError GraphToBags::_Measure(const VJSONObject* object, int32 depth, Shape& outShape) {
    auto [entry, added] = fShapes.try_emplace(object, Shape{0, kOnPath});
    Shape& measured = entry->second; // stays in place while the table grows
    if (!added) {
        if (measured.fHeight == kOnPath) return Refuse(VE_JSON_CYCLE);
        outShape = measured;
        return depth + outShape.fHeight > kStoredDataMaxDepth ? VE_INVALID_PARAMETER : VE_OK;
    }
    if (depth > kStoredDataMaxDepth) return VE_INVALID_PARAMETER;
    Shape shape{1, 0};
    for (VJSONPropertyConstOrderedIterator it(object); it.IsValid(); ++it) {
        const VJSONValue value = it.GetValue();
        VError error = VE_OK;
        if (value.IsObject()) {
            error = _MeasureChild(value.GetObjectPtr(), depth, shape);
        } else if (value.IsArray()) {
            const VJSONArray* array = value.GetArrayPtr();
            for (size_t i = 0; i < array->GetCount() && error == VE_OK; ++i) {
                VJSONValue item = array->GetAt(i);
                if (item.IsObject()) {
                    error = _MeasureChild(item.GetObjectPtr(), depth, shape);
                } else if (!item.IsArray() && !item.IsUndefined() && ++shape.fBags > kMaxBagsFromGraph) {
                    error = Refuse(VE_MEMORY_FULL);
                }
            }
        }
        if (error != VE_OK) return error;
    }
    measured = shape;
    outShape = shape;
    return VE_OK;
}

VError GraphToBags::_MeasureChild(const VJSONObject* object, int32 depth, Shape& shape) {
    Shape child;
    VError error = _Measure(object, depth + 1, child);
    if (error != VE_OK) return error;
    shape.fHeight = std::max(shape.fHeight, child.fHeight + 1);
    shape.fBags += child.fBags; // both within the bound: no overflow
    return shape.fBags > kMaxBagsFromGraph ? Refuse(VE_MEMORY_FULL) : VE_OK;
}

VError GraphToBags::_CountBag() {
    return ++fBagsMade > kMaxBagsFromGraph ? Refuse(VE_MEMORY_FULL) : VE_OK;
}

// A new child bag for an object item.
VError GraphToBags::_AddObjectChild(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONObject* object,
                                    bool unique, int32 depth) {
    VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (unique) child->SetBool(kObjectUnicName, true);
    VError error = _Fill(*child, object, depth + 1);
    if (error == VE_OK) bag.AddElement(key, child.Get());
    return error;
}

// A new child bag holding a scalar array item.
VError GraphToBags::_AddScalarChild(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONValue& item) {
    VError error = _CountBag();
    if (error != VE_OK) return error;
    VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag);
    SetScalar(*child, kFakeArrayElementName, item);
    bag.AddElement(key, child.Get());
    return VE_OK;
}

VError GraphToBags::_Fill(VValueBag& bag, const VJSONObject* object, int32 depth) {
    if (depth > kStoredDataMaxDepth) return VE_INVALID_PARAMETER;
    VError error = _CountBag();
    for (VJSONPropertyConstOrderedIterator it(object); it.IsValid() && error == VE_OK; ++it) {
        const VString& name = it.GetName();
        const VJSONValue value = it.GetValue();
        const StPackedDictionaryKey key(name);
        if (value.IsObject()) {
            error = _AddObjectChild(bag, key, value.GetObjectPtr(), true, depth);
        } else if (value.IsArray()) {
            const VJSONArray* array = value.GetArrayPtr();
            for (size_t i = 0; i < array->GetCount() && error == VE_OK; ++i) {
                VJSONValue item = array->GetAt(i);
                if (item.IsObject()) {
                    error = _AddObjectChild(bag, key, item.GetObjectPtr(), false, depth);
                } else if (!item.IsArray() && !item.IsUndefined()) { // no arrays inside arrays
                    error = _AddScalarChild(bag, key, item);
                }
            }
        } else if (value.IsUndefined()) {
            continue;
        } else if (name.EqualToStringRaw(VString(kCDataJSONName))) {
            VString text;
            value.GetString(text);
            bag.SetString(VValueBag::CDataAttributeName(), text);
        } else {
            SetScalar(bag, key, value);
        }
    }
    return error;
}

VJSONValue AttributeToJSON(const VValueSingle* value) {
    if (value == nullptr || value->IsNull()) return VJSONValue(JSON_null);
    if (value->GetTrueValueKind() == VString::kKind) return VJSONValue(*static_cast<const VString*>(value));
    VJSONValue json;
    if (value->GetJSONValue(json, kValueJSONOptions) == VE_OK) return json;
    VString text; // kinds without a JSON value of their own go as their text
    value->GetString(text);
    return VJSONValue(text);
}

VJSONValue BagToJSON(const VValueBag& bag, uint32 options);

VJSONValue ListToJSON(const VBagArray& list, uint32 options) {
    VRefPtr<VJSONArray> array = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
    for (int32 n = 1; n <= list.GetCount(); ++n) {
        const VValueBag* child = list.GetNth(n);
        array->Push(child != nullptr ? BagToJSON(*child, options) : VJSONValue(JSON_null));
    }
    return VJSONValue(array.Get());
}

VJSONValue BagToJSON(const VValueBag& bag, uint32 options) {
    if (bag.AttributeExists(kFakeArrayElementName)) {
        for (int32 n = 1; n <= bag.GetAttributesCount(); ++n) {
            VString name;
            const VValueSingle* value = bag.GetNthAttribute(n, &name);
            if (StPackedDictionaryKey(name) == kFakeArrayElementName) return AttributeToJSON(value);
        }
    }
    VRefPtr<VJSONObject> object = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    VString name;
    for (int32 n = 1; n <= bag.GetAttributesCount(); ++n) {
        const VValueSingle* value = bag.GetNthAttribute(n, &name);
        const StPackedDictionaryKey key(name);
        if (key == kObjectUnicName || key == kPropertyNameInArrayName) continue;
        if (key == VValueBag::CDataAttributeName()) name = kCDataJSONName;
        object->SetProperty(name, AttributeToJSON(value));
    }
    for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n) {
        const VBagArray* list = bag.GetNthElementName(n, &name);
        if (list == nullptr) continue;
        const VValueBag* single = list->GetCount() == 1 ? list->GetNth(1) : nullptr;
        if (single != nullptr && ((options & kSingleChildAsObject) != 0 || single->AttributeExists(kObjectUnicName))) {
            object->SetProperty(name, BagToJSON(*single, options));
        } else {
            object->SetProperty(name, ListToJSON(*list, options));
        }
    }
    return VJSONValue(object.Get());
}

} // namespace

VError VValueBag::FromJSONValue(const VJSONValue& json) {
    if (!json.IsObject()) return VE_UNIMPLEMENTED;
    try {
        return GraphToBags().Fill(*this, json.GetObjectPtr());
    } catch (const std::bad_alloc&) {
        return VE_MEMORY_FULL;
    }
}

VError VValueBag::GetJSONValue(VJSONValue& json, uint32 options) const {
    try {
        json = BagToJSON(*this, options);
        if (!json.IsObject()) json.SetUndefined(); // a bag standing for a scalar array item is no object
    } catch (const std::bad_alloc&) {
        json.SetUndefined();
        return VE_MEMORY_FULL;
    }
    return VE_OK;
}

VError VValueBag::FromJSONString(const VString& text, uint32 options) {
    VJSONImporter importer(text, (options & kBagAnyDate) != 0 ? VJSONImporter::kAnyDate : 0);
    return importer.JSONObjectToBag(*this);
}

} // namespace vela
