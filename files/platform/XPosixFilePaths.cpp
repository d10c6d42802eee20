#include "files/platform/XPosixFilePaths.h"

#include "files/platform/XPosixVolumes.h"

#include <string_view>
#include <vector>

namespace vela {

namespace {

struct PosixElements {
    std::u16string normal;                         // "/" + elements joined by '/', or "/" alone
    std::vector<std::pair<int32, int32>> elements; // offset and length in normal
    bool folder = false;
};

void SplitPosix(std::u16string_view posix, PosixElements& out) {
    out.normal.assign(1, u'/');
    out.normal.reserve(posix.size() + 1);
    size_t pos = 0;
    std::u16string_view last;
    while (pos < posix.size()) {
        size_t slash = posix.find(u'/', pos);
        size_t end = slash == std::u16string_view::npos ? posix.size() : slash;
        std::u16string_view element = posix.substr(pos, end - pos);
        pos = end + 1;
        if (element.empty()) continue;
        last = element;
        if (element == u".") continue;
        if (element == u"..") {
            if (!out.elements.empty()) {
                out.normal.resize(out.elements.back().first > 1 ? size_t(out.elements.back().first - 1) : 1);
                out.elements.pop_back();
            }
            continue;
        }
        if (out.normal.size() > 1) out.normal.push_back(u'/');
        out.elements.emplace_back(int32(out.normal.size()), int32(element.size()));
        out.normal.append(element);
    }
    out.folder = posix.back() == u'/' || last == u"..";
}

void AppendSwapped(VString& out, const UniChar* units, int32 count) {
    int32 start = out.GetLength();
    out.AppendUniChars(units, count);
    UniChar* text = out.GetCPointerForWrite(out.GetLength());
    if (text == nullptr) return;
    for (int32 i = start; i < out.GetLength(); ++i) {
        if (text[i] == u':')
            text[i] = u'/';
        else if (text[i] == u'/')
            text[i] = u':';
    }
}

} // namespace

bool XPosixFile::PosixFullPathToHFS(const VString& posix, VString& out) {
    if (posix.IsEmpty() || posix.GetUniChar(1) != u'/') return false;
    PosixElements split;
    SplitPosix(std::u16string_view(posix.GetCPointer(), size_t(posix.GetLength())), split);
    int32 mountLength = 0;
    VString result;
    if (!XPosixVolumes::Get().FindVolumeOfPath(split.normal, mountLength, result)) return false;
    bool any = false;
    for (const auto& [offset, length] : split.elements) {
        if (offset < mountLength) continue; // inside the mount path
        result.AppendUniChar(u':');
        AppendSwapped(result, split.normal.data() + offset, length);
        any = true;
    }
    if (split.folder || (!any && mountLength == 1)) result.AppendUniChar(u':');
    out = result;
    return true;
}

bool XPosixFile::HFSFullPathToPosix(const VString& hfs, VString& out) {
    int32 colon = hfs.FindUniChar(u':');
    int32 nameLength = colon > 0 ? colon - 1 : hfs.GetLength();
    VString name;
    name.FromUniString(hfs.GetCPointer(), nameLength);
    VString result;
    bool found = false;
    if (!name.IsEmpty()) {
        found = XPosixVolumes::Get().GetMountPathFromVolumeName(name, result);
        if (!found) {
            result.AppendUniChar(u'/');
            result.AppendString(name);
        }
        if (result.IsEmpty() || result.GetUniChar(result.GetLength()) != u'/') result.AppendUniChar(u'/');
    }
    if (colon > 0) AppendSwapped(result, hfs.GetCPointer() + colon, hfs.GetLength() - colon);
    out = result;
    return found;
}

} // namespace vela
