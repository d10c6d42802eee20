#pragma once

#include "core/VObject.h"
#include "core/VString.h"
#include "files/VFilePath.h"

namespace vela {

class VFolder;

// The parts of a URL, in text order ("scheme://netloc/path;params?query#fragment").
enum EURLParts { e_Scheme = 0, e_NetLoc, e_Path, e_Params, e_Query, e_Fragment, e_PartCount };

// Path styles: POSIX ('/'), the internal ':' form, Windows ('\').
enum EURLPathStyle { eURL_POSIX_STYLE = 0, eURL_HFS_STYLE = 1, eURL_WIN_STYLE = 2 };

// One URL as decoded text and the positions of its six parts. The fragment is found first, then the query
// before it, then the parameters before that, so parts never overlap. Each part is also kept in encoded form,
// where an escaped mark ("%2F", "%23", ...) stays escaped: walking up, rebuilding and the encoded getters work
// on that form, so a decoded mark never changes the URL's structure.
class VURL : public VObject {
public:
    VURL() = default;
    // encoded: text is percent-encoded; it is kept as given (when it holds only URI characters) and decoded.
    VURL(const VString& text, bool encoded);
    // A URL of a path in style, put after base.
    VURL(const VString& path, EURLPathStyle style, const VString& base);
    // The "file" URL of path.
    explicit VURL(const VFilePath& path) { FromFilePath(path); }
    // The "file" URL of relative (in style) taken from folder.
    VURL(const VFolder& folder, const VString& relative, EURLPathStyle style) {
        FromRelativePath(folder, relative, style);
    }

    void FromURL(const VURL& other) { *this = other; }
    // Everything emptied; not parsed.
    void Clear();

    void FromString(const VString& text, bool encoded);
    // When text holds no "://" and base is not empty, base is put in front (with a '/' between them unless text
    // begins with '/'); the kept encoded form is that of text alone.
    void FromString(const VString& text, const VString& base, bool encoded);
    // path converted to POSIX from style ('\' to '/'; internal form as a relative path), after base and a '/'.
    void FromFilePath(const VString& path, EURLPathStyle style, const VString& base);
    // The "file" URL of path's POSIX text ("file:///a/b"); an invalid or empty path empties the URL (not parsed).
    void FromFilePath(const VFilePath& path);
    // The "file" URL of relative (in style, Windows text read as POSIX with '\' for '/') taken from folder.
    void FromRelativePath(const VFilePath& folder, const VString& relative, EURLPathStyle style);
    void FromRelativePath(const VFolder& folder, const VString& relative, EURLPathStyle style);

    // The path of a "file" URL (or of one without scheme), through the mounted volumes; a URL of another scheme
    // clears out. Answers out's validity.
    bool GetFilePath(VFilePath& out) const;

    // The whole URL: the decoded text, or encoded (the text as given when kept, else rebuilt from the parts,
    // with the query before the parameters).
    void GetAbsoluteURL(VString& out, bool encoded) const;
    // The decoded text, or the parts joined again and each encoded with brackets.
    void GetRelativeURL(VString& out, bool encoded) const;

    // One part's text, empty when absent; encoded: the part's encoded form, brackets escaped.
    void GetScheme(VString& out) const { _GetPart(out, e_Scheme); }
    void GetNetworkLocation(VString& out, bool encoded) const { _GetEncodedPart(out, e_NetLoc, encoded); }
    // The path in style (Windows: '\'; internal: POSIX_to_HFS).
    void GetPath(VString& out, EURLPathStyle style, bool encoded) const;
    void GetParameters(VString& out, bool encoded) const { _GetEncodedPart(out, e_Params, encoded); }
    void GetQuery(VString& out, bool encoded) const { _GetEncodedPart(out, e_Query, encoded); }
    void GetFragment(VString& out, bool encoded) const { _GetEncodedPart(out, e_Fragment, encoded); }
    // The text after the path (parameters, query, fragment with their separators); empty when none.
    void GetResourceSpecifier(VString& out, bool encoded) const;

    // The network location taken apart by ParseNetLocation; encoded with brackets when asked.
    void GetHostName(VString& out, bool encoded) const;
    void GetUserName(VString& out, bool encoded) const;
    void GetPassword(VString& out, bool encoded) const;
    void GetPortNumber(VString& out, bool encoded) const;
    // The port's decimal digits (other characters skipped); -1 for a space or a value reaching 65537; 0 without
    // a port.
    int GetPortNumber() const;

    // The path's text after its last '/' (a final '/' is not searched and stays).
    void GetLastPathComponent(VString& out, bool encoded) const;
    // The path part as stored; the style changes nothing.
    void GetRelativePath(VString& out, EURLPathStyle style, bool encoded) const;

