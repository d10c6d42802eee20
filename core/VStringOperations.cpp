#include "core/VString.h"

#include "core/VStringUnits.h"
#include "core/platform/XICUNormalizer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

namespace vela {

using Private::AddPiece;
using Private::CopyUnits;
using Private::IsAscii;
using Private::IsHighSurrogate;

namespace {

// Patterns shorter than this are searched with a failure table on the stack.
constexpr int32 kStackTableLength = 256;
// Occurrence positions are gathered in blocks starting at 4096 bytes.
constexpr int64 kFirstPositionBlock = 4096 / sizeof(int32);

struct FreeDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

// True when p lies inside the buffer of s (its terminator included).
bool PointsInto(const UniChar* p, const VString& s) noexcept {
    const UniChar* begin = s.GetCPointer();
    const UniChar* end = begin + int64(s.GetCapacity()) + 1;
    std::less<const UniChar*> less;
    return !less(p, begin) && less(p, end);
}

// The first unit equal to c in [p, end), or null. Eight units are tested per step with word arithmetic: a
// zero unit of x ^ pattern shows through the carry trick (exact for the first zero unit, which is all we use).
const UniChar* ScanFor(const UniChar* p, const UniChar* end, UniChar c) noexcept {
    constexpr uint64 kOnes = 0x0001000100010001ULL;
    constexpr uint64 kHighs = 0x8000800080008000ULL;
    const uint64 pattern = kOnes * c;
    auto hasZeroUnit = [](uint64 x) { return ((x - kOnes) & ~x & kHighs) != 0; };
    while (end - p >= 8) {
        uint64 first, second;
        std::memcpy(&first, p, sizeof(first));
        std::memcpy(&second, p + 4, sizeof(second));
        if (hasZeroUnit(first ^ pattern) || hasZeroUnit(second ^ pattern)) break;
        p += 8;
    }
    for (; p < end; ++p) {
        if (*p == c) return p;
    }
    return nullptr;
}

// Number of equal units at the start of a and b (at most n), four units per step.
int32 CommonPrefix(const UniChar* a, const UniChar* b, int32 n) noexcept {
    int32 k = 0;
    for (; k + 4 <= n; k += 4) {
        uint64 x, y;
        std::memcpy(&x, a + k, sizeof(x));
        std::memcpy(&y, b + k, sizeof(y));
        if (uint64 differ = x ^ y; differ != 0) {
            int bits = std::endian::native == std::endian::little ? std::countr_zero(differ) : std::countl_zero(differ);
            return k + bits / 16;
        }
    }
    while (k < n && a[k] == b[k])
        ++k;
    return k;
}

// Knuth-Morris-Pratt search for one pattern over one or more texts. While nothing is matched, the scan jumps to
// the next unit equal to the pattern's first; the search stays linear in the text.
class RawSearcher {
public:
    RawSearcher(const UniChar* pattern, int32 length) noexcept : fPattern(pattern), fLength(std::max(length, 0)) {
        if (fLength < kStackTableLength) {
            fTable = fStackTable;
        } else {
            fHeapTable.reset(static_cast<int32*>(std::malloc((size_t(fLength) + 1) * sizeof(int32))));
            fTable = fHeapTable.get(); // null: the plain search below is used
        }
        if (fTable != nullptr) _Build();
    }
    RawSearcher(const RawSearcher&) = delete;
    RawSearcher& operator=(const RawSearcher&) = delete;

