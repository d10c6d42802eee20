#pragma once

#include "core/VError.h"

namespace vela {

// Errors of the JSON runtime carry the component 'ZoRT' with (mostly negative) numbers.
constexpr uint32 kComponentJSONRuntime = FourCC("ZoRT");

constexpr VError MakeJSONRuntimeError(int32 number) noexcept {
    return MakeVError(kComponentJSONRuntime, number);
}

// Class system: a class keyword or a function's property assigned or removed; the read-only error setter.
constexpr VError VE_JSON_READ_ONLY_PROPERTY = MakeJSONRuntimeError(-10702);
// A property assigned on a class store, or on a super object or super member.
constexpr VError VE_JSON_STORE_PROPERTY_READ_ONLY = MakeJSONRuntimeError(-10705);
// A super member that names something that is no function.
constexpr VError VE_JSON_SUPER_NOT_A_FUNCTION = MakeJSONRuntimeError(-10707);
// A super member found nowhere up the chain; a function called through "call" or "apply" that did not run.
constexpr VError VE_JSON_FUNCTION_NOT_FOUND = MakeJSONRuntimeError(-10729);
// A super member called outside a class function.
constexpr VError VE_JSON_SUPER_OUTSIDE_CLASS = MakeJSONRuntimeError(-10736);
// The super constructor called outside a constructor chain.
constexpr VError VE_JSON_SUPER_CONSTRUCTOR_OUTSIDE = MakeJSONRuntimeError(-10746);
// A class created over a superclass object that is no class.
constexpr VError VE_JSON_SUPERCLASS_NOT_A_CLASS = MakeJSONRuntimeError(-10747);
// A constructor that did not call the constructor of its superclass.
constexpr VError VE_JSON_CONSTRUCTOR_CHAIN_BROKEN = MakeJSONRuntimeError(-10748);
// A class instantiated without instantiator.
constexpr VError VE_JSON_NO_INSTANTIATOR = MakeJSONRuntimeError(-10749);
// A function that overrides a final one (the function's "_description" as parameter).
constexpr VError VE_JSON_OVERRIDES_FINAL = MakeJSONRuntimeError(-10750);
// An instance finalised while a constructor of its class chain still has to run.
constexpr VError VE_JSON_INSTANCE_NOT_CONSTRUCTED = MakeJSONRuntimeError(-10751);
// The instantiator that refuses shared objects.
constexpr VError VE_JSON_NO_SHARED_INSTANCE = MakeJSONRuntimeError(-10759);
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
// "$ref" pointers: a step that names nothing (906); a pointer without leading "/", or an array step that is empty,
// has a leading zero or holds a non-digit (907); a step through a reference still being resolved (908); a remote
// document or the array step "-" (909); a step into a scalar (910).
constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeLibraryError(906);
constexpr VError VE_JSON_POINTER_MALFORMED = MakeLibraryError(907);
constexpr VError VE_JSON_POINTER_CYCLE = MakeLibraryError(908);
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeLibraryError(909);
constexpr VError VE_JSON_POINTER_INTO_SCALAR = MakeLibraryError(910);
// A referred file that is no valid JSON (912), or that cannot be found (913).
constexpr VError VE_JSON_REFERRED_FILE_INVALID = MakeLibraryError(912);
constexpr VError VE_JSON_REFERRED_FILE_MISSING = MakeLibraryError(913);
// An object implementation that has no binary JSON form.
constexpr VError VE_JSON_NO_BINARY_FORM = MakeLibraryError(915);
// Sorting an array failed (memory, or the array changed under the comparator).
constexpr VError VE_JSON_SORT_FAILED = MakeLibraryError(917);

} // namespace vela
