#include "files/VFilePath.h"

#include "core/VTask.h"
#include "files/VFileError.h"
#include "files/VFolder.h"
#include "files/VPathConversion.h"

#include <string>
#include <vector>

namespace vela {

namespace {

constexpr UniChar kSeparator = u':';

int32 LastColon(const VString& text) {
    return text.IsEmpty() ? 0 : text.FindUniChar(kSeparator, text.GetLength(), true);
}

// The ':' that stands before the last character, 0 when none.
int32 ColonBeforeLast(const VString& text) {
    return text.GetLength() < 2 ? 0 : text.FindUniChar(kSeparator, text.GetLength() - 1, true);
}

bool EndsWithColon(const VString& text) {
    return !text.IsEmpty() && text.GetUniChar(text.GetLength()) == kSeparator;
}

// Keeps the text up to the ':' at colon (cleared when 0); answers whether anything is left.
bool CutAfter(VString& text, int32 colon) {
    if (colon == 0)
        text.Clear();
    else
        text.Truncate(colon);
    return !text.IsEmpty();
}

// A name holding ':' would stand for more than one element: refused with 614.
bool RefuseColon(const VString& name) {
    if (name.FindUniChar(kSeparator) == 0) return false;
    _ThrowError(VE_FILE_BAD_NAME);
    return true;
}

// True when units hold no NUL and no "::" (no parent step): the text is then its own resolved form. One
// branch-free pass that the compiler vectorises, so that the common path costs a fraction of the full check.
bool IsPlainPath(const UniChar* units, int32 n) noexcept {
    if (n == 0) return true;
    unsigned bad = units[n - 1] == 0;
    for (int32 i = 0; i + 1 < n; ++i)
        bad |= unsigned(units[i] == 0) | (unsigned(units[i] == kSeparator) & unsigned(units[i + 1] == kSeparator));
    return bad == 0;
}

bool HoldsNul(const VString& text) {
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < text.GetLength(); ++i)
        if (units[i] == 0) return true;
    return false;
}

// Exact prefix: containment never folds case or accents (a case-sensitive disk holds both "Data" and "data").
bool HasPrefix(const VString& text, const VString& prefix) {
    return text.BeginsWithRawString(prefix);
}

// Removes every element followed by "::" (its parent step) in one pass, with a stack of the kept elements'
// starts: no recursion, so a path of any depth resolves in linear time. A step that climbs above the volume
// makes the path invalid.
bool ResolveColonSteps(VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 n = text.GetLength();
    int32 first = 0;
    while (first + 1 < n && !(units[first] == kSeparator && units[first + 1] == kSeparator))
        ++first;
    if (first + 1 >= n) return true; // no parent step: the common case costs one scan
    std::u16string out;
    out.reserve(size_t(n));
    std::vector<size_t> starts;
    int32 p = 0;
    while (p < n) {
        int32 q = p;
        while (q < n && units[q] != kSeparator)
            ++q;
        if (q == n) {
            out.append(units + p, size_t(n - p));
            break;
        }
        if (q + 1 < n && units[q + 1] == kSeparator) {
            if (starts.empty()) return false; // the volume itself is stepped out of
            p = q + 2;
            while (p < n && units[p] == kSeparator) {
                out.resize(starts.back());
                starts.pop_back();
                if (starts.empty()) return false;
                ++p;
            }
            continue;
        }
        starts.push_back(out.size());
        out.append(units + p, size_t(q + 1 - p));
        p = q + 1;
    }
    if (int32(out.size()) != n) text.FromUniString(out.data(), int32(out.size()));
    return true;
}

bool IsDotSlash(const UniChar* units, int32 n, int32 at) {
    return at + 1 < n && units[at] == u'.' && units[at + 1] == u'/';
}

bool IsDotDotSlash(const UniChar* units, int32 n, int32 at) {
    return at + 2 < n && units[at] == u'.' && units[at + 1] == u'.' && units[at + 2] == u'/';
}

} // namespace

VFilePath& VFilePath::FromFilePath(const VFilePath& other) {
    fPath = other.fPath;
    fIsValid = other.fIsValid;
    return *this;
}

bool VFilePath::FromFullPath(const VString& full, FilePathStyle style, bool) {
    fPath = full;
    if (style == FPS_POSIX) PosixToSystemPath(fPath);
    _ApplyValidity();
    return fIsValid;
}

