#pragma once

#include "core/VError.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFilePath.h"

namespace vela {
class VErrorBase;
class VFolder;
} // namespace vela

// The updater's toolbox beside the update procedure: service errors, one-error logging, a debug message box and
// file utilities. Failures push their errors on the current task's context; the copies change nothing visible when
// they fail (the new data is written beside and swapped in, and only what the call made is removed again).

// Pushes an error of code with "ServiceName" = serviceName; nothing for 0. Answers code.
vela::VError ThrowServiceError(vela::VError code, const vela::VString& serviceName);

// Logs error's description (its error string when it has none) at level error; nothing for null.
void _LogError(vela::VRefPtr<vela::VErrorBase> error);

// Shows message (UTF-8) in an alert titled "Debug" with the single OK button and waits until it is dismissed.
void DisplayMessage(const char* message);

// Copies the file source to destination (vela::FileCopyOptions in flags; FCP_OVERWRITE replaces an existing one),
// making the destination's missing folders first. A folder that cannot be made: its error with "path" = that
// folder, answered. A failed copy: 'UPZo' error 8 with "srcPath" and "dstPath", answered, and the folders made
// for it removed again. 0 on success.
vela::VError RobustCopyFile(const vela::VFilePath& source, const vela::VFilePath& destination, vela::uint32 flags);

// Copies what source holds into destination (vela::FolderCopyOptions in flags), destination and its missing
// parents made when needed; what destination held and the source does not stays. The merged tree is built beside
// destination and swapped in whole. False with library error 650 ("path" = source) when source does not exist,
// or with the failure's error ("path" = destination) when the copy failed: destination is then as it was.
bool RobustCopyFolderContent(const vela::VFolder& source, vela::VFolder& destination, vela::uint32 flags);
bool RobustCopyFolderContent(const vela::VFilePath& source, const vela::VFilePath& destination, vela::uint32 flags);

// The first file of folder (not its sub-folders), in name order, whose extension equals extension (without
// diacritic sensitivity): its path in result, 0 answered. Else library error 600 (raised with "path" = folder)
// and result cleared. The overload on a path answers library error 3 (raised) for an empty or non-folder path.
vela::VError FindFileByExt(const vela::VFolder& folder, const vela::VString& extension, vela::VFilePath& result);
vela::VError FindFileByExt(const vela::VFilePath& folder, const vela::VString& extension, vela::VFilePath& result);
