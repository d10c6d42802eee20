#include "values/VArrayString.h"

#include "core/VString.h"
#include "values/VOwnedElements.h"
#include "values/VStoredData.h"

#include <new>

namespace vela {

const VValueInfo_array<VArrayString, 109, char> VArrayString::sInfo;

namespace {

const VString& TextOf(const VString* element) noexcept {
    return element != nullptr ? *element : VString::sEmpty;
}

bool Passes(const VString& element, const VString& value, int32 method) {
    switch (method) {
    case kFindGreaterOrEqual:
        return element.CompareToString(value, false) != CR_SMALLER;
    case kFindGreater:
        return element.CompareToString(value, false) == CR_BIGGER;
    case kFindEqual:
        return element.EqualToString(value, false);
    case kFindLess:
        return element.CompareToString(value, false) == CR_SMALLER;
    case kFindLessOrEqual:
        return element.CompareToString(value, false) != CR_BIGGER;
    default:
        return true;
    }
}

// A copy of text, or null when memory runs out (the element then stays null).
VString* NewCopy(const VString& text) noexcept {
    try {
        return new VString(text);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

VArrayString::VArrayString(const VArrayString& other) : VArrayValue(other) {
    _DuplicateElements();
}

VArrayString::~VArrayString() {
    DeleteElements(0, fCount);
}

bool VArrayString::_DuplicateElements() {
    return owned_elements::Duplicate(_Data(), fCount, NewCopy);
}

bool VArrayString::Copy(const VArrayValue& source) {
    if (&source == this) return true;
    if (dynamic_cast<const VArrayString*>(&source) == nullptr) return false;
    return VArrayValue::Copy(source) && _DuplicateElements();
}

void VArrayString::GetString(VString& out, int32 index) const {
    if (ValidIndex(index))
        out.FromString(TextOf(_Data()[index - 1]));
    else
        out.Clear();
}

void VArrayString::FromString(const VString& text, int32 index) {
    if (!ValidIndex(index)) return;
    VString*& element = _Data()[index - 1];
    if (element != nullptr)
        element->FromString(text);
    else
        element = NewCopy(text);
}

void VArrayString::FromValue(const VValueSingle& value, int32 index) {
    VString text;
    text.FromValue(value);
    FromString(text, index);
}

void VArrayString::GetValue(VValueSingle& target, int32 index) const {
    if (ValidIndex(index))
        target.FromString(TextOf(_Data()[index - 1]));
    else
        target.Clear();
}

VValueSingle* VArrayString::CloneValue(int32 index) const {
    auto* value = new VString;
    GetValue(*value, index);
    return value;
}

CompareResult VArrayString::CompareTo(const VValueSingle& value, bool diacritical, int32 index) const {
    if (!ValidIndex(index)) return CR_SMALLER;
    return TextOf(_Data()[index - 1]).CompareTo(value, diacritical);
}

int32 VArrayString::Find(const VString& value, int32 start, bool forward, int32 method) const {
    if (fCount == 0 || start < 1 || start > fCount) return -1;
    int32 step = forward ? 1 : -1;
    for (int32 i = start; i >= 1 && i <= fCount; i += step) {
        const VString* element = _Data()[i - 1];
        if (element != nullptr && Passes(*element, value, method)) return i;
    }
    return -1;
}

int32 VArrayString::Find(const VValueSingle& value, int32 start, bool forward, int32 method) const {
    VString text;
    value.GetString(text);
    return Find(text, start, forward, method);
}

int32 VArrayString::QuickFind(const VString& value) const {
    int64 lo = 0;
    int64 hi = int64(fCount) - 1;
    while (fData != nullptr && lo <= hi) {
        int64 mid = (lo + hi) / 2;
        CompareResult order = value.CompareTo(TextOf(_Data()[mid]), false);
        if (order == CR_EQUAL) return int32(mid + 1);
        if (order == CR_BIGGER)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

void VArrayString::DeleteElements(int32 start, int32 n) {
    owned_elements::Delete(_Data(), fCount, start, n);
}

void VArrayString::SwapElements(uint8* data, int32 i, int32 j) {
    owned_elements::Swap<VString>(data, i, j);
}

CompareResult VArrayString::CompareElements(uint8* data, int32 i, int32 j) {
    return owned_elements::Compare<VString>(
        data, i, j, [](const VString& a, const VString& b) { return a.CompareToString(b, true); });
}

} // namespace vela