bool VFilePath::FromRelativePath(const VFolder& base, const VString& relative, FilePathStyle style, bool flag) {
    return FromRelativePath(base.GetPathRef(), relative, style, flag);
}

bool VFilePath::FromRelativePath(const VFilePath& base, const VString& relative, FilePathStyle style, bool flag) {
    if (style == FPS_POSIX && flag) {
        if (base.IsValid() && base.IsFolder()) {
            VString converted(relative);
            PosixToSystemPath(converted);
            fPath = base.fPath;
            fPath.AppendString(converted);
        } else {
            fPath.Clear();
        }
    } else if (style == FPS_POSIX) {
        VString converted(relative);
        PosixToSystemPath(converted);
        if (!relative.IsEmpty() && relative.GetUniChar(1) == u'/') {
            fPath = converted;
        } else {
            fPath = base.fPath;
            fPath.AppendString(converted);
        }
    } else if (style == FPS_SYSTEM) {
        fPath = base.fPath;
        fPath.AppendString(relative);
    }
    _ApplyValidity();
    return fIsValid;
}

void VFilePath::Clear() {
    fPath.Clear();
    fIsValid = false;
}

void VFilePath::_ApplyValidity() {
    const UniChar* units = fPath.GetCPointer();
    const int32 n = fPath.GetLength();
    if (n > 0 && units[0] != kSeparator && IsPlainPath(units, n)) {
        fIsValid = true;
        return;
    }
    fIsValid = !fPath.IsEmpty() && !HoldsNul(fPath) && _ResolveRelative(fPath);
}

VString VFilePath::GetPath(FilePathStyle style) const {
    if (style == FPS_SYSTEM) return fPath;
    VString posix;
    GetPosixPath(posix);
    return posix;
}

void VFilePath::GetPosixPath(VString& out) const {
    if (!fIsValid) {
        out.Clear();
        return;
    }
    out = fPath;
    SystemToPosixPath(out, false);
}

bool VFilePath::IsFolder() const noexcept {
    return fIsValid && EndsWithColon(fPath);
}

bool VFilePath::IsFile() const noexcept {
    return fIsValid && !fPath.IsEmpty() && !EndsWithColon(fPath);
}

bool VFilePath::HasParent() const noexcept {
    return fIsValid && ColonBeforeLast(fPath) > 0;
}

int32 VFilePath::GetDepth() const noexcept {
    if (!fIsValid) return 0;
    int32 depth = EndsWithColon(fPath) ? 0 : 1;
    const UniChar* units = fPath.GetCPointer();
    for (int32 i = 0; i < fPath.GetLength(); ++i)
        if (units[i] == kSeparator) ++depth;
    return depth;
}

bool VFilePath::IsChildOf(const VFilePath& parent) const noexcept {
    return IsSameOrChildOf(parent) && !fPath.EqualToStringRaw(parent.fPath);
}

bool VFilePath::IsSameOrChildOf(const VFilePath& parent) const noexcept {
    return fIsValid && parent.IsFolder() && HasPrefix(fPath, parent.fPath);
}

void VFilePath::GetName(VString& out) const {
    int32 end = EndsWithColon(fPath) ? fPath.GetLength() - 1 : fPath.GetLength();
    int32 colon = end > 0 ? fPath.FindUniChar(kSeparator, end, true) : 0;
    if (colon == 0 && end == fPath.GetLength()) {
        out = fPath;
        return;
    }
    fPath.GetSubString(colon + 1, end - colon, out);
    if (end - colon == 0) out.Clear();
}

void VFilePath::GetFileName(VString& out, bool withExtension) const {
    if (!IsFile()) {
        out.Clear();
        return;
    }
    int32 colon = LastColon(fPath);
    int32 end = fPath.GetLength();
    if (!withExtension) {
        int32 dot = fPath.FindUniChar(u'.', end, true);
        if (dot > colon) end = dot - 1;
    }
    out.FromUniString(fPath.GetCPointer() + colon, end - colon);
}

void VFilePath::GetFolderName(VString& out, bool withExtension) const {
    if (!IsFolder()) {
        out.Clear();
        return;
    }
    int32 colon = ColonBeforeLast(fPath);
    if (colon == 0) {
        out = fPath;
        return;
    }
    int32 end = fPath.GetLength() - 1;
    if (!withExtension) {
        int32 dot = fPath.FindUniChar(u'.', end, true);
        if (dot > colon) end = dot - 1;
    }
    out.FromUniString(fPath.GetCPointer() + colon, end - colon);
}

