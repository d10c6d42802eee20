#pragma once

#include "core/VMemoryBuffer.h"
#include "values/VValue.h"
#include "values/VValueInfo.h"

namespace vela {

class VBlob_info;

// Kind 11: an uninterpreted run of bytes. Offsets are 32-bit; a negative offset is refused and an
// offset + count that does not fit is refused, so nothing is ever read or written outside the bytes.
// Errors are answered, never raised: 100 no memory (or a refused offset for a write), 200 fewer bytes
// delivered than asked, 204 a change asked of read-only bytes.
// There is no order between blobs: CompareTo answers CR_UNRELEVANT. Making a blob null empties it.
class VBlob : public VValueSingle {
public:
    static constexpr uint16 kKind = 11;

    // The descriptor of kind 11, registered at start-up: it makes VBlobWithPtr values.
    static const VBlob_info sInfo;

    virtual size_t GetSize() const = 0;
    // Exactly size bytes; bytes added are zero. The null flag stays.
    virtual VError SetSize(size_t size) = 0;
    // Copies up to count bytes from offset into buffer; *outRead (when given) receives how many came. Answers
    // 200 when fewer than count came (an offset at or past the end, or negative, delivers nothing).
    virtual VError GetData(void* buffer, size_t count, int32 offset, size_t* outRead = nullptr) const = 0;
    // Writes count bytes at offset, growing the blob (the gap before offset reads as zero); never shrinks it.
    virtual VError PutData(const void* data, size_t count, int32 offset) = 0;
    // Replaces the whole content with count bytes.
    virtual VError FromData(const void* data, size_t count) = 0;

    const VValueInfo* GetValueInfo() const override;
    // Empty and not null.
    void Clear() override { FromData(nullptr, 0); }
    CompareResult CompareTo(const VValueSingle&, bool = false) const override { return CR_UNRELEVANT; }
    bool CanBeEvaluated() const override { return false; }
    size_t GetFullSpaceOnDisk() const override { return GetSize(); }
    // The concrete blobs give these a meaning; here they do nothing and answer null.
    const void* LoadFromPtr(const void*, bool = false) override { return nullptr; }
    void* WriteToPtr(void*, bool = false, size_t = 0) const override { return nullptr; }
    void GetValue(VValueSingle&) const override {}
    void FromValue(const VValueSingle&) override {}

protected:
    VBlob() noexcept = default;
    VBlob(const VBlob& other) noexcept : VValueSingle(other) {}

    void DoNullChanged() override;

    // Stored and stream forms share one shape: a signed 32-bit length, then the bytes. Sizes above INT32_MAX
    // have no such form: writers refuse them (streams) or keep the first INT32_MAX bytes (stored form).
    void* _WriteBytesToPtr(const void* bytes, size_t size, void* data, size_t limit) const;
    size_t _GetBytesSpace(size_t size, size_t limit) const noexcept;
    VError _WriteBytesToStream(const void* bytes, size_t size, VStream* stream) const;
    // GetData over bytes the blob holds.
    static VError _CopyOut(const void* bytes, size_t size, void* buffer, size_t count, int32 offset,
                           size_t* outRead) noexcept;
};

// A blob that owns its bytes in a growable buffer (tag 'memb'). PutData grows the buffer by half again
// (amortised appends); FromData, SetSize and copies size it exactly. A failed allocation leaves a blob empty.
class VBlobWithPtr : public VBlob {
public:
    // Empty, not null, dirty.
    VBlobWithPtr() noexcept = default;
    // A copy of size bytes (none for null data).
    VBlobWithPtr(const void* data, size_t size);
    // The same bytes, the source's flags plus dirty.
    VBlobWithPtr(const VBlobWithPtr& other);
    // The bytes of any blob (none when it is null), its flags plus dirty.
    explicit VBlobWithPtr(const VBlob& source);
    VBlobWithPtr& operator=(const VBlobWithPtr&) = delete;

    // The bytes (GetSize of them), or null; valid until the blob changes.
    const void* GetDataPtr() const noexcept { return fBuffer.GetDataPtr(); }
    void* GetDataPtr() noexcept { return fBuffer.GetDataPtr(); }
    size_t GetAllocatedSize() const noexcept { return fBuffer.GetAllocatedSize(); }

    size_t GetSize() const override { return fBuffer.GetDataSize(); }
    VError SetSize(size_t size) override;
    VError GetData(void* buffer, size_t count, int32 offset, size_t* outRead = nullptr) const override;
    VError PutData(const void* data, size_t count, int32 offset) override;
    VError FromData(const void* data, size_t count) override;

