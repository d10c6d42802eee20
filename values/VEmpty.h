#pragma once

#include "values/VValue.h"
#include "values/VValueInfo.h"

namespace vela {

// The value of kind 0: holds nothing, is born null, and has no order with anything.
class VEmpty : public VValueSingle {
public:
    static constexpr uint16 kKind = 0;

    VEmpty() noexcept : VValueSingle() { fFlags = kNullFlag | kDirtyFlag; }

    const VValueInfo* GetValueInfo() const override;
    VValue* Clone() const override { return new VEmpty; }
    CompareResult CompareTo(const VValueSingle&, bool = false) const override { return CR_UNRELEVANT; }
    bool CanBeEvaluated() const override { return false; }
    const void* LoadFromPtr(const void* data, bool = false) override { return data; }
};

// Descriptor of kind 0: makes null VEmpty values and reads nothing from stored data.
class VEmpty_info : public VValueInfo {
public:
    VEmpty_info() : VValueInfo(VEmpty::kKind) {}
    using VValueInfo::Generate;
    VValue* Generate() const override { return new VEmpty; }
    VValue* LoadFromPtr(const void*, bool = false) const override { return new VEmpty; }
    void* ByteSwapPtr(void* data, bool) const override { return data; }
};

} // namespace vela
