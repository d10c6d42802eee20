// The JSON text form of bags (VValueBag::GetJSONString, its text helpers and BuildJSONObject).
#include "values/VValueBag.h"

#include "core/VString.h"
#include "values/VBagArray.h"
#include "values/VBagMarkers.h"
#include "values/VBlob.h"
#include "values/VStoredData.h"
#include "json/VJSONBlob.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

namespace {

using namespace VBagMarkers;

using AttributeDictionary = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

constexpr uint32 kPretty = 8;
constexpr uint32 kSingleChildAsObject = 32;
// The options the bag writer gives its values: quoted strings.
constexpr uint32 kValueJSONOptions = 513;

// Stringify's option that writes what text cannot hold in the binary wrapper the parser reads back.
constexpr uint32 kBinaryFallBack = 1 | 0x800;

// A blob's text: its bytes as a JSON blob object, which text holds only in the binary wrapper.
VError GetBlobJSONString(const VBlob& blob, VString& text) {
    std::vector<uint8> bytes(blob.GetSize());
    size_t read = 0;
    if (!bytes.empty()) {
        if (VError error = blob.GetData(bytes.data(), bytes.size(), 0, &read); error != VE_OK) return error;
    }
    VRefPtr<VJSONObject> object = VJSONBlob::Create(bytes.data(), read);
    if (!object) return VE_MEMORY_FULL;
    return VJSONValue(object.Get()).Stringify(text, kBinaryFallBack);
}

// value's JSON text; null for no value (a kind without descriptor) or a null one.
VError AppendJSONValue(VString& out, const VValueSingle* value) {
    VString text;
    if (value == nullptr || value->IsNull()) {
        out.AppendCString("null");
        return VE_OK;
    }
    // A blob's string form is no JSON text at all.
    const auto* blob = dynamic_cast<const VBlob*>(value);
    const VError error =
        blob != nullptr ? GetBlobJSONString(*blob, text) : value->GetJSONString(text, kValueJSONOptions);
    if (blob != nullptr && error != VE_OK) return error;
    out.AppendString(error == VE_OK ? text : VString("null"));
    return VE_OK;
}

} // namespace

void VValueBag::AppendJSONNewline(VString& out, bool pretty) {
    if (pretty) out.AppendUniChar(u'\n');
}

void VValueBag::AjustJSONTab(VString& out, int32 level, bool pretty) {
    if (!pretty) return;
    for (int32 i = 0; i < level; ++i)
        out.AppendUniChar(u'\t');
}

namespace {

// A container's opening bracket on its own line at level, which the container's content takes one deeper.
void AppendOpening(VString& out, int32& level, bool pretty, UniChar bracket) {
    VValueBag::AppendJSONNewline(out, pretty);
    VValueBag::AjustJSONTab(out, level, pretty);
    out.AppendUniChar(bracket);
    ++level;
}

// The closing bracket on its own line, back at the container's level.
void AppendClosing(VString& out, int32& level, bool pretty, UniChar bracket) {
    VValueBag::AppendJSONNewline(out, pretty);
    --level;
    VValueBag::AjustJSONTab(out, level, pretty);
    out.AppendUniChar(bracket);
}

} // namespace

void VValueBag::AppendBeginJSONObject(VString& out, int32& level, bool pretty) {
    AppendOpening(out, level, pretty, u'{');
}

void VValueBag::AppendEndJSONObject(VString& out, int32& level, bool pretty) {
    AppendClosing(out, level, pretty, u'}');
}

void VValueBag::AppendBeginJSONArray(VString& out, int32& level, bool pretty) {
    AppendOpening(out, level, pretty, u'[');
}

void VValueBag::AppendEndJSONArray(VString& out, int32& level, bool pretty) {
    AppendClosing(out, level, pretty, u']');
}

