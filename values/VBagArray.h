#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"

#include <vector>

namespace vela {

class VStream;
class VString;
class VValueBag;

// An ordered list of bags, each position holding one reference on its bag. Positions are 1-based. Counted
// (1 at creation); belongs to one thread at a time.
class VBagArray : public VObject, public IRefCountable {
public:
    VBagArray() noexcept = default;
    // A deep copy: every bag copied (VValueBag copy construction). Throws std::bad_alloc when memory runs out.
    VBagArray(const VBagArray& other);
    VBagArray& operator=(const VBagArray&) = delete;
    ~VBagArray() override;

    int32 GetCount() const noexcept { return int32(fBags.size()); }
    // The bag at n (1-based), borrowed; null out of range.
    VValueBag* GetNth(int32 n) const noexcept;
    VValueBag* operator[](int32 n) const noexcept { return GetNth(n); }

    // Appends and retains bag; false for null.
    bool AddTail(VValueBag* bag);
    // Inserts and retains bag at n clamped to 1 .. count + 1; false for null.
    bool AddNth(VValueBag* bag, int32 n);
    // For 1 <= n <= count and a bag other than the present one: retains it, stores it, releases the old one.
    void SetNth(VValueBag* bag, int32 n);
    // For 1 <= n <= count: releases the bag and closes the gap.
    void DeleteNth(int32 n);
    // Removes the first position holding bag without releasing it: the caller takes over that reference.
    void Delete(VValueBag* bag);
    // The 1-based position of bag, 0 when absent.
    int32 Find(const VValueBag* bag) const noexcept;
    // The bag at n with a reference for the caller, or a new empty bag when n is out of range.
    VValueBag* RetainNth(int32 n) const;
    // Releases every bag.
    void Destroy() noexcept;

    // Stream form: a 32-bit count, then each bag in its minimal form (with its hash indexes). Reading appends
    // the bags it reads; on any error (which it answers) the array is left empty.
    VError WriteToStreamMinimal(VStream* stream) const;
    VError ReadFromStreamMinimal(VStream* stream);

    // Appends the JSON array of the bags (VValueBag::_GetJSONString each, an empty position as null) at the
    // indentation level (pretty: indented); answers VE_OK or the refusal of a tree too deep.
    VError _GetJSONString(VString& out, int32 level, bool pretty, uint32 options) const;

private:
    std::vector<VValueBag*> fBags;
};

} // namespace vela
