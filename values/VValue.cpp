#include "values/VValue.h"

#include "core/VError.h"
#include "core/VString.h"
#include "values/VArrayBlob.h"
#include "values/VArrayImage.h"
#include "values/VArrayString.h"
#include "values/VArrayValues.h"
#include "values/VBlob.h"
#include "values/VDuration.h"
#include "values/VEmpty.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VUUID.h"
#include "values/VValueBag.h"
#include "values/VValueInfo.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

namespace vela {

namespace {

// One slot per 16-bit kind: lookups from any task never meet a container being changed.
std::array<std::atomic<const VValueInfo*>, 65536>& Registry() noexcept {
    static std::array<std::atomic<const VValueInfo*>, 65536> sRegistry{};
    return sRegistry;
}

constexpr uint16 kDefaultKind = 65535;

// Kinds register as their descriptors are constructed; a static link keeps only the objects something names, so
// the registry names every built-in descriptor: a value read by kind alone (from a stream or a bag) is then
// always known.
[[gnu::used]] const VValueInfo* const kBuiltInKinds[] = {
    &VBoolean::sInfo,    &VByte::sInfo,         &VWord::sInfo,      &VLong::sInfo,          &VLong8::sInfo,
    &VReal::sInfo,       &VTime::sInfo,         &VDuration::sInfo,  &VBlob::sInfo,          &VUUID::sInfo,
    &VValueBag::sInfo,   &VArrayBoolean::sInfo, &VArrayByte::sInfo, &VArrayWord::sInfo,     &VArrayLong::sInfo,
    &VArrayLong8::sInfo, &VArrayReal::sInfo,    &VArrayTime::sInfo, &VArrayDuration::sInfo, &VArrayString::sInfo,
    &VArrayBlob::sInfo,  &VArrayImage::sInfo,
};

const VEmpty_info sEmptyInfo;

} // namespace

// ---- VValue

void VValue::_ChangeNull(bool null) {
    fFlags = null ? (fFlags | kNullFlag) : (fFlags & ~kNullFlag);
    DoNullChanged();
    if (!IsDirty()) {
        fFlags |= kDirtyFlag;
        DoDirtyChanged();
    }
}

void VValue::SetDirty(bool dirty) {
    if (IsDirty() == dirty) return;
    fFlags = dirty ? (fFlags | kDirtyFlag) : (fFlags & ~kDirtyFlag);
    DoDirtyChanged();
}

namespace {
// The descriptor of kind 65535, made and registered by the first call that needs it.
const VValueInfo* DefaultValueInfo() {
    static const VValueInfo_default<VEmpty, kDefaultKind> sDefaultInfo;
    return &sDefaultInfo;
}
} // namespace

const VValueInfo* VValue::GetValueInfo() const {
    return DefaultValueInfo();
}

uint16 VValue::GetValueKind() const {
    return GetValueInfo()->GetKind();
}

uint16 VValue::GetTrueValueKind() const {
    return GetValueInfo()->GetTrueKind();
}

VError VValue::FromJSONString(const VString&, uint32) {
    _ThrowError(VE_UNIMPLEMENTED);
    return VE_UNIMPLEMENTED;
}

VError VValue::GetJSONString(VString&, uint32) const {
    _ThrowError(VE_UNIMPLEMENTED);
    return VE_UNIMPLEMENTED;
}

CompareResult VValue::CompareToSameKindWithOptions(const VValue*, const VCompareOptions&) const {
    return CR_EQUAL;
}
bool VValue::EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const {
    return CompareToSameKindWithOptions(other, options) == CR_EQUAL;
}
CompareResult VValue::CompareToSameKindPtrWithOptions(const void*, const VCompareOptions&) const {
    return CR_EQUAL;
}
bool VValue::EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    return CompareToSameKindPtrWithOptions(data, options) == CR_EQUAL;
}
CompareResult VValue::Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const {
    return InvertCompResult(CompareToSameKindPtrWithOptions(data, options));
}

