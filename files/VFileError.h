#pragma once

#include "core/VErrorBase.h"
#include "files/VFilePath.h"

namespace vela {

class VFile;
class VFolder;

// File error codes (component 'vela').
constexpr VError VE_ACCESS_DENIED = MakeLibraryError(5);
constexpr VError VE_USER_CANCELLED = MakeLibraryError(6);
constexpr VError VE_FILE_CANNOT_GET_POS = MakeLibraryError(213);
constexpr VError VE_FILE_CANNOT_SET_POS = MakeLibraryError(214);
constexpr VError VE_FILE_CANNOT_READ = MakeLibraryError(215);
constexpr VError VE_FILE_CANNOT_WRITE = MakeLibraryError(216);
constexpr VError VE_FILE_CANNOT_FLUSH = MakeLibraryError(217);
constexpr VError VE_FILE_CANNOT_GET_SIZE = MakeLibraryError(218);
constexpr VError VE_FILE_CANNOT_SET_SIZE = MakeLibraryError(219);
constexpr VError VE_FILE_NOT_FOUND = MakeLibraryError(600);
constexpr VError VE_FILE_CANNOT_RENAME = MakeLibraryError(601);
constexpr VError VE_FILE_CANNOT_OPEN = MakeLibraryError(602);
constexpr VError VE_FILE_CANNOT_DELETE = MakeLibraryError(604);
constexpr VError VE_FILE_CANNOT_COPY = MakeLibraryError(605);
constexpr VError VE_FILE_CANNOT_MOVE = MakeLibraryError(606);
constexpr VError VE_FILE_CANNOT_CREATE = MakeLibraryError(607);
constexpr VError VE_FILE_CANNOT_GET_ATTRIBUTES = MakeLibraryError(608);
constexpr VError VE_FILE_CANNOT_SET_ATTRIBUTES = MakeLibraryError(609);
constexpr VError VE_FILE_CANNOT_CREATE_ALIAS = MakeLibraryError(610);
constexpr VError VE_FILE_CANNOT_RESOLVE_ALIAS = MakeLibraryError(611);
constexpr VError VE_FILE_CANNOT_REVEAL = MakeLibraryError(612);
constexpr VError VE_FILE_CANNOT_LOAD_LOCALIZATION = MakeLibraryError(613);
constexpr VError VE_FILE_BAD_NAME = MakeLibraryError(614);
constexpr VError VE_FILE_ALIAS_NOT_A_FILE = MakeLibraryError(617);
constexpr VError VE_FILE_ALIAS_NOT_A_FOLDER = MakeLibraryError(618);
constexpr VError VE_FOLDER_NOT_FOUND = MakeLibraryError(650);
constexpr VError VE_FOLDER_NOT_EMPTY = MakeLibraryError(651);
constexpr VError VE_FOLDER_CANNOT_CREATE = MakeLibraryError(652);
constexpr VError VE_FOLDER_CANNOT_DELETE = MakeLibraryError(653);
constexpr VError VE_FOLDER_CANNOT_GET_ATTRIBUTES = MakeLibraryError(654);
constexpr VError VE_FOLDER_CANNOT_SET_ATTRIBUTES = MakeLibraryError(655);
constexpr VError VE_FOLDER_CANNOT_REVEAL = MakeLibraryError(656);
constexpr VError VE_FOLDER_CANNOT_RENAME = MakeLibraryError(657);
constexpr VError VE_DISK_FULL = MakeLibraryError(658);
constexpr VError VE_FOLDER_CANNOT_WATCH = MakeLibraryError(659);
constexpr VError VE_FOLDER_CANNOT_COPY = MakeLibraryError(660);
constexpr VError VE_FOLDER_CANNOT_TRASH = MakeLibraryError(661);
constexpr VError VE_FILESYSTEM_REFUSED = MakeLibraryError(684);
constexpr VError VE_FILESYSTEM_OVER_BUDGET = MakeLibraryError(685);
constexpr VError VE_FILESYSTEM_CANNOT_CREATE = MakeLibraryError(686);
constexpr VError VE_FILESYSTEM_BAD_DEFINITION = MakeLibraryError(687);

// A failure of the file layer, naming the file or folder concerned: the parameters "name" (its last element)
// and "path" (the full path in internal ':' form), both "n/a" when no object was named.
class VFileError : public VErrorBase {
public:
    // path is empty when no object was named.
    VFileError(const VFilePath& path, VError code);
    // The object's path; null names no object.
    VFileError(const VFile* file, VError code);
    VFileError(const VFolder* folder, VError code);

    const VFilePath& GetPath() const noexcept { return fPath; }
    // The path's text in internal form, as stored (also when invalid).
    const VString& GetPathText() const noexcept { return fPath.GetPath(); }
    // Exactly what VErrorBase describes.
    void GetErrorDescription(VString& out) const override;

private:
    void _Init();

    VFilePath fPath;
};

// True for the codes of the native families ('POSX', 'CARB', 'COCO', 'MACH'), which the file layer wraps.
bool IsNativeError(VError code) noexcept;

// The one rule by which the file layer reports a platform result for the object at path: 0 and library
// codes come back unchanged with nothing pushed; a native code becomes a VFileError whose code is the native
// table's library code, else operationCode. setParameters (callable with VFileError&) adds the operation's
// parameters before the error is pushed, above an error for the native code itself. Answers the code to return.
template <class SetParameters>
VError WrapFileError(const VFilePath& path, VError operationCode, VError result, SetParameters&& setParameters) {
    if (!IsNativeError(result)) return result;
    auto* error = new VFileError(path, VErrorBase::EncodedNativeErrorToVError(result, operationCode));
    setParameters(*error);
    const VError code = error->GetError();
    _PushRetainedError(error, result);
    return code;
}

inline VError WrapFileError(const VFilePath& path, VError operationCode, VError result) {
    return WrapFileError(path, operationCode, result, [](VFileError&) {});
}

// For a failure found before any platform call (an invalid path, say): raises a VFileError with code and
// answers code.
template <class SetParameters>
VError ThrowFileError(const VFilePath& path, VError code, SetParameters&& setParameters) {
    auto* error = new VFileError(path, code);
    setParameters(*error);
    _PushRetainedError(error);
    return code;
}

inline VError ThrowFileError(const VFilePath& path, VError code) {
    return ThrowFileError(path, code, [](VFileError&) {});
}

// Escapes the characters a file name may not hold (controls, '"', '%', '*', '/', ':', '<', '>', '?', '\', '|')
// as '%' and two upper-case hexadecimal digits.
VString EncodeReservedFileCharacters(const VString& text);
// Undoes EncodeReservedFileCharacters. Only '%' and two hexadecimal digits naming a unit other than 0 is an
// escape; any other '%' (too close to the end, non-hexadecimal, or "%00") is kept as it stands, so decoding
// never makes a NUL.
VString DecodeReservedFileCharacters(const VString& text);

} // namespace vela
