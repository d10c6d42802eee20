// Placeholders of a string filled from a JSON object.

#include "core/VString.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <vector>

namespace vela {

namespace {

bool HasSpace(const VString& text, int32 from, int32 to) noexcept {
    for (int32 i = from; i <= to; ++i) {
        if (text.GetUniChar(i) == u' ') return true;
    }
    return false;
}

} // namespace

void VString::Format(const VJSONObject* object, bool removeMissing) {
    if (object == nullptr || GetLength() < 2 || object->IsEmpty()) return;
    int32 pos = 1;
    while (pos <= GetLength()) {
        int32 open = FindUniChar(u'{', pos);
        if (open == 0) break;
        // "{{" is no placeholder, unless its second brace ends the text.
        if (GetUniChar(open + 1) == u'{' && open + 1 < GetLength()) {
            pos = open + 2;
            continue;
        }
        int32 close = FindUniChar(u'}', open + 1);
        if (close == 0) break;
        // Nor is a name closed by "}}", unless the second brace ends the text.
        if (GetUniChar(close + 1) == u'}' && close + 1 < GetLength()) {
            pos = close + 2;
            continue;
        }
        if (close == open + 1 || HasSpace(*this, open + 1, close - 1)) {
            pos = open + 1;
            continue;
        }
        VString name;
        GetSubString(open + 1, close - open - 1, name);
        VJSONValue value = object->GetProperty(name);
        if (!value.IsNull() && !value.IsUndefined()) {
            VString text;
            value.GetString(text);
            if (text.IsEmpty()) {
                Remove(open, close - open + 1);
            } else {
                Replace(text, open, close - open + 1);
            }
            pos = open + text.GetLength(); // inserted text is not scanned again
        } else if (removeMissing) {
            Remove(open, close - open + 1);
            pos = open;
        } else {
            pos = open + 1;
        }
    }
}

void VString::FormatWithTemplate(const VJSONObject* object, VString& out) const {
    out.Clear();
    static const VString sOpen("{{");
    static const VString sClose("}}");
    std::vector<VString> pieces;
    GetSubStrings(sOpen, pieces, true, false, true);
    if (pieces.empty() && !IsEmpty()) pieces.push_back(*this);
    for (size_t index = 0; index < pieces.size(); ++index) {
        const VString& piece = pieces[index];
        std::vector<VString> parts;
        // The text before the first "{{" holds no placeholder, whatever it holds.
        if (index > 0) piece.GetSubStrings(sClose, parts, true, false, true);
        if (parts.size() < 2) {
            out.AppendString(piece);
            continue;
        }
        if (object != nullptr) {
            VJSONValue value = object->GetPropertyWithPath(parts[0]);
            if (!value.IsNull() && !value.IsUndefined()) {
                VString text;
                value.GetString(text);
                out.AppendString(text);
            }
        }
        for (size_t i = 1; i < parts.size(); ++i)
            out.AppendString(parts[i]);
    }
}

} // namespace vela