void VFilePath::GetExtension(VString& out) const {
    out.Clear();
    if (fPath.IsEmpty()) return;
    bool folder = EndsWithColon(fPath);
    int32 end = folder ? fPath.GetLength() - 1 : fPath.GetLength();
    if (end < 1) return;
    int32 separator = fPath.FindUniChar(kSeparator, end, true);
    int32 dot = fPath.FindUniChar(u'.', end, true);
    if (dot == 0 || dot <= separator || dot == end) return;
    out.FromUniString(fPath.GetCPointer() + dot, end - dot);
}

bool VFilePath::MatchExtension(const VString& extension, bool diacritical) const {
    VString suffix(u'.');
    suffix.AppendString(extension);
    if (IsFolder()) suffix.AppendUniChar(kSeparator);
    return fPath.EndsWith(suffix, diacritical);
}

bool VFilePath::GetParent(VFilePath& out) const {
    out.FromFilePath(*this);
    out.ToParent();
    if (!fIsValid) out.Clear();
    return out.fIsValid;
}

bool VFilePath::GetFolder(VFilePath& out) const {
    out.FromFilePath(*this);
    out.ToFolder();
    if (!fIsValid) out.Clear();
    return out.fIsValid;
}

bool VFilePath::GetRelativePath(const VFilePath& base, VString& out) const {
    if (base.IsFolder() && HasPrefix(fPath, base.fPath)) {
        fPath.GetSubString(base.fPath.GetLength() + 1, fPath.GetLength() - base.fPath.GetLength(), out);
        if (fPath.GetLength() == base.fPath.GetLength()) out.Clear();
        return true;
    }
    out = fPath;
    return false;
}

bool VFilePath::GetRelativePosixPath(const VFilePath& base, VString& out) const {
    if (GetRelativePath(base, out)) {
        SystemToPosixPath(out, true);
        return true;
    }
    GetPosixPath(out);
    return false;
}

VFilePath& VFilePath::ToParent() {
    if (!fIsValid) return *this;
    fIsValid = _GetParent(fPath);
    return *this;
}

VFilePath& VFilePath::ToFolder() {
    if (!fIsValid) return *this;
    fIsValid = _GetFolder(fPath);
    return *this;
}

VFilePath& VFilePath::ToSubFolder(const VString& name) {
    if (IsFolder()) {
        fPath.AppendString(name);
        fPath.AppendUniChar(kSeparator);
    }
    return *this;
}

VFilePath& VFilePath::ToSubFile(const VString& name) {
    if (IsFolder()) fPath.AppendString(name);
    return *this;
}

bool VFilePath::SetName(const VString& name) {
    if (RefuseColon(name)) return false;
    if (!fIsValid) return false;
    bool folder = EndsWithColon(fPath);
    fIsValid = folder ? _GetParent(fPath) : _GetFolder(fPath);
    if (fIsValid) {
        fPath.AppendString(name);
        if (folder) fPath.AppendUniChar(kSeparator);
    }
    return fIsValid;
}

bool VFilePath::SetFileName(const VString& name, bool withExtension) {
    if (RefuseColon(name)) return false;
    if (!fIsValid) return false;
    if (EndsWithColon(fPath)) {
        fPath.AppendString(name);
        return true;
    }
    return _ReplaceLastName(name, withExtension, false);
}

// Refuses ':' like the other name setters: such a name would silently add a path level.
bool VFilePath::SetFolderName(const VString& name, bool withExtension) {
    if (RefuseColon(name)) return false;
    if (!IsFolder()) return false;
    return _ReplaceLastName(name, withExtension, true);
}

bool VFilePath::_ReplaceLastName(const VString& name, bool withExtension, bool folder) {
    VString extension;
    if (!withExtension) GetExtension(extension);
    fIsValid = folder ? _GetParent(fPath) : _GetFolder(fPath);
    if (!fIsValid) return false;
    fPath.AppendString(name);
    if (!extension.IsEmpty()) {
        fPath.AppendUniChar(u'.');
        fPath.AppendString(extension);
    }
    if (folder) fPath.AppendUniChar(kSeparator);
    return true;
}

bool VFilePath::SetExtension(const VString& extension) {
    if (!fIsValid || fPath.IsEmpty()) return false;
    return EndsWithColon(fPath) ? SetFolderExtension(extension) : SetFileExtension(extension);
}

