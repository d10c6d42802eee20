#pragma once

#include "core/VCriticalSection.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <unordered_map>

namespace vela {

class IJSONObject;
class VJSONObject;

// The process-wide register of the creators that give back an object's implementation from its binary JSON
// form, one per four-character binary signature ('JBlb' for blobs is registered from the start). Every
// operation takes the register's lock; a creator runs outside it.
class VJSONObjectFactory : public VObject {
public:
    // Makes the implementation of object (being read) from the length payload bytes of its binary form: a new
    // implementation (the caller takes its reference) or null. classObject may receive the class the object
    // belongs to; *error (when given) a failure code.
    using Creator = IJSONObject* (*)(VJSONObject* object, uint32 signature, const void* data, size_t length,
                                     VRefPtr<VJSONObject>& classObject, uint64* error);

    // The process's register, made on first use (thread-safe), destroyed at exit.
    static VJSONObjectFactory* Get();

    // Adds the creator of signature, or replaces the one it had.
    void RegisterSignature(uint32 signature, Creator creator);
    // Removes the creator of signature when there is one.
    void UnRegisterSignature(uint32 signature);
    bool IsSignatureSupported(uint32 signature) const;
    // What the creator of signature makes of the payload; null, with no error raised, without a creator.
    IJSONObject* CreateForSignature(VJSONObject* object, uint32 signature, const void* data, size_t length,
                                    VRefPtr<VJSONObject>& classObject, uint64* error) const;

private:
    VJSONObjectFactory();

    mutable VCriticalSection fLock;
    std::unordered_map<uint32, Creator> fCreators; // under fLock
};

} // namespace vela
