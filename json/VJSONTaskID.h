#pragma once

#include "core/VTypes.h"

namespace vela {

// The ID of the calling task as the JSON model sees it (owner of storage lockers, task monitoring). Until the
// task manager exists every thread is a task of its own: a stable, non-zero ID per thread.
uint32 GetCurrentJSONTaskID() noexcept;

} // namespace vela
