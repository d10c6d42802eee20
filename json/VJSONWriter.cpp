#include "json/VJSONWriter.h"

#include "files/IFileSystemObject.h"
#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONPropertyIterator.h"
#include "json/VJSONPropertyMap.h"
#include "json/VJSONText.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vela {

namespace {

// The letter that follows the backslash for each ASCII unit that needs an escape ('u' for "\u00XX"), 0 for the
// units written as they are. The second table also escapes '&' and the apostrophe.
struct EscapeTable {
    char fLetters[128];
    constexpr explicit EscapeTable(bool ampersandAndApostrophe) : fLetters() {
        for (int c = 0; c < 0x20; ++c)
            fLetters[c] = 'u';
        fLetters[0x7F] = 'u';
        fLetters[0x08] = 'b';
        fLetters[0x09] = 't';
        fLetters[0x0A] = 'n';
        fLetters[0x0C] = 'f';
        fLetters[0x0D] = 'r';
        fLetters[int('"')] = '"';
        fLetters[int('\\')] = '\\';
        if (ampersandAndApostrophe) fLetters[int('&')] = fLetters[int('\'')] = 'u';
    }
};
constexpr EscapeTable kEscapes(false);
constexpr EscapeTable kMoreEscapes(true);

// Whether any of four UTF-16 units (one per 16-bit lane) needs an escape: a unit below U+0020, the quote, the
// backslash, U+007F, and with more also '&' and the apostrophe. A lane's top bit marks a match; a borrow can only
// mark lanes above a real match, so the answer is exact.
constexpr uint64 kLanes = 0x0001000100010001ull;
constexpr uint64 kTopBits = 0x8000800080008000ull;
constexpr bool HasZeroLane(uint64 v) noexcept {
    return ((v - kLanes) & ~v & kTopBits) != 0;
}
constexpr bool NeedsEscape(uint64 four, bool more) noexcept {
    bool found = ((four - 0x20 * kLanes) & ~four & kTopBits) != 0 || HasZeroLane(four ^ (u'"' * kLanes)) ||
                 HasZeroLane(four ^ (u'\\' * kLanes)) || HasZeroLane(four ^ (0x7F * kLanes));
    return found || (more && (HasZeroLane(four ^ (u'&' * kLanes)) || HasZeroLane(four ^ (u'\'' * kLanes))));
}

#if defined(__SSE2__)
// The same test over eight units.
inline bool NeedsEscape8(__m128i eight, bool more) noexcept {
    const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(eight, _mm_set1_epi16(0x1F)), _mm_setzero_si128());
    __m128i found = _mm_or_si128(control, _mm_cmpeq_epi16(eight, _mm_set1_epi16(u'"')));
    found = _mm_or_si128(found, _mm_cmpeq_epi16(eight, _mm_set1_epi16(u'\\')));
    found = _mm_or_si128(found, _mm_cmpeq_epi16(eight, _mm_set1_epi16(0x7F)));
    if (more) {
        found = _mm_or_si128(found, _mm_cmpeq_epi16(eight, _mm_set1_epi16(u'&')));
        found = _mm_or_si128(found, _mm_cmpeq_epi16(eight, _mm_set1_epi16(u'\'')));
    }
    return _mm_movemask_epi8(found) != 0;
}
#endif

// Past this length the number of units an escaped text may take no longer fits a string.
constexpr int64 kMaxEscapedLength = 0x7FFFFFFF;

} // namespace

// The text under construction: units written straight into blocks of modest size (which the allocator keeps and
// hands out again, so that a large text costs no fresh pages while it grows), copied into the string once at the
// end. A failure to allocate, or a text that would pass the length limit of strings or the limit set (within a
// block), raises 107 and is remembered; after a failure nothing more is written.
class VJSONWriter::Output {
public:
    static constexpr int32 kBlockUnits = 32 * 1024;

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    int32 Length() const noexcept { return int32(fBefore + fUsed); }
    bool Failed() const noexcept { return fFailed; }
    // Copies the text into out; false (107 raised) when out cannot hold it.
    bool Finish(VString& out) {
        if (!fBlocks.empty()) fBlocks.back().fUsed = fUsed;
        int32 length = Length();
        UniChar* units = out.GetCPointerForWrite(length);
        if (units == nullptr) return false;
        for (const Block& block : fBlocks) {
            std::memcpy(units, block.fUnits.get(), size_t(block.fUsed) * sizeof(UniChar));
            units += block.fUsed;
        }
        out.Validate(length);
        return true;
    }

