// Linked into every test program: the user's languages are pinned to American English before any manager is
// made, so that what the tests expect of the default manager (its order, its decimal separator) does not
// follow the environment of whoever runs them. Tests that need other languages set them for their scope.

#include "intl/platform/XPosixIntlMgr.h"

namespace {

const bool sPinned = [] {
    vela::XPosixIntlMgr::SetPreferredLanguages(std::vector<vela::VString>{vela::VString("en-US")});
    return true;
}();

} // namespace
