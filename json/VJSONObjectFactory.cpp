#include "json/VJSONObjectFactory.h"

#include "json/VJSONBlob.h"

#include <mutex>

namespace vela {

namespace {

IJSONObject* CreateBlob(VJSONObject* object, uint32 signature, const void* data, size_t length,
                        VRefPtr<VJSONObject>& classObject, uint64* error) {
    return VJSONBlob::CreateIJSONObject(object, signature, data, length, classObject, error);
}

} // namespace

VJSONObjectFactory::VJSONObjectFactory() {
    fCreators.emplace(VJSONBlob::kBinarySignature, CreateBlob);
}

VJSONObjectFactory* VJSONObjectFactory::Get() {
    static VJSONObjectFactory sFactory;
    return &sFactory;
}

void VJSONObjectFactory::RegisterSignature(uint32 signature, Creator creator) {
    std::lock_guard<VCriticalSection> lock(fLock);
    fCreators[signature] = creator;
}

void VJSONObjectFactory::UnRegisterSignature(uint32 signature) {
    std::lock_guard<VCriticalSection> lock(fLock);
    fCreators.erase(signature);
}

bool VJSONObjectFactory::IsSignatureSupported(uint32 signature) const {
    std::lock_guard<VCriticalSection> lock(fLock);
    return fCreators.find(signature) != fCreators.end();
}

IJSONObject* VJSONObjectFactory::CreateForSignature(VJSONObject* object, uint32 signature, const void* data,
                                                    size_t length, VRefPtr<VJSONObject>& classObject,
                                                    uint64* error) const {
    Creator creator = nullptr;
    {
        std::lock_guard<VCriticalSection> lock(fLock);
        auto found = fCreators.find(signature);
        if (found != fCreators.end()) creator = found->second;
    }
    return creator != nullptr ? creator(object, signature, data, length, classObject, error) : nullptr;
}

} // namespace vela
