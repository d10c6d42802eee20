#pragma once

#include "core/VTypes.h"

namespace vela {

class VString;

// A failure: the component signature in the high 32 bits, a signed number in the low 32 bits; 0 is no error.
using VError = uint64;

constexpr VError VE_OK = 0;

constexpr VError MakeVError(uint32 component, int32 number) noexcept {
    return (uint64(component) << 32) | uint64(uint32(number));
}
constexpr uint32 ComponentOfVError(VError error) noexcept {
    return uint32(error >> 32);
}
constexpr int32 NumberOfVError(VError error) noexcept {
    return int32(uint32(error));
}

constexpr uint32 kComponentVela = FourCC("vela");
constexpr uint32 kComponentPosix = FourCC("POSX");
constexpr uint32 kComponentMach = FourCC("MACH");
constexpr uint32 kComponentCarbon = FourCC("CARB");
constexpr uint32 kComponentCocoa = FourCC("COCO");

constexpr VError MakeLibraryError(int32 number) noexcept {
    return MakeVError(kComponentVela, number);
}

// Library errors met in the core.
constexpr VError VE_UNKNOWN_ERROR = MakeLibraryError(1);
constexpr VError VE_UNIMPLEMENTED = MakeLibraryError(2);
constexpr VError VE_INVALID_PARAMETER = MakeLibraryError(3);
constexpr VError VE_MEMORY_FULL = MakeLibraryError(100);
constexpr VError VE_STRING_ALLOC_FAILED = MakeLibraryError(107);
constexpr VError VE_STREAM_EOF = MakeLibraryError(200);
constexpr VError VE_STREAM_NOT_OPENED = MakeLibraryError(201);
constexpr VError VE_STREAM_ALREADY_OPENED = MakeLibraryError(202);
constexpr VError VE_STREAM_CANNOT_READ = MakeLibraryError(203);
constexpr VError VE_STREAM_CANNOT_WRITE = MakeLibraryError(204);
constexpr VError VE_STREAM_NO_FILE = MakeLibraryError(205);
constexpr VError VE_STREAM_USER_ABORTED = MakeLibraryError(206);
constexpr VError VE_STREAM_BAD_SIGNATURE = MakeLibraryError(207);
constexpr VError VE_STREAM_NO_TEXT_CONVERTER = MakeLibraryError(208);
// Stored data that cannot be what its writer wrote (a negative or impossible length, say).
constexpr VError VE_STREAM_CORRUPTED = MakeLibraryError(209);
constexpr VError VE_STREAM_TEXT_CONVERSION_FAILURE = MakeLibraryError(210);
constexpr VError VE_STREAM_CANNOT_UNGET = MakeLibraryError(211);
// Stored data of a layout version this reader does not know.
constexpr VError VE_STREAM_BAD_VERSION = MakeLibraryError(212);
constexpr VError VE_TEXT_CONVERSION_FAILED = MakeLibraryError(300);

// Raises an error with up to three positional texts ("p1", "p2", "p3"): when a process object exists, an error
// object (VErrorBase) is made and pushed on the calling task's error contexts (nothing off a task). Without a
// process object a raise does nothing. Callers return the code themselves.
void _ThrowError(VError code, const VString* p1 = nullptr, const VString* p2 = nullptr, const VString* p3 = nullptr);

// Raises code with a single text parameter under the given name ("p1" for positional texts).
void _ThrowErrorWithParam(VError code, const char* name, const VString& value);

// Whether a process object exists. The process frame sets it while it lives; tests set it through their fixture.
void SetProcessObjectExists(bool exists) noexcept;
bool ProcessObjectExists() noexcept;

// An observer that sees every raise, with or without a process object (tests record raises with it); null: none.
// Returns the previous observer.
using ErrorRaiser = void (*)(VError code, const char* name[], const VString* values[], int count);
ErrorRaiser SetErrorRaiser(ErrorRaiser raiser) noexcept;

} // namespace vela
