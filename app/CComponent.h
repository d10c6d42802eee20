#pragma once

#include "core/IRefCountable.h"
#include "core/VObject.h"
#include "core/VTypes.h"

namespace vela {

// One component's declared needs: other component types, each with a minimum version (0: any). A block of a
// version below kRequirementsVersion or a size below sizeof(CComponentRequirements) declares none.
struct CComponentRequirement {
    uint32 fType;
    uint32 fMinVersion;
};

struct CComponentRequirements {
    static constexpr uint32 kRequirementsVersion = 0x10000;
    static constexpr uint32 kMaxRequirements = 5;

    uint32 fVersion = kRequirementsVersion;
    uint32 fSize = sizeof(CComponentRequirements);
    uint32 fCount = 0;
    CComponentRequirement fRequired[kMaxRequirements] = {};
};

// What a component tells about itself.
struct CComponentInfo {
    uint32 fVersion = 0;
};

// A component: an object of a registered type, made by the component manager from a creator function or a
// component library. Created with one reference.
class CComponent : public VObject, public IRefCountable {
public:
    CComponent(uint32 type, uint32 signature) : fType(type), fSignature(signature) {}
    ~CComponent() override = default;
    CComponent(const CComponent&) = delete;
    CComponent& operator=(const CComponent&) = delete;

    uint32 GetComponentType() const noexcept { return fType; }
    uint32 GetComponentSignature() const noexcept { return fSignature; }
    // The types this one needs; null: none.
    virtual const CComponentRequirements* GetComponentRequirements() const { return nullptr; }
    virtual CComponentInfo GetComponentInfo() const { return {}; }

private:
    const uint32 fType;
    const uint32 fSignature;
};

} // namespace vela