bool VFilePath::SetFileExtension(const VString& extension) {
    int32 dot = fPath.IsEmpty() ? 0 : fPath.FindUniChar(u'.', fPath.GetLength(), true);
    if (dot > 0 && LastColon(fPath) > dot) dot = 0;
    if (!extension.IsEmpty()) {
        if (dot == fPath.GetLength() && dot > 0) {
            fPath.AppendString(extension);
        } else if (dot > 0) {
            fPath.Truncate(dot);
            fPath.AppendString(extension);
        } else {
            fPath.AppendUniChar(u'.');
            fPath.AppendString(extension);
        }
    } else if (dot > 0) {
        fPath.Truncate(dot - 1);
    }
    return fIsValid;
}

bool VFilePath::SetFolderExtension(const VString& extension) {
    if (!EndsWithColon(fPath)) return false;
    int32 trailing = fPath.GetLength();
    int32 dot = trailing > 1 ? fPath.FindUniChar(u'.', trailing - 1, true) : 0;
    if (dot > 0 && ColonBeforeLast(fPath) > dot) dot = 0;
    if (!extension.IsEmpty()) {
        if (dot == trailing - 1) {
            fPath.Insert(extension, trailing);
        } else if (dot > 0) {
            fPath.Replace(extension, dot + 1, trailing - 1 - dot);
        } else {
            VString dotted(u'.');
            dotted.AppendString(extension);
            fPath.Insert(dotted, trailing);
        }
    } else if (dot > 0) {
        fPath.Remove(dot, trailing - dot);
    }
    return fIsValid;
}

void VFilePath::RemoveBlanks() {
    std::vector<VString> elements;
    fPath.GetSubStrings(kSeparator, elements, true, false);
    if (elements.empty()) elements.push_back(fPath);
    VIntlMgr* intlMgr = VTask::GetCurrentIntlManager();
    for (VString& element : elements)
        element.RemoveWhiteSpaces(true, true, nullptr, nullptr, intlMgr);
    fPath.Join(elements, kSeparator);
}

bool VFilePath::_ResolveRelative(VString& text) {
    if (text.IsEmpty()) return true;
    if (text.GetUniChar(1) == kSeparator) return false;
    return ResolveColonSteps(text) && !(text.GetLength() > 0 && text.GetUniChar(1) == kSeparator);
}

bool VFilePath::_GetParent(VString& text) {
    return CutAfter(text, ColonBeforeLast(text));
}

bool VFilePath::_GetFolder(VString& text) {
    return CutAfter(text, LastColon(text));
}

// The same rules as the colon steps, for '/' text: "./" after a separator vanishes, "elem/../" goes, "//"
// fails. Once the first element is stepped out of, the rest is left as it stands.
bool VFilePath::ResolveRelativePosix(VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 n = text.GetLength();
    if (n == 0) return true;
    std::u16string out;
    out.reserve(size_t(n));
    std::vector<size_t> starts;
    int32 p = 0;
    while (p < n) {
        int32 q = p;
        while (q < n && units[q] != u'/')
            ++q;
        if (q == n) {
            out.append(units + p, size_t(n - p));
            break;
        }
        int32 next = q + 1;
        while (IsDotSlash(units, n, next))
            next += 2;
        if (next < n && units[next] == u'/') return false;
        if (!IsDotDotSlash(units, n, next)) {
            starts.push_back(out.size());
            out.append(units + p, size_t(q + 1 - p));
            p = next;
            continue;
        }
        // This element goes with "../"; its parents look again at what now follows them.
        p = next + 3;
        while (!starts.empty()) {
            while (IsDotSlash(units, n, p))
                p += 2;
            if (p < n && units[p] == u'/') return false;
            if (!IsDotDotSlash(units, n, p)) break;
            out.resize(starts.back());
            starts.pop_back();
            p += 3;
        }
        if (starts.empty()) {
            out.append(units + p, size_t(n - p));
            break;
        }
    }
    if (int32(out.size()) != n) text.FromUniString(out.data(), int32(out.size()));
    return true;
}

CharSet VFilePath::DebugDump(char* buffer, int& length) const {
    if (buffer == nullptr || length <= 0) {
        length = 0;
        return VTC_UTF_8;
    }
    size_t written = fPath.ToBlock(buffer, size_t(length), VTC_UTF_8, false, false);
    length = int(written);
    return VTC_UTF_8;
}

} // namespace vela
