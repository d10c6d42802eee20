#pragma once

#include "core/VError.h"

namespace vela {

// Errors of the JSON runtime carry the component 'ZoRT' with (mostly negative) numbers.
constexpr uint32 kComponentJSONRuntime = FourCC("ZoRT");

constexpr VError MakeJSONRuntimeError(int32 number) noexcept {
    return MakeVError(kComponentJSONRuntime, number);
}

// SetAt past the end of an array without growth.
constexpr VError VE_JSON_INDEX_PAST_END = MakeJSONRuntimeError(-10713);
// A write, removal or clear on a shared object whose locker the calling task does not use.
constexpr VError VE_JSON_OBJECT_NOT_IN_USE = MakeJSONRuntimeError(-10719);
// A write on a shared array whose locker the calling task does not use.
constexpr VError VE_JSON_ARRAY_NOT_IN_USE = MakeJSONRuntimeError(-10720);
// An object or array without locker offered to a shared container.
constexpr VError VE_JSON_NOT_SHAREABLE = MakeJSONRuntimeError(-10721);
// An object (or array) bound to another, settled locker offered to a shared container.
constexpr VError VE_JSON_OBJECT_OF_OTHER_LOCKER = MakeJSONRuntimeError(-10724);
constexpr VError VE_JSON_ARRAY_OF_OTHER_LOCKER = MakeJSONRuntimeError(-10725);
// A scalar stored into an object whose locker is restricted.
constexpr VError VE_JSON_SCALAR_IN_RESTRICTED = MakeJSONRuntimeError(-10727);
// An object used as a class that is none.
constexpr VError VE_JSON_NOT_A_CLASS = MakeJSONRuntimeError(-10745);
// A fresh locker still in use by another task.
constexpr VError VE_JSON_LOCKER_BUSY = MakeJSONRuntimeError(-10753);

// Library errors of the JSON model.
constexpr VError VE_JSON_CYCLE = MakeLibraryError(900);
// A path part with "[" but without the closing "]".
constexpr VError VE_JSON_PATH_MISSING_BRACKET = MakeLibraryError(901);
constexpr VError VE_JSON_PATH_EMPTY_PART = MakeLibraryError(902);
// A path that goes through a scalar: with an index part (903) or a name part (904, the part as "p1").
constexpr VError VE_JSON_PATH_INDEX_IN_SCALAR = MakeLibraryError(903);
constexpr VError VE_JSON_PATH_NAME_IN_SCALAR = MakeLibraryError(904);
// An object implementation that has no binary JSON form.
constexpr VError VE_JSON_NO_BINARY_FORM = MakeLibraryError(915);
// Sorting an array failed (memory, or the array changed under the comparator).
constexpr VError VE_JSON_SORT_FAILED = MakeLibraryError(917);

} // namespace vela
