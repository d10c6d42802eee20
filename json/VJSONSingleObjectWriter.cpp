#include "json/VJSONSingleObjectWriter.h"

#include "values/VValue.h"

namespace vela {

VJSONSingleObjectWriter::VJSONSingleObjectWriter() : fText("{") {}

VJSONSingleObjectWriter::~VJSONSingleObjectWriter() = default;

bool VJSONSingleObjectWriter::AddMember(const VString& name, const VValueSingle& value, uint32 options) {
    VString text;
    if (name.IsEmpty() || value.GetJSONString(text, options) != VE_OK) return false;
    VString quotedName;
    if (name.GetJSONString(quotedName, 1) != VE_OK) return false;
    if (fClosed) {
        fText.Truncate(fText.GetLength() - 1);
        fClosed = false;
    }
    if (fCount > 0) fText.AppendUniChar(u',');
    fText.AppendString(quotedName);
    fText.AppendUniChar(u':');
    fText.AppendString(text);
    ++fCount;
    return true;
}

void VJSONSingleObjectWriter::GetObject(VString& out) {
    if (!fClosed) {
        fText.AppendUniChar(u'}');
        fClosed = true;
    }
    out = fText;
}

} // namespace vela
