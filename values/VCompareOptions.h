#pragma once

#include "core/VError.h"
#include "core/VObject.h"

namespace vela {

class VIntlMgr;
class VJSONObject;

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

    // JSON form (json/VCompareOptionsJSON.cpp): the one property "diacritical", true or false. ToJSON sets it on
    // object; FromJSON takes it only when it is a boolean (absent or other types leave the flag alone). A null
    // object changes nothing; an object that refuses the property gives the error raised.
    VError ToJSON(VJSONObject* object) const;
    VError FromJSON(const VJSONObject* object);

private:
    VIntlMgr* fIntlMgr = nullptr;
    [[maybe_unused]] void* fReserved = nullptr; // kept for layout; nothing reads it
    bool fLike = false;
    bool fDiacritical = false;
    bool fBeginsWith = false;
    double fEpsilon = 1e-06;
};

} // namespace vela