    // Makes room for more units written in one run (Cursor, then Commit).
    bool Reserve(int64 more) { return more <= int64(fCapacity - fUsed) || _NewBlock(more); }
    UniChar* Cursor() noexcept { return fUnits + fUsed; }
    void Commit(int32 count) noexcept { fUsed += count; }

    void Put(UniChar c) {
        if (Reserve(1)) fUnits[fUsed++] = c;
    }
    void Put(const UniChar* units, int32 count) {
        if (count <= 0 || !Reserve(count)) return;
        std::memcpy(fUnits + fUsed, units, size_t(count) * sizeof(UniChar));
        fUsed += count;
    }
    void Put(const VString& text) { Put(text.GetCPointer(), text.GetLength()); }
    void SetLimit(int64 limit) noexcept { fLimit = std::min<int64>(limit, VString::kMaxLength); }
    void PutASCII(const char* text, int32 count) {
        if (!Reserve(count)) return;
        for (int32 i = 0; i < count; ++i)
            fUnits[fUsed + i] = UniChar(uchar(text[i]));
        fUsed += count;
    }

private:
    struct Block {
        std::unique_ptr<UniChar[]> fUnits;
        int32 fUsed = 0;
    };

    // Closes the current block and opens one with room for more units.
    bool _NewBlock(int64 more) {
        if (fFailed) return false;
        if (fBefore + fUsed + more >= fLimit) return _Fail();
        int32 capacity = int32(std::max<int64>(more, kBlockUnits));
        Block block;
        block.fUnits.reset(new (std::nothrow) UniChar[size_t(capacity)]);
        if (block.fUnits == nullptr) return _Fail();
        try {
            fBlocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return _Fail();
        }
        if (fBlocks.size() > 1) {
            fBlocks[fBlocks.size() - 2].fUsed = fUsed;
            fBefore += fUsed;
        }
        fUnits = fBlocks.back().fUnits.get();
        fUsed = 0;
        fCapacity = capacity;
        return true;
    }
    bool _Fail() {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        fFailed = true;
        return false;
    }

    std::vector<Block> fBlocks;
    int64 fBefore = 0;         // units in the blocks before the last one
    UniChar* fUnits = nullptr; // the last block
    int32 fUsed = 0;
    int32 fCapacity = 0;
    int64 fLimit = VString::kMaxLength;
    bool fFailed = false;
};

VJSONWriter::VJSONWriter(uint32 options) : VJSONWriter(nullptr, options) {}

VJSONWriter::VJSONWriter(VDBLanguageContext* context, uint32 options)
    : fContext(context), fOptions(options), fIndentUnit("\t") {
    if ((fOptions & kPretty) != 0) fIndent.FromCString("\n");
}

VJSONWriter::~VJSONWriter() = default;

void VJSONWriter::IncrementLevel() {
    ++fLevel;
    if ((fOptions & kPretty) != 0) fIndent.AppendString(fIndentUnit);
}

void VJSONWriter::DecrementLevel() {
    --fLevel;
    int32 unit = fIndentUnit.GetLength();
    if ((fOptions & kPretty) != 0 && fIndent.GetLength() > unit) fIndent.Truncate(fIndent.GetLength() - unit);
}

void VJSONWriter::InsertIndentString(VString& s) const {
    if ((fOptions & kPretty) != 0) s.Insert(fIndent, 1);
}

void VJSONWriter::AppendIndentString(VString& s) const {
    if ((fOptions & kPretty) != 0) s.AppendString(fIndent);
}

// ---- Top-level calls: the text is built apart and handed over only on success.

template <class Write> VError VJSONWriter::_Stringify(VString& out, Write&& write) {
    Output output;
    VError err = write(output);
    if (err == VE_OK && output.Failed()) err = VE_STRING_ALLOC_FAILED;
    if (err != VE_OK) return err;
    VString text;
    if (!output.Finish(text)) return VE_STRING_ALLOC_FAILED;
    out = std::move(text);
    return VE_OK;
}

VError VJSONWriter::StringifyValue(const VJSONValue& value, VString& out) {
    return _Stringify(out, [&](Output& output) { return _WriteValue(value, output); });
}

