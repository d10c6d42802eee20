#pragma once

#include "core/VError.h"
#include "core/VObject.h"

namespace vela {

class VCompareOptions;
class VDuration;
class VJSONValue;
class VStream;
class VString;
class VTime;
class VUUID;
class VValueInfo;
class VValueSingle;

// Common base of typed data. One flags byte: bit 0x01 null, bit 0x02 dirty; the other bits belong to the
// concrete kinds. A value is owned by whoever made it and is used by one task at a time.
class VValue : public VObject {
public:
    static constexpr uint8 kNullFlag = 0x01;
    static constexpr uint8 kDirtyFlag = 0x02;

    VValue() noexcept = default;
    VValue(const VValue& other) noexcept : VObject(other), fFlags(other.fFlags) {}
    VValue& operator=(const VValue&) noexcept { return *this; }

    bool IsNull() const noexcept { return (fFlags & kNullFlag) != 0; }
    bool IsDirty() const noexcept { return (fFlags & kDirtyFlag) != 0; }
    // Changing the null flag calls DoNullChanged and leaves the value dirty.
    void SetNull(bool null) {
        if (IsNull() != null) _ChangeNull(null);
    }
    void SetDirty(bool dirty);

    // The descriptor of the value's kind; the base answers the default descriptor (kind 65535).
    virtual const VValueInfo* GetValueInfo() const;
    uint16 GetValueKind() const;
    uint16 GetTrueValueKind() const;

    virtual void Clear() {}
    virtual const VValueSingle* IsVValueSingle() const { return nullptr; }
    virtual VValueSingle* IsVValueSingle() { return nullptr; }

    // The base raises library error 2 and answers it.
    virtual VError FromJSONString(const VString& json, uint32 options = 0);
    virtual VError GetJSONString(VString& json, uint32 options = 0) const;
    // The base raises library error 2 and answers it; GetJSONValue also makes json undefined.
    virtual VError FromJSONValue(const VJSONValue& json);
    virtual VError GetJSONValue(VJSONValue& json, uint32 options = 0) const;

    // Comparisons between values of the same kind under options (manager, like, diacritical, begins-with,
    // epsilon). The base finds everything equal; Equal... is true when Compare... gives 0, Swap_... inverts it.
    virtual CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
    virtual bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions& options) const;
    virtual CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;
    virtual bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;
    virtual CompareResult Swap_CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions& options) const;

    // Comparisons between values of the same kind; the base finds everything equal.
    virtual CompareResult CompareToSameKind(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind(const VValue* other, bool diacritical = false) const;
    virtual bool EqualToSameKind(const VValue* other, bool diacritical = false) const;
    virtual bool FromValueSameKind(const VValue* other);
    virtual CompareResult CompareToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual bool EqualToSameKindPtr(const void* data, bool diacritical = false) const;
    virtual CompareResult CompareToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual bool EqualToSameKind_Like(const VValue* other, bool diacritical = false) const;
    virtual CompareResult CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult Swap_CompareToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult CompareBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual CompareResult IsTheBeginingToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual bool EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const;
    virtual bool Swap_EqualToSameKindPtr_Like(const void* data, bool diacritical = false) const;

    // Stored form (arrays, bags): the base reads and writes nothing and answers data.
    virtual const void* LoadFromPtr(const void* data, bool swap = false);
    virtual void* WriteToPtr(void* data, bool swap = false, size_t limit = 0) const;
    // Byte size of the stored form (limited to limit when it is not 0).
    virtual size_t GetSpace(size_t limit = 0) const;
    virtual bool CanBeStreamed() const { return false; }
    virtual size_t GetFullSpaceOnDisk() const;

    // Stream form: the base moves nothing and answers the stream's current error.
    virtual VError ReadFromStream(VStream* stream, int32 param = 0);
    virtual VError WriteToStream(VStream* stream, int32 param = 0) const;
    virtual size_t GetStreamSpace() const;
    virtual VError ReadRawFromStream(VStream* stream, int32 param = 0);

    virtual VError Flush(void*, void*) const { return VE_OK; }
    virtual void SetReservedBlobNumber(int32) {}
    virtual VValue* FullyClone(bool forAnotherRecord = false) const;
    virtual void RestoreFromPop(void*) {}
    virtual void Detach(bool) {}
    virtual bool WillContainBlobData() const { return false; }
    virtual bool HasInternalPropertyChanged() const { return false; }
    virtual void ResetInternalPropertyChanged() {}

    // A new copy of the value, owned by the caller.
    virtual VValue* Clone() const = 0;
    virtual bool CanBeEvaluated() const { return true; }

    // Swaps -1 and 1; every other result stays.
    static constexpr CompareResult InvertCompResult(CompareResult result) noexcept {
        return result == CR_SMALLER ? CR_BIGGER : (result == CR_BIGGER ? CR_SMALLER : result);
    }

    // Registry of kinds: the last registration of a true kind wins; removal erases whatever the kind holds.
    static void RegisterValueInfo(const VValueInfo* info) noexcept;
    static void UnregisterValueInfo(const VValueInfo* info) noexcept;
    // The descriptor of a kind, or null.
    static const VValueInfo* ValueInfoFromValueKind(uint16 kind) noexcept;
    // A new empty value of a kind, owned by the caller; null for a kind without descriptor.
    static VValue* NewValueFromValueKind(uint16 kind);

protected:
    explicit VValue(uint8 flags) noexcept : fFlags(flags) {}

private:
    void _ChangeNull(bool null);

protected:
    // Hooks run after the flag changed.
    virtual void DoNullChanged() {}
    virtual void DoDirtyChanged() {}

    // Concrete setters end with this: not null (through SetNull), then dirty without the hook.
    void _SetValueChanged() {
        SetNull(false);
        fFlags |= kDirtyFlag;
    }

    uint8 fFlags = kDirtyFlag;
};

