#pragma once

#include "values/VValue.h"
#include "values/VValueInfo.h"

#include <memory>

namespace vela {

// 16 identifier bytes in their canonical order (the order of the text form).
class VUUID_info;

struct VUUIDBuffer {
    uint8 fBytes[16] = {};
};

// Kind 13: a 16-byte universally unique identifier with a null state. Null means all bytes zero; making the
// value null zeroes them. Text form: 32 upper-case hexadecimal digits, no separators. Order: the unsigned
// lexicographic order of the bytes (the null flag takes no part). A text that is not an identifier is kept as
// its UTF-8 bytes padded with spaces, deliberately, so that any text can stand for an identifier.
class VUUID : public VValueSingleWithoutOptions {
public:
    static constexpr uint16 kKind = 13;
    static constexpr int32 kTextLength = 32;

    // Null, bytes zero.
    VUUID() noexcept;
    // Non-zero generate: a fresh identifier, left null when the generator cannot deliver; zero: null.
    explicit VUUID(unsigned char generate);
    // The bytes; null exactly when all are zero.
    explicit VUUID(const VUUIDBuffer& buffer);
    // FromString.
    explicit VUUID(const VString& text);
    // FromBuffer(const char*).
    explicit VUUID(const char* text);
    // Bytes and null flag (the cached text is not copied).
    VUUID(const VUUID& other);
    // Bytes and null flag; the value becomes dirty.
    VUUID& operator=(const VUUID& other);
    ~VUUID() override;

    // The descriptor of kind 13, registered at start-up.
    static const VUUID_info sInfo;
    // A null identifier.
    static const VUUID sNullUUID;

    // The bytes; null exactly when all are zero.
    void FromBuffer(const VUUIDBuffer& buffer);
    // A C string of exactly 32 characters is read as hexadecimal digits, two per byte (a non-digit counts as
    // 0); one of at most 16 bytes is taken as raw bytes padded with zeros; any other length leaves the bytes.
    // Null exactly when the bytes are all zero.
    void FromBuffer(const char* text);
    void ToBuffer(VUUIDBuffer& buffer) const noexcept;
    const uint8* GetBytes() const noexcept { return fBytes; }

    // A fresh identifier, not null; true. When the generator cannot deliver the value becomes null and
    // the answer is false: a failed generation never passes for a new identifier.
    bool Regenerate();

    // Hexadecimal digits of either case in order, every other character skipped: 32 of them are the bytes
    // (more text is ignored). Otherwise BuildFromAnsiString. Not null afterwards, even when the bytes are zero.
    void FromString(const VString& text) override;
    // 16 spaces overwritten from the start by up to 16 UTF-8 bytes of the text; not null.
    void BuildFromAnsiString(const VString& text);
    // 32 upper-case hexadecimal digits (32 zeros for a null value).
    void GetString(VString& out) const override;
    // True for exactly 32 characters 0-9 or A-F (lower case refused), not all "0" unless acceptNull.
    static bool IsUUIDString(const VString& text, bool acceptNull = false);
    // The text form kept with the value and refreshed when it changes; created when create is set and there is
    // none, else null. Borrowed: it lives as long as the value.
    VString* GetCachedConvertedString(bool create);

    bool operator==(const VUUID& other) const noexcept;
    bool operator!=(const VUUID& other) const noexcept { return !(*this == other); }
    bool operator<(const VUUID& other) const noexcept;

    const VValueInfo* GetValueInfo() const override;
    // Null, bytes zero.
    void Clear() override;
    VValue* Clone() const override;
    size_t GetSpace(size_t = 0) const override { return sizeof(fBytes); }

    // out receives this identifier through its FromVUUID.
    void GetVUUID(VUUID& out) const override;
    void GetValue(VValueSingle& out) const override;
    // Bytes and null flag.
    void FromVUUID(const VUUID& other) override;
    // The source's GetVUUID into this value.
    void FromValue(const VValueSingle& value) override;
    bool FromValueSameKind(const VValue* other) override;

    // -1000 against any other kind, else the byte order.
    CompareResult CompareTo(const VValueSingle& other, bool diacritical = false) const override;
    CompareResult CompareToSameKind(const VValue* other, bool = false) const override;
    bool EqualToSameKind(const VValue* other, bool = false) const override;
    CompareResult CompareToSameKindPtr(const void* data, bool = false) const override;
    bool EqualToSameKindPtr(const void* data, bool = false) const override;

    // Stored form: the 16 bytes; loading makes a value null exactly when they are all zero.
    const void* LoadFromPtr(const void* data, bool = false) override;
    void* WriteToPtr(void* data, bool = false, size_t = 0) const override;
    // Stream form: the 16 bytes, never swapped. Reading leaves the value not null whatever the bytes; a short
    // read leaves it null. Both answer the stream's error.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;
    VError WriteToStream(VStream* stream, int32 param = 0) const override;

    // The text form as a JSON string (VString::GetJSONString options); answers its error.
    VError GetJSONString(VString& json, uint32 options = 0) const override;
    // JSON null for a null value, else a JSON string of the text form.
    VError GetJSONValue(VJSONValue& json, uint32 options = 0) const override;
    // JSON null makes the value null; any other JSON value is read as text with FromString. Answers VE_OK.
    VError FromJSONValue(const VJSONValue& json) override;

protected:
    void DoNullChanged() override;

private:
    // Sets the bytes, the null flag (null exactly when they are zero with nullWhenZero, else not null) and
    // dirty, and refreshes the cached text.
    void _SetBytes(const uint8* bytes, bool nullWhenZero);
    void _RefreshCache();
    bool _IsZero() const noexcept;

    uint8 fBytes[16] = {};
    std::unique_ptr<VString> fCachedText;
};

// Descriptor of kind 13: Generate makes null identifiers, LoadFromPtr reads 16 bytes (null when zero),
// comparisons are the byte order, nothing is swapped.
class VUUID_info : public VValueInfo_default<VUUID, VUUID::kKind> {
public:
    using VValueInfo::Generate;
    VValue* Generate() const override { return new VUUID; }
    void* ByteSwapPtr(void* data, bool) const override { return static_cast<uint8*>(data) + 16; }
    CompareResult CompareTwoPtrToData(const void* a, const void* b, bool = false) const override;
    CompareResult CompareTwoPtrToDataBegining(const void* a, const void* b, bool = false) const override;
    CompareResult CompareTwoPtrToDataWithOptions(const void* a, const void* b, const VCompareOptions&) const override;
    size_t GetSizeOfValueDataPtr(const void*) const override { return 16; }
    size_t GetAvgSpace() const override { return 16; }
};

} // namespace vela