    // The scheme equals scheme unit for unit.
    bool IsScheme(const VString& scheme) const;
    // The path holds no '/' or only a last one.
    bool IsRoot() const;
    // Drops the last path element (a trailing '/' ignored), keeping the '/' before it; false for a root, when
    // there is no '/', or when the URL has no scheme and network location ended by '/' or '?'.
    bool ToParent();
    // A copy moved to its parent (the caller owns it), or null.
    VURL* RetainParent() const;
    // Appends name to a path that ends with '/' (in a URL that ToParent can change); answers whether it did.
    bool ToSubFolder(const VString& name);

    // Sets the path from text in style (as POSIX), reanalysing the URL.
    void SetRelativePath(const VString& text, EURLPathStyle style, bool encoded);
    void SetScheme(const VString& text) { _SetPart(text, e_Scheme); }
    void SetNetWorkLocation(const VString& text, bool encoded) { _SetDecodedPart(text, e_NetLoc, encoded); }
    void SetParameters(const VString& text, bool encoded) { _SetDecodedPart(text, e_Params, encoded); }
    void SetQuery(const VString& text, bool encoded) { _SetDecodedPart(text, e_Query, encoded); }
    void SetFragment(const VString& text, bool encoded) { _SetDecodedPart(text, e_Fragment, encoded); }

    // The result of the last analysis: a scheme and a network location ended by '/' or '?'.
    bool IsParsed() const noexcept { return fParsed; }
    // 1-based start (0 when absent) and length of a part in the decoded text.
    int32 GetPartStart(EURLParts part) const noexcept { return fParts[part].fStart; }
    int32 GetPartLength(EURLParts part) const noexcept { return fParts[part].fLength; }

    // user-info before the first '@' (user, then password after its first ':'); host and port after it: a host
    // in '[' ']' (brackets removed) with the port after the next ':', else split at the last ':'. Null outputs
    // are skipped.
    static void ParseNetLocation(const VString& netloc, VString* user, VString* password, VString* host, VString* port);
    // Percent-encodes the UTF-8 bytes of text that are controls, non-ASCII or unsafe ('<', '>', '"', '#', '%',
    // '{', '}', '|', '\', '^', '`', space, and '[' ']' when withBrackets), upper-case digits. keepBackslashU
    // keeps a '\' before 'u' as it is. The first flag changes nothing.
    static void Encode(VString& text, bool = false, bool decompose = false, bool withBrackets = true,
                       bool keepBackslashU = false);
    // Turns each run of escapes ('%' and two hexadecimal digits naming a byte other than 0) into its text: one
    // byte as ISO-8859-1, longer runs as UTF-8 (a byte that is not part of a valid sequence as ISO-8859-1).
    // Any other '%' stays as it is, so decoding never makes a NUL.
    static void Decode(VString& text);
    // Between path styles; pairs other than POSIX to and from Windows and internal leave text unchanged.
    static void Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative);
    // POSIX text to the internal form (PosixToSystemPath): an absolute text through the mounted volumes, else
    // textually ("a/b/" gives "a:b:", "../x" ":x", "./a" "a"; ':' in a name becomes '/').
    static void POSIX_to_HFS(VString& text);
    // Internal text to POSIX (SystemToPosixPath): absolute through the mounted volumes; relative, a run of k
    // colons before a name gives '/' and k-1 "../", '/' in a name becomes ':'.
    static void HFS_to_POSIX(VString& text, bool relative);
    static void POSIX_to_WIN(VString& text) { text.Exchange('/', '\\'); }
    static void WIN_to_POSIX(VString& text) { text.Exchange('\\', '/'); }

private:
    struct URLPart {
        int32 fStart = 0;
        int32 fLength = 0;
    };

    // Analyses fURL, takes each part's encoded form from it (encoded: fURL is in encoded form) and decodes it.
    void _Analyse(bool pathOnly, bool encoded);
    bool _BuildURLArray(const VString& text, bool pathOnly);
    void _DecodeParts();
    void _GetPart(VString& out, EURLParts part) const;
    void _GetEncodedPart(VString& out, EURLParts part, bool encoded) const;
    // False, with nothing changed, when the URL does not analyse as scheme, network location and path.
    bool _SetPart(const VString& value, EURLParts part);
    bool _SetEncodedPart(const VString& encoded, EURLParts part);
    void _SetDecodedPart(const VString& text, EURLParts part, bool encoded);
    // The encoded parts joined again ("scheme://netloc/path;params?query#fragment", ":///" without netloc).
    void _JoinEncodedParts(VString& out, bool withBrackets) const;
    void _AppendEncodedTail(VString& out, bool withBrackets) const;
    void _GetNetLocationPiece(VString& out, int piece, bool encoded) const;

    URLPart fParts[e_PartCount];
    // Each part in encoded form, where an escaped '/', '?', '#' or ';' stays escaped; structure is read from these.
    VString fEncodedParts[e_PartCount];
    VString fURL;
    VString fEncodedURL;
    bool fParsed = false;
};

} // namespace vela
