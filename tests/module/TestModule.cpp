// A tiny loadable module for the library-loading and component tests: loaded by path, never linked to by them.

#include "app/CComponent.h"
#include "app/VComponentManager.h"

namespace {

int sMainCalls = 0;

class ModuleComponent : public vela::CComponent {
public:
    using CComponent::CComponent;
    vela::CComponentInfo GetComponentInfo() const override { return {7}; }
};

} // namespace

#define VELA_EXPORT extern "C" __attribute__((visibility("default")))

VELA_EXPORT int VelaTestModuleAnswer() {
    return 42;
}

VELA_EXPORT int VelaTestModuleMainCalls() {
    return sMainCalls;
}

VELA_EXPORT void Main(vela::uint32 action, vela::VLibrary*) {
    if (action == vela::kCOMPONENT_LIBRARY_REGISTER) ++sMainCalls;
}

// Two types: 'tmA1' and 'tmB1'.
VELA_EXPORT bool GetNthComponentType(vela::int32 n, vela::uint32* type) {
    static const vela::uint32 types[] = {0x746D4131, 0x746D4231};
    if (n < 1 || n > 2) return false;
    *type = types[n - 1];
    return true;
}

VELA_EXPORT vela::CComponent* CreateComponent(vela::uint32 type, vela::uint32 signature) {
    return new ModuleComponent(type, signature);
}