VError VJSONWriter::StringifyArray(const VJSONArray* array, VString& out) {
    return _Stringify(out, [&](Output& output) { return _WriteArray(array, output); });
}

VError VJSONWriter::StringifyObject(const VJSONObject* object, VString& out) {
    return _Stringify(out, [&](Output& output) { return _WriteObject(object, output); });
}

VError VJSONWriter::StringifyValueToFile(const IFile* file, const VJSONValue& value, uint32 options) {
    if (file == nullptr) return VE_OK;
    VJSONWriter writer(options);
    VString text;
    VError err = writer.StringifyValue(value, text);
    if (err != VE_OK) return err;
    return file->SetContentAsString(text, VTC_UTF_8, eCRM_NATIVE, false);
}

// ---- Writing

bool VJSONWriter::_IsOnStack(const void* node) const noexcept {
    return std::find(fStack.rbegin(), fStack.rend(), node) != fStack.rend();
}

bool VJSONWriter::_EnterNode(const void* node, int32 holders, Output& out) {
    const bool repeat = fRepeats.Enter(node, holders, out.Length());
    if (repeat) out.SetLimit(fRepeats.GetLimit());
    return repeat;
}

void VJSONWriter::_LeaveNode(bool repeat, Output& out) noexcept {
    if (!repeat) return;
    fRepeats.Leave(repeat, out.Length());
    out.SetLimit(fRepeats.GetLimit());
}

VError VJSONWriter::_WriteValue(const VJSONValue& value, Output& out) {
    switch (value.GetType()) {
    case JSON_null:
    case JSON_undefined:
        out.PutASCII("null", 4);
        return VE_OK;
    case JSON_false:
        out.PutASCII("false", 5);
        return VE_OK;
    case JSON_true:
        out.PutASCII("true", 4);
        return VE_OK;
    case JSON_string: {
        const VInlineString& text = value.fPayload.fString.fText; // a payload never changes in place
        return _WriteString(text.GetUnits(), text.GetLength(), out);
    }
    case JSON_number: {
        char text[kJSONNumberTextSize];
        int32 length = FormatJSONNumber(value.GetNumber(), text);
        out.PutASCII(text, length);
        return VE_OK;
    }
    case JSON_object:
        return _WriteObject(value.GetObjectPtr(), out);
    case JSON_array:
        return _WriteArray(value.GetArrayPtr(), out);
    case JSON_time: {
        VTime time;
        value.GetTime(time);
        if ((fOptions & 128) != 0) {
            // Local midnight of the date instead of UTC midnight.
            int16 year = 0, month = 0, day = 0;
            value.GetDate(&year, &month, &day);
            time.FromLocalTime(year, month, day, 0, 0, 0, 0);
        }
        VString text;
        time.GetJSONString(text, fOptions);
        out.Put(text);
        return VE_OK;
    }
    default:
        return VE_OK;
    }
}

VError VJSONWriter::_WriteElement(const VJSONValue& value, Output& out) {
    // Values are written from their place; only an object with an implementation, which writing may call, is held
    // for the time it is written.
    VJSONObject* object = value.GetObjectPtr();
    if (object == nullptr || object->fImplementation == nullptr) return _WriteValue(value, out);
    VJSONValue held(value);
    return _WriteValue(held, out);
}

VError VJSONWriter::_WriteString(const UniChar* units, int32 length, Output& out) {
    bool quoted = (fOptions & kQuoted) != 0;
    if ((fOptions & kRaw) != 0) {
        if (quoted) out.Put(u'"');
        out.Put(units, length);
        if (quoted) out.Put(u'"');
        return VE_OK;
    }
    if (int64(length) * 6 + 4 > kMaxEscapedLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return VE_STRING_ALLOC_FAILED;
    }
    const char* letters = (fOptions & kEscapeAmpersandApostrophe) != 0 ? kMoreEscapes.fLetters : kEscapes.fLetters;
    // Room for the text without escapes; each escape makes room for the rest again.
    if (!out.Reserve(int64(length) + 2)) return VE_OK; // the failure is the output's
    UniChar* start = out.Cursor();
    UniChar* d = start;
    if (quoted) *d++ = u'"';
    const UniChar* end = units + length;
    bool more = letters == kMoreEscapes.fLetters;
    for (const UniChar* p = units; p < end;) {
#if defined(__SSE2__)
        // Eight units at a time, then four, while none of them needs an escape.
        if (end - p >= 8) {
            const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            if (!NeedsEscape8(eight, more)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d), eight);
                d += 8;
                p += 8;
                continue;
            }
        } else if (length >= 8) {
            // The last few units: the eight that end the text, written again over those of them already out (when
            // none of the eight needs an escape, those were copied one for one).
            const UniChar* last = end - 8;
            const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(last));
            if (!NeedsEscape8(eight, more)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d - (p - last)), eight);
                d += end - p;
                p = end;
                continue;
            }
        }