CompareResult VValue::CompareToSameKind(const VValue*, bool) const {
    return CR_EQUAL;
}
CompareResult VValue::CompareBeginingToSameKind(const VValue* other, bool diacritical) const {
    return CompareToSameKind(other, diacritical);
}
bool VValue::EqualToSameKind(const VValue* other, bool diacritical) const {
    return CompareToSameKind(other, diacritical) == CR_EQUAL;
}
bool VValue::FromValueSameKind(const VValue*) {
    return false;
}
CompareResult VValue::CompareToSameKindPtr(const void*, bool) const {
    return CR_EQUAL;
}
CompareResult VValue::Swap_CompareToSameKindPtr(const void* data, bool diacritical) const {
    return InvertCompResult(CompareToSameKindPtr(data, diacritical));
}
CompareResult VValue::CompareBeginingToSameKindPtr(const void* data, bool diacritical) const {
    return CompareToSameKindPtr(data, diacritical);
}
CompareResult VValue::IsTheBeginingToSameKindPtr(const void* data, bool diacritical) const {
    return CompareToSameKindPtr(data, diacritical);
}
bool VValue::EqualToSameKindPtr(const void* data, bool diacritical) const {
    return CompareToSameKindPtr(data, diacritical) == CR_EQUAL;
}
CompareResult VValue::CompareToSameKind_Like(const VValue* other, bool diacritical) const {
    return CompareToSameKind(other, diacritical);
}
CompareResult VValue::CompareBeginingToSameKind_Like(const VValue* other, bool diacritical) const {
    return CompareBeginingToSameKind(other, diacritical);
}
bool VValue::EqualToSameKind_Like(const VValue* other, bool diacritical) const {
    return EqualToSameKind(other, diacritical);
}
CompareResult VValue::CompareToSameKindPtr_Like(const void* data, bool diacritical) const {
    return CompareToSameKindPtr(data, diacritical);
}
CompareResult VValue::Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical) const {
    return InvertCompResult(CompareToSameKindPtr(data, diacritical));
}
CompareResult VValue::CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical) const {
    return CompareBeginingToSameKindPtr(data, diacritical);
}
CompareResult VValue::IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical) const {
    return IsTheBeginingToSameKindPtr(data, diacritical);
}
bool VValue::EqualToSameKindPtr_Like(const void* data, bool diacritical) const {
    return EqualToSameKindPtr(data, diacritical);
}
bool VValue::Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical) const {
    return EqualToSameKindPtr(data, diacritical);
}

const void* VValue::LoadFromPtr(const void* data, bool) {
    return data;
}
void* VValue::WriteToPtr(void* data, bool, size_t) const {
    return data;
}
size_t VValue::GetSpace(size_t) const {
    return 0;
}
size_t VValue::GetFullSpaceOnDisk() const {
    return GetSpace(0);
}

size_t VValue::GetStreamSpace() const {
    return GetSpace(0);
}

VValue* VValue::FullyClone(bool) const {
    return Clone();
}

// ---- Registry

void VValue::RegisterValueInfo(const VValueInfo* info) noexcept {
    if (info != nullptr) Registry()[info->GetTrueKind()].store(info, std::memory_order_release);
}

void VValue::UnregisterValueInfo(const VValueInfo* info) noexcept {
    // Erases whichever descriptor the kind holds, as callers that replace descriptors expect.
    if (info != nullptr) Registry()[info->GetTrueKind()].store(nullptr, std::memory_order_release);
}

const VValueInfo* VValue::ValueInfoFromValueKind(uint16 kind) noexcept {
    if (kind == kDefaultKind) DefaultValueInfo();
    return Registry()[kind].load(std::memory_order_acquire);
}

VValue* VValue::NewValueFromValueKind(uint16 kind) {
    const VValueInfo* info = ValueInfoFromValueKind(kind);
    return info != nullptr ? info->Generate() : nullptr;
}

// ---- VValueInfo

