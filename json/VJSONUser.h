#pragma once

#include "core/VObject.h"
#include "core/VRefPtr.h"

namespace vela {

class VJSONArray;
class VJSONObject;
class VJSONValue;
class VStorageLocker;

// Scoped use of the storage locker of an object, an array or a value: writes to shared data need the calling task
// to use its locker. Without locker there is nothing to take and the guard counts as in use. The guard holds one
// reference to the locker and ends its use (when taken) on leaving the scope.
class VJSONUser : public VObject {
public:
    // tryMode: take the use only when free or already the caller's (see VStorageLocker::TryToUse); otherwise wait.
    explicit VJSONUser(const VJSONObject* object, bool tryMode = false);
    explicit VJSONUser(const VJSONArray* array, bool tryMode = false);
    // The locker of an object or array value; nothing for other kinds.
    explicit VJSONUser(const VJSONValue& value, bool tryMode = false);
    // locker may be null.
    explicit VJSONUser(VStorageLocker* locker, bool tryMode = false);
    ~VJSONUser() override;

    VJSONUser(const VJSONUser&) = delete;
    VJSONUser& operator=(const VJSONUser&) = delete;

    // True when the locker is in use by this guard, or there is no locker. False when a try failed or the calling
    // task is dying.
    bool IsInUse() const noexcept { return fInUse; }

private:
    void _Take(bool tryMode);

    VRefPtr<VStorageLocker> fLocker;
    bool fInUse = true;
};

} // namespace vela
