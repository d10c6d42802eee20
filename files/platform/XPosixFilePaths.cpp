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

void AppendSwapped(std::u16string& out, const UniChar* units, int32 count) {
    for (int32 i = 0; i < count; ++i) {
        UniChar c = units[i];
        out.push_back(c == u':' ? u'/' : c == u'/' ? u':' : c);
    }
}

} // namespace

bool XPosixFile::PosixFullPathToHFS(const VString& posix, VString& out) {
    if (posix.IsEmpty() || posix.GetUniChar(1) != u'/') return false;
    PosixElements split;
    SplitPosix(std::u16string_view(posix.GetCPointer(), size_t(posix.GetLength())), split);
    int32 mountLength = 0;
    VString name;
    if (!XPosixVolumes::Get().FindVolumeOfPath(split.normal, mountLength, name)) return false;
    std::u16string result(name.GetCPointer(), size_t(name.GetLength()));
    bool any = false;
    for (const auto& [offset, length] : split.elements) {
        if (offset < mountLength) continue; // inside the mount path
        result.push_back(u':');
        AppendSwapped(result, split.normal.data() + offset, length);
        any = true;
    }
    if (split.folder || (!any && mountLength == 1)) result.push_back(u':');
    out.FromUniString(result.data(), int32(result.size()));
    return true;
}

bool XPosixFile::HFSFullPathToPosix(const VString& hfs, VString& out) {
    int32 colon = hfs.FindUniChar(u':');
    int32 nameLength = colon > 0 ? colon - 1 : hfs.GetLength();
    VString name;
    name.FromUniString(hfs.GetCPointer(), nameLength);
    VString mount;
    std::u16string result;
    bool found = false;
    if (!name.IsEmpty()) {
        found = XPosixVolumes::Get().GetMountPathFromVolumeName(name, mount);
        if (found) {
            result.assign(mount.GetCPointer(), size_t(mount.GetLength()));
        } else {
            result.push_back(u'/');
            result.append(name.GetCPointer(), size_t(name.GetLength()));
        }
        if (result.empty() || result.back() != u'/') result.push_back(u'/');
    }
    if (colon > 0) AppendSwapped(result, hfs.GetCPointer() + colon, hfs.GetLength() - colon);
    out.FromUniString(result.data(), int32(result.size()));
    return found;
}

} // namespace vela
