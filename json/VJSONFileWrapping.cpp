#include "json/VJSONFileWrapping.h"

#include <atomic>

namespace vela {

namespace {

// Atomic so that a late installation never tears a read made by another task.
std::atomic<JSONFileExtractor> sFileExtractor{nullptr};
std::atomic<JSONFolderExtractor> sFolderExtractor{nullptr};
std::atomic<JSONFileWrapper> sFileWrapper{nullptr};
std::atomic<JSONFolderWrapper> sFolderWrapper{nullptr};

} // namespace

void SetFileFolderExtractorAndWrapper(JSONFileExtractor fileExtractor, JSONFolderExtractor folderExtractor,
                                      JSONFileWrapper fileWrapper, JSONFolderWrapper folderWrapper) {
    sFileExtractor.store(fileExtractor);
    sFolderExtractor.store(folderExtractor);
    sFileWrapper.store(fileWrapper);
    sFolderWrapper.store(folderWrapper);
}

IFile* ExtractFile(const VJSONValue& value) {
    JSONFileExtractor hook = sFileExtractor.load();
    return hook != nullptr ? hook(value) : nullptr;
}

IFolder* ExtractFolder(const VJSONValue& value) {
    JSONFolderExtractor hook = sFolderExtractor.load();
    return hook != nullptr ? hook(value) : nullptr;
}

VJSONValue WrapFile(IFile* file) {
    JSONFileWrapper hook = sFileWrapper.load();
    return hook != nullptr ? hook(file) : VJSONValue(JSON_undefined);
}

VJSONValue WrapFolder(IFolder* folder) {
    JSONFolderWrapper hook = sFolderWrapper.load();
    return hook != nullptr ? hook(folder) : VJSONValue(JSON_undefined);
}

} // namespace vela
