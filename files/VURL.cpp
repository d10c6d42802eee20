#include "files/VURL.h"

#include "files/HexDigits.h"
#include "files/VFolder.h"
#include "files/VPathConversion.h"

#include <algorithm>
#include <array>
#include <memory>

namespace vela {

namespace {

// Bytes that Encode escapes: controls, 0x7F and above, and the unsafe marks.
struct UnsafeBytes {
    std::array<bool, 256> fWithBrackets{};
    std::array<bool, 256> fWithoutBrackets{};
    constexpr UnsafeBytes() {
        for (int b = 0; b < 256; ++b)
            fWithoutBrackets[b] = b < 0x20 || b >= 0x7F;
        for (char c : {'<', '>', '"', '#', '%', '{', '}', '|', '\\', '^', '`', ' '})
            fWithoutBrackets[uint8(c)] = true;
        fWithBrackets = fWithoutBrackets;
        fWithBrackets['['] = fWithBrackets[']'] = true;
    }
};
constexpr UnsafeBytes kUnsafeBytes;

// The bytes a part's encoded form escapes: those Encode escapes without brackets, and the marks that would end
// the part when the URL is analysed again, so that a decoded '/', '?', '#' or ';' never changes the structure.
struct PartUnsafeBytes {
    std::array<bool, 256> fBytes[e_PartCount];
    constexpr PartUnsafeBytes() {
        constexpr const char* kEndingMarks[e_PartCount] = {":/?#;", "/?#", ";?#", "?#", "#", ""};
        for (int part = 0; part < e_PartCount; ++part) {
            fBytes[part] = kUnsafeBytes.fWithoutBrackets;
            for (const char* mark = kEndingMarks[part]; *mark != 0; ++mark)
                fBytes[part][uint8(*mark)] = true;
        }
    }
};
constexpr PartUnsafeBytes kPartUnsafeBytes;

// The reserved marks of RFC 3986: an escape of one of them means something other than the mark itself, so it is
// kept as an escape when an encoded part is normalised.
constexpr bool IsReservedMark(int byte) noexcept {
    for (char c : {':', '/', '?', '#', '[', ']', '@', '!', '$', '&', '\'', '(', ')', '*', '+', ',', ';', '='})
        if (byte == uint8(c)) return true;
    return false;
}

// The characters a URL given in encoded form may hold: RFC 3986 reserved and unreserved characters, and '%'.
constexpr std::array<bool, 128> MakeURICharacters() {
    std::array<bool, 128> table{};
    for (int c = '0'; c <= '9'; ++c)
        table[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = table[c + 'a' - 'A'] = true;
    for (char c : {':', '/', '?', '#', '[', ']', '@', '!', '$', '&', '\'', '(',
                   ')', '*', '+', ',', ';', '=', '-', '.', '_', '~', '%'})
        table[uint8(c)] = true;
    return table;
}
constexpr std::array<bool, 128> kURICharacters = MakeURICharacters();

bool HoldsOnlyURICharacters(const VString& text) noexcept {
    const UniChar* units = text.GetCPointer();
    for (int32 i = 0; i < text.GetLength(); ++i)
        if (units[i] >= 128 || !kURICharacters[units[i]]) return false;
    return true;
}

// The code point of the UTF-16 text at units[i] and its unit count (a lone surrogate gives U+FFFD).
uint32 CodePointAt(const UniChar* units, int32 i, int32 length, int32& count) noexcept {
    const UniChar c = units[i];
    count = 1;
    if (c < 0xD800 || c > 0xDFFF) return c;
    if (c <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        count = 2;
        return 0x10000 + ((uint32(c) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
    }
    return 0xFFFD;
}

int Utf8Length(uint32 cp) noexcept {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

int ToUtf8(uint32 cp, uint8* out) noexcept {
    if (cp < 0x80) {
        out[0] = uint8(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = uint8(0xC0 | (cp >> 6));
        out[1] = uint8(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = uint8(0xE0 | (cp >> 12));
        out[1] = uint8(0x80 | ((cp >> 6) & 0x3F));
        out[2] = uint8(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = uint8(0xF0 | (cp >> 18));
    out[1] = uint8(0x80 | ((cp >> 12) & 0x3F));
    out[2] = uint8(0x80 | ((cp >> 6) & 0x3F));
    out[3] = uint8(0x80 | (cp & 0x3F));
    return 4;
}

// Decodes the escape at units[i] (byte lead) with the continuation escapes that follow it as one UTF-8
// character; a byte that starts no valid sequence stands for itself as ISO-8859-1 (so does a lone escaped byte).
// Writes the units at out and answers the units of text consumed.
int32 DecodeEscapedCharacter(const UniChar* units, int32 i, int32 length, int lead, UniChar*& out) noexcept {
    const int need = lead < 0x80             ? 0
                     : (lead & 0xE0) == 0xC0 ? 1
                     : (lead & 0xF0) == 0xE0 ? 2
                     : (lead & 0xF8) == 0xF0 ? 3
                                             : -1;
    uint32 cp = need == 1 ? lead & 0x1F : need == 2 ? lead & 0x0F : need == 3 ? lead & 0x07 : uint32(lead);
    bool valid = need >= 0;
    for (int k = 1; valid && k <= need; ++k) {
        const int next = i + 3 * k < length ? Private::EscapedByteAt(units, i + 3 * k, length) : -1;
        valid = next >= 0 && (next & 0xC0) == 0x80;
        cp = (cp << 6) | (uint32(next) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if (valid && need > 0) valid = Utf8Length(cp) == need + 1 && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF;
    if (!valid) {
        *out++ = UniChar(lead);
        return 3;
    }
    if (cp >= 0x10000) {
        *out++ = UniChar(0xD800 + ((cp - 0x10000) >> 10));
        *out++ = UniChar(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        *out++ = UniChar(cp);
    }
    return 3 * (need + 1);
}

// count units from the 1-based start into out; nothing for a count below 1.
void CopyRange(const VString& text, int32 start, int32 count, VString& out) {
    out.Clear();
    if (count > 0) text.GetSubString(start, count, out);
}

// Escapes the UTF-8 bytes of text marked in unsafe (keepBackslashU: not a '\\' before 'u').
void EncodeBytes(VString& text, const std::array<bool, 256>& unsafe, bool keepBackslashU) {
    const UniChar* units = text.GetCPointer();
    const int32 length = text.GetLength();
    auto kept = [&](int32 i) {
        const UniChar c = units[i];
        return c < 0x80 && (!unsafe[c] || (keepBackslashU && c == '\\' && i + 1 < length && units[i + 1] == 'u'));
    };
    int32 first = 0;
    while (first < length && kept(first))
        ++first;
    if (first == length) return;

    // One pass over the text, written in blocks: before each block the buffer is grown to hold its worst case
    // (9 units for each unit in, 3 more for a surrogate pair across its end, 2 spare for the ASCII write below).
    constexpr int32 kBlock = 256;
    constexpr int64 kBlockRoom = 9 * kBlock + 3 + 2;
    VString out;
    int64 capacity = std::min<int64>(int64(length) + (length - first) / 2 + kBlockRoom, VString::kMaxLength);
    UniChar* buffer = out.GetCPointerForWrite(int32(capacity));
    if (buffer == nullptr) return;
    std::copy(units, units + first, buffer);
    int64 written = first;
    for (int32 i = first; i < length;) {
        if (capacity - written < kBlockRoom) {
            const int64 wanted = std::max(capacity * 2, written + kBlockRoom);
            if (written + kBlockRoom >= VString::kMaxLength) return;
            out.Validate(int32(written));
            capacity = std::min<int64>(wanted, VString::kMaxLength);
            buffer = out.GetCPointerForWrite(int32(capacity));
            if (buffer == nullptr) return;
        }
        UniChar* write = buffer + written;
        auto escape = [&write](uint32 byte) {
            write[0] = '%';
            write[1] = UniChar(Private::kUpperHexDigits[byte >> 4]);
            write[2] = UniChar(Private::kUpperHexDigits[byte & 0xF]);
            write += 3;
        };
        for (const int32 end = std::min(length, i + kBlock); i < end;) {
            const UniChar c = units[i];
            if (c < 0x80) {
                // Written as its escape, then kept or not, without a branch.
                bool escaped = unsafe[c];
                if (keepBackslashU && c == '\\' && i + 1 < length && units[i + 1] == 'u') escaped = false;
                write[0] = escaped ? UniChar('%') : c;
                write[1] = UniChar(Private::kUpperHexDigits[c >> 4]);
                write[2] = UniChar(Private::kUpperHexDigits[c & 0xF]);
                write += escaped ? 3 : 1;
                ++i;
            } else if (c < 0x800) {
                escape(0xC0 | (c >> 6));
                escape(0x80 | (c & 0x3F));
                ++i;
            } else if (c < 0xD800 || c > 0xDFFF) {
                escape(0xE0 | (c >> 12));
                escape(0x80 | ((c >> 6) & 0x3F));
                escape(0x80 | (c & 0x3F));
                ++i;
            } else {
                int32 count;
                uint8 bytes[4];
                const int n = ToUtf8(CodePointAt(units, i, length, count), bytes);
                for (int k = 0; k < n; ++k)
                    escape(bytes[k]);
                i += count;
            }
        }
        written = write - buffer;
    }
    out.Validate(int32(written));
    text.Swap(out);
}

// The encoded form of a part given as decoded text.
void EncodePart(VString& text, EURLParts part) {
    EncodeBytes(text, kPartUnsafeBytes.fBytes[part], false);
}

// The encoded form of a part given as encoded text: an escape of a reserved mark stays (upper-case), the text
// between such escapes is decoded and encoded again, so stray '%' and unsafe characters are escaped and the
// decoded form of the result is that of raw.
void NormalizeEncodedPart(const VString& raw, EURLParts part, VString& out) {
    out.Clear();
    const UniChar* units = raw.GetCPointer();
    const int32 length = raw.GetLength();
    int32 segment = 0;
    auto flush = [&](int32 end) {
        if (end == segment) return;
        VString piece;
        piece.AppendUniChars(units + segment, end - segment);
        VURL::Decode(piece);
        EncodePart(piece, part);
        out.AppendString(piece);
    };
    for (int32 i = 0; i < length;) {
        const int byte = Private::EscapedByteAt(units, i, length);
        if (byte < 0 || !IsReservedMark(byte)) {
            i += byte < 0 ? 1 : 3;
            continue;
        }
        flush(i);
        const UniChar escape[3] = {'%', UniChar(Private::kUpperHexDigits[byte >> 4]),
                                   UniChar(Private::kUpperHexDigits[byte & 0xF])};
        out.AppendUniChars(escape, 3);
        i += 3;
        segment = i;
    }
    flush(length);
}

// The bracket marks of an encoded part escaped as well.
void EscapeBrackets(VString& text) {
    if (text.FindUniChar('[') == 0 && text.FindUniChar(']') == 0) return;
    VString out;
    for (int32 i = 1; i <= text.GetLength(); ++i) {
        const UniChar c = text.GetUniChar(i);
        if (c == '[')
            out.AppendCString("%5B");
        else if (c == ']')
            out.AppendCString("%5D");
        else
            out.AppendUniChar(c);
    }
    text.Swap(out);
}

} // namespace

// ---- Construction

VURL::VURL(const VString& text, bool encoded) {
    FromString(text, encoded);
}

VURL::VURL(const VString& path, EURLPathStyle style, const VString& base) {
    FromFilePath(path, style, base);
}

void VURL::Clear() {
    for (URLPart& part : fParts)
        part = URLPart();
    for (VString& part : fEncodedParts)
        part.Clear();
    fURL.Clear();
    fEncodedURL.Clear();
    fParsed = false;
}

void VURL::FromString(const VString& text, bool encoded) {
    fURL = text;
    if (encoded && HoldsOnlyURICharacters(text))
        fEncodedURL = text;
    else
        fEncodedURL.Clear();
    _Analyse(false, encoded);
}

void VURL::FromString(const VString& text, const VString& base, bool encoded) {
    if (base.IsEmpty() || text.Find("://", 1, true) != 0) {
        FromString(text, encoded);
        return;
    }
    VString whole(base);
    if (text.GetUniChar(1) != '/' && base.GetUniChar(base.GetLength()) != '/') whole.AppendUniChar('/');
    whole.AppendString(text);
    FromString(whole, encoded);
    if (encoded && HoldsOnlyURICharacters(text))
        fEncodedURL = text;
    else
        fEncodedURL.Clear();
}

void VURL::FromFilePath(const VString& path, EURLPathStyle style, const VString& base) {
    VString posix(path);
    if (style == eURL_WIN_STYLE)
        WIN_to_POSIX(posix);
    else if (style == eURL_HFS_STYLE)
        HFS_to_POSIX(posix, true);
    VString whole(base);
    int32 skip = 0;
    while (skip < 2 && posix.GetUniChar(skip + 1) == '/')
        ++skip;
    whole.AppendUniChar('/');
    whole.AppendUniChars(posix.GetCPointer() + skip, posix.GetLength() - skip);
    fURL = whole;
    fEncodedURL.Clear();
    _Analyse(true, false);
}

void VURL::FromFilePath(const VFilePath& path) {
    VString posix;
    path.GetPosixPath(posix);
    if (posix.IsEmpty()) {
        Clear();
        return;
    }
    if (posix.GetUniChar(1) == '/' && posix.GetUniChar(2) == '/') {
        fURL = "file:";
    } else {
        fURL = "file://";
        if (posix.GetUniChar(1) != '/') fURL.AppendUniChar('/');
    }
    fURL.AppendString(posix);
    fEncodedURL.Clear();
    _Analyse(true, false);
}

void VURL::FromRelativePath(const VFilePath& folder, const VString& relative, EURLPathStyle style) {
    VString text(relative);
    if (style == eURL_WIN_STYLE) WIN_to_POSIX(text);
    FromFilePath(VFilePath(folder, text, style == eURL_HFS_STYLE ? FPS_SYSTEM : FPS_POSIX, false));
}

void VURL::FromRelativePath(const VFolder& folder, const VString& relative, EURLPathStyle style) {
    FromRelativePath(folder.GetPath(), relative, style);
}

bool VURL::GetFilePath(VFilePath& out) const {
    VString scheme;
    GetScheme(scheme);
    if (!scheme.IsEmpty() && !scheme.EqualToString("file", false)) {
        out.Clear();
        return false;
    }
    VString path;
    _GetPart(path, e_Path);
    if (path.GetUniChar(1) != '/') path.Insert('/', 1);
    POSIX_to_HFS(path);
    return out.FromFullPath(path, FPS_SYSTEM);
}

// ---- Analysis

bool VURL::_BuildURLArray(const VString& text, bool pathOnly) {
    for (URLPart& part : fParts)
        part = URLPart();
    const int32 length = text.GetLength();
    if (length == 0) return true;

    bool parsed = false;
    int32 pathStart = 1;
    const int32 schemeEnd = text.Find("://", 1, true);
    const int32 firstSlash = text.FindUniChar('/');
    const int32 firstColon = text.FindUniChar(':');
    const bool hasScheme = schemeEnd != 0 && !(schemeEnd >= 2 && ((firstSlash != 0 && firstSlash < schemeEnd) ||
                                                                  (firstColon != 0 && firstColon < schemeEnd)));
    // The fragment ends everything before it: a '/', '?' or ';' inside it belongs to it.
    const int32 fragmentMark = pathOnly ? 0 : text.FindUniChar('#', hasScheme ? schemeEnd + 3 : 1);
    const int32 limit = fragmentMark != 0 ? fragmentMark - 1 : length; // last position before the fragment
    if (hasScheme) {
        fParts[e_Scheme] = {schemeEnd > 1 ? 1 : 0, schemeEnd - 1};
        const int32 netStart = schemeEnd + 3;
        int32 slash = text.FindUniChar('/', netStart);
        if (slash > limit) slash = 0;
        int32 question = slash == 0 ? text.FindUniChar('?', netStart) : 0;
        if (question > limit) question = 0;
        int32 netEnd = limit; // last position of the network location
        if (slash != 0) {
            netEnd = slash - 1;
            pathStart = slash + 1;
            parsed = true;
        } else if (question != 0) {
            netEnd = question - 1;
            pathStart = question;
            parsed = true;
        } else {
            pathStart = limit + 1;
        }
        if (netEnd >= netStart) fParts[e_NetLoc] = {netStart, netEnd - netStart + 1};
    }

    int32 pathEnd = length; // last position of the path
    if (!pathOnly) {
        if (fragmentMark != 0) {
            fParts[e_Fragment] = {fragmentMark + 1, length - fragmentMark};
            pathEnd = limit;
        }
        int32 query = pathStart <= limit ? text.FindUniChar('?', pathStart) : 0;
        if (query > limit) query = 0;
        const int32 paramsLimit = query != 0 ? query - 1 : limit;
        int32 params = pathStart <= paramsLimit ? text.FindUniChar(';', pathStart) : 0;
        if (params > paramsLimit) params = 0;
        if (query != 0) {
            fParts[e_Query] = {query + 1, limit - query};
            pathEnd = query - 1;
        }
        if (params != 0) {
            fParts[e_Params] = {params + 1, paramsLimit - params};
            pathEnd = params - 1;
        }
    }
    if (pathEnd >= pathStart) fParts[e_Path] = {pathStart, pathEnd - pathStart + 1};
    for (URLPart& part : fParts)
        if (part.fLength == 0) part.fStart = 0;
    return parsed;
}

void VURL::_Analyse(bool pathOnly, bool encoded) {
    fParsed = _BuildURLArray(fURL, pathOnly);
    for (int part = e_Scheme; part < e_PartCount; ++part) {
        VString raw;
        _GetPart(raw, EURLParts(part));
        if (encoded) {
            NormalizeEncodedPart(raw, EURLParts(part), fEncodedParts[part]);
        } else {
            EncodePart(raw, EURLParts(part));
            fEncodedParts[part].Swap(raw);
        }
    }
    if (encoded) _DecodeParts();
}

void VURL::_DecodeParts() {
    for (int part = e_Fragment; part >= e_Scheme; --part) {
        URLPart& where = fParts[part];
        if (where.fLength == 0) continue;
        VString text;
        fURL.GetSubString(where.fStart, where.fLength, text);
        Decode(text);
        const int32 change = text.GetLength() - where.fLength;
        fURL.Replace(text, where.fStart, where.fLength);
        where.fLength = text.GetLength();
        for (int later = part + 1; later < e_PartCount; ++later)
            if (fParts[later].fLength != 0) fParts[later].fStart += change;
    }
}

// ---- Reading parts

void VURL::_GetPart(VString& out, EURLParts part) const {
    out.Clear();
    if (fParts[part].fLength != 0) fURL.GetSubString(fParts[part].fStart, fParts[part].fLength, out);
}

void VURL::_GetEncodedPart(VString& out, EURLParts part, bool encoded) const {
    if (!encoded) {
        _GetPart(out, part);
        return;
    }
    out = fEncodedParts[part];
    EscapeBrackets(out);
}

void VURL::GetPath(VString& out, EURLPathStyle style, bool encoded) const {
    _GetEncodedPart(out, e_Path, encoded);
    if (style == eURL_WIN_STYLE)
        POSIX_to_WIN(out);
    else if (style == eURL_HFS_STYLE)
        POSIX_to_HFS(out);
}

void VURL::GetResourceSpecifier(VString& out, bool encoded) const {
    out.Clear();
    int32 start = 0;
    for (EURLParts part : {e_Params, e_Query, e_Fragment})
        if (fParts[part].fLength != 0) {
            start = fParts[part].fStart - 1;
            break;
        }
    if (start == 0) return;
    if (!encoded) {
        fURL.GetSubString(start, fURL.GetLength() - start + 1, out);
        return;
    }
    _AppendEncodedTail(out, true);
}

void VURL::_GetNetLocationPiece(VString& out, int piece, bool encoded) const {
    VString netloc;
    _GetPart(netloc, e_NetLoc);
    VString pieces[4];
    ParseNetLocation(netloc, &pieces[0], &pieces[1], &pieces[2], &pieces[3]);
    out = pieces[piece];
    if (encoded) Encode(out, false, false, true, false);
}

void VURL::GetUserName(VString& out, bool encoded) const {
    _GetNetLocationPiece(out, 0, encoded);
}

void VURL::GetPassword(VString& out, bool encoded) const {
    _GetNetLocationPiece(out, 1, encoded);
}

void VURL::GetHostName(VString& out, bool encoded) const {
    _GetNetLocationPiece(out, 2, encoded);
}

void VURL::GetPortNumber(VString& out, bool encoded) const {
    _GetNetLocationPiece(out, 3, encoded);
}

int VURL::GetPortNumber() const {
    VString port;
    GetPortNumber(port, false);
    int value = 0;
    for (int32 i = 1; i <= port.GetLength(); ++i) {
        const UniChar c = port.GetUniChar(i);
        if (c == ' ') return -1;
        if (c < '0' || c > '9') continue;
        value = value * 10 + (c - '0');
        // 65536 itself is accepted: only a value reaching 65537 is refused.
        if (value >= 65537) return -1;
    }
    return value;
}

void VURL::GetLastPathComponent(VString& out, bool encoded) const {
    // Searched in the encoded form: an escaped '/' belongs to the name.
    out = fEncodedParts[e_Path];
    const int32 length = out.GetLength();
    if (length > 1) {
        const int32 slash = out.FindUniChar('/', length - 1, true);
        if (slash != 0) out.SubString(slash + 1, length - slash);
    }
    if (encoded)
        EscapeBrackets(out);
    else
        Decode(out);
}

void VURL::GetRelativePath(VString& out, EURLPathStyle, bool encoded) const {
    _GetEncodedPart(out, e_Path, encoded);
}

void VURL::GetAbsoluteURL(VString& out, bool encoded) const {
    if (!encoded || fURL.EqualToStringRaw("about:blank")) {
        out = fURL;
        return;
    }
    if (!fEncodedURL.IsEmpty()) {
        out = fEncodedURL;
        return;
    }
    VString piece;
    _GetEncodedPart(out, e_Scheme, true);
    out.AppendCString("://");
    out.AppendString(fEncodedParts[e_NetLoc]);
    out.AppendUniChar('/');
    _GetEncodedPart(piece, e_Path, true);
    out.AppendString(piece);
    // The query comes before the parameters here, as callers have always received it.
    const std::pair<EURLParts, UniChar> tail[] = {{e_Query, '?'}, {e_Params, ';'}, {e_Fragment, '#'}};
    for (const auto& [part, mark] : tail) {
        _GetEncodedPart(piece, part, true);
        if (piece.IsEmpty()) continue;
        out.AppendUniChar(mark);
        out.AppendString(piece);
    }
}

void VURL::GetRelativeURL(VString& out, bool encoded) const {
    if (!encoded) {
        out = fURL;
        return;
    }
    _JoinEncodedParts(out, true);
}

void VURL::_JoinEncodedParts(VString& out, bool withBrackets) const {
    VString piece = fEncodedParts[e_Scheme];
    if (withBrackets) EscapeBrackets(piece);
    out = piece;
    const VString& netloc = fEncodedParts[e_NetLoc];
    out.AppendCString(netloc.IsEmpty() ? ":///" : "://");
    if (!netloc.IsEmpty()) {
        piece = netloc;
        if (withBrackets) EscapeBrackets(piece);
        out.AppendString(piece);
        out.AppendUniChar('/');
    }
    piece = fEncodedParts[e_Path];
    if (withBrackets) EscapeBrackets(piece);
    out.AppendString(piece);
    _AppendEncodedTail(out, withBrackets);
}

void VURL::_AppendEncodedTail(VString& out, bool withBrackets) const {
    const std::pair<EURLParts, UniChar> tail[] = {{e_Params, ';'}, {e_Query, '?'}, {e_Fragment, '#'}};
    for (const auto& [part, mark] : tail) {
        if (fEncodedParts[part].IsEmpty()) continue;
        VString piece = fEncodedParts[part];
        if (withBrackets) EscapeBrackets(piece);
        out.AppendUniChar(mark);
        out.AppendString(piece);
    }
}

// ---- Changing parts

bool VURL::_SetPart(const VString& value, EURLParts part) {
    VString encoded(value);
    EncodePart(encoded, part);
    return _SetEncodedPart(encoded, part);
}

bool VURL::_SetEncodedPart(const VString& encoded, EURLParts part) {
    if (!fParsed) return false;
    // The text is rebuilt from the encoded parts and analysed in that form: decoded text is never analysed
    // again, since an escaped mark in it would change the URL's structure.
    fEncodedParts[part] = encoded;
    VString joined;
    _JoinEncodedParts(joined, false);
    fURL.Swap(joined);
    fEncodedURL.Clear();
    _Analyse(false, true);
    return true;
}

void VURL::_SetDecodedPart(const VString& text, EURLParts part, bool encoded) {
    VString value(text);
    if (encoded) Decode(value);
    _SetPart(value, part);
}

void VURL::SetRelativePath(const VString& text, EURLPathStyle style, bool encoded) {
    VString path(text);
    if (encoded) Decode(path);
    if (style == eURL_WIN_STYLE)
        WIN_to_POSIX(path);
    else if (style == eURL_HFS_STYLE)
        HFS_to_POSIX(path, true);
    _SetPart(path, e_Path);
}

bool VURL::IsScheme(const VString& scheme) const {
    VString mine;
    GetScheme(mine);
    return mine.EqualToStringRaw(scheme);
}

bool VURL::IsRoot() const {
    const VString& path = fEncodedParts[e_Path];
    const int32 slash = path.FindUniChar('/');
    return slash == 0 || slash == path.GetLength();
}

bool VURL::ToParent() {
    if (IsRoot()) return false;
    const VString& path = fEncodedParts[e_Path];
    const int32 length = path.GetLength();
    // A trailing '/' is not the separator looked for.
    const int32 from = path.GetUniChar(length) == '/' ? length - 1 : length;
    const int32 slash = from >= 1 ? path.FindUniChar('/', from, true) : 0;
    if (slash == 0) return false;
    VString parent;
    path.GetSubString(1, slash, parent);
    return _SetEncodedPart(parent, e_Path);
}

VURL* VURL::RetainParent() const {
    auto parent = std::make_unique<VURL>(*this);
    return parent->ToParent() ? parent.release() : nullptr;
}

bool VURL::ToSubFolder(const VString& name) {
    const VString& path = fEncodedParts[e_Path];
    if (path.GetUniChar(path.GetLength()) != '/') return false;
    VString child(name);
    EncodePart(child, e_Path);
    child.Insert(path, 1);
    return _SetEncodedPart(child, e_Path);
}

// ---- Text services

void VURL::ParseNetLocation(const VString& netloc, VString* user, VString* password, VString* host, VString* port) {
    const int32 length = netloc.GetLength();
    const int32 at = netloc.FindUniChar('@');
    VString userText, passwordText, hostText, portText;
    if (at != 0) {
        const int32 colon = netloc.FindUniChar(':');
        const bool split = colon != 0 && colon < at;
        CopyRange(netloc, 1, (split ? colon : at) - 1, userText);
        if (split) CopyRange(netloc, colon + 1, at - colon - 1, passwordText);
    }
    const int32 start = at + 1;
    if (netloc.GetUniChar(start) == '[') {
        const int32 close = netloc.FindUniChar(']', start);
        CopyRange(netloc, start + 1, (close != 0 ? close : length + 1) - start - 1, hostText);
        const int32 colon = close != 0 ? netloc.FindUniChar(':', close) : 0;
        if (colon != 0) CopyRange(netloc, colon + 1, length - colon, portText);
    } else {
        const int32 colon = length >= start ? netloc.FindUniChar(':', length, true) : 0;
        const bool hasPort = colon >= start;
        CopyRange(netloc, start, (hasPort ? colon : length + 1) - start, hostText);
        if (hasPort) CopyRange(netloc, colon + 1, length - colon, portText);
    }
    if (user) *user = userText;
    if (password) *password = passwordText;
    if (host) *host = hostText;
    if (port) *port = portText;
}

void VURL::Encode(VString& text, bool, bool decompose, bool withBrackets, bool keepBackslashU) {
    if (decompose) text.Decompose();
    EncodeBytes(text, withBrackets ? kUnsafeBytes.fWithBrackets : kUnsafeBytes.fWithoutBrackets, keepBackslashU);
}

void VURL::Decode(VString& text) {
    const int32 length = text.GetLength();
    const UniChar* units = text.GetCPointer();
    int32 first = 0;
    while (first < length && Private::EscapedByteAt(units, first, length) < 0)
        ++first;
    if (first == length) {
        text.Compose();
        return;
    }
    // Decoding never lengthens: three units give at most one.
    VString out;
    UniChar* write = out.GetCPointerForWrite(length);
    if (write == nullptr) return;
    const UniChar* const begin = write;
    for (int32 i = 0; i < first; ++i)
        *write++ = units[i];
    for (int32 i = first; i < length;) {
        const int byte = Private::EscapedByteAt(units, i, length);
        if (byte < 0x80) {
            // A plain unit or an escaped ASCII byte: one unit out, without a branch between the two.
            *write++ = byte < 0 ? units[i] : UniChar(byte);
            i += byte < 0 ? 1 : 3;
        } else {
            i += DecodeEscapedCharacter(units, i, length, byte, write);
        }
    }
    out.Validate(int32(write - begin));
    text.Swap(out);
    text.Compose();
}

void VURL::Convert(VString& text, EURLPathStyle from, EURLPathStyle to, bool relative) {
    if (from == eURL_POSIX_STYLE && to == eURL_WIN_STYLE)
        POSIX_to_WIN(text);
    else if (from == eURL_WIN_STYLE && to == eURL_POSIX_STYLE)
        WIN_to_POSIX(text);
    else if (from == eURL_POSIX_STYLE && to == eURL_HFS_STYLE)
        POSIX_to_HFS(text);
    else if (from == eURL_HFS_STYLE && to == eURL_POSIX_STYLE)
        HFS_to_POSIX(text, relative);
}

void VURL::POSIX_to_HFS(VString& text) {
    PosixToSystemPath(text);
}

void VURL::HFS_to_POSIX(VString& text, bool relative) {
    SystemToPosixPath(text, relative);
}

} // namespace vela