    // 0-based index of the first occurrence in text[from, n), or -1.
    int32 Find(const UniChar* text, int32 n, int32 from) const noexcept {
        if (fLength == 0) return from <= n ? from : -1;
        if (int64(n) - from < fLength) return -1;
        if (fTable == nullptr) return _FindPlain(text, n, from);
        const UniChar first = fPattern[0];
        int32 i = from;    // next text unit to read
        int32 matched = 0; // pattern units matched just before i
        for (;;) {
            if (matched == 0) {
                const UniChar* hit = ScanFor(text + i, text + n, first);
                if (hit == nullptr) return -1;
                i = int32(hit - text) + 1;
                matched = 1;
            }
            // Extend the match as far as it goes with a plain comparison run.
            int32 k = CommonPrefix(text + i, fPattern + matched, std::min(fLength - matched, n - i));
            i += k;
            matched += k;
            if (matched == fLength) return i - fLength;
            if (i == n) return -1;
            // text[i] differs from the pattern: fall back along the borders of what matched.
            do {
                matched = fTable[matched];
            } while (matched >= 0 && text[i] != fPattern[matched]);
            ++matched;
            ++i;
        }
    }

private:
    // fTable[i]: length of the longest proper border of the first i units; fTable[0] is -1.
    void _Build() noexcept {
        fTable[0] = -1;
        int32 border = -1;
        for (int32 i = 0; i < fLength; ++i) {
            while (border >= 0 && fPattern[border] != fPattern[i])
                border = fTable[border];
            fTable[i + 1] = ++border;
        }
    }

    // Used only when the table of a long pattern cannot be allocated.
    int32 _FindPlain(const UniChar* text, int32 n, int32 from) const noexcept {
        for (int32 i = from; i <= n - fLength; ++i) {
            if (std::memcmp(text + i, fPattern, size_t(fLength) * sizeof(UniChar)) == 0) return i;
        }
        return -1;
    }

    const UniChar* fPattern;
    int32 fLength;
    int32* fTable = nullptr;
    std::unique_ptr<int32, FreeDeleter> fHeapTable;
    int32 fStackTable[kStackTableLength + 1];
};

// A growable list of occurrence positions; Add fails (error 107 raised) when memory runs out.
class PositionList {
public:
    bool Add(int32 position) noexcept {
        if (fCount == fCapacity && !_Grow()) return false;
        fItems.get()[fCount++] = position;
        return true;
    }
    int64 Count() const noexcept { return fCount; }
    int32 operator[](int64 i) const noexcept { return fItems.get()[i]; }

private:
    bool _Grow() noexcept {
        int64 capacity = fCapacity == 0 ? kFirstPositionBlock : fCapacity * 2;
        void* grown = std::realloc(fItems.get(), size_t(capacity) * sizeof(int32));
        if (grown == nullptr) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            return false;
        }
        (void)fItems.release();
        fItems.reset(static_cast<int32*>(grown));
        fCapacity = capacity;
        return true;
    }

