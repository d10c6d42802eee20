#include "files/VResourceFile.h"

#include "values/VArrayString.h"

namespace vela {

bool VResourceFile::Init() {
    return true;
}

bool VResourceFile::GetStringList(int32 id, VArrayString& out) {
    out.Clear();
    VString entry;
    for (int32 index = 1; ReadStringListEntry(id, index, entry); ++index)
        out.AppendString(entry);
    return true;
}

bool VResourceFile::GetStringList(const VString& name, VArrayString& out) {
    int32 id = 0;
    if (!FindResourceID(kStringListType, name, id)) return false;
    return GetStringList(id, out);
}

void VResourceFile::DoOnRefCountZero() {
    if (HasUnsavedChanges()) Save();
    IRefCountable::DoOnRefCountZero();
}

} // namespace vela
