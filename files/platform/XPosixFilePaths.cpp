#include "files/platform/XPosixFilePaths.h"

#include "files/platform/XPosixVolumes.h"

#include <algorithm>
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

// True when text (absolute) holds no "//" and no "." or ".." element: it is its own normal form, but for a
// trailing '/'.
bool IsNormalPosix(std::u16string_view text) {
    const size_t n = text.size();
    const char16_t* units = text.data();
    // Branch-free over the units that three more follow, which the compiler vectorises; the last ones one by
    // one. Paths are most often normal, so the whole text is usually read.
    unsigned bad = 0;
    size_t i = 0;
    for (; i + 3 < n; ++i) {
        const unsigned dot = units[i + 1] == u'.';
        bad |= unsigned(units[i] == u'/') & (unsigned(units[i + 1] == u'/') | (dot & unsigned(units[i + 2] == u'/')) |
                                             (dot & unsigned(units[i + 2] == u'.') & unsigned(units[i + 3] == u'/')));
    }
    if (bad != 0) return false;
    for (; i < n; ++i) {
        if (text[i] != u'/' || i + 1 == n) continue;
        const char16_t next = text[i + 1];
        if (next == u'/') return false;
        if (next != u'.') continue;
        const size_t after = i + 2 < n && text[i + 2] == u'.' ? i + 3 : i + 2;
        if (after >= n || text[after] == u'/') return false;
    }
    return true;
}

// The internal form of a normal absolute path (see IsNormalPosix) longer than "/", written in one go: the
// volume name, then the text after the mount path with '/' and ':' swapped.
bool NormalPosixToHFS(std::u16string_view text, VString& out) {
    const bool folder = text.back() == u'/';
    const std::u16string_view normal = folder ? text.substr(0, text.size() - 1) : text;
    int32 mountLength = 0;
    std::u16string_view name;
    if (!XPosixVolumes::Get().GetTable().FindVolumeOfPath(normal, mountLength, name)) return false;
    const std::u16string_view rest = normal.substr(mountLength == 1 ? 0 : size_t(mountLength));
    const int64 size = int64(name.size()) + int64(rest.size()) + (folder ? 1 : 0);
    if (size > VString::kMaxLength) return false;
    VString result;
    UniChar* write = result.GetCPointerForWrite(int32(size));
    if (write == nullptr) return false;
    write = std::copy(name.begin(), name.end(), write);
    for (char16_t c : rest)
        *write++ = c == u':' ? u'/' : c == u'/' ? u':' : c;
    if (folder) *write = u':';
    result.Validate(int32(size));
    out.Swap(result);
    return true;
}

} // namespace

bool XPosixFile::PosixFullPathToHFS(const VString& posix, VString& out) {
    if (posix.IsEmpty() || posix.GetUniChar(1) != u'/') return false;
    const std::u16string_view text(posix.GetCPointer(), size_t(posix.GetLength()));
    if (text.size() > 1 && IsNormalPosix(text)) return NormalPosixToHFS(text, out);
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
    const int32 colon = hfs.FindUniChar(u':');
    const int32 nameLength = colon > 0 ? colon - 1 : hfs.GetLength();
    const UniChar* units = hfs.GetCPointer();
    // The mount path, or "/" and the name of a volume that is not mounted; it is written ending with '/',
    // which stands for the ':' after the name: the elements follow it.
    std::u16string_view mount;
    bool found = false;
    if (nameLength > 0) {
        const std::u16string_view name(units, size_t(nameLength));
        const std::u16string* mounted = XPosixVolumes::Get().GetTable().FindMountOfName(name);
        found = mounted != nullptr;
        mount = found ? std::u16string_view(*mounted) : name;
    }
    const bool rootSlash = nameLength > 0 && !found;
    const bool endSlash = nameLength > 0 && (mount.empty() || mount.back() != u'/');
    const int32 restStart = colon > 0 ? colon : hfs.GetLength();
    const int64 size = int64(rootSlash) + int64(mount.size()) + int64(endSlash) + (hfs.GetLength() - restStart);
    if (size > VString::kMaxLength) return found;
    VString result;
    UniChar* write = result.GetCPointerForWrite(int32(size));
    if (write == nullptr) return found;
    if (rootSlash) *write++ = u'/';
    write = std::copy(mount.begin(), mount.end(), write);
    if (endSlash) *write++ = u'/';
    for (int32 i = restStart; i < hfs.GetLength(); ++i) {
        const UniChar c = units[i];
        *write++ = c == u':' ? u'/' : c == u'/' ? u':' : c;
    }
    result.Validate(int32(size));
    out.Swap(result);
    return found;
}

} // namespace vela