    std::unique_ptr<int32, FreeDeleter> fItems;
    int64 fCount = 0;
    int64 fCapacity = 0;
};

// Replaces removed units at index (0-based) by n units of text with one buffer change; false (text unchanged)
// when the result would be too long or no buffer can be had.
bool Splice(VString& s, int32 index, int32 removed, const UniChar* text, int32 n) {
    int32 length = s.GetLength();
    int64 newLength = int64(length) - removed + n;
    if (newLength >= VString::kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (n > 0 && PointsInto(text, s)) {
        // The text would move under our feet: take it from a copy.
        VString copy;
        copy.FromUniString(text, n);
        return copy.GetLength() == n && Splice(s, index, removed, copy.GetCPointer(), n);
    }
    UniChar* buffer = s.GetCPointerForWrite(int32(std::max<int64>(newLength, length)));
    if (buffer == nullptr) return false;
    CopyUnits(buffer + index + n, buffer + index + removed, int64(length) - index - removed);
    CopyUnits(buffer + index, text, n);
    s.Validate(int32(newLength));
    return true;
}

} // namespace

// ---- Appending

VString& VString::AppendUniChars(const UniChar* text, int32 n) {
    if (n <= 0 || text == nullptr) return *this;
    int64 newLength = int64(fLength) + n;
    if (newLength >= kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return *this;
    }
    // A text taken from our own buffer moves with it when the buffer grows.
    bool inside = PointsInto(text, *this);
    ptrdiff_t offset = inside ? text - fString : 0;
    if (!_MakeWritable(int32(newLength))) return *this;
    if (inside) text = fString + offset;
    CopyUnits(fString + fLength, text, n);
    fLength = int32(newLength);
    _Modified();
    return *this;
}

VString& VString::AppendUniChar(UniChar c) {
    return AppendUniChars(&c, 1);
}

VString& VString::AppendUniCString(const UniChar* text) {
    return AppendUniChars(text, UniCStringLength(text));
}

VString& VString::AppendString(const VString& other) {
    if (fLength == 0 && !IsNull() && other.IsSharedBuffer()) {
        FromString(other);
        return *this;
    }
    return AppendUniChars(other.fString, other.fLength);
}

VString& VString::AppendCString(const char* text) {
    size_t length = 0;
    if (text == nullptr) return *this;
    if (!IsAscii(text, length)) {
        AppendBlock(text, length, VTC_UTF_8);
        return *this;
    }
    int64 newLength = int64(fLength) + int64(length);
    if (newLength >= kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return *this;
    }
    if (length == 0 || !_MakeWritable(int32(newLength))) return *this;
    UniChar* out = fString + fLength;
    for (size_t i = 0; i < length; ++i)
        out[i] = UniChar(uchar(text[i]));
    fLength = int32(newLength);
    _Modified();
    return *this;
}

// ---- Editing

void VString::Insert(UniChar c, int32 pos) {
    if (pos < 1 || c == 0) return;
    Splice(*this, std::min(pos - 1, fLength), 0, &c, 1);
}

void VString::Insert(const VString& text, int32 pos) {
    if (pos < 1 || text.fLength == 0) return;
    Splice(*this, std::min(pos - 1, fLength), 0, text.fString, text.fLength);
}

void VString::Remove(int32 pos, int32 n) {
    if (pos < 1 || n <= 0 || pos > fLength) return;
    // Compared with the room left, so that n near the int32 limit cannot overflow.
    if (n >= fLength - pos + 1) n = fLength - pos + 1;
    Splice(*this, pos - 1, n, nullptr, 0);
}

void VString::Replace(const VString& text, int32 pos, int32 n) {
    if (pos < 1 || n < 1 || pos > fLength) return;
    if (n >= fLength - pos + 1) n = fLength - pos + 1;
    Splice(*this, pos - 1, n, text.fString, text.fLength);
}

void VString::_Truncate(int32 n, bool keepPairs) {
    n = std::max(n, 0);
    if (keepPairs && n >= 1 && n <= fLength && IsHighSurrogate(fString[n - 1])) --n;
    if (n >= fLength) return;
    bool foreign = (fFlags & kForeignBuffer) != 0, isPrivate = (fFlags & kPrivateBuffer) != 0;
    if (!_IsInline() && !(foreign && isPrivate)) {
        // A heap block: shrunk when too much would be left unused; a shared one (or one inside someone else's
        // counted buffer) is replaced by a block of the string's own. Inline areas and caller buffers stay.
        bool wasteful = int64(fMaxLength) > int64(n) + n / 8 + 32;
        bool shared = !isPrivate && (foreign || _Count()->load(std::memory_order_acquire) >= 2);
        if ((wasteful || shared) && !_ReallocBuffer(n, true)) return;
    }
    fLength = n;
    _Modified();
}

void VString::SubString(int32 pos, int32 n) {
    if (pos < 1 || pos > fLength || n < 0) return;
    int32 kept = std::min(n, fLength - pos + 1);
    if (pos == 1 && kept == fLength) return;
    if (!_MakeWritable(fLength)) return;
    CopyUnits(fString, fString + pos - 1, kept);
    fLength = kept;
    _Modified();
}

void VString::TrimUniChar(UniChar c) {
    if (fLength == 0) return;
    int32 lead = 0;
    while (lead < fLength && fString[lead] == c)
        ++lead;
    if (lead == fLength) {
        Clear();
        return;
    }
    int32 trail = 0;
    while (fString[fLength - 1 - trail] == c)
        ++trail;
    if (lead == 0 && trail == 0) return;
    int32 kept = fLength - lead - trail;
    if (!_MakeWritable(fLength)) return;
    CopyUnits(fString, fString + lead, kept);
    fLength = kept;
    _Modified();
}

void VString::Decompose() noexcept {
    XICUNormalizeCanonical(*this, false);
}

void VString::Compose() noexcept {
    XICUNormalizeCanonical(*this, true);
}

void VString::Swap(VString& other) noexcept {
    if (this == &other) return;
    // Only a heap block of the string's own may change hands; a caller's buffer stays with its wrapper.
    auto ownsHeapBlock = [](const VString& s) { return !s._IsInline() && (s.fFlags & kForeignBuffer) == 0; };
    auto finish = [](VString& s) {
        s.SetNull(false);
        s.fFlags |= kDirtyFlag;
    };
    bool mine = ownsHeapBlock(*this), theirs = ownsHeapBlock(other);

    if (mine && theirs) {
        std::swap(fString, other.fString);
        std::swap(fLength, other.fLength);
        std::swap(fMaxLength, other.fMaxLength);
        uint8 myPrivate = fFlags & kPrivateBuffer;
        fFlags = uint8((fFlags & ~kPrivateBuffer) | (other.fFlags & kPrivateBuffer));
        other.fFlags = uint8((other.fFlags & ~kPrivateBuffer) | myPrivate);
        finish(*this);
        finish(other);
        return;
    }

    if (mine || theirs) {
        VString& heap = mine ? *this : other;
        VString& small = mine ? other : *this;
        UniChar* block = heap.fString;
        int32 length = heap.fLength, capacity = heap.fMaxLength;
        uint8 privateBit = heap.fFlags & kPrivateBuffer;
        heap._ResetToInline();
        heap.fLength = 0;
        heap.fString[0] = 0;
        heap._CopyFrom(small.fString, small.fLength);
        if (heap.fLength != small.fLength) {
            // No room for the small text: the block goes back, nothing changed.
            heap._Clear();
            heap.fString = block;
            heap.fLength = length;
            heap.fMaxLength = capacity;
            heap.fFlags |= privateBit;
            return;
        }
        small._ReleaseBuffer();
        small.fFlags = uint8((small.fFlags & ~(kForeignBuffer | kPrivateBuffer)) | privateBit);
        small.fString = block;
        small.fLength = length;
        small.fMaxLength = capacity;
        finish(heap);
        finish(small);
        return;
    }

    // Inline areas and caller buffers: the units are exchanged, each side first made large enough.
    int32 longest = std::max(fLength, other.fLength);
    if (!_MakeWritable(longest) || !other._MakeWritable(longest)) return;
    std::swap_ranges(fString, fString + longest, other.fString);
    std::swap(fLength, other.fLength);
    _Modified();
    other._Modified();
}

void VString::Exchange(UniChar a, UniChar b, int32 pos, int32 n) {
    if (IsNull() || fLength == 0 || pos < 1 || n < 1) return;
    int32 first = FindUniChar(a, pos, false);
    if (first == 0 || !_MakeWritable(fLength)) return;
    for (int32 i = first - 1; i < fLength && n > 0; ++i) {
        if (fString[i] == a) {
            fString[i] = b;
            --n;
        }
    }
    _Modified();
}

int32 VString::ExchangeRawString(const VString& pattern, const VString& replacement, int32 pos, int32 n) {
    const int32 m = pattern.fLength, r = replacement.fLength;
    if (m == 0 || n < 1 || pos < 1 || int64(pos) - 1 + m > fLength) return 0;
    if (&pattern == this || &replacement == this) {
        // Read both from copies that keep the old text while this one changes.
        VString patternCopy(pattern), replacementCopy(replacement);
        return ExchangeRawString(patternCopy, replacementCopy, pos, n);
    }
    RawSearcher searcher(pattern.fString, m);
    int32 at = searcher.Find(fString, fLength, pos - 1);
    if (at < 0) return 0;

    int32 count = 0;
    if (r == m) {
        if (!_MakeWritable(fLength)) return 0;
        for (;;) {
            CopyUnits(fString + at, replacement.fString, r);
            if (++count == n || (at = searcher.Find(fString, fLength, at + m)) < 0) break;
        }
        _Modified();
        return count;
    }

    if (r < m) {
        // Left to right in place: what is written never passes what is still to be searched.
        if (!_MakeWritable(fLength)) return 0;
        int32 read = at, write = at;
        while (at >= 0 && count < n) {
            CopyUnits(fString + write, fString + read, at - read);
            write += at - read;
            CopyUnits(fString + write, replacement.fString, r);
            write += r;
            read = at + m;
            if (++count < n) at = searcher.Find(fString, fLength, read);
        }
        CopyUnits(fString + write, fString + read, fLength - read);
        fLength = write + (fLength - read);
        _Modified();
        return count;
    }

    // Growing: gather the occurrences, size the buffer once, then fill from the back.
    PositionList positions;
    for (;;) {
        if (!positions.Add(at)) return 0;
        if (positions.Count() == n || (at = searcher.Find(fString, fLength, at + m)) < 0) break;
    }
    const int64 growth = r - m;
    const int64 total = positions.Count();
    int64 finalLength = int64(fLength) + total * growth;
    if (finalLength >= kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return 0;
    }
    if (!_MakeWritable(int32(finalLength))) return 0;
    int64 end = fLength; // end of the source not yet moved
    for (int64 k = total - 1; k >= 0; --k) {
        int64 occurrence = positions[k];
        int64 behind = occurrence + m;
        CopyUnits(fString + behind + (k + 1) * growth, fString + behind, end - behind);
        CopyUnits(fString + occurrence + k * growth, replacement.fString, r);
        end = occurrence;
    }
    fLength = int32(finalLength);
    _Modified();
    return int32(total);
}

// ---- Reading and searching

void VString::GetSubString(int32 pos, int32 n, VString& out) const {
    if (pos < 1 || n <= 0 || pos > fLength) {
        out.Clear();
        return;
    }
    out.FromUniString(fString + pos - 1, std::min(n, fLength - pos + 1));
}

VString VString::Before(int32 pos) const {
    VString out;
    if (pos >= 1) out.FromUniString(fString, pos > fLength ? fLength : pos - 1);
    return out;
}

VString VString::After(int32 pos) const {
    VString out;
    if (pos < 1) {
        out.FromUniString(fString, fLength);
    } else if (pos < fLength) {
        out.FromUniString(fString + pos, fLength - pos);
    }
    return out;
}

int32 VString::FindUniChar(UniChar c, int32 start, bool backwards) const noexcept {
    if (fLength == 0 || start > fLength) return 0;
    int32 from = std::max(start, 1);
    if (!backwards) {
        const UniChar* hit = ScanFor(fString + from - 1, fString + fLength, c);
        return hit != nullptr ? int32(hit - fString) + 1 : 0;
    }
    for (int32 i = from; i >= 1; --i) {
        if (fString[i - 1] == c) return i;
    }
    return 0;
}

int32 VString::FindRawString(const VString& pattern, int32 pos) const noexcept {
    if (pos < 1 || int64(pos) - 1 + pattern.fLength > fLength) return 0;
    int32 hit = FindRawString(fString + pos - 1, fLength - pos + 1, pattern.fString, pattern.fLength);
    return hit != 0 ? hit + pos - 1 : 0;
}

int32 VString::FindRawString(const UniChar* text, int32 n, const UniChar* pattern, int32 m) noexcept {
    if (m <= 0) return 1;
    if (text == nullptr || pattern == nullptr || n < m) return 0;
    RawSearcher searcher(pattern, m);
    return searcher.Find(text, n, 0) + 1;
}

bool VString::BeginsWithRawString(const VString& prefix) const noexcept {
    return prefix.fLength <= fLength &&
           std::memcmp(fString, prefix.fString, size_t(prefix.fLength) * sizeof(UniChar)) == 0;
}

bool VString::EndsWithRawString(const VString& suffix) const noexcept {
    return suffix.fLength <= fLength && std::memcmp(fString + fLength - suffix.fLength, suffix.fString,
                                                    size_t(suffix.fLength) * sizeof(UniChar)) == 0;
}

bool VString::GetSubStrings(UniChar separator, std::vector<VString>& pieces, bool keepEmpty, bool trim) const {
    pieces.clear();
    if (IsNull() || fLength == 0) {
        if (keepEmpty) pieces.push_back(*this);
        return false;
    }
    bool found = false;
    int32 start = 0;
    const UniChar* end = fString + fLength;
    for (const UniChar* hit = ScanFor(fString, end, separator); hit != nullptr;
         hit = ScanFor(fString + start, end, separator)) {
        int32 at = int32(hit - fString);
        AddPiece(pieces, fString, start, at, keepEmpty, trim);
        start = at + 1;
        found = true;
    }
    AddPiece(pieces, fString, start, fLength, keepEmpty, trim);
    return found;
}

bool VString::Join(const std::vector<VString>& pieces, UniChar separator) {
    VStr4 text;
    text.AppendUniChar(separator);
    return Join(pieces, text);
}

bool VString::Join(const std::vector<VString>& pieces, const VString& separator) {
    if (pieces.empty()) {
        Clear();
        return true;
    }
    bool readsItself = &separator == this;
    int64 total = int64(separator.fLength) * int64(pieces.size() - 1);
    for (const VString& piece : pieces) {
        readsItself = readsItself || &piece == this;
        total += piece.fLength;
        if (total >= kMaxLength) break;
    }
    if (total >= kMaxLength) {
        _ThrowError(VE_STRING_ALLOC_FAILED);
        return false;
    }
    if (readsItself) {
        // Built aside: this text is one of the inputs.
        VString joined;
        if (!joined.Join(pieces, separator)) return false;
        Swap(joined);
        return true;
    }
    if (!_IsWritableFor(int32(total)) && !_ReallocBuffer(int32(total), false)) return false;
    UniChar* out = fString;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            CopyUnits(out, separator.fString, separator.fLength);
            out += separator.fLength;
        }
        CopyUnits(out, pieces[i].fString, pieces[i].fLength);
        out += pieces[i].fLength;
    }
    fLength = int32(total);
    _Modified();
    return true;
}