#endif
        if (end - p >= 4) {
            uint64 four;
            std::memcpy(&four, p, sizeof(four));
            if (!NeedsEscape(four, more)) {
                std::memcpy(d, p, sizeof(four));
                d += 4;
                p += 4;
                continue;
            }
        }
        UniChar c = *p++;
        char letter = c < 0x80 ? letters[c] : 0;
        if (letter == 0) {
            *d++ = c;
            continue;
        }
        out.Commit(int32(d - start));
        if (!out.Reserve(6 + int64(end - p) + 1)) return VE_OK;
        start = d = out.Cursor();
        *d++ = u'\\';
        if (letter != 'u') {
            *d++ = UniChar(letter);
            continue;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        *d++ = u'u';
        *d++ = u'0';
        *d++ = u'0';
        *d++ = UniChar(kHex[c >> 4]);
        *d++ = UniChar(kHex[c & 15]);
    }
    if (quoted) *d++ = u'"';
    out.Commit(int32(d - start));
    return VE_OK;
}

VError VJSONWriter::_WriteArray(const VJSONArray* array, Output& out) {
    if (array == nullptr) {
        out.PutASCII("undefined", 9);
        return VE_OK;
    }
    size_t count = array->GetCount();
    if (count == 0) {
        out.PutASCII("[]", 2);
        return VE_OK;
    }
    if (_IsOnStack(array)) {
        _ThrowError(VE_JSON_CYCLE);
        return VE_JSON_CYCLE;
    }
    if ((fOptions & kRefuseWrittenTwice) != 0 && !fWritten.insert(array).second) {
        _ThrowError(VE_JSON_WRITTEN_TWICE);
        return VE_JSON_WRITTEN_TWICE;
    }
    if (fStack.size() >= size_t(kJSONTextMaxDepth)) {
        _ThrowError(VE_JSON_TOO_DEEP);
        return VE_JSON_TOO_DEEP;
    }
    bool pretty = (fOptions & kPretty) != 0;
    bool truncating = (fOptions & kTruncate) != 0;
    const bool repeat = _EnterNode(array, array->GetRefCount(), out);
    fStack.push_back(array);
    IncrementLevel();
    out.Put(u'[');
    bool truncated = false;
    VError err = VE_OK;
    // An array without locker is read in place; a shared one element by element under its lock.
    bool inPlace = array->fLocker == nullptr;
    VJSONValue copy;
    for (size_t i = 0; inPlace ? i < array->fValues.size() : array->GetAt(i, copy); ++i) {
        if (i > 0) out.Put(u',');
        int32 elementStart = out.Length();
        if (pretty) out.Put(fIndent);
        err = _WriteElement(inPlace ? array->fValues[i] : copy, out);
        if (err == VE_OK && out.Failed()) err = VE_STRING_ALLOC_FAILED; // raised: stop walking too
        if (err != VE_OK) break;
        if (truncating) {
            // The element that finds the counter full stays; the rest are dropped.
            if (fWrittenLength >= 513) {
                truncated = true;
                break;
            }
            fWrittenLength += uint32(out.Length() - elementStart);
        }
    }
    DecrementLevel();
    fStack.pop_back();
    _LeaveNode(repeat, out);
    if (err != VE_OK) return err; // the caller gives up the whole text
    if (pretty) out.Put(fIndent);
    if (!truncated) out.Put(u']');
    if (truncated && !fEllipsisWritten) {
        fEllipsisWritten = true;
        out.PutASCII("...", 3);
    }
    return VE_OK;
}

