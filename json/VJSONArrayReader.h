#pragma once

#include "core/VError.h"
#include "core/VObject.h"
#include "core/VString.h"

#include <vector>

namespace vela {

// Splits the text of a flat JSON array into the texts of its top-level scalar items (strings decoded, other
// words as written; nested arrays skipped, objects' punctuation passed over) and converts them to C arrays.
// A text that holds no complete array fails with 550 (raised) and leaves no item.
class VJSONArrayReader : public VObject {
public:
    VJSONArrayReader();
    explicit VJSONArrayReader(const VString& text);
    ~VJSONArrayReader() override;

    // Forgets the items, then reads text.
    void FromJSONString(const VString& text);
    // The item count; error (may be null) receives the error of the last read.
    int32 GetCountOfElements(VError* error = nullptr) const noexcept;
    const std::vector<VString>& GetItems() const noexcept { return fItems; }

    // Each item converted with VString::GetWord, GetLong, GetReal, or 1 for an item equal to "true" (as
    // VString::EqualToString) and 0 otherwise, into out, which holds capacity elements. Answers the read's
    // error; with an error, a null out or no item nothing is written. A capacity below the item count writes
    // nothing and answers library error 3 (raised).
    VError ToArrayShort(int16* out, size_t capacity) const;
    VError ToArrayLong(int32* out, size_t capacity) const;
    VError ToArrayReal(double* out, size_t capacity) const;
    VError ToArrayBool(char* out, size_t capacity) const;
    // Without an error, the items are appended to out (after clearing it unless append).
    VError ToArrayString(std::vector<VString>& out, bool append) const;

private:
    void _Parse(const VString& text);
    // The checks common to the ToArray calls: VE_OK and true when items are to be written.
    VError _CanWrite(const void* out, size_t capacity, bool& write) const;

    VError fError = VE_OK;
    std::vector<VString> fItems;
};

} // namespace vela
