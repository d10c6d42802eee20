#include "files/IFileSystemObject.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTextConverter.h"
#include "core/VTextConverters.h"
#include "files/VFileSystem.h"

namespace vela {

VString IFileSystemObject::GetPathWithFileSystem() const {
    VString out;
    VFileSystem* fileSystem = GetFileSystem();
    if (fileSystem != nullptr && fileSystem->GetPathWithName(GetPath(), out)) return out;
    GetPlatformPath(out, FPS_POSIX);
    return out;
}

VError IFile::GetContentAsString(VString& out, CharSet charSet, ECarriageReturnMode mode) const {
    StErrorContextInstaller errors;
    VMemoryBuffer<1024, 2, 1048576> buffer;
    if (GetContent(buffer) != VE_OK) {
        out.Clear();
        return errors.GetLastError();
    }
    out.FromBlockWithOptionalBOM(buffer.GetDataPtr(), buffer.GetDataSize(), charSet);
    out.ConvertCarriageReturns(mode);
    return errors.GetLastError();
}

VError IFile::SetContentAsString(const VString& text, CharSet charSet, ECarriageReturnMode mode, bool withBOM) const {
    StErrorContextInstaller errors;
    VString converted(text);
    converted.ConvertCarriageReturns(mode);
    auto converter = VRefPtr<VFromUnicodeConverter>::Adopt(VTextConverters::Get()->RetainFromUnicodeConverter(charSet));
    if (!converter || !converter->IsValid()) {
        _ThrowError(VE_STREAM_NO_TEXT_CONVERTER);
        return errors.GetLastError();
    }
    VMemoryBuffer<1024, 2, 1048576> bytes;
    size_t bomLength = 0;
    const uchar* bom = VTextConverters::GetBOMForCharSet(charSet, &bomLength);
    if (withBOM && !converted.IsEmpty() && bom != nullptr) bytes.AddData(bom, bomLength);
    if (!converter->ConvertToBuffer(converted.GetCPointer(), converted.GetLength(), bytes, 0)) {
        _ThrowError(VE_STREAM_TEXT_CONVERSION_FAILURE);
        return errors.GetLastError();
    }
    SetContent(bytes.GetDataPtr(), bytes.GetDataSize());
    return errors.GetLastError();
}

VError IFile::CopyContentTo(IFile* destination) const {
    VMemoryBuffer<1024, 2, 1048576> buffer;
    VError error = GetContent(buffer);
    if (destination != nullptr && error == VE_OK)
        error = destination->SetContent(buffer.GetDataPtr(), buffer.GetDataSize());
    return error;
}

bool IFolder::IsSameFolder(const IFolder* other) const {
    return other != nullptr && GetPath().GetPath().EqualToStringRaw(other->GetPath().GetPath());
}

} // namespace vela
