#pragma once

#include "core/VString.h"

#include <vector>

namespace vela {

class VValueSingle;

// Builds the text of a flat JSON array item by item, without a value tree. The text starts as "[" (open and
// empty); every item is written followed by ",". Close removes the last "," and appends "]". Adding to a closed
// writer reopens it: its "]" gives way to "," when it holds items, so the new item follows them.
class VJSONArrayWriter {
public:
    VJSONArrayWriter();

    // The value's JSON text (VValueSingle::GetJSONString with options); nothing when that fails.
    void Add(const VValueSingle& value, uint32 options = 0);
    // The string between double quotes, escaped as options say (GetJSONString with options | 1).
    void AddString(const VString& text, uint32 options = 0);
    // Nothing for null; else the UTF-8 text as AddString.
    void AddString(const char* text, uint32 options = 0);
    void AddStrings(const std::vector<VString>& texts, uint32 options = 0);
    void AddBool(bool value);
    void AddLong(int32 value);
    // The JSON text of the number: NaN and infinities are written null, so the text stays JSON.
    void AddReal(double value);
    // Each item in order (booleans: non-zero is true); nothing for a null array or a count below 1.
    void AddLongs(const int32* values, int32 count);
    void AddWords(const int16* values, int32 count);
    void AddReals(const double* values, int32 count);
    void AddBools(const char* values, int32 count);
    // Closes other, adds its text as one item, then resets other to the closed text "[]".
    void AddJSONArray(VJSONArrayWriter& other);

    // Closes the text: "[]" when empty. Closing a closed writer changes nothing.
    void Close();
    bool IsClosed() const noexcept { return fClosed; }
    // Closes, then copies the text to out; without keep the writer is reset to the closed text "[]".
    void GetArray(VString& out, bool keep = false);

private:
    void _Reopen();
    void _AddItem(const VString& text);
    void _AddItem(const char* text);

    VString fText;
    bool fClosed = false;
};

} // namespace vela
