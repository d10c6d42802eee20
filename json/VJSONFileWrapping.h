#pragma once

#include "json/VJSONValue.h"

namespace vela {

class IFile;
class IFolder;

// How JSON values stand for the files and folders of a host that embeds the library: the host installs the hooks,
// converting code calls the functions below. Nothing here retains or releases: whether an extracted object is
// retained is the installed hook's contract.
using JSONFileExtractor = IFile* (*)(const VJSONValue&);
using JSONFolderExtractor = IFolder* (*)(const VJSONValue&);
using JSONFileWrapper = VJSONValue (*)(IFile*);
using JSONFolderWrapper = VJSONValue (*)(IFolder*);

// Installs the four hooks at once (null removes one); meant for start-up, but safe at any time.
void SetFileFolderExtractorAndWrapper(JSONFileExtractor fileExtractor, JSONFolderExtractor folderExtractor,
                                      JSONFileWrapper fileWrapper, JSONFolderWrapper folderWrapper);

// The hook's result; null without a hook.
IFile* ExtractFile(const VJSONValue& value);
IFolder* ExtractFolder(const VJSONValue& value);
// The hook's result; a new undefined value without a hook.
VJSONValue WrapFile(IFile* file);
VJSONValue WrapFolder(IFolder* folder);

} // namespace vela