    VValue* Clone() const override { return new VBlobWithPtr(*this); }
    // From a VBlobWithPtr only: its bytes and null flag; false when this blob ended empty while other is not.
    bool FromValueSameKind(const VValue* other) override;
    // True for a non-null VBlobWithPtr with the same bytes.
    bool EqualToSameKind(const VValue* other, bool = false) const override;
    bool EqualToSameKindWithOptions(const VValue* other, const VCompareOptions&) const override {
        return EqualToSameKind(other);
    }
    // Into another blob: its FromData with these bytes; other kinds are left alone.
    void GetValue(VValueSingle& target) const override;
    // Cleared, then the bytes of a VBlobWithPtr source.
    void FromValue(const VValueSingle& source) override;

    // JSON form (json/VBlobJSONValue.cpp): a JSON blob object. Reading clears the blob, then takes the bytes of
    // a JSON blob (PutData's error on failure) or makes the blob null for any other value (answering 0).
    VError FromJSONValue(const VJSONValue& json) override;
    // A new JSON blob with a copy of the bytes (empty for a null blob); 'vela' 100 and undefined when memory
    // runs out.
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;

    // Stored form: a 32-bit length, then the bytes. A length of 0 leaves the bytes as they were; a negative
    // one is corrupt: the blob ends empty, VE_STREAM_CORRUPTED is raised and the answer is data + 4.
    const void* LoadFromPtr(const void* data, bool swap = false) override;
    // Writes at most limit bytes (0: no limit), the length telling how many bytes follow.
    void* WriteToPtr(void* data, bool swap = false, size_t limit = 0) const override;
    size_t GetSpace(size_t limit = 0) const override { return _GetBytesSpace(GetSize(), limit); }

    // Stream form: a 32-bit length in the stream's byte order, then the bytes. Reading refuses a negative
    // length, or one the stream cannot deliver, as corrupt (nothing is allocated for it); the null flag
    // stays. Writing refuses a size above INT32_MAX with VE_INVALID_PARAMETER, made the stream's error.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
    // The buffer sized exactly to size bytes, then filled.
    void _AssignBytes(const void* data, size_t size) noexcept;
    // True when data points into this blob's own block.
    bool _Holds(const void* data) const noexcept;

    VMemoryBuffer<1024, 2, 1048576> fBuffer;
};

// A read-only blob over bytes that belong to the caller, who keeps them alive: never written, never freed.
// Every change answers 204 and changes nothing.
class VConstBlobWithPtr : public VBlob {
public:
    VConstBlobWithPtr(const void* data, size_t size) noexcept
        : fData(static_cast<const uint8*>(data)), fSize(data != nullptr ? size : 0) {}
    VConstBlobWithPtr(const VConstBlobWithPtr& other) noexcept : VBlob(other), fData(other.fData), fSize(other.fSize) {}
    VConstBlobWithPtr& operator=(const VConstBlobWithPtr&) = delete;

    const void* GetDataPtr() const noexcept { return fData; }

    size_t GetSize() const override { return fSize; }
    VError SetSize(size_t) override { return VE_STREAM_CANNOT_WRITE; }
    VError GetData(void* buffer, size_t count, int32 offset, size_t* outRead = nullptr) const override;
    VError PutData(const void*, size_t, int32) override { return VE_STREAM_CANNOT_WRITE; }
    VError FromData(const void*, size_t) override { return VE_STREAM_CANNOT_WRITE; }

    VValue* Clone() const override;
    // From a VConstBlobWithPtr only: its pointer, size and null flag.
    bool FromValueSameKind(const VValue* other) override;
    void GetValue(VValueSingle& target) const override;

    void* WriteToPtr(void* data, bool swap = false, size_t limit = 0) const override;
    size_t GetSpace(size_t limit = 0) const override { return _GetBytesSpace(fSize, limit); }
    VError ReadFromStream(VStream*, int32 = 0) override { return VE_STREAM_CANNOT_WRITE; }
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

private:
    const uint8* fData;
    size_t fSize;
};

// Descriptor of kind 11. Stored form: a signed 32-bit length, then the bytes. A negative length reads as no
// bytes (the size is 4), so that walks over stored data never move backwards. ByteSwapPtr swaps the length
// only and answers the address of the bytes.
class VBlob_info : public VValueInfo_default<VBlobWithPtr, VBlob::kKind> {
public:
    size_t GetSizeOfValueDataPtr(const void* data) const override;
    void* ByteSwapPtr(void* data, bool) const override;
};

} // namespace vela
