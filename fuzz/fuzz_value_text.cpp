// Reads arbitrary text (UTF-8, or UTF-16 units when the first byte is odd) with every text reader of the values:
// ParseXMLValue and the identifier reader, VString's number readers, and FromString, FromXMLString and
// FromJSONString of each scalar kind. Never crashes or reads out of bounds; and whatever a reader took, written
// back in each form and read again, writes the same text from the second trip on (reals are written with 14
// digits, so the text, not the first datum, is the fixed point).
#include "core/VString.h"
#include "values/ParseXMLValue.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VUUID.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

enum class Form { kPlain, kXML, kJSON };

VString Write(const VValueSingle& value, Form form) {
    VString out;
    switch (form) {
    case Form::kPlain:
        value.GetString(out);
        break;
    case Form::kXML:
        value.GetXMLString(out);
        break;
    case Form::kJSON:
        value.GetJSONString(out);
        break;
    }
    return out;
}

void Read(VValueSingle& value, const VString& text, Form form) {
    switch (form) {
    case Form::kPlain:
        value.FromString(text);
        break;
    case Form::kXML:
        value.FromXMLString(text);
        break;
    case Form::kJSON:
        value.FromJSONString(text);
        break;
    }
}

// JSON has no text for NaN and the infinities: they are written as null.
bool FormHolds(const VValueSingle& value, Form form) {
    return form != Form::kJSON || value.GetValueInfo()->GetKind() != VReal::kKind || std::isfinite(value.GetReal());
}

VString WriteReadWrite(const VValueSingle& value, const VString& text, Form form) {
    std::unique_ptr<VValueSingle> back(static_cast<VValueSingle*>(value.Clone()));
    back->Clear();
    Read(*back, text, form);
    return Write(*back, form);
}

// From the second trip on: a real written with 14 digits may read back integral, and is then written as such.
void CheckRoundTrips(const VValueSingle& value) {
    for (Form form : {Form::kPlain, Form::kXML, Form::kJSON}) {
        if (!FormHolds(value, form)) continue;
        VString second = WriteReadWrite(value, Write(value, form), form);
        Check(WriteReadWrite(value, second, form).EqualToStringRaw(second));
    }
}

template <class Kind> void ReadAs(const VString& text) {
    for (Form form : {Form::kPlain, Form::kXML, Form::kJSON}) {
        Kind value;
        Read(value, text, form);
        CheckRoundTrips(value);
    }
}

// Written as attribute text and parsed again, a parsed value gives the same text, and from then on the same kind.
VString AttributeText(const VValueSingle& value) {
    VString out;
    if (value.GetValueInfo()->GetKind() == VString::kKind)
        value.GetString(out); // entities are the XML writer's business, not the value's
    else
        value.GetXMLString(out);
    return out;
}

void CheckParseXMLValue(const VString& text) {
    std::unique_ptr<VValueSingle> first(ParseXMLValue(text));
    Check(first != nullptr);
    VString written = AttributeText(*first);
    std::unique_ptr<VValueSingle> second(ParseXMLValue(written));
    VString again = AttributeText(*second);
    Check(again.EqualToStringRaw(written));
    std::unique_ptr<VValueSingle> third(ParseXMLValue(again));
    Check(third->GetValueInfo()->GetKind() == second->GetValueInfo()->GetKind());

    VUUIDBuffer bytes;
    if (ParseXMLUUID(text.GetCPointer(), text.GetLength(), bytes)) {
        VUUID uuid(bytes);
        VString hex;
        uuid.GetString(hex);
        VUUIDBuffer back;
        Check(ParseXMLUUID(hex.GetCPointer(), hex.GetLength(), back));
        Check(VUUID(back) == uuid);
    }
}

void CheckNumberReaders(const VString& text) {
    int64 integer = text.GetLong8();
    VString written;
    written.FromLong8(integer);
    Check(written.GetLong8() == integer);
    text.GetLong();
    text.GetWord();
    text.GetByte();
    text.GetBoolean();

    int64 hex = text.GetHexLong();
    char digits[17];
    for (int i = 0; i < 16; ++i)
        digits[i] = "0123456789ABCDEF"[(uint64_t(hex) >> (60 - 4 * i)) & 0xF];
    digits[16] = 0;
    Check(VString(digits).GetHexLong() == hex);

    bool overflow = false;
    double real = text.GetRealCheckOverflow(&overflow);
    if (std::isfinite(real)) {
        written.FromReal(real);
        VString again;
        again.FromReal(written.GetReal());
        Check(again.EqualToStringRaw(written));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    VString text;
    if ((data[0] & 1) != 0) {
        std::u16string units((size - 1) / 2, u'\0');
        std::memcpy(units.data(), data + 1, units.size() * 2);
        text.AppendUniChars(reinterpret_cast<const UniChar*>(units.data()), int32(units.size()));
    } else
        text = VString(data + 1, size - 1, VTC_UTF_8);

    CheckParseXMLValue(text);
    CheckNumberReaders(text);
    ReadAs<VBoolean>(text);
    ReadAs<VByte>(text);
    ReadAs<VWord>(text);
    ReadAs<VLong>(text);
    ReadAs<VLong8>(text);
    ReadAs<VReal>(text);
    ReadAs<VString>(text);
    ReadAs<VUUID>(text);
    return 0;
}
