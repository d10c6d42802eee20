#include "core/VString.h"

#include "core/VStringUnits.h"

#include "core/VCppMemMgr.h"
#include "core/VMemoryBuffer.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"
#include "values/VUUID.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <random>

namespace vela {

using Private::CopyUnits;
using Private::IsAscii;

namespace {

constexpr int32 kStringTag = FourCCTag("str ");
constexpr int32 kRetainedStringTag = FourCCTag("strX");
constexpr int32 kGrowthSlackCap = 0xA00000;
constexpr int64 kLargestBlock = 0x80000002;

const VString_info sInfo;

int32 ReadStoredLength(const void* data) noexcept {
    int32 length;
    std::memcpy(&length, data, sizeof(length));
    return length < 0 ? 0 : length; // corrupt stored data reads as empty
}

} // namespace

const VString VString::sEmpty;

// ---- Construction

VString::VString() noexcept : fString(&fTerminator), fMaxLength(0), fInlineMaxLength(0), fInline(&fTerminator) {}

VString::VString(bool null) noexcept : VString() {
    if (null) fFlags |= kNullFlag;
}

VString::VString(UniChar* area, int32 inlineCapacity) noexcept
    : fString(area), fMaxLength(inlineCapacity), fInlineMaxLength(inlineCapacity), fInline(area) {
    area[0] = 0;
}

VString::VString(UniChar c) : VString() {
    _CopyFrom(&c, 1);
}

VString::VString(const UniChar* text) : VString() {
    if (text != nullptr) _CopyFrom(text, UniCStringLength(text));
}

VString::VString(const wchar_t* text) : VString() {
    static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 here");
    if (text != nullptr) FromBlock(text, std::wcslen(text) * sizeof(wchar_t), VTC_UTF_32_Raw);
}

VString::VString(const char* text) : VString() {
    FromCString(text);
}

VString::VString(const void* bytes, size_t size, CharSet charSet) : VString() {
    FromBlock(bytes, size, charSet);
}

VString::VString(UniChar* buffer, size_t byteSize) noexcept : VString() {
    // A buffer with no room for its terminator cannot be wrapped: the string stays empty on its inline area.
    if (buffer == nullptr || byteSize < sizeof(UniChar)) return;
    int32 capacity;
    if (byteSize == SIZE_MAX) {
        capacity = UniCStringLength(buffer);
    } else {
        capacity = int32(std::min<size_t>(byteSize / 2 - 1, size_t(kMaxLength)));
    }
    int32 length = 0;
    while (length < capacity && buffer[length] != 0)
        ++length;
    buffer[length] = 0;
    fString = buffer;
    fLength = length;
    fMaxLength = capacity;
    fFlags = kDirtyFlag | kForeignBuffer | kPrivateBuffer;
}

VString::VString(UniChar* buffer, int32 length, size_t byteSize) noexcept : VString() {
    if (buffer == nullptr) {
        fFlags |= kNullFlag;
        return;
    }
    if (byteSize < sizeof(UniChar) && byteSize != SIZE_MAX) return;
    int32 capacity =
        byteSize == SIZE_MAX ? std::max(length, 0) : int32(std::min<size_t>(byteSize / 2 - 1, size_t(kMaxLength)));
    fString = buffer;
    fLength = std::clamp(length, 0, capacity);
    fMaxLength = capacity;
    fString[fLength] = 0;
    fFlags = kDirtyFlag | kForeignBuffer | kPrivateBuffer;
}

VString::VString(const VString& other) : VString() {
    fFlags = uint8((other.fFlags & kNullFlag) | kDirtyFlag);
    if (other.IsSharedBuffer()) {
        other._Count()->fetch_add(1, std::memory_order_relaxed);
        fString = other.fString;
        fLength = other.fLength;
        fMaxLength = other.fMaxLength;
    } else if (!other.IsNull()) {
        _CopyFrom(other.fString, other.fLength);
    }
}

VString::VString(VString&& other) noexcept : VString() {
    fFlags = uint8((other.fFlags & kNullFlag) | kDirtyFlag);
    if (!other._IsInline() && (other.fFlags & kForeignBuffer) == 0) {
        _StealFrom(other);
    } else {
        FromString(other);
    }
}

VString& VString::operator=(VString&& other) noexcept {
    if (this == &other) return *this;
    if (!other._IsInline() && (other.fFlags & kForeignBuffer) == 0) {
        _ReleaseBuffer();
        _StealFrom(other);
        SetNull(false);
        fFlags |= kDirtyFlag;
    } else {
        FromString(other);
    }
    return *this;
}

VString::~VString() {
    _ReleaseBuffer();
}

VString* VString::NewString(int32 n) {
    if (n < 0) return nullptr;
    void* block = VObject::operator new(sizeof(VString) + (size_t(n) + 1) * sizeof(UniChar));
    auto* area = reinterpret_cast<UniChar*>(static_cast<char*>(block) + sizeof(VString));
    return new (block) VString(area, n);
}

// ---- Buffers

bool VString::IsSharedBuffer() const noexcept {
    return !_IsInline() && (fFlags & (kForeignBuffer | kPrivateBuffer | kNullFlag)) == 0;
}

int32 VString::GetSharedBufferRefCount() const noexcept {
    return IsSharedBuffer() ? _Count()->load(std::memory_order_relaxed) : 0;
}

void VString::_ReleaseBuffer() noexcept {
    if (_IsInline() || (fFlags & kForeignBuffer) != 0) return;
    if ((fFlags & kPrivateBuffer) != 0) {
        VMemory::DisposePtr(fString);
    } else if (_Count()->fetch_sub(1, std::memory_order_acq_rel) == 1) {
        VMemory::DisposePtr(fString);
    }
}

void VString::ReleaseSharedBuffer(UniChar* buffer, int32 capacity) noexcept {
    if (buffer != nullptr && CountOf(buffer, capacity)->fetch_sub(1, std::memory_order_acq_rel) == 1)
        VMemory::DisposePtr(buffer);
}

void VString::_ResetToInline() noexcept {
    fString = fInline;
    fMaxLength = fInlineMaxLength;
    fFlags &= uint8(~(kForeignBuffer | kPrivateBuffer));
}

void VString::_StealFrom(VString& other) noexcept {
    fString = other.fString;
    fLength = other.fLength;
    fMaxLength = other.fMaxLength;
    fFlags = uint8((fFlags & ~(kForeignBuffer | kPrivateBuffer)) | (other.fFlags & kPrivateBuffer));
    other._ResetToInline();
    other.fLength = 0;
    other.fString[0] = 0;
}

int64 VString::ComputeProgressiveResize(int32 oldLength, int32 newLength) noexcept {
    if (newLength < 6) return 8;
    int64 slack = std::min<int64>((int64(newLength) + 1) / 5, kGrowthSlackCap);
    if (oldLength == 0 || oldLength == newLength || slack < 3) slack = 2;
    int64 size = (int64(newLength) + slack + 8) & ~int64(7);
    // Near the top of the range the slack is dropped; an odd capacity keeps the count inside the block.
    if (newLength < 2147483645 && size > kLargestBlock) size = (int64(newLength) | 1) + 3;
    return size > kLargestBlock ? 0 : size;
}

bool VString::_ReallocBuffer(int32 n, bool keep) {
    if (n < 0) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    int32 kept = keep ? std::min(fLength, n) : 0;
    if (n <= fInlineMaxLength) {
        if (!_IsInline()) {
            CopyUnits(fInline, fString, kept);
            _ReleaseBuffer();
            _ResetToInline();
        }
        fString[kept] = 0;
        return true;
    }

    VCppMemMgr* manager = VObject::GetMainMemMgr();
    int64 size = ComputeProgressiveResize(fLength, n);
    auto* block =
        size > 0 ? static_cast<UniChar*>(manager->Malloc(size_t(size) * sizeof(UniChar), false, kStringTag)) : nullptr;
    if (block == nullptr) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    CopyUnits(block, fString, kept);
    _ReleaseBuffer();
    fFlags &= uint8(~(kForeignBuffer | kPrivateBuffer));
    fString = block;
    fMaxLength = int32(size - 3);
    fString[kept] = 0;
    new (_Count()) std::atomic<int32>(1);
    return true;
}

void VString::_Clear() noexcept {
    if (!_IsInline()) {
        _ReleaseBuffer();
        _ResetToInline();
    }
    fLength = 0;
    fString[0] = 0;
}

void VString::_CopyFrom(const UniChar* text, int32 n) {
    if (n < 0) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return;
    }
    // A text inside our own buffer stays valid here: an unwritable buffer is only released, never freed,
    // while another owner holds it.
    if (!_IsWritableFor(n) && !_ReallocBuffer(n, false)) return;
    CopyUnits(fString, text, n);
    fLength = n;
    _Modified();
}

