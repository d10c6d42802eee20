#pragma once

#include "values/VValue.h"

namespace vela {

// A value holding many data, addressed by 1-based index. The element setters widen and forward: Boolean to Word,
// Byte and Word to Long, Long and Long8 to Real (as a double); Real, String, Duration and Time do nothing here.
// So a subclass takes every numeric type the chain brings to its own setter and ignores the rest.
class VValueMultiple : public VValue {
public:
    VValueMultiple() noexcept = default;

    // No copy of its own (null), and no evaluation.
    VValue* Clone() const override { return nullptr; }
    bool CanBeEvaluated() const override { return false; }

    // 65535 unless a subclass says otherwise (the kind of the descriptor is GetTrueValueKind).
    virtual uint16 GetValueKind() const { return 65535; }
    virtual int32 GetCount() const = 0;

    virtual void FromBoolean(uint8 value, int32 index) { FromWord(int16(value), index); }
    virtual void FromByte(int8 value, int32 index) { FromLong(value, index); }
    virtual void FromWord(int16 value, int32 index) { FromLong(value, index); }
    virtual void FromLong(int32 value, int32 index) { FromReal(double(value), index); }
    virtual void FromLong8(int64 value, int32 index) { FromReal(double(value), index); }
    virtual void FromReal(double, int32) {}
    virtual void FromString(const VString&, int32) {}
    virtual void FromDuration(const VDuration&, int32) {}
    virtual void FromTime(const VTime&, int32) {}
    // Element index against value: -1, 0 or 1; the base has no order (-1000).
    virtual CompareResult CompareTo(const VValueSingle&, bool /*diacritical*/, int32 /*index*/) const {
        return CR_UNRELEVANT;
    }
};

} // namespace vela
