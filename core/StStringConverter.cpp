#include "core/StStringConverter.h"

#include "core/VCppMemMgr.h"
#include "core/VString.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vela {

namespace {

constexpr int32 kBufferTag = FourCCTag("memb");

} // namespace

StStringConverterBase::StStringConverterBase(CharSet charSet, ECarriageReturnMode mode)
    : fData(fInline), fMode(mode), fConverter(VTextConverters::Get()->RetainFromUnicodeConverter(charSet)) {
    fInline[0] = 0;
}

StStringConverterBase::StStringConverterBase(const StStringConverterBase& other)
    : VObject(other), fData(fInline), fMode(other.fMode), fConverter(other.fConverter) {
    if (fConverter != nullptr) fConverter->Retain();
    _CopyBytesFrom(other);
}

StStringConverterBase::StStringConverterBase(StStringConverterBase&& other) noexcept
    : VObject(other), fData(fInline), fMode(other.fMode), fConverter(other.fConverter) {
    if (fConverter != nullptr) fConverter->Retain();
    if (other.fHeapBlock == nullptr || other.fData != other.fHeapBlock) {
        _CopyBytesFrom(other);
        return;
    }
    fHeapBlock = std::exchange(other.fHeapBlock, nullptr);
    fData = static_cast<char*>(fHeapBlock);
    fCapacity = other.fCapacity;
    fSize = other.fSize;
    fOK = other.fOK;
    other.fData = other.fInline;
    other.fCapacity = kInlineSize;
    other.fSize = 0;
    other.fInline[0] = 0;
}

StStringConverterBase::~StStringConverterBase() {
    VMemory::DisposePtr(fHeapBlock);
    if (fConverter != nullptr) fConverter->Release();
}

void StStringConverterBase::_CopyBytesFrom(const StStringConverterBase& other) noexcept {
    // The terminator goes along: at most kMaxTerminatorBytes behind the result, within the source's area.
    size_t bytes = std::min(other.fCapacity, other.fSize + kMaxTerminatorBytes);
    if (other.fData != other.fInline) {
        fHeapBlock = VMemory::NewPtr(other.fCapacity, kBufferTag);
        if (fHeapBlock == nullptr) {
            fOK = false;
            fSize = 0;
            _Terminate(kMaxTerminatorBytes);
            return;
        }
        fData = static_cast<char*>(fHeapBlock);
        fCapacity = other.fCapacity;
    }
    std::memcpy(fData, other.fData, bytes);
    fSize = other.fSize;
    fOK = other.fOK;
}

void StStringConverterBase::_Terminate(size_t terminatorBytes) noexcept {
    std::memset(fData + fSize, 0, terminatorBytes);
}

bool StStringConverterBase::_ConvertString(const UniChar* text, int32 length, size_t terminatorBytes) {
    terminatorBytes = std::min(terminatorBytes, kMaxTerminatorBytes);
    if (text == nullptr || length < 0) length = 0;
    fSize = 0;
    fOK = false;
    if (fConverter == nullptr || !fConverter->IsValid()) {
        _Terminate(terminatorBytes);
        return false;
    }

    // First into the area we have (the inline one, or the block of an earlier conversion).
    int32 consumed = 0;
    size_t produced = 0;
    bool ok = fConverter->Convert(text, length, &consumed, fData, fCapacity - terminatorBytes, &produced);
    if (consumed >= length) {
        fSize = std::min(produced, fCapacity - terminatorBytes);
        fOK = ok;
        _Terminate(terminatorBytes);
        return fOK;
    }

    // Then into a heap block that grows as needed; ConvertRealloc appends behind size bytes, so start at 0.
    void* block = fHeapBlock;
    size_t size = 0;
    ok = fConverter->ConvertRealloc(text, length, block, size, terminatorBytes);
    if (block != nullptr) {
        fHeapBlock = block;
        fData = static_cast<char*>(block);
        fCapacity = VMemory::GetPtrSize(block);
    }
    if (!ok || fCapacity < size + terminatorBytes) {
        // An empty result on the inline area; the block stays ours for the next conversion.
        fData = fInline;
        fCapacity = kInlineSize;
        _Terminate(terminatorBytes);
        return false;
    }
    fSize = size;
    fOK = true;
    _Terminate(terminatorBytes);
    return true;
}

StStringConverter<char>::StStringConverter(const VString& text, CharSet charSet, ECarriageReturnMode mode)
    : StStringConverterBase(charSet, mode) {
    ConvertString(text);
}

const char* StStringConverter<char>::ConvertString(const VString& text) {
    if (fMode == eCRM_NATIVE) {
        _ConvertString(text.GetCPointer(), text.GetLength(), 1);
        return fData;
    }
    VString converted(text);
    if (converted.ConvertCarriageReturns(fMode)) {
        _ConvertString(converted.GetCPointer(), converted.GetLength(), 1);
    } else {
        fSize = 0;
        fOK = false;
        _Terminate(1);
    }
    return fData;
}

} // namespace vela