void VString::Clear() {
    _Clear();
    SetNull(false);
    fFlags |= kDirtyFlag;
}

void VString::DoNullChanged() {
    if (IsNull()) _Clear();
}

UniChar VString::GetUniChar(int32 position) const noexcept {
    return position >= 1 && position <= fLength ? fString[position - 1] : 0;
}

bool VString::SetUniChar(int32 position, UniChar c) {
    if (position < 1 || position > fLength || !_MakeWritable(fLength)) return false;
    fString[position - 1] = c;
    _Modified();
    return true;
}

int32 VString::UniCStringLength(const UniChar* text) noexcept {
    if (text == nullptr) return 0;
    const UniChar* p = text;
    while (*p != 0)
        ++p;
    return int32(p - text);
}

// ---- Assignment

void VString::FromString(const VString& other) {
    if (other.IsNull()) {
        SetNull(true);
        return;
    }
    if (other.fString == fString) return;
    if (other.IsSharedBuffer()) {
        other._Count()->fetch_add(1, std::memory_order_relaxed);
        _ReleaseBuffer();
        fFlags &= uint8(~(kForeignBuffer | kPrivateBuffer));
        fString = other.fString;
        fLength = other.fLength;
        fMaxLength = other.fMaxLength;
        SetNull(false); // the shared buffer is already terminated and must not be written
        fFlags |= kDirtyFlag;
        return;
    }
    _CopyFrom(other.fString, other.fLength);
}

