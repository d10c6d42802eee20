// Internal header: what files and folders share to answer a URL relative to a folder.
#pragma once

#include "core/VString.h"

namespace vela {

class VFolder;

// Removes base's URL (encoded or not, as url is) from the front of url when url begins with it; a null base
// leaves url alone.
void RemoveBaseURL(const VFolder* base, bool encoded, VString& url);

} // namespace vela
