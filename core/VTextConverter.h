#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"

namespace vela {

class VString;
template <size_t Granularity, size_t Divisor, size_t Cap> class VMemoryBuffer;

// Decodes bytes of one character set into UTF-16. Shared instances hold no per-call state.
class VToUnicodeConverter : public VObject, public IRefCountable {
public:
    virtual bool IsValid() const { return true; }
    // Converts as much as fits: *bytesConsumed bytes of source give *unitsProduced units. False reports a
    // conversion fault (a substitution or a stop); what was done is still reported.
    virtual bool Convert(const void* source, size_t sourceBytes, size_t* bytesConsumed, UniChar* destination,
                         int32 destinationUnits, int32* unitsProduced) = 0;
    // Appends the decoded bytes to text; *bytesConsumed receives the bytes used (may be null).
    virtual bool ConvertString(const void* source, size_t sourceBytes, size_t* bytesConsumed, VString& text);
    // Bytes per unit the source usually takes, for sizing.
    virtual int32 GetCharSize() const { return 2; }
    // Forgets the text decoded so far (a shift state, the bytes of a cut character): the next call starts a
    // new text. Converters without such state do nothing.
    virtual void Reset() {}
};

// Encodes UTF-16 into bytes of one character set.
class VFromUnicodeConverter : public VObject, public IRefCountable {
public:
    virtual bool IsValid() const { return true; }
    // Converts as much as fits: *unitsConsumed units give *bytesProduced bytes. A null destination only
    // counts the bytes.
    virtual bool Convert(const UniChar* source, int32 sourceUnits, int32* unitsConsumed, void* destination,
                         size_t destinationBytes, size_t* bytesProduced) = 0;
    // An upper estimate of the bytes one UTF-16 unit takes.
    virtual int32 GetCharSize() const = 0;

    // Converts a complete text behind the ioSize bytes already used in buffer, a block of the memory manager
    // (null for none) that is made or grown as needed; on return ioSize holds all the bytes used, with at least
    // extraBytes of room behind them. False when a unit could not be converted (what came before it stays) or
    // memory ran out (library error 300 "mem failure" raised).
    bool ConvertRealloc(const UniChar* source, int32 sourceUnits, void*& buffer, size_t& ioSize, size_t extraBytes);
    // Appends the conversion of a complete text behind the buffer's used bytes, with extraBytes of room left
    // behind it; false as for ConvertRealloc.
    bool ConvertToBuffer(const UniChar* source, int32 sourceUnits, VMemoryBuffer<1024, 2, 1048576>& buffer,
                         size_t extraBytes);
};

} // namespace vela
