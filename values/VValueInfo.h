#pragma once

#include "core/VObject.h"

namespace vela {

class VBlob;
class VCompareOptions;
class VValue;

// Descriptor of one value kind: creates, loads and compares values of that kind. Its true kind is the
// registry key and the number written before a value in streams. Constructing registers it, destroying
// unregisters its true kind.
class VValueInfo : public VObject {
public:
    explicit VValueInfo(uint16 kind);
    VValueInfo(uint16 kind, uint16 trueKind);
    ~VValueInfo() override;

    VValueInfo(const VValueInfo&) = delete;
    VValueInfo& operator=(const VValueInfo&) = delete;

    uint16 GetKind() const noexcept { return fKind; }
    uint16 GetTrueKind() const noexcept { return fTrueKind; }

    // A new empty value of the kind, owned by the caller.
    virtual VValue* Generate() const = 0;
    // The same as Generate(): no kind reads the blob.
    virtual VValue* Generate(VBlob*) const { return Generate(); }
    // A new value read from stored data, owned by the caller.
    virtual VValue* LoadFromPtr(const void* data, bool swap = false) const = 0;
    // Swaps stored data in place and answers the address just behind it.
    virtual void* ByteSwapPtr(void* data, bool toNative) const = 0;
    virtual CompareResult CompareTwoPtrToData(const void*, const void*, bool diacritical = false) const;
    virtual CompareResult CompareTwoPtrToDataBegining(const void*, const void*, bool diacritical = false) const;
    virtual CompareResult CompareTwoPtrToData_Like(const void* a, const void* b, bool diacritical = false) const {
        return CompareTwoPtrToData(a, b, diacritical);
    }
    virtual CompareResult CompareTwoPtrToDataBegining_Like(const void* a, const void* b,
                                                           bool diacritical = false) const {
        return CompareTwoPtrToDataBegining(a, b, diacritical);
    }
    virtual CompareResult CompareTwoPtrToDataWithOptions(const void*, const void*, const VCompareOptions&) const;
    virtual size_t GetSizeOfValueDataPtr(const void*) const { return 0; }
    virtual size_t GetAvgSpace() const { return 0; }

private:
    uint16 fKind;
    uint16 fTrueKind;
};

// Descriptor of a class made with its default constructor and loaded through its LoadFromPtr.
template <class ValueClass, uint16 Kind> class VValueInfo_default : public VValueInfo {
public:
    VValueInfo_default() : VValueInfo(Kind) {}
    explicit VValueInfo_default(uint16 kind) : VValueInfo(kind) {}

    using VValueInfo::Generate;
    VValue* Generate() const override { return new ValueClass; }
    VValue* LoadFromPtr(const void* data, bool swap = false) const override {
        ValueClass* value = new ValueClass;
        value->LoadFromPtr(data, swap);
        return value;
    }
    void* ByteSwapPtr(void* data, bool) const override { return data; }
};

} // namespace vela