void VString::ShareBuffer(UniChar* buffer, int32 length, int32 capacity) {
    if (buffer == nullptr) {
        Clear();
        return;
    }
    if (buffer != fString) {
        CountOf(buffer, capacity)->fetch_add(1, std::memory_order_relaxed);
        _ReleaseBuffer();
        fFlags &= uint8(~(kForeignBuffer | kPrivateBuffer));
        fString = buffer;
        fLength = length;
        fMaxLength = capacity;
    }
    SetNull(false);
    fFlags |= kDirtyFlag;
}

UniChar* VString::RetainBuffer(int32* length, int32* capacity) const {
    *length = *capacity = 0;
    if (IsNull() || fLength == 0) return nullptr;
    if (IsSharedBuffer()) {
        _Count()->fetch_add(1, std::memory_order_relaxed);
        *length = fLength;
        *capacity = fMaxLength;
        return fString;
    }
    auto* block = static_cast<UniChar*>(
        VMemory::NewPtr(size_t(Private::CountedBufferUnits(fLength)) * sizeof(UniChar), kRetainedStringTag));
    if (block == nullptr) return nullptr;
    CopyUnits(block, fString, fLength + 1);
    new (CountOf(block, fLength)) std::atomic<int32>(1);
    *length = *capacity = fLength;
    return block;
}

void VString::FromUniString(const UniChar* text, int32 n) {
    if (text == nullptr && n > 0) return;
    _CopyFrom(text, n);
}

void VString::FromUniCString(const UniChar* text) {
    _CopyFrom(text, UniCStringLength(text));
}

void VString::FromUniChar(UniChar c) {
    if (c == 0) {
        Clear();
        return;
    }
    _CopyFrom(&c, 1);
}

void VString::FromCString(const char* text) {
    size_t length = 0;
    if (text == nullptr || IsAscii(text, length)) {
        if (length > size_t(kMaxLength)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return;
        }
        if (!_IsWritableFor(int32(length)) && !_ReallocBuffer(int32(length), false)) return;
        Private::WidenASCII(text, length, fString);
        fLength = int32(length);
        _Modified();
        return;
    }
    FromBlock(text, length, VTC_UTF_8);
}

