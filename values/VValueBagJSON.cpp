// The exchange between bags and the JSON model (VValueBag::FromJSONValue and GetJSONValue), and bags read from
// JSON text (FromJSONString).
#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONValue.h"
#include "values/VBagArray.h"
#include "values/VBagMarkers.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"

#include <cmath>

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

VError FillFromObject(VValueBag& bag, const VJSONObject* object, int32 depth);

// A new child bag for an object item; error when the nesting is too deep.
VError AddObjectChild(VValueBag& bag, const StPackedDictionaryKey& key, const VJSONObject* object, bool unique,
                      int32 depth) {
    VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (unique) child->SetBool(kObjectUnicName, true);
    VError error = FillFromObject(*child, object, depth + 1);
    bag.AddElement(key, child.Get());
    return error;
}

VError FillFromObject(VValueBag& bag, const VJSONObject* object, int32 depth) {
    // Objects may refer to each other in cycles: the walk stops at the depth stored data may reach.
    if (depth > kStoredDataMaxDepth) return VE_INVALID_PARAMETER;
    VError result = VE_OK;
    for (VJSONPropertyConstOrderedIterator it(object); it.IsValid(); ++it) {
        const VString& name = it.GetName();
        const VJSONValue value = it.GetValue();
        const StPackedDictionaryKey key(name);
        VError error = VE_OK;
        if (value.IsObject()) {
            error = AddObjectChild(bag, key, value.GetObjectPtr(), true, depth);
        } else if (value.IsArray()) {
            const VJSONArray* array = value.GetArrayPtr();
            for (size_t i = 0; i < array->GetCount() && error == VE_OK; ++i) {
                VJSONValue item = array->GetAt(i);
                if (item.IsObject()) {
                    error = AddObjectChild(bag, key, item.GetObjectPtr(), false, depth);
                } else if (!item.IsArray() && !item.IsUndefined()) { // no arrays inside arrays
                    VRefPtr<VValueBag> child = VRefPtr<VValueBag>::Adopt(new VValueBag);
                    SetScalar(*child, kFakeArrayElementName, item);
                    bag.AddElement(key, child.Get());
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
        if (result == VE_OK) result = error;
    }
    return result;
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
        return FillFromObject(*this, json.GetObjectPtr(), 0);
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