float VString::SimilarToString(const VString& other) const {
    if (fLength == 0 || other.fLength == 0) return 0.0f;
    size_t columns = size_t(other.fLength) + 1;
    std::unique_ptr<int32, FreeDeleter> rows(static_cast<int32*>(std::calloc(columns * 2, sizeof(int32))));
    if (!rows) {
        _ThrowError(VE_MEMORY_FULL);
        return 0.0f;
    }
    int32* previous = rows.get();
    int32* current = previous + columns;
    for (int32 i = 1; i <= fLength; ++i) {
        for (int32 j = 1; j <= other.fLength; ++j) {
            current[j] =
                fString[i - 1] == other.fString[j - 1] ? previous[j - 1] + 1 : std::max(previous[j], current[j - 1]);
        }
        std::swap(previous, current);
    }
    return float(previous[other.fLength]) / float(fLength);
}

bool VString::IsStringValid() const noexcept {
    return fLength <= 0 || fString[fLength] == 0;
}

// ---- Comparison

bool VString::EqualToStringRaw(const VString& other) const noexcept {
    return fLength == other.fLength && std::memcmp(fString, other.fString, size_t(fLength) * sizeof(UniChar)) == 0;
}

CompareResult VString::CompareToStringRaw(const VString& other) const noexcept {
    // Both buffers are terminated, so the walk stops at the end of the shorter text at the latest.
    for (const UniChar *a = fString, *b = other.fString;; ++a, ++b) {
        if (*a != *b) return *a < *b ? CR_SMALLER : CR_BIGGER;
        if (*a == 0) return CR_EQUAL;
    }
}

CompareResult VString::CompareToStringRawCase(const VString& other) const noexcept {
    auto lower = [](UniChar c) { return c >= u'A' && c <= u'Z' ? UniChar(c + (u'a' - u'A')) : c; };
    for (const UniChar *a = fString, *b = other.fString;; ++a, ++b) {
        UniChar x = lower(*a), y = lower(*b);
        if (x != y) return x < y ? CR_SMALLER : CR_BIGGER;
        if (x == 0) return CR_EQUAL;
    }
}

bool VString::EqualToUSASCIICString(const char* text) const noexcept {
    if (text == nullptr) return fLength == 0;
    int32 i = 0;
    for (; text[i] != 0; ++i) {
        if (i >= fLength || int32(static_cast<signed char>(text[i])) != int32(fString[i])) return false;
    }
    return i == fLength;
}

// ---- Operators

bool operator==(const VString& a, const VString& b) noexcept {
    return a.EqualToStringRaw(b);
}

VString operator+(const VString& a, const VString& b) {
    VString sum(a);
    sum.AppendString(b);
    return sum;
}

} // namespace vela