void VValueBag::AppendJSONPropertyName(VString& out, const VString& name, int32 level, bool pretty) {
    AppendJSONNewline(out, pretty);
    AjustJSONTab(out, level, pretty);
    VString quoted;
    if (name.GetLength() == 2 && name.GetUniChar(1) == u'<' && name.GetUniChar(2) == u'>')
        VString(kCDataJSONName).GetJSONString(quoted, 1);
    else
        name.GetJSONString(quoted, 1);
    out.AppendString(quoted);
    out.AppendCString(pretty ? " : " : ":");
}

VError VValueBag::GetJSONString(VString& json, uint32 options) const {
    json.Clear();
    VError error = _GetJSONString(json, 0, (options & kPretty) != 0, options);
    if (error != VE_OK) json.Clear();
    return error;
}

VError VValueBag::_GetJSONString(VString& out, int32 level, bool pretty, uint32 options) const {
    // One level of recursion per bag: trees deeper than any reader follows are refused.
    StStoredDataDepth depth;
    if (depth.IsTooDeep()) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    const size_t fake = fAttributes._Find(kFakeArrayElementName);
    if (fake != AttributeDictionary::kNotFound) return AppendJSONValue(out, fAttributes.GetNthValue(fake));

    AppendBeginJSONObject(out, level, pretty);
    bool first = true;
    VString name;
    for (size_t i = 0; i < fAttributes.GetCount(); ++i) {
        const StPackedDictionaryKey key = fAttributes.GetKeyAt(i);
        if (key == kObjectUnicName || key == kPropertyNameInArrayName) continue;
        if (!first) out.AppendUniChar(u',');
        first = false;
        key.GetName(name);
        AppendJSONPropertyName(out, name, level, pretty);
        if (VError error = AppendJSONValue(out, fAttributes.GetNthValue(i)); error != VE_OK) return error;
    }
    for (size_t i = 0; i < size_t(GetElementNamesCount()); ++i) {
        if (!first) out.AppendUniChar(u',');
        first = false;
        fElements->GetNameAt(i, name);
        AppendJSONPropertyName(out, name, level, pretty);
        const VBagArray* list = fElements->GetNthValue(i);
        const VValueBag* single = list != nullptr && list->GetCount() == 1 ? list->GetNth(1) : nullptr;
        VError error = VE_OK;
        if (single != nullptr && ((options & kSingleChildAsObject) != 0 || single->AttributeExists(kObjectUnicName))) {
            error = single->_GetJSONString(out, level, pretty, options);
        } else if (list != nullptr) {
            error = list->_GetJSONString(out, level, pretty, options);
        } else { // a name stored without list: an empty one
            int32 inner = level;
            AppendBeginJSONArray(out, inner, pretty);
            AppendEndJSONArray(out, inner, pretty);
        }
        if (error != VE_OK) return error;
    }
    AppendEndJSONObject(out, level, pretty);
    return VE_OK;
}

VError VBagArray::_GetJSONString(VString& out, int32 level, bool pretty, uint32 options) const {
    VValueBag::AppendBeginJSONArray(out, level, pretty);
    for (size_t i = 0; i < fBags.size(); ++i) {
        if (i > 0) out.AppendUniChar(u',');
        const VValueBag* bag = fBags[i];
        if (bag == nullptr) {
            out.AppendCString("null");
            continue;
        }
        VError error = bag->_GetJSONString(out, level, pretty, options);
        if (error != VE_OK) return error;
    }
    VValueBag::AppendEndJSONArray(out, level, pretty);
    return VE_OK;
}

VRefPtr<VJSONObject> VValueBag::BuildJSONObject(VError& outError) const {
    VString text;
    outError = GetJSONString(text, 0);
    if (outError != VE_OK) return {};
    VJSONValue json;
    outError = json.ParseFromString(text, true);
    if (outError != VE_OK || !json.IsObject()) return {};
    return VRefPtr<VJSONObject>(json.GetObjectPtr());
}

} // namespace vela
