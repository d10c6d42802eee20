#include "json/VJSONArrayReader.h"

#include "json/VJSONImporter.h"
#include "json/VJSONText.h"

namespace vela {

VJSONArrayReader::VJSONArrayReader() = default;

VJSONArrayReader::VJSONArrayReader(const VString& text) {
    _Parse(text);
}

VJSONArrayReader::~VJSONArrayReader() = default;

void VJSONArrayReader::FromJSONString(const VString& text) {
    fItems.clear();
    fError = VE_OK;
    _Parse(text);
}

void VJSONArrayReader::_Parse(const VString& text) {
    if (text.IsEmpty()) {
        VJSONImporter importer(text, 0);
        fError = importer.ThrowMalformed();
        return;
    }
    VJSONImporter importer(text, 0);
    VString token;
    using Token = VJSONImporter::JsonToken;
    Token kind = Token::jsonNone;
    do {
        kind = importer.GetNextJSONToken(token, nullptr, nullptr);
    } while (kind != Token::jsonNone && kind != Token::jsonBeginArray);
    int32 nested = 0;
    while (kind != Token::jsonNone) {
        kind = importer.GetNextJSONToken(token, nullptr, nullptr);
        if (kind == Token::jsonBeginArray) {
            ++nested;
        } else if (kind == Token::jsonEndArray) {
            if (nested == 0) return; // done
            --nested;
        } else if (kind == Token::jsonString && nested == 0) {
            fItems.push_back(token);
        }
    }
    // The text ran out before the array's end.
    fItems.clear();
    fError = importer.ThrowMalformed();
}

int32 VJSONArrayReader::GetCountOfElements(VError* error) const noexcept {
    if (error != nullptr) *error = fError;
    return int32(fItems.size());
}

VError VJSONArrayReader::_CanWrite(const void* out, size_t capacity, bool& write) const {
    write = false;
    if (fError != VE_OK || out == nullptr || fItems.empty()) return fError;
    if (capacity < fItems.size()) {
        _ThrowError(VE_INVALID_PARAMETER);
        return VE_INVALID_PARAMETER;
    }
    write = true;
    return VE_OK;
}

VError VJSONArrayReader::ToArrayShort(int16* out, size_t capacity) const {
    bool write = false;
    VError error = _CanWrite(out, capacity, write);
    for (size_t i = 0; write && i < fItems.size(); ++i)
        out[i] = fItems[i].GetWord();
    return error;
}

VError VJSONArrayReader::ToArrayLong(int32* out, size_t capacity) const {
    bool write = false;
    VError error = _CanWrite(out, capacity, write);
    for (size_t i = 0; write && i < fItems.size(); ++i)
        out[i] = fItems[i].GetLong();
    return error;
}

VError VJSONArrayReader::ToArrayReal(double* out, size_t capacity) const {
    bool write = false;
    VError error = _CanWrite(out, capacity, write);
    for (size_t i = 0; write && i < fItems.size(); ++i)
        out[i] = fItems[i].GetReal();
    return error;
}

VError VJSONArrayReader::ToArrayBool(char* out, size_t capacity) const {
    bool write = false;
    VError error = _CanWrite(out, capacity, write);
    static const VString sTrue("true");
    for (size_t i = 0; write && i < fItems.size(); ++i)
        out[i] = fItems[i].EqualToString(sTrue, false) ? 1 : 0;
    return error;
}

VError VJSONArrayReader::ToArrayString(std::vector<VString>& out, bool append) const {
    if (!append) out.clear();
    if (fError != VE_OK) return fError;
    out.insert(out.end(), fItems.begin(), fItems.end());
    return VE_OK;
}

} // namespace vela