// A value holding one datum.
class VValueSingle : public VValue {
public:
    VValueSingle() noexcept = default;

    const VValueSingle* IsVValueSingle() const override { return this; }
    VValueSingle* IsVValueSingle() override { return this; }
    bool CanBeStreamed() const override { return true; }
    // Plain text forms: these go through GetString/FromString and only answer error 2 where unsupported.
    VError FromJSONString(const VString& json, uint32 options = 0) override;
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // Unsupported here: FromJSONValue clears the value, GetJSONValue makes json JSON null; both answer library
    // error 2 without raising it.
    VError FromJSONValue(const VJSONValue& json) override;
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    CharSet DebugDump(char* buffer, int& length) const override;

    virtual bool GetBoolean() const { return false; }
    virtual int8 GetByte() const { return 0; }
    virtual int16 GetWord() const { return 0; }
    virtual int32 GetLong() const { return 0; }
    virtual int64 GetLong8() const { return 0; }
    virtual int64 GetLong8OrMilliSeconds() const { return GetLong8(); }
    virtual double GetReal() const { return 0.0; }
    // The base clears out (the time and duration forms are defined with their kinds).
    virtual void GetDuration(VDuration& out) const;
    virtual void GetTime(VTime& out) const;
    virtual void GetString(VString& out) const;
    virtual void GetVUUID(VUUID& out) const;
    virtual void GetValue(VValueSingle& out) const;

    virtual void FromBoolean(uint8) {}
    virtual void FromByte(int8) {}
    virtual void FromWord(int16) {}
    virtual void FromLong(int32) {}
    virtual void FromLong8(int64) {}
    virtual void FromReal(double) {}
    virtual void FromDuration(const VDuration&) {}
    virtual void FromTime(const VTime&) {}
    virtual void FromString(const VString&) {}
    virtual void FromVUUID(const VUUID&) {}
    virtual void FromValue(const VValueSingle&) {}
    virtual void FromRESTValue(const VValueSingle& value) { FromValue(value); }

    virtual void GetXMLString(VString& out, uint32 options = 0) const;
    virtual bool FromXMLString(const VString& xml);

    virtual CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const = 0;
    virtual bool EqualTo(const VValueSingle& other, bool diacritical = false) const {
        return CompareTo(other, diacritical) == CR_EQUAL;
    }

    // A new value of kind filled from this one (null flag included), owned by the caller; null when the kind
    // has no descriptor or does not hold a single datum.
    VValueSingle* ConvertTo(uint16 kind) const;
    // The JSON type (0 null, 2 true, 3 string, 4 number, 8 time) that values of a kind map to.
    static int32 ValueKindToJsonType(uint16 kind) noexcept;
    // A new value suited to a JSON scalar, owned by the caller: a VReal of GetReal() for kinds 2-5, 7 and 16 (null
    // flag kept), a VString of the text (FromValue) for kinds 13, 14, 17, 19 and 20, a VReal of a duration's
    // milliseconds (or seconds without durationInMilliseconds; null for a null duration), a clone for every other kind.
    static VValueSingle* ConvertVValueToJSONScalar(const VValueSingle& value, bool durationInMilliseconds = false);
};

// A single value whose comparisons ignore options: the WithOptions comparisons are the plain ones.
class VValueSingleWithoutOptions : public VValueSingle {
public:
    using VValueSingle::VValueSingle;

    CompareResult CompareToSameKindWithOptions(const VValue* other, const VCompareOptions&) const override {
        return CompareToSameKind(other);
    }
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const override {
        return EqualToSameKind(other);
    }
    CompareResult CompareToSameKindPtrWithOptions(const void* data, const VCompareOptions&) const override {
        return CompareToSameKindPtr(data);
    }
    bool EqualToSameKindPtrWithOptions(const void* data, const VCompareOptions&) const override {
        return EqualToSameKindPtr(data);
    }
};

} // namespace vela
