#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "core/VTypes.h"

namespace vela {

class VArrayString;

// A file of typed, numbered resources. Subclasses supply the storage; this class builds the string lists on it
// and saves unsaved changes when the last reference goes.
class VResourceFile : public VObject, public IRefCountable {
public:
    static constexpr uint32 kStringListType = FourCC("STR#");

    // Start-up of resource files; nothing to do, answers true.
    static bool Init();

    // out = entries 1, 2, 3 … of the string-list resource id, up to the first that cannot be read; always true.
    bool GetStringList(int32 id, VArrayString& out);
    // The same for the string-list resource of that name; false when there is none.
    bool GetStringList(const VString& name, VArrayString& out);
    virtual void Flush() {}

protected:
    // Entry index (1-based) of the string-list resource id; false when there is no such entry.
    virtual bool ReadStringListEntry(int32 id, int32 index, VString& out) = 0;
    // The id of the resource of type and name; false when there is none.
    virtual bool FindResourceID(uint32 type, const VString& name, int32& id) = 0;
    virtual bool HasUnsavedChanges() const = 0;
    virtual void Save() = 0;

    // Saves what is unsaved before the object goes.
    void DoOnRefCountZero() override;
};

} // namespace vela