size_t VString::FromBlock(const void* bytes, size_t size, CharSet charSet) {
    if (charSet == VTC_UTF_16) {
        size_t units = size / sizeof(UniChar);
        if (units > size_t(kMaxLength)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        _CopyFrom(static_cast<const UniChar*>(bytes), int32(units));
        return size;
    }
    _Clear();
    size_t consumed = AppendBlock(bytes, size, charSet);
    _Modified();
    return consumed;
}

size_t VString::AppendBlock(const void* bytes, size_t size, CharSet charSet) {
    if (charSet == VTC_UTF_16) {
        size_t units = size / sizeof(UniChar);
        if (units > size_t(kMaxLength)) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return 0;
        }
        AppendUniChars(static_cast<const UniChar*>(bytes), int32(units));
        return size;
    }
    size_t consumed = 0;
    VToUnicodeConverter* converter = VTextConverters::Get()->RetainToUnicodeConverter(charSet);
    converter->ConvertString(bytes, size, &consumed, *this);
    converter->Release();
    return consumed;
}

CharSet VString::FromBlockWithOptionalBOM(const void* bytes, size_t size, CharSet charSet) {
    size_t bomLength = 0;
    CharSet found = VTC_Unknown;
    if (VTextConverters::ParseBOM(bytes, size, &bomLength, &found)) {
        charSet = found;
    } else {
        VTextConverters::GuessCharsetWithNoBom(bytes, int32(std::min<size_t>(size, INT32_MAX)), &charSet, false);
    }
    FromBlock(static_cast<const char*>(bytes) + bomLength, size - bomLength, charSet);
    return charSet;
}

// ---- Encoding

size_t VString::ToBlock(void* dest, size_t size, CharSet charSet, bool zeroTerminated, bool lengthPrefixed) const {
    auto* out = static_cast<uchar*>(dest);
    size_t unit = charSet == VTC_UTF_16 ? sizeof(UniChar) : 1;
    size_t reserved = (zeroTerminated ? unit : 0) + (lengthPrefixed ? unit : 0);
    if (dest == nullptr || size < reserved) return 0;
    size_t room = size - reserved;
    size_t prefix = lengthPrefixed ? unit : 0;
    size_t produced = 0;

    if (charSet == VTC_UTF_16) {
        size_t units = std::min(size_t(fLength), room / sizeof(UniChar));
        produced = units * sizeof(UniChar);
        std::memcpy(out + prefix, fString, produced);
        if (lengthPrefixed) {
            UniChar count = produced >= 131072 ? 0 : UniChar(units);
            std::memcpy(out, &count, sizeof(count));
        }
        if (zeroTerminated) std::memset(out + prefix + produced, 0, sizeof(UniChar));
    } else {
        int32 consumed = 0;
        VTextConverters::Get()->ConvertFromVString(*this, &consumed, out + prefix, room, &produced, charSet);
        if (lengthPrefixed) out[0] = produced >= 256 ? 0 : uchar(produced);
        if (zeroTerminated) out[prefix + produced] = 0;
    }
    return prefix + produced + (zeroTerminated ? unit : 0);
}

bool VString::ToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, CharSet charSet) const {
    buffer.SetDataSizeUnchecked(0);
    VFromUnicodeConverter* converter = VTextConverters::Get()->RetainFromUnicodeConverter(charSet);
    bool done = converter->IsValid() && converter->ConvertToBuffer(fString, fLength, buffer, 0);
    converter->Release();
    return done;
}

// ---- Value kind 10

const VValueInfo* VString::GetValueInfo() const {
    return &sInfo;
}

CharSet VString::DebugDump(char* buffer, int& length) const {
    int64 bytes = std::min<int64>(int64(fLength) * 2, int64(length) - 2);
    if (bytes < 0 || buffer == nullptr) bytes = 0;
    std::memcpy(buffer, fString, size_t(bytes));
    length = int(bytes);
    return VTC_UTF_16;
}

void VString::FromValue(const VValueSingle& value) {
    value.GetString(*this);
}

void VString::GetVUUID(VUUID& out) const {
    out.FromString(*this);
}

void VString::FromVUUID(const VUUID& id) {
    id.GetString(*this);
}

bool VString::FromValueSameKind(const VValue* other) {
    FromString(*static_cast<const VString*>(other));
    return true;
}

// ---- Stored form

