// Analyses arbitrary text as a URL, given decoded and encoded: never crashes; decoding makes no NUL of its own;
// a parsed URL written in encoded form analyses back to the same parts; walking up always ends; a file path
// taken from a URL gives a file URL and a valid path again.
#include "files/VURL.h"

#include <cstdint>

namespace {

using namespace vela;

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

bool HoldsNul(const VString& text) {
    return text.FindUniChar(0) != 0;
}

// A NUL or a lone surrogate cannot come back from the encoded form: the first is never decoded from "%00",
// the second is encoded as U+FFFD.
bool Encodable(const VString& text) {
    const UniChar* units = text.GetCPointer();
    const int32 length = text.GetLength();
    for (int32 i = 0; i < length; ++i) {
        if (units[i] == 0) return false;
        if (units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if (units[i] >= 0xD800 && units[i] <= 0xDFFF) return false;
    }
    return true;
}

VString Part(const VURL& url, EURLParts part) {
    VString whole, text;
    url.GetAbsoluteURL(whole, false);
    if (url.GetPartLength(part) != 0) whole.GetSubString(url.GetPartStart(part), url.GetPartLength(part), text);
    text.Compose();
    return text;
}

void CheckRoundTrip(const VURL& url) {
    VString encoded;
    url.GetRelativeURL(encoded, true);
    VURL again(encoded, true);
    Check(again.IsParsed());
    for (int part = e_Scheme; part < e_PartCount; ++part)
        Check(Part(url, EURLParts(part)).EqualToStringRaw(Part(again, EURLParts(part))));
    // Decoding composes the text, which rewrites what composition does not keep (U+0344 becomes U+0308 U+0301):
    // from the second writing on, the encoded form is stable.
    VString encodedAgain;
    again.GetRelativeURL(encodedAgain, true);
    VURL third(encodedAgain, true);
    VString encodedThird;
    third.GetRelativeURL(encodedThird, true);
    Check(encodedThird.EqualToStringRaw(encodedAgain));
}

// The elements of a path: its '/' marks, and one more when it does not end with '/'.
int32 CountElements(const VString& path) {
    int32 count = 0;
    for (int32 i = 1; i <= path.GetLength(); ++i)
        count += path.GetUniChar(i) == '/';
    return count + (!path.IsEmpty() && path.GetUniChar(path.GetLength()) != '/');
}

// Each step up drops one element of the encoded path (whose other text may be written anew, as "%00" is).
void CheckWalkUp(VURL url) {
    VString path;
    url.GetPath(path, eURL_POSIX_STYLE, true);
    int32 elements = CountElements(path);
    while (url.ToParent()) {
        url.GetPath(path, eURL_POSIX_STYLE, true);
        Check(CountElements(path) < elements);
        elements = CountElements(path);
    }
}

void CheckURL(const VString& text, bool encoded) {
    VURL url(text, encoded);
    VString out;
    url.GetAbsoluteURL(out, false);
    if (encoded && !HoldsNul(text)) Check(!HoldsNul(out));
    url.GetAbsoluteURL(out, true);
    url.GetResourceSpecifier(out, true);
    url.GetLastPathComponent(out, false);
    url.GetHostName(out, true);
    url.GetPortNumber();
    url.GetPath(out, eURL_HFS_STYLE, false);
    if (url.IsParsed() && Encodable(text)) CheckRoundTrip(url);
    CheckWalkUp(url);

    // A path taken from the URL makes a file URL that is parsed, and gives a valid path again.
    VFilePath path;
    if (url.GetFilePath(path)) {
        VURL file(path);
        Check(file.IsParsed());
        VFilePath again;
        Check(file.GetFilePath(again));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VString text;
    text.FromBlock(data, size, VTC_UTF_8);
    CheckURL(text, true);
    CheckURL(text, false);

    VString decoded(text);
    VURL::Decode(decoded);
    if (!HoldsNul(text)) Check(!HoldsNul(decoded));
    if (Encodable(text)) {
        VString encoded(text);
        VURL::Encode(encoded, false, false, true, false);
        VURL::Decode(encoded);
        VString composed(text);
        composed.Compose();
        Check(encoded.EqualToStringRaw(composed));
    }

    // The text split in two at its first line break: a base and a text put after it, or a file path.
    const int32 newline = text.FindUniChar('\n');
    if (newline != 0) {
        VString base, rest;
        text.GetSubString(1, newline - 1, base);
        text.GetSubString(newline + 1, text.GetLength() - newline, rest);
        VURL joined;
        joined.FromString(rest, base, true);
        CheckWalkUp(joined);
        for (EURLPathStyle style : {eURL_POSIX_STYLE, eURL_HFS_STYLE, eURL_WIN_STYLE}) {
            VURL file(rest, style, base);
            if (file.IsParsed() && Encodable(rest) && Encodable(base)) CheckRoundTrip(file);
            CheckWalkUp(file);
        }
    }
    return 0;
}