VValueInfo::VValueInfo(uint16 kind) : VValueInfo(kind, kind) {}

VValueInfo::VValueInfo(uint16 kind, uint16 trueKind) : fKind(kind), fTrueKind(trueKind) {
    VValue::RegisterValueInfo(this);
}

VValueInfo::~VValueInfo() {
    VValue::UnregisterValueInfo(this);
}

CompareResult VValueInfo::CompareTwoPtrToData(const void*, const void*, bool) const {
    return CR_EQUAL;
}
CompareResult VValueInfo::CompareTwoPtrToDataBegining(const void*, const void*, bool) const {
    return CR_EQUAL;
}
CompareResult VValueInfo::CompareTwoPtrToDataWithOptions(const void*, const void*, const VCompareOptions&) const {
    return CR_EQUAL;
}

// ---- VValueSingle

VError VValueSingle::FromJSONString(const VString& json, uint32) {
    FromString(json);
    return VE_OK;
}

VError VValueSingle::GetJSONString(VString& json, uint32) const {
    GetString(json);
    return VE_OK;
}

CharSet VValueSingle::DebugDump(char* buffer, int& length) const {
    if (buffer == nullptr || length <= 0 || !ProcessObjectExists()) {
        length = 0;
        return VTC_UTF_16;
    }
    VString text;
    GetString(text);
    const int units = std::min(text.GetLength(), length / int(sizeof(UniChar)));
    if (units > 0) std::memcpy(buffer, text.GetCPointer(), size_t(units) * sizeof(UniChar));
    length = units * int(sizeof(UniChar));
    return VTC_UTF_16;
}

void VValueSingle::GetString(VString& out) const {
    out.Clear();
}
void VValueSingle::GetVUUID(VUUID& out) const {
    out.Clear();
}
void VValueSingle::GetValue(VValueSingle& out) const {
    out.Clear();
}
void VValueSingle::GetXMLString(VString& out, uint32) const {
    GetString(out);
}
bool VValueSingle::FromXMLString(const VString& xml) {
    FromString(xml);
    return true;
}

VValueSingle* VValueSingle::ConvertTo(uint16 kind) const {
    VValue* value = NewValueFromValueKind(kind);
    if (value == nullptr) return nullptr;
    VValueSingle* single = value->IsVValueSingle();
    if (single == nullptr) {
        delete value;
        return nullptr;
    }
    GetValue(*single);
    single->SetNull(IsNull());
    return single;
}

int32 VValueSingle::ValueKindToJsonType(uint16 kind) noexcept {
    switch (kind) {
    case 1:
        return 2; // true
    case 6:
        return 4; // number
    case 8:
        return 8; // time
    case 10:
        return 3; // string
    default:
        return 0; // null, the integer kinds included
    }
}

VValueSingle* VValueSingle::ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds) {
    switch (value.GetValueKind()) {
    // The integer kinds and the other numeric kinds (7, 16): JSON knows numbers only.
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 16: {
        auto* real = new VReal(value.GetReal());
        real->SetNull(value.IsNull());
        return real;
    }
    // Identifiers (13) and the other kinds that JSON carries as text.
    case 13:
    case 14:
    case 17:
    case 19:
    case 20: {
        auto* text = new VString;
        text->FromValue(value);
        return text;
    }
    case VDuration::kKind: {
        auto* real = new VReal;
        const double milliseconds = double(value.GetLong8OrMilliSeconds());
        if (value.IsNull())
            real->SetNull(true);
        else
            real->FromReal(durationInMilliseconds ? milliseconds : milliseconds / 1000.0);
        return real;
    }
    default: {
        VValue* clone = value.Clone();
        if (clone == nullptr) return nullptr;
        VValueSingle* single = clone->IsVValueSingle();
        if (single == nullptr) delete clone;
        return single;
    }
    }
}

// ---- VEmpty

const VValueInfo* VEmpty::GetValueInfo() const {
    return &sEmptyInfo;
}

} // namespace vela
