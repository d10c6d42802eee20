#include "json/VJSONArrayWriter.h"

#include "values/VValue.h"
#include "json/VJSONText.h"

namespace vela {

VJSONArrayWriter::VJSONArrayWriter() : fText("[") {}

void VJSONArrayWriter::_Reopen() {
    if (!fClosed) return;
    fClosed = false;
    int32 length = fText.GetLength();
    if (length <= 2) {
        fText.FromCString("[");
        return;
    }
    // "[a,b]": the items stay and the next one follows a separator.
    fText.Truncate(length - 1);
    fText.AppendUniChar(u',');
}

void VJSONArrayWriter::_AddItem(const VString& text) {
    _Reopen();
    fText.AppendString(text);
    fText.AppendUniChar(u',');
}

void VJSONArrayWriter::_AddItem(const char* text) {
    _Reopen();
    fText.AppendCString(text);
    fText.AppendUniChar(u',');
}

void VJSONArrayWriter::Add(const VValueSingle& value, uint32 options) {
    VString text;
    if (value.GetJSONString(text, options) != VE_OK) return;
    _AddItem(text);
}

void VJSONArrayWriter::AddString(const VString& text, uint32 options) {
    VString json;
    if (text.GetJSONString(json, options | 1) != VE_OK) return;
    _AddItem(json);
}

void VJSONArrayWriter::AddString(const char* text, uint32 options) {
    if (text == nullptr) return;
    AddString(VString(text), options);
}

void VJSONArrayWriter::AddStrings(const std::vector<VString>& texts, uint32 options) {
    for (const VString& text : texts)
        AddString(text, options);
}

void VJSONArrayWriter::AddBool(bool value) {
    _AddItem(value ? "true" : "false");
}

void VJSONArrayWriter::AddLong(int32 value) {
    _Reopen();
    fText.AppendLong(value);
    fText.AppendUniChar(u',');
}

void VJSONArrayWriter::AddReal(double value) {
    char text[kJSONNumberTextSize];
    FormatJSONNumber(value, text);
    _AddItem(text);
}

void VJSONArrayWriter::AddLongs(const int32* values, int32 count) {
    for (int32 i = 0; values != nullptr && i < count; ++i)
        AddLong(values[i]);
}

void VJSONArrayWriter::AddWords(const int16* values, int32 count) {
    for (int32 i = 0; values != nullptr && i < count; ++i)
        AddLong(values[i]);
}

void VJSONArrayWriter::AddReals(const double* values, int32 count) {
    for (int32 i = 0; values != nullptr && i < count; ++i)
        AddReal(values[i]);
}

void VJSONArrayWriter::AddBools(const char* values, int32 count) {
    for (int32 i = 0; values != nullptr && i < count; ++i)
        AddBool(values[i] != 0);
}

void VJSONArrayWriter::AddJSONArray(VJSONArrayWriter& other) {
    if (&other == this) {
        // The text before this item is the item.
        Close();
        VString copy(fText);
        _AddItem(copy);
        return;
    }
    other.Close();
    _AddItem(other.fText);
    other.fText.FromCString("[]");
}

void VJSONArrayWriter::Close() {
    if (fClosed) return;
    fClosed = true;
    int32 length = fText.GetLength();
    if (length == 0) {
        fText.FromCString("[]");
        return;
    }
    if (!(length == 1 && fText.GetUniChar(1) == u'[')) fText.Truncate(length - 1);
    fText.AppendUniChar(u']');
}

void VJSONArrayWriter::GetArray(VString& out, bool keep) {
    Close();
    out = fText;
    if (!keep) fText.FromCString("[]");
}

} // namespace vela
