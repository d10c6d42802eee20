#include "core/VTextConverter.h"

#include "core/VCppMemMgr.h"
#include "core/VError.h"
#include "core/VMemoryBuffer.h"
#include "core/VString.h"

#include <algorithm>

namespace vela {

namespace {

constexpr int32 kBufferTag = FourCCTag("memb");
constexpr int64 kMax = VString::kMaxLength;

void RaiseConversionFailure(const char* why) {
    VString text(why);
    _ThrowError(VE_TEXT_CONVERSION_FAILED, &text);
}

// A writable area of at least `needed` bytes in all: its start and usable size, or null.
struct Area {
    uchar* data = nullptr;
    size_t capacity = 0;
};

// Encodes a complete text behind `used` bytes of an output that `reserve` grows, leaving extraBytes free
// behind the result. Each round sizes the output for the rest and lets the converter fill it; a round that
// neither consumes nor produces ends the work, so a unit the converter refuses (a lone surrogate in UCS-4, a
// fault) cannot make it loop. A round that fills the output exactly is followed by another, which lets a
// converter hand out bytes it held back for want of room. True when every unit was converted.
template <class Reserve>
bool ConvertWhole(VFromUnicodeConverter& converter, const UniChar* source, int32 sourceUnits, size_t& used,
                  size_t extraBytes, Reserve reserve) {
    const size_t charSize = size_t(std::max(converter.GetCharSize(), 1));
    const int32 units = source != nullptr ? std::max(sourceUnits, 0) : 0;
    int32 done = 0;
    bool filled = false;
    for (;;) {
        size_t needed = 0;
        if (__builtin_mul_overflow(charSize, size_t(units - done) + 2, &needed) ||
            __builtin_add_overflow(needed, used, &needed) || __builtin_add_overflow(needed, extraBytes, &needed)) {
            RaiseConversionFailure("mem failure");
            return false;
        }
        Area area = reserve(needed);
        if (area.data == nullptr) {
            RaiseConversionFailure("mem failure");
            return false;
        }
        if (done >= units && !filled) return true;

        size_t room = area.capacity - extraBytes - used;
        bool progressed = false;
        for (;;) {
            int32 consumed = 0;
            size_t produced = 0;
            converter.Convert(source + done, units - done, &consumed, area.data + used, room, &produced);
            consumed = std::clamp(consumed, 0, units - done);
            produced = std::min(produced, room);
            done += consumed;
            used += produced;
            room -= produced;
            progressed = progressed || consumed > 0 || produced > 0;
            filled = produced > 0 && room == 0;
            if (produced == 0 || room == 0 || done >= units) break;
        }
        if (!progressed) return done >= units;
        if (done >= units && !filled) return true;
    }
}

} // namespace

bool VToUnicodeConverter::ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& text) {
    if (bytesConsumed != nullptr) *bytesConsumed = 0;
    if (sourceBytes == 0) return true;
    const auto* bytes = static_cast<const uchar*>(source);
    int32 produced = text.GetLength();

    auto grow = [&text](int64 wanted) -> UniChar* {
        UniChar* buffer = text.GetCPointerForWrite(int32(std::min(wanted, kMax)));
        if (buffer == nullptr) RaiseConversionFailure("conversion failed (EnsureSize failed).");
        return buffer;
    };
    // Room for one unit per byte: no set takes less than a byte per unit.
    UniChar* buffer = grow(int64(produced) + int64(std::min<size_t>(sourceBytes, kMax)) + 1);
    if (buffer == nullptr) return false;

    size_t consumed = 0;
    bool ok = true;
    for (;;) {
        size_t used = 0;
        int32 made = 0;
        ok = Convert(bytes + consumed, sourceBytes - consumed, &used, buffer + produced, text.GetCapacity() - produced,
                     &made) &&
             ok;
        consumed += std::min(used, sourceBytes - consumed);
        produced += std::clamp(made, 0, text.GetCapacity() - produced);
        if (consumed >= sourceBytes) break;

        size_t remaining = sourceBytes - consumed;
        if (remaining > size_t(text.GetCapacity() - produced)) {
            int64 wanted = std::min(int64(produced) + int64(std::min<size_t>(remaining, kMax)) + 100, kMax);
            if (wanted > text.GetCapacity()) {
                text.Validate(produced); // growth keeps only the validated units
                buffer = grow(wanted);
                if (buffer == nullptr) {
                    ok = false;
                    break;
                }
                continue;
            }
        }
        if (used == 0) break; // a character cut by the end of the source, or one the converter refuses
    }
    text.Validate(produced);
    if (bytesConsumed != nullptr) *bytesConsumed = consumed;
    return ok;
}

bool VFromUnicodeConverter::ConvertRealloc(const UniChar* source, int32 sourceUnits, void*& buffer, size_t& ioSize,
                                           size_t extraBytes) {
    size_t used = buffer != nullptr ? ioSize : 0;
    bool done = ConvertWhole(*this, source, sourceUnits, used, extraBytes, [&buffer](size_t needed) {
        size_t capacity = buffer != nullptr ? VMemory::GetPtrSize(buffer) : 0;
        if (buffer != nullptr && capacity >= needed) return Area{static_cast<uchar*>(buffer), capacity};
        void* block = buffer != nullptr ? VMemory::SetPtrSize(buffer, needed) : VMemory::NewPtr(needed, kBufferTag);
        if (block == nullptr) return Area{};
        buffer = block;
        return Area{static_cast<uchar*>(block), needed};
    });
    ioSize = used;
    return done;
}

bool VFromUnicodeConverter::ConvertToBuffer(const UniChar* source, int32 sourceUnits,
                                            VMemoryBuffer<1024, 2, 1048576>& buffer, size_t extraBytes) {
    size_t used = buffer.GetDataSize();
    bool done = ConvertWhole(*this, source, sourceUnits, used, extraBytes, [&buffer](size_t needed) {
        if (!buffer.EnsureCapacity(needed)) return Area{};
        return Area{static_cast<uchar*>(buffer.GetDataPtr()), buffer.GetAllocatedSize()};
    });
    buffer.SetDataSizeUnchecked(used);
    return done;
}

} // namespace vela