VError VJSONWriter::_WriteObject(const VJSONObject* object, Output& out) {
    if (object == nullptr) {
        out.PutASCII("undefined", 9);
        return VE_OK;
    }
    if (_IsOnStack(object)) {
        if ((fOptions & kCircularAsText) != 0) {
            out.PutASCII("\"[circular]\"", 12);
            return VE_OK;
        }
        _ThrowError(VE_JSON_CYCLE);
        return VE_JSON_CYCLE;
    }
    if ((fOptions & kRefuseWrittenTwice) != 0 && !fWritten.insert(object).second) {
        _ThrowError(VE_JSON_WRITTEN_TWICE);
        return VE_JSON_WRITTEN_TWICE;
    }
    if (fStack.size() >= size_t(kJSONTextMaxDepth)) {
        _ThrowError(VE_JSON_TOO_DEEP);
        return VE_JSON_TOO_DEEP;
    }
    const bool repeat = _EnterNode(object, object->GetRefCount(), out);
    fStack.push_back(object);
    VError err = VE_OK;
    if ((fOptions & kRefuseNonGeneric) != 0 && !object->IsGenericObject()) {
        _ThrowError(VE_JSON_NOT_GENERIC);
        err = VE_JSON_NOT_GENERIC;
    } else if (IJSONObject* implementation = object->GetImplementation()) {
        if ((fOptions & kRefuseBinarySignature) != 0 && implementation->IJSON_GetBinarySignature() != 0) {
            _ThrowError(VE_JSON_BINARY_SIGNATURE);
            err = VE_JSON_BINARY_SIGNATURE;
        } else {
            VString text;
            VError written = VE_OK;
            if (implementation->IJSON_Stringify(object, *this, text, &written) != EJSONStatus_notHandled) {
                // The implementation wrote the object itself.
                fStack.pop_back();
                if (written == VE_OK) out.Put(text);
                _LeaveNode(repeat, out);
                return written;
            }
        }
    }
    if (err == VE_OK) {
        if (object->IsEmpty()) {
            out.PutASCII("{}", 2);
        } else {
            err = _WriteMembers(object, out);
        }
    }
    fStack.pop_back();
    _LeaveNode(repeat, out);
    return err;
}

VError VJSONWriter::_WriteMembers(const VJSONObject* object, Output& out) {
    bool pretty = (fOptions & kPretty) != 0;
    bool truncating = (fOptions & kTruncate) != 0;
    IncrementLevel();
    out.Put(u'{');
    bool first = true;
    bool truncated = false;
    VError err = VE_OK;
    // A plain object (no implementation, no locker) is read in place, as its ordered iterator would read it.
    bool inPlace = object->fImplementation == nullptr && object->fLocker == nullptr;
    std::unique_ptr<VJSONPropertyConstOrderedIterator> it;
    if (!inPlace) it = std::make_unique<VJSONPropertyConstOrderedIterator>(object);
    for (size_t index = 0; inPlace ? index < object->fProperties.GetCount() : it->IsValid(); ++index) {
        if (!first) out.Put(u',');
        first = false;
        int32 memberStart = out.Length();
        if (pretty) out.Put(fIndent);
        if (inPlace) {
            const VJSONPropertyMap::Property& property = object->fProperties.At(index);
            err = _WriteString(property.fName.GetUnits(), property.fName.GetLength(), out);
            if (err != VE_OK) break;
            out.Put(u':');
            if (pretty) out.Put(u' ');
            err = _WriteElement(property.fValue, out);
        } else {
            const VString& name = it->GetName();
            err = _WriteString(name.GetCPointer(), name.GetLength(), out);
            if (err != VE_OK) break;
            out.Put(u':');
            if (pretty) out.Put(u' ');
            err = _WriteValue(it->GetValue(fContext), out);
            ++*it;
        }
        if (err == VE_OK && out.Failed()) err = VE_STRING_ALLOC_FAILED; // raised: stop walking too
        if (err != VE_OK) break;
        if (truncating) {
            // The member that finds the counter full stays; the rest are dropped.
            if (fWrittenLength > 512) {
                truncated = true;
                break;
            }
            fWrittenLength += uint32(out.Length() - memberStart);
        }
    }
    DecrementLevel();
    if (err != VE_OK) return err; // the caller gives up the whole text
    if (pretty) out.Put(fIndent);
    if (!truncated) out.Put(u'}');
    if (truncated && !fEllipsisWritten) {
        fEllipsisWritten = true;
        out.PutASCII("...", 3);
    }
    return VE_OK;
}

} // namespace vela
