#pragma once

#include "values/VArrayValues.h"

namespace vela {

// Kind 109: strings, each element an owned VString or null. A null element reads, compares and searches as
// the empty text (except that Find never matches it); copies duplicate the strings, deletion frees them.
class VArrayString : public VArrayValue {
public:
    explicit VArrayString(int32 count = 0) : VArrayValue(sizeof(VString*)) { SetCount(count); }
    VArrayString(const VArrayString& other);
    ~VArrayString() override;

    static const VValueInfo_array<VArrayString, 109, char> sInfo;
    const VValueInfo* GetValueInfo() const override { return &sInfo; }
    uint16 GetElemValueKind() const override { return 10; }
    VValue* Clone() const override { return new VArrayString(*this); }
    bool Copy(const VArrayValue& source) override;

    // out takes element index (a null element gives the empty text); out is cleared outside 1..count.
    void GetString(VString& out, int32 index) const;
    // An existing element takes the text, a null one becomes a copy of it; nothing outside 1..count.
    void FromString(const VString& text, int32 index) override;
    // The element itself (null for a null element or outside 1..count); valid until the array changes.
    const VString* GetStringPtr(int32 index) const noexcept { return ValidIndex(index) ? _Data()[index - 1] : nullptr; }

    void FromValue(const VValueSingle& value, int32 index) override;
    void GetValue(VValueSingle& target, int32 index) const override;
    VValueSingle* CloneValue(int32 index) const override;
    // -1 outside 1..count, else the element's CompareTo with the value.
    CompareResult CompareTo(const VValueSingle& value, bool diacritical, int32 index) const override;

    // As the typed Find of the numeric arrays, comparing without diacritics; null elements never match.
    int32 Find(const VString& value, int32 start, bool forward, int32 method = kFindEqual) const;
    int32 Find(const VValueSingle& value, int32 start, bool forward, int32 method = kFindEqual) const;
    // Binary search of an array kept sorted ascending: some equal position, or -1.
    int32 QuickFind(const VString& value) const;

    void DeleteElements(int32 start, int32 n) override;
    void SwapElements(uint8* data, int32 i, int32 j) override;
    // Null before non-null, two nulls equal, else the texts with diacritics.
    CompareResult CompareElements(uint8* data, int32 i, int32 j) override;

    // Stream form: the 'VVAL' word (param 'VVAL'), count, then per element the number 2 and the string's stream
    // form, or the number 'NULL' alone for a null element.
    VError WriteToStream(VStream* stream, int32 param = 0) const override;
    // Any marker other than 2 leaves the element null.
    VError ReadFromStream(VStream* stream, int32 param = 0) override;

private:
    VString** _Data() const noexcept { return reinterpret_cast<VString**>(fData); }
    // Makes every element an owned copy of the one it shares with the source after a byte copy.
    bool _DuplicateElements();
};

} // namespace vela
