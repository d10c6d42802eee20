#pragma once

#include "core/VObject.h"
#include "core/VString.h"

namespace vela {

class VValueSingle;

// Builds the text of one flat JSON object member by member, without a value tree: "{" at first, members
// separated by ",", and "}" once GetObject closes it. Names are escaped, so any name makes valid JSON.
class VJSONSingleObjectWriter : public VObject {
public:
    VJSONSingleObjectWriter();
    ~VJSONSingleObjectWriter() override;

    // Adds "name":text, text being the value's JSON text (VValueSingle::GetJSONString with options). False, and
    // nothing added, for an empty name or when the value gives no text. A closed writer is reopened.
    bool AddMember(const VString& name, const VValueSingle& value, uint32 options = 0);
    // Closes the text (once) and copies it to out.
    void GetObject(VString& out);
    int32 GetMemberCount() const noexcept { return fCount; }

private:
    VString fText;
    bool fClosed = false;
    int32 fCount = 0;
};

} // namespace vela
