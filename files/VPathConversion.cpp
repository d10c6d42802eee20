#include "files/VPathConversion.h"

#include "files/platform/XPosixFilePaths.h"

namespace vela {

namespace {

void FlushSeparators(VString& out, int32& pending) {
    for (; pending > 0; --pending)
        out.AppendUniChar(u':');
}

void PosixToSystemText(VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 n = text.GetLength();
    VString out;
    out.EnsureSize(n);
    int32 pending = 0;
    bool atStart = true;
    for (int32 i = 0; i < n;) {
        if (atStart && units[i] == u'.' && i + 1 < n && units[i + 1] == u'/') {
            i += 2;
            continue;
        }
        if (atStart && units[i] == u'.' && i + 2 < n && units[i + 1] == u'.' && units[i + 2] == u'/') {
            ++pending;
            i += 3;
            continue;
        }
        if (units[i] == u'/') {
            ++pending;
            atStart = true;
            ++i;
            continue;
        }
        FlushSeparators(out, pending);
        out.AppendUniChar(units[i] == u':' ? u'/' : units[i]);
        atStart = false;
        ++i;
    }
    FlushSeparators(out, pending);
    text.Swap(out);
}

void AppendParentSteps(VString& out, int32 count) {
    for (int32 i = 0; i < count; ++i)
        out.AppendCString("../");
}

void SystemToPosixRelative(VString& text) {
    const UniChar* units = text.GetCPointer();
    int32 n = text.GetLength();
    VString out;
    out.EnsureSize(n);
    for (int32 i = 0; i < n;) {
        if (units[i] != u':') {
            out.AppendUniChar(units[i] == u'/' ? u':' : units[i]);
            ++i;
            continue;
        }
        int32 run = 0;
        while (i + run < n && units[i + run] == u':')
            ++run;
        if (i > 0) out.AppendUniChar(u'/');
        AppendParentSteps(out, run - 1);
        i += run;
    }
    text.Swap(out);
}

} // namespace

void PosixToSystemPath(VString& text) {
    if (!text.IsEmpty() && text.GetUniChar(1) == u'/') {
        VString converted;
        if (XPosixFile::PosixFullPathToHFS(text, converted)) {
            text.Swap(converted);
            return;
        }
    }
    PosixToSystemText(text);
}

void SystemToPosixPath(VString& text, bool relative) {
    if (text.IsEmpty()) return;
    if (relative) {
        SystemToPosixRelative(text);
        return;
    }
    VString converted;
    XPosixFile::HFSFullPathToPosix(text, converted);
    text.Swap(converted);
}

} // namespace vela
