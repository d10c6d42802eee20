#pragma once
// Internal to intl/: the one owner of the XML parser library's set-up, and the error reports of the XML layers.

#include "core/VError.h"
#include "core/VTypes.h"

#include <atomic>
#include <cstddef>

namespace vela {

class XercesSupport {
public:
    XercesSupport() = delete;

    // Counted set-up of the parser library: the first Init sets it up (with its network access removed, so
    // that no entity or grammar is ever fetched from the network), the DeInit balancing the last Init tears it
    // down. Thread-safe. False, without a count taken, when the library cannot be set up.
    static bool Init() noexcept;
    static void DeInit() noexcept;
    static bool IsInited() noexcept;
    // Test builds only (VELA_TEST_SEAMS): while set, a set-up that would start the library fails.
    static std::atomic<bool> sFailSetUp;

    // The references to declared entities one document may expand, nested ones included: enough for any
    // document we read, and a few hundred bytes of entities nested ten deep cannot ask for billions.
    static constexpr size_t kMaxEntityExpansions = 10000;

    // Pushes a parse error on the calling task: "message", "systemID" and "publicID" (null texts are empty),
    // "line" and "column".
    static void PushParseError(VError code, const char16_t* message, const char16_t* systemID, const char16_t* publicID,
                               int64 line, int64 column) noexcept;
};

} // namespace vela