const void* VString::LoadFromPtr(const void* data, bool) {
    int32 length = ReadStoredLength(data);
    const auto* units = static_cast<const char*>(data) + sizeof(int32);
    _CopyFrom(reinterpret_cast<const UniChar*>(units), length);
    return units + size_t(length) * sizeof(UniChar);
}

void* VString::WriteToPtr(void* data, bool, size_t limit) const {
    size_t needed = sizeof(int32) + size_t(fLength) * sizeof(UniChar);
    int32 count = fLength;
    if (limit != 0 && needed > limit) {
        if (limit < sizeof(int32)) return data; // no room even for the length
        count = int32((limit - sizeof(int32)) / sizeof(UniChar));
    }
    auto* out = static_cast<char*>(data);
    std::memcpy(out, &count, sizeof(count));
    std::memcpy(out + sizeof(count), fString, size_t(count) * sizeof(UniChar));
    return out + sizeof(count) + size_t(count) * sizeof(UniChar);
}

size_t VString::GetSpace(size_t limit) const {
    size_t needed = sizeof(int32) + size_t(fLength) * sizeof(UniChar);
    return limit != 0 && limit <= needed ? limit : needed;
}

uint32 VString::GetHashValue() const noexcept {
    uint32 hash = uint32(fLength);
    auto take = [&hash](const UniChar* units, int32 n) {
        for (int32 i = 0; i < n; ++i)
            hash = hash * 257u + units[i];
    };
    if (fLength <= 16) {
        take(fString, fLength);
    } else {
        take(fString, 8);
        take(fString + fLength - 8, 8);
    }
    return (hash << (uint32(fLength) % 32u)) + hash;
}

// ---- VString_info

VValue* VString_info::LoadFromPtr(const void* data, bool swap) const {
    auto* text = new VString;
    text->LoadFromPtr(data, swap);
    return text;
}

void* VString_info::ByteSwapPtr(void* data, bool nativeOrder) const {
    auto* bytes = static_cast<char*>(data);
    int32 length;
    std::memcpy(&length, bytes, sizeof(length));
    int32 swapped = int32(__builtin_bswap32(uint32(length)));
    std::memcpy(bytes, &swapped, sizeof(swapped));
    int32 count = std::max(nativeOrder ? length : swapped, 0);
    char* units = bytes + sizeof(int32);
    for (int32 i = 0; i < count; ++i) {
        uint16 unit;
        std::memcpy(&unit, units + size_t(i) * 2, 2);
        unit = __builtin_bswap16(unit);
        std::memcpy(units + size_t(i) * 2, &unit, 2);
    }
    return units + size_t(count) * 2;
}

size_t VString_info::GetSizeOfValueDataPtr(const void* data) const {
    return sizeof(int32) + size_t(ReadStoredLength(data)) * sizeof(UniChar);
}

} // namespace vela

// ---- hash_VString

namespace vela {
namespace {

uint64 DrawHashSeed() noexcept {
    try {
        std::random_device device;
        return (uint64(device()) << 32) ^ device();
    } catch (...) {
        // No entropy source: the clock and an address still differ from run to run.
        static const char tag = 0;
        return uint64(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               uint64(reinterpret_cast<uintptr_t>(&tag));
    }
}

// The high and low halves of a 64 × 64 product folded together: every input bit reaches every output bit.
uint64 Fold(uint64 a, uint64 b) noexcept {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return uint64(product) ^ uint64(product >> 64);
}

} // namespace

size_t hash_VString::operator()(const VString& text) const noexcept {
    static const uint64 seed = DrawHashSeed();
    constexpr uint64 kOdd1 = 0xa0761d6478bd642full, kOdd2 = 0xe7037ed1a0b428dbull;
    const UniChar* units = text.GetCPointer();
    const int32 length = text.GetLength();
    uint64 hash = Fold(seed ^ kOdd1, uint64(uint32(length)) ^ kOdd2);
    int32 i = 0;
    for (; i + 4 <= length; i += 4) {
        uint64 chunk;
        std::memcpy(&chunk, units + i, sizeof chunk);
        hash = Fold(chunk ^ seed ^ kOdd1, hash ^ kOdd2);
    }
    uint64 tail = 0;
    for (; i < length; ++i)
        tail = (tail << 16) | units[i];
    return size_t(Fold(tail ^ seed ^ kOdd2, hash ^ kOdd1));
}

} // namespace vela
