// The XML text form of bags (VValueBag::DumpXML and its helpers).
#include "values/VValueBag.h"

#include "core/VString.h"
#include "values/VBagArray.h"
#include "values/VBagMarkers.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vela {

namespace {

using namespace VBagMarkers;

using AttributeDictionary = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;

constexpr int32 kMaxIndentation = 100;
// The characters whose presence puts character data in a CDATA section.
constexpr UniChar kMarkup[] = {u'&', u'>', u'"', u'\'', u'<'};
// The longest escape an attribute text writes for one unit ("&quot;").
constexpr int64 kMaxEscapeUnits = 6;

bool IsLineSpace(UniChar c) noexcept {
    return c == u'\t' || c == u'\n' || c == u'\r';
}

// Units XML allows in a document, a surrogate pair counting as two: true for c alone.
bool IsPlainXMLUnit(UniChar c) noexcept {
    return c >= 0x20 ? (c < 0xD800 || (c >= 0xE000 && c <= 0xFFFD)) : IsLineSpace(c);
}

bool IsHighSurrogate(UniChar c) noexcept {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(UniChar c) noexcept {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The units at text[i] that XML allows: 1, 2 for a surrogate pair, 0 for a unit to drop (a lone surrogate too).
int32 XMLUnitsAt(const UniChar* text, int32 i, int32 length) noexcept {
    const UniChar c = text[i];
    if (IsPlainXMLUnit(c)) return 1;
    return IsHighSurrogate(c) && i + 1 < length && IsLowSurrogate(text[i + 1]) ? 2 : 0;
}

bool NeedsSection(const UniChar* text, int32 length, const UniChar* setBegin, const UniChar* setEnd) noexcept {
    bool lineSpace = false;
    bool other = false;
    for (int32 i = 0; i < length; ++i) {
        const UniChar c = text[i];
        for (const UniChar* s = setBegin; s < setEnd; ++s)
            if (*s == c) return true;
        if (IsLineSpace(c))
            lineSpace = true;
        else if (c != u' ')
            other = true;
    }
    return lineSpace && other;
}

// XML names (letters, "_" and ":" first; digits, "-", "." and combining marks after), by code point.
bool IsNameStartChar(uint32 c) noexcept {
    if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}
bool IsNameChar(uint32 c) noexcept {
    return IsNameStartChar(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Converts a stored name (UTF-8 bytes) to UTF-16 into out; false when the bytes are not well-formed UTF-8 or not
// an XML name.
bool NameFromKey(const uint8* bytes, size_t length, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < length;) {
        uint32 c = bytes[i];
        size_t more = 0;
        uint32 least = 0;
        if (c < 0x80) {
            more = 0;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1, c &= 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, c &= 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, c &= 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (length - i <= more) return false;
        for (size_t k = 1; k <= more; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (bytes[i + k] & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        if (!(i == 0 ? IsNameStartChar(c) : IsNameChar(c))) return false;
        i += more + 1;
        if (c < 0x10000) {
            out.push_back(char16_t(c));
        } else {
            out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    return !out.empty();
}

// Walks the names of a packed dictionary in order: its keys block holds, per entry, a length byte and the bytes.
template <class Dictionary> class StKeyWalker {
public:
    // A null or empty dictionary has no names to walk.
    explicit StKeyWalker(const Dictionary* dictionary)
        : fNext(dictionary == nullptr || dictionary->IsEmpty()
                    ? nullptr
                    : reinterpret_cast<const uint8*>(dictionary->GetKeyAt(0).GetKey()) - 1) {}
    // The name of the next entry.
    void Next(const uint8*& bytes, size_t& length) noexcept {
        length = fNext[0];
        bytes = fNext + 1;
        fNext += 1 + length;
    }

private:
    const uint8* fNext;
};

bool Equals(const uint8* bytes, size_t length, const StPackedDictionaryKey& key) noexcept {
    return length == key.GetKeyLength() && std::memcmp(bytes, key.GetKey(), length) == 0;
}

bool IsXMLName(const UniChar* text, int32 length) noexcept {
    if (length <= 0) return false;
    for (int32 i = 0; i < length; ++i) {
        uint32 c = text[i];
        if (IsHighSurrogate(text[i])) {
            if (i + 1 >= length || !IsLowSurrogate(text[i + 1])) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        } else if (IsLowSurrogate(text[i])) {
            return false;
        }
        if (!(i == 0 ? IsNameStartChar(c) : IsNameChar(c))) return false;
        if (c >= 0x10000) ++i;
    }
    return true;
}

// Appends to a string through its buffer, which grows by doubling; the string's length is set by Finish.
class StUnitSink {
public:
    explicit StUnitSink(VString& out) noexcept : fOut(out), fStart(out.GetLength()), fLength(fStart) {}
    StUnitSink(const StUnitSink&) = delete;
    StUnitSink& operator=(const StUnitSink&) = delete;

    // Room for n more units; false (and every later write dropped) when the string cannot grow so.
    bool Reserve(int64 n) { return fLength + n <= fCapacity || _Grow(n); }
    // Writes that follow a Reserve covering them.
    void PutReserved(UniChar c) noexcept { fData[fLength++] = c; }
    void PutReserved(const UniChar* text, int32 n) noexcept {
        std::memcpy(fData + fLength, text, size_t(n) * sizeof(UniChar));
        fLength += n;
    }
    void Put(UniChar c) {
        if (Reserve(1)) PutReserved(c);
    }
    void Put(const UniChar* text, int32 n) {
        if (Reserve(n)) PutReserved(text, n);
    }
    void PutAscii(const char* text, int32 n) {
        if (!Reserve(n)) return;
        for (int32 i = 0; i < n; ++i)
            fData[fLength++] = UniChar(uint8(text[i]));
    }
    template <size_t N> void PutAscii(const char (&text)[N]) { PutAscii(text, int32(N - 1)); }
    void PutTabs(int32 n) {
        if (!Reserve(n)) return;
        for (int32 i = 0; i < n; ++i)
            fData[fLength++] = u'\t';
    }

    bool Failed() const noexcept { return fFailed; }
    // Keeps what was written (keep) or gives the string back its length before the sink.
    void Finish(bool keep) {
        if (fData != nullptr) fOut.Validate(keep && !fFailed ? fLength : fStart);
    }

private:
    bool _Grow(int64 n) {
        if (fFailed) return false;
        const int64 needed = fLength + n;
        int64 capacity = std::max<int64>({needed, int64(fCapacity) * 2, 1024});
        if (capacity >= VString::kMaxLength) capacity = needed;
        if (capacity >= VString::kMaxLength) {
            _ThrowError(VE_STRING_ALLOC_FAILED);
            fFailed = true;
            return false;
        }
        if (fData != nullptr) fOut.Validate(fLength); // the text written so far moves with the buffer
        UniChar* data = fOut.GetCPointerForWrite(int32(capacity));
        if (data == nullptr) {
            fFailed = true;
            return false;
        }
        fData = data;
        fCapacity = int32(capacity);
        return true;
    }

    VString& fOut;
    const int32 fStart;
    int32 fLength;
    int32 fCapacity = 0;
    UniChar* fData = nullptr;
    bool fFailed = false;
};

} // namespace

class VValueBag::_XMLWriter {
public:
    explicit _XMLWriter(VString& out) : fSink(out) {}

    VError Write(const VValueBag& bag, const UniChar* name, int32 nameLength, int32 level) {
        // One block of about the text's size: no copies while it grows, and no more pages touched than it needs.
        const int64 estimate = _EstimateUnits(bag, nameLength, level, 1);
        fSink.Reserve(estimate + estimate / 8);
        VError error = _DumpXML(bag, name, nameLength, level, 1);
        if (error == VE_OK && fSink.Failed()) error = VE_STRING_ALLOC_FAILED;
        fSink.Finish(error == VE_OK);
        if (error == VE_INVALID_PARAMETER) _ThrowError(error);
        return error;
    }

private:
    // About the units of the text: per attribute its name, its stored units and the markup around them.
    static int64 _EstimateUnits(const VValueBag& bag, int64 nameLength, int32 level, int32 depth) {
        const AttributeDictionary& attributes = bag.fAttributes;
        int64 units = 2 * nameLength + 6 + 2 * int64(std::clamp(level, 0, kMaxIndentation));
        units +=
            int64(attributes.GetKeysSize()) + int64(attributes.GetPackedUnits()) + 10 * int64(attributes.GetCount());
        const int32 names = bag.GetElementNamesCount();
        if (names == 0 || depth >= kStoredDataMaxDepth) return units;
        StKeyWalker<ElementDictionary> keys(bag.fElements.get());
        for (size_t i = 0; i < size_t(names); ++i) {
            const uint8* key = nullptr;
            size_t keyLength = 0;
            keys.Next(key, keyLength);
            const VBagArray* list = bag.fElements->GetNthValue(i);
            for (int32 n = 1; list != nullptr && n <= list->GetCount(); ++n) {
                if (const VValueBag* child = list->GetNth(n))
                    units += 1 + _EstimateUnits(*child, int64(keyLength), level < 0 ? level : level + 1, depth + 1);
            }
        }
        return units;
    }

    VError _DumpXML(const VValueBag& bag, const UniChar* name, int32 nameLength, int32 level, int32 depth) {
        // The writer recurses once per level: trees deeper than any reader follows are refused.
        if (depth > kStoredDataMaxDepth) return VE_INVALID_PARAMETER;
        if (level >= 1) DumpXMLIndentation(level);
        size_t cdata = AttributeDictionary::kNotFound;
        VError error = DumpXMLAttributes(bag, name, nameLength, cdata);
        if (error != VE_OK) return error;
        const int32 names = bag.GetElementNamesCount();
        if (names == 0 && cdata == AttributeDictionary::kNotFound) {
            fSink.PutAscii("/>");
            return VE_OK;
        }
        fSink.Put(u'>');

        bool children = false;
        if (fNames.size() <= size_t(depth)) fNames.resize(size_t(depth) + 1);
        std::u16string& childName = fNames[size_t(depth)]; // stays while the children of this bag are written
        const ElementDictionary* elements = bag.fElements.get();
        StKeyWalker<ElementDictionary> keys(elements);
        for (size_t i = 0; i < size_t(names); ++i) {
            const uint8* key = nullptr;
            size_t keyLength = 0;
            keys.Next(key, keyLength);
            const VBagArray* list = elements->GetNthValue(i);
            const int32 count = list != nullptr ? list->GetCount() : 0;
            bool named = false;
            for (int32 n = 1; n <= count; ++n) {
                const VValueBag* child = list->GetNth(n);
                if (child == nullptr) continue;
                if (!named && !NameFromKey(key, keyLength, childName)) return VE_INVALID_PARAMETER;
                named = true;
                fSink.Put(u'\n');
                error = _DumpXML(*child, reinterpret_cast<const UniChar*>(childName.data()), int32(childName.size()),
                                 level < 0 ? level : level + 1, depth + 1);
                if (error != VE_OK) return error;
                children = true;
            }
        }

        bool wroteCData = false;
        if (cdata != AttributeDictionary::kNotFound) wroteCData = DumpXMLCData(bag.fAttributes, cdata);
        const bool hasCData = cdata != AttributeDictionary::kNotFound;
        if (level >= 0 && ((children && !hasCData) || (hasCData && !wroteCData))) {
            fSink.Put(u'\n');
            DumpXMLIndentation(level);
        }
        fSink.PutAscii("</");
        fSink.Put(name, nameLength);
        fSink.Put(u'>');
        return VE_OK;
    }

    void DumpXMLIndentation(int32 level) { fSink.PutTabs(std::min(level, kMaxIndentation)); }

    // '<', the name and every attribute but "<>" and the JSON markers; cdata receives the position of "<>".
    VError DumpXMLAttributes(const VValueBag& bag, const UniChar* name, int32 nameLength, size_t& cdata) {
        fSink.Put(u'<');
        fSink.Put(name, nameLength);
        const AttributeDictionary& attributes = bag.fAttributes;
        StKeyWalker<AttributeDictionary> keys(&attributes);
        for (size_t i = 0; i < attributes.GetCount(); ++i) {
            const uint8* key = nullptr;
            size_t keyLength = 0;
            keys.Next(key, keyLength);
            if (keyLength > 0 && (key[0] == '<' || key[0] == '_')) { // the markers
                if (Equals(key, keyLength, kCDataName)) {
                    cdata = i;
                    continue;
                }
                if (Equals(key, keyLength, kObjectUnicName) || Equals(key, keyLength, kPropertyNameInArrayName))
                    continue;
            }
            if (!_PutAttributeName(key, keyLength)) return VE_INVALID_PARAMETER;
            _PutAttributeValue(attributes, i);
            fSink.Put(u'"');
        }
        return VE_OK;
    }

    // ' name="': ASCII names go straight, others through the full check.
    bool _PutAttributeName(const uint8* bytes, size_t keyLength) {
        const int32 length = int32(keyLength);
        if (!fSink.Reserve(length + 3)) return true; // the failure is the sink's
        bool ascii = length > 0 && bytes[0] < 0x80 && IsNameStartChar(bytes[0]);
        for (int32 i = 1; i < length && ascii; ++i)
            ascii = bytes[i] < 0x80 && IsNameChar(bytes[i]);
        fSink.PutReserved(u' ');
        if (ascii) {
            for (int32 i = 0; i < length; ++i)
                fSink.PutReserved(UniChar(bytes[i]));
        } else {
            if (!NameFromKey(bytes, keyLength, fScratchName)) return false;
            fSink.Put(reinterpret_cast<const UniChar*>(fScratchName.data()), int32(fScratchName.size()));
        }
        fSink.PutAscii("=\"");
        return true;
    }

    void _PutAttributeValue(const AttributeDictionary& attributes, size_t index) {
        const uint16 kind = attributes.GetNthKind(index);
        if (const void* data = attributes.GetRecordDataAt(index, kind)) {
            switch (kind) {
            case VString::kKind: {
                int32 length = 0;
                std::memcpy(&length, data, sizeof(length));
                _PutAttributeText(reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + sizeof(length)),
                                  length, true);
                return;
            }
            case VBoolean::kKind:
                if (*static_cast<const uint8*>(data) != 0)
                    fSink.PutAscii("true");
                else
                    fSink.PutAscii("false");
                return;
            case VByte::kKind:
                return _PutInteger(*static_cast<const int8*>(data));
            case VWord::kKind:
                return _PutInteger(_Load<int16>(data));
            case VLong::kKind:
                return _PutInteger(_Load<int32>(data));
            case VLong8::kKind:
                return _PutInteger(_Load<int64>(data));
            case VReal::kKind:
                return _PutReal(_Load<double>(data));
            default:
                break;
            }
        }
        // Other kinds, and values waiting in the back store, through a value of the kind (the bag keeps no
        // decoded copy for a write).
        VValueSingle* value = _ScratchValue(kind);
        if (value == nullptr) return; // a kind without descriptor writes an empty value
        attributes.GetValueAt(index, *value);
        if (kind == VString::kKind) {
            const auto* text = static_cast<const VString*>(value);
            return _PutAttributeText(text->GetCPointer(), text->GetLength(), true);
        }
        value->GetXMLString(fScratch, 1);
        _PutAttributeText(fScratch.GetCPointer(), fScratch.GetLength(), false);
    }

    // A text between quotes: markup escaped as entities (with markup; otherwise the value's own XML form already
    // did, and only what cannot stand raw is escaped), tab, line feed and carriage return as character references
    // so that they survive a reader's normalisation, and what XML does not allow dropped.
    void _PutAttributeText(const UniChar* text, int32 length, bool markup) {
        if (length <= 0 || !fSink.Reserve(int64(length) * kMaxEscapeUnits)) return;
        for (int32 i = 0; i < length; ++i) {
            const UniChar c = text[i];
            if (c >= 0x3F && c < 0xD800) { // no markup, no control, no surrogate
                fSink.PutReserved(c);
                continue;
            }
            switch (c) {
            case u'"':
                _PutReservedAscii("&quot;");
                break;
            case u'<':
                _PutReservedAscii("&lt;");
                break;
            case u'&':
                markup ? _PutReservedAscii("&amp;") : fSink.PutReserved(c);
                break;
            case u'>':
                markup ? _PutReservedAscii("&gt;") : fSink.PutReserved(c);
                break;
            case u'\'':
                markup ? _PutReservedAscii("&apos;") : fSink.PutReserved(c);
                break;
            case u'\t':
                _PutReservedAscii("&#9;");
                break;
            case u'\n':
                _PutReservedAscii("&#10;");
                break;
            case u'\r':
                _PutReservedAscii("&#13;");
                break;
            default:
                const int32 units = XMLUnitsAt(text, i, length);
                if (units > 0) fSink.PutReserved(text + i, units);
                i += units > 1 ? units - 1 : 0;
                break;
            }
        }
    }

    // The character data of the bag (the "<>" attribute at index as text), in a CDATA section when it holds markup
    // or line ends among other characters, without what XML does not allow; true when something was written.
    bool DumpXMLCData(const AttributeDictionary& attributes, size_t index) {
        const UniChar* text = nullptr;
        int32 length = 0;
        if (const void* data = attributes.GetRecordDataAt(index, VString::kKind)) {
            std::memcpy(&length, data, sizeof(length));
            text = reinterpret_cast<const UniChar*>(static_cast<const char*>(data) + sizeof(length));
        } else {
            fScratch.Clear();
            if (const VValueSingle* value = attributes.GetNthValue(index)) value->GetString(fScratch);
            text = fScratch.GetCPointer();
            length = fScratch.GetLength();
        }
        // Dropped first, so that no "]]>" appears where a dropped unit stood.
        int32 kept = 0;
        for (int32 units = 0; kept < length && (units = XMLUnitsAt(text, kept, length)) > 0;)
            kept += units;
        if (kept < length) {
            fScratchText.assign(reinterpret_cast<const char16_t*>(text), size_t(kept));
            for (int32 i = kept; i < length; ++i) {
                const int32 units = XMLUnitsAt(text, i, length);
                fScratchText.append(reinterpret_cast<const char16_t*>(text + i), size_t(units));
                i += units > 1 ? units - 1 : 0;
            }
            text = reinterpret_cast<const UniChar*>(fScratchText.data());
            length = int32(fScratchText.size());
        }
        if (length == 0) return false;
        if (!NeedsSection(text, length, std::begin(kMarkup), std::end(kMarkup))) {
            fSink.Put(text, length);
            return true;
        }
        // A "]]>" inside ends the section after it; "]]" then stands outside and a new section takes the ">".
        fSink.PutAscii("<![CDATA[");
        int32 run = 0;
        for (int32 k = 0; k + 2 < length; ++k) {
            if (text[k] != u']' || text[k + 1] != u']' || text[k + 2] != u'>') continue;
            fSink.Put(text + run, k + 3 - run);
            fSink.PutAscii("]]<![CDATA[>");
            run = k + 3;
            k += 2;
        }
        fSink.Put(text + run, length - run);
        fSink.PutAscii("]]>");
        return true;
    }

    template <class T> static T _Load(const void* data) noexcept {
        T value;
        std::memcpy(&value, data, sizeof(T));
        return value;
    }

    void _PutInteger(int64 value) {
        char digits[24];
        const auto result = std::to_chars(digits, digits + sizeof(digits), value);
        fSink.PutAscii(digits, int32(result.ptr - digits));
    }

    // VReal::RealToXMLString without a string between: NaN, INF and -INF, integral values up to 2^53 - 1 as
    // integers, others as "%.14G".
    void _PutReal(double value) {
        constexpr double kLargestExactInteger = 9007199254740991.0;
        if (std::isnan(value)) return fSink.PutAscii("NaN");
        if (std::isinf(value)) return value > 0 ? fSink.PutAscii("INF") : fSink.PutAscii("-INF");
        if (value == std::trunc(value) && std::fabs(value) <= kLargestExactInteger) return _PutInteger(int64(value));
        char digits[40];
        const auto result = std::to_chars(digits, digits + sizeof(digits), value, std::chars_format::general, 14);
        for (char* p = digits; p < result.ptr; ++p)
            if (*p >= 'a' && *p <= 'z') *p = char(*p - 'a' + 'A');
        fSink.PutAscii(digits, int32(result.ptr - digits));
    }

    template <size_t N> void _PutReservedAscii(const char (&text)[N]) {
        for (size_t i = 0; i + 1 < N; ++i)
            fSink.PutReserved(UniChar(uint8(text[i])));
    }

    // One empty value per kind met, reused.
    VValueSingle* _ScratchValue(uint16 kind) {
        std::unique_ptr<VValueSingle>& slot = fScratchValues[kind];
        if (slot == nullptr) {
            std::unique_ptr<VValue> value(VValue::NewValueFromValueKind(kind));
            if (value != nullptr && value->IsVValueSingle() != nullptr) slot.reset(value.release()->IsVValueSingle());
        }
        return slot.get();
    }

    StUnitSink fSink;
    VString fScratch;
    std::u16string fScratchName;
    std::u16string fScratchText;
    std::deque<std::u16string> fNames; // the names of the children being written, by depth (stay in place)
    std::map<uint16, std::unique_ptr<VValueSingle>> fScratchValues;
};

VError VValueBag::DumpXML(VString& out, const VString& elementName, bool withIndentation) const {
    return _DumpXML(out, elementName, withIndentation ? 0 : -1);
}

VError VValueBag::_DumpXML(VString& out, const VString& name, int32 level) const {
    if (!IsXMLName(name.GetCPointer(), name.GetLength())) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    const VString copy(name); // out may be name
    _XMLWriter writer(out);
    return writer.Write(*this, copy.GetCPointer(), copy.GetLength(), level);
}

bool VValueBag::NeedsEscapeSequence(const VString& text, const UniChar* setBegin, const UniChar* setEnd) noexcept {
    return NeedsSection(text.GetCPointer(), text.GetLength(), setBegin, setEnd);
}

} // namespace vela
