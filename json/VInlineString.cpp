#include "json/VInlineString.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"
#include "core/VStringUnits.h"

#include <new>

namespace vela {

std::atomic<uint32> VInlineString_tag{0};

const UniChar VInlineString::sZero = 0;

namespace {
// The tag of the counted buffers that strings hand to other holders.
constexpr int32 kCountedBufferTag = FourCCTag("strX");
} // namespace

std::atomic<int32>* VInlineString::_Count() const noexcept {
    return reinterpret_cast<std::atomic<int32>*>(fBuffer + Private::CountedBufferCountOffset(fCapacity));
}

void VInlineString::Retain() const noexcept {
    if (fBuffer != nullptr) _Count()->fetch_add(1, std::memory_order_relaxed);
}

void VInlineString::Release() noexcept {
    if (fBuffer != nullptr) VString::ReleaseSharedBuffer(fBuffer, fCapacity);
    fBuffer = nullptr;
    fLength = 0;
    fCapacity = 0;
}

int32 VInlineString::GetShareCount() const noexcept {
    return fBuffer != nullptr ? _Count()->load(std::memory_order_relaxed) : 0;
}

VInlineString VInlineString::RetainFromString(const VString& text) {
    VInlineString record;
    record.fBuffer = text.RetainBuffer(&record.fLength, &record.fCapacity);
    if (record.fBuffer == nullptr) record.fLength = record.fCapacity = 0;
    return record;
}

VInlineString VInlineString::FromUnits(const UniChar* units, int32 length) noexcept {
    VInlineString record;
    if (length <= 0) return record;
    auto* buffer = static_cast<UniChar*>(
        VMemory::NewPtr(size_t(Private::CountedBufferUnits(length)) * sizeof(UniChar), kCountedBufferTag));
    if (buffer == nullptr) return record;
    std::memcpy(buffer, units, size_t(length) * sizeof(UniChar));
    buffer[length] = 0;
    record.fBuffer = buffer;
    record.fLength = record.fCapacity = length;
    new (record._Count()) std::atomic<int32>(1);
    return record;
}

void VInlineString::ToString(VString& out) const {
    out.ShareBuffer(fBuffer, fLength, fCapacity);
}

} // namespace vela
