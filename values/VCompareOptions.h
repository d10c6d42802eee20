#pragma once

#include "core/VObject.h"

namespace vela {

class VIntlMgr;

// How values and strings are compared: the international manager for text, the like (pattern), diacritical
// (exact: accents count, no tolerance for reals) and begins-with flags, and the tolerance of real comparisons.
class VCompareOptions : public VObject {
public:
    VCompareOptions() noexcept = default;

    VIntlMgr* GetIntlManager() const noexcept { return fIntlMgr; }
    void SetIntlManager(VIntlMgr* manager) noexcept { fIntlMgr = manager; }
    bool IsLike() const noexcept { return fLike; }
    void SetLike(bool like) noexcept { fLike = like; }
    bool IsDiacritical() const noexcept { return fDiacritical; }
    void SetDiacritical(bool diacritical) noexcept { fDiacritical = diacritical; }
    bool IsBeginsWith() const noexcept { return fBeginsWith; }
    void SetBeginsWith(bool beginsWith) noexcept { fBeginsWith = beginsWith; }
    double GetEpsilon() const noexcept { return fEpsilon; }
    void SetEpsilon(double epsilon) noexcept { fEpsilon = epsilon; }

private:
    VIntlMgr* fIntlMgr = nullptr;
    [[maybe_unused]] void* fReserved = nullptr; // kept for layout; nothing reads it
    bool fLike = false;
    bool fDiacritical = false;
    bool fBeginsWith = false;
    double fEpsilon = 1e-06;
};

} // namespace vela
