// The text services of VIntlMgr that need no locale data: character classes by fixed tables, words and word
// search, and the pattern formatter of dates and times.

#include "intl/VIntlMgr.h"

#include "intl/VCollator.h"
#include "values/VCompareOptions.h"
#include "values/VTime.h"

#include <algorithm>
#include <cstdio>
#include <span>

namespace vela {

namespace {

struct CharRange {
    UniChar first;
    UniChar last;
};

// The ranges stand as they are: the CJK ideograph and Hangul syllable blocks count as letters only at their
// first and last code units.
constexpr CharRange kLettersRanges[] = {
    {0x0041, 0x005A}, {0x0061, 0x007A}, {0x00AA, 0x00AA}, {0x00B5, 0x00B5}, {0x00BA, 0x00BA}, {0x00C0, 0x00D6},
    {0x00D8, 0x00F6}, {0x00F8, 0x0241}, {0x0250, 0x02A8}, {0x02B0, 0x02B8}, {0x02BB, 0x02C1}, {0x02D0, 0x02D1},
    {0x02E0, 0x02E4}, {0x037A, 0x037A}, {0x0386, 0x0386}, {0x0388, 0x038A}, {0x038C, 0x038C}, {0x038E, 0x03A1},
    {0x03A3, 0x03CE}, {0x03D0, 0x03FF}, {0x0400, 0x0482}, {0x048A, 0x04CE}, {0x04D0, 0x04F9}, {0x0500, 0x050F},
    {0x0531, 0x0556}, {0x0559, 0x0559}, {0x0561, 0x0587}, {0x05D0, 0x05EA}, {0x05F0, 0x05F2}, {0x0621, 0x063A},
    {0x0640, 0x064A}, {0x0671, 0x06B7}, {0x06BA, 0x06BE}, {0x06C0, 0x06CE}, {0x06D0, 0x06D3}, {0x06D5, 0x06D5},
    {0x06E5, 0x06E6}, {0x0905, 0x0939}, {0x093D, 0x093D}, {0x0958, 0x0961}, {0x0985, 0x098C}, {0x098F, 0x0990},
    {0x0993, 0x09A8}, {0x09AA, 0x09B0}, {0x09B2, 0x09B2}, {0x09B6, 0x09B9}, {0x09DC, 0x09DD}, {0x09DF, 0x09E1},
    {0x09F0, 0x09F1}, {0x0A05, 0x0A0A}, {0x0A0F, 0x0A10}, {0x0A13, 0x0A28}, {0x0A2A, 0x0A30}, {0x0A32, 0x0A33},
    {0x0A35, 0x0A36}, {0x0A38, 0x0A39}, {0x0A59, 0x0A5C}, {0x0A5E, 0x0A5E}, {0x0A72, 0x0A74}, {0x0A85, 0x0A8B},
    {0x0A8D, 0x0A8D}, {0x0A8F, 0x0A91}, {0x0A93, 0x0AA8}, {0x0AAA, 0x0AB0}, {0x0AB2, 0x0AB3}, {0x0AB5, 0x0AB9},
    {0x0ABD, 0x0ABD}, {0x0AE0, 0x0AE0}, {0x0B05, 0x0B0C}, {0x0B0F, 0x0B10}, {0x0B13, 0x0B28}, {0x0B2A, 0x0B30},
    {0x0B32, 0x0B33}, {0x0B36, 0x0B39}, {0x0B3D, 0x0B3D}, {0x0B5C, 0x0B5D}, {0x0B5F, 0x0B61}, {0x0B85, 0x0B8A},
    {0x0B8E, 0x0B90}, {0x0B92, 0x0B95}, {0x0B99, 0x0B9A}, {0x0B9C, 0x0B9C}, {0x0B9E, 0x0B9F}, {0x0BA3, 0x0BA4},
    {0x0BA8, 0x0BAA}, {0x0BAE, 0x0BB5}, {0x0BB7, 0x0BB9}, {0x0C05, 0x0C0C}, {0x0C0E, 0x0C10}, {0x0C12, 0x0C28},
    {0x0C2A, 0x0C33}, {0x0C35, 0x0C39}, {0x0C60, 0x0C61}, {0x0C85, 0x0C8C}, {0x0C8E, 0x0C90}, {0x0C92, 0x0CA8},
    {0x0CAA, 0x0CB3}, {0x0CB5, 0x0CB9}, {0x0CDE, 0x0CDE}, {0x0CE0, 0x0CE1}, {0x0D05, 0x0D0C}, {0x0D0E, 0x0D10},
    {0x0D12, 0x0D28}, {0x0D2A, 0x0D39}, {0x0D60, 0x0D61}, {0x0E01, 0x0E2E}, {0x0E30, 0x0E30}, {0x0E32, 0x0E33},
    {0x0E40, 0x0E46}, {0x0E81, 0x0E82}, {0x0E84, 0x0E84}, {0x0E87, 0x0E88}, {0x0E8A, 0x0E8A}, {0x0E8D, 0x0E8D},
    {0x0E94, 0x0E97}, {0x0E99, 0x0E9F}, {0x0EA1, 0x0EA3}, {0x0EA5, 0x0EA5}, {0x0EA7, 0x0EA7}, {0x0EAA, 0x0EAB},
    {0x0EAD, 0x0EAE}, {0x0EB0, 0x0EB0}, {0x0EB2, 0x0EB3}, {0x0EBD, 0x0EBD}, {0x0EC0, 0x0EC4}, {0x0EC6, 0x0EC6},
    {0x0EDC, 0x0EDD}, {0x0F40, 0x0F47}, {0x0F49, 0x0F69}, {0x10A0, 0x10C5}, {0x10D0, 0x10F6}, {0x1100, 0x1159},
    {0x115F, 0x11A2}, {0x11A8, 0x11F9}, {0x1E00, 0x1E9B}, {0x1EA0, 0x1EF9}, {0x1F00, 0x1F15}, {0x1F18, 0x1F1D},
    {0x1F20, 0x1F45}, {0x1F48, 0x1F4D}, {0x1F50, 0x1F57}, {0x1F59, 0x1F59}, {0x1F5B, 0x1F5B}, {0x1F5D, 0x1F5D},
    {0x1F5F, 0x1F7D}, {0x1F80, 0x1FB4}, {0x1FB6, 0x1FBC}, {0x1FBE, 0x1FBE}, {0x1FC2, 0x1FC4}, {0x1FC6, 0x1FCC},
    {0x1FD0, 0x1FD3}, {0x1FD6, 0x1FDB}, {0x1FE0, 0x1FEC}, {0x1FF2, 0x1FF4}, {0x1FF6, 0x1FFC}, {0x207F, 0x207F},
    {0x2102, 0x2102}, {0x2107, 0x2107}, {0x210A, 0x2113}, {0x2115, 0x2115}, {0x2118, 0x211D}, {0x2124, 0x2124},
    {0x2126, 0x2126}, {0x2128, 0x2128}, {0x212A, 0x2131}, {0x2133, 0x2138}, {0x3005, 0x3005}, {0x3031, 0x3035},
    {0x3041, 0x3094}, {0x309B, 0x309E}, {0x30A1, 0x30FA}, {0x30FC, 0x30FE}, {0x3105, 0x312C}, {0x3131, 0x318E},
    {0x4E00, 0x4E00}, {0x9FA5, 0x9FA5}, {0xAC00, 0xAC00}, {0xD7A3, 0xD7A3}, {0xF900, 0xFA2D}, {0xFB00, 0xFB06},
    {0xFB13, 0xFB17}, {0xFB1F, 0xFB28}, {0xFB2A, 0xFB36}, {0xFB38, 0xFB3C}, {0xFB3E, 0xFB3E}, {0xFB40, 0xFB41},
    {0xFB43, 0xFB44}, {0xFB46, 0xFBB1}, {0xFBD3, 0xFD3D}, {0xFD50, 0xFD8F}, {0xFD92, 0xFDC7}, {0xFDF0, 0xFDFB},
    {0xFE70, 0xFE72}, {0xFE74, 0xFE74}, {0xFE76, 0xFEFC}, {0xFF21, 0xFF3A}, {0xFF41, 0xFF5A}, {0xFF66, 0xFFBE},
    {0xFFC2, 0xFFC7}, {0xFFCA, 0xFFCF}, {0xFFD2, 0xFFD7}, {0xFFDA, 0xFFDC},
};

constexpr CharRange kDigitsRanges[] = {
    {0x0030, 0x0039}, {0x00B2, 0x00B3}, {0x00B9, 0x00B9}, {0x00BC, 0x00BE}, {0x0660, 0x0669}, {0x06F0, 0x06F9},
    {0x0966, 0x096F}, {0x09E6, 0x09EF}, {0x09F4, 0x09F9}, {0x0A66, 0x0A6F}, {0x0AE6, 0x0AEF}, {0x0B66, 0x0B6F},
    {0x0BE7, 0x0BF2}, {0x0C66, 0x0C6F}, {0x0CE6, 0x0CEF}, {0x0D66, 0x0D6F}, {0x0E50, 0x0E59}, {0x0ED0, 0x0ED9},
    {0x0F20, 0x0F33}, {0x2070, 0x2070}, {0x2074, 0x2079}, {0x2080, 0x2089}, {0x2153, 0x2182}, {0x2460, 0x249B},
    {0x24EA, 0x24EA}, {0x2776, 0x2793}, {0x3007, 0x3007}, {0x3021, 0x3029}, {0x3192, 0x3195}, {0x3220, 0x3229},
    {0x3280, 0x3289}, {0xFF10, 0xFF19},
};

constexpr CharRange kPunctuationRanges[] = {
    {0x0021, 0x0023}, {0x0025, 0x002A}, {0x002C, 0x002F}, {0x003A, 0x003B}, {0x003F, 0x0040}, {0x005B, 0x005D},
    {0x005F, 0x005F}, {0x007B, 0x007B}, {0x007D, 0x007D}, {0x00A1, 0x00A1}, {0x00AB, 0x00AB}, {0x00AD, 0x00AD},
    {0x00B7, 0x00B7}, {0x00BB, 0x00BB}, {0x00BF, 0x00BF}, {0x0374, 0x0375}, {0x037E, 0x037E}, {0x0387, 0x0387},
    {0x055A, 0x055F}, {0x0589, 0x0589}, {0x05BE, 0x05BE}, {0x05C0, 0x05C0}, {0x05C3, 0x05C3}, {0x05F3, 0x05F4},
    {0x060C, 0x060C}, {0x061B, 0x061B}, {0x061F, 0x061F}, {0x066A, 0x066D}, {0x06D4, 0x06D4}, {0x0964, 0x0965},
    {0x0970, 0x0970}, {0x0E2F, 0x0E2F}, {0x0E5A, 0x0E5B}, {0x0EAF, 0x0EAF}, {0x0F04, 0x0F12}, {0x0F3A, 0x0F3F},
    {0x0F85, 0x0F85}, {0x10FB, 0x10FB}, {0x2010, 0x2027}, {0x2030, 0x2043}, {0x2045, 0x2046}, {0x207D, 0x207E},
    {0x208D, 0x208E}, {0x2329, 0x232A}, {0x3001, 0x3003}, {0x3006, 0x3006}, {0x3008, 0x3011}, {0x3014, 0x301F},
    {0x3030, 0x3030}, {0x30FB, 0x30FB}, {0xFD3E, 0xFD3F}, {0xFE30, 0xFE44}, {0xFE49, 0xFE52}, {0xFE54, 0xFE61},
    {0xFE63, 0xFE63}, {0xFE68, 0xFE68}, {0xFE6A, 0xFE6B}, {0xFF01, 0xFF03}, {0xFF05, 0xFF0A}, {0xFF0C, 0xFF0F},
    {0xFF1A, 0xFF1B}, {0xFF1F, 0xFF20}, {0xFF3B, 0xFF3D}, {0xFF3F, 0xFF3F}, {0xFF5B, 0xFF5B}, {0xFF5D, 0xFF5D},
    {0xFF61, 0xFF65},
};

constexpr CharRange kSpacesRanges[] = {
    {0x0020, 0x0020},
    {0x00A0, 0x00A0},
    {0x2000, 0x200B},
    {0x3000, 0x3000},
};

bool InRanges(std::span<const CharRange> ranges, UniChar c) noexcept {
    auto after = std::upper_bound(ranges.begin(), ranges.end(), c,
                                  [](UniChar value, const CharRange& range) { return value < range.first; });
    return after != ranges.begin() && c <= std::prev(after)->last;
}

bool IsLetter(UniChar c) noexcept {
    return InRanges(kLettersRanges, c);
}

bool IsDigitChar(UniChar c) noexcept {
    return InRanges(kDigitsRanges, c);
}

// A character that separates words: controls, and whatever is neither letter nor digit.
bool IsSeparator(UniChar c) noexcept {
    if (c < 32) return true;
    if (IsLetter(c)) return false;
    return !IsDigitChar(c);
}

bool IsWordChar(UniChar c) noexcept {
    return c >= 32 && (IsLetter(c) || IsDigitChar(c));
}

} // namespace

bool VIntlMgr::IsSpace(UniChar c, bool) const {
    return InRanges(kSpacesRanges, c);
}

bool VIntlMgr::IsDigit(UniChar c) const {
    return IsDigitChar(c);
}

bool VIntlMgr::IsAlpha(UniChar c) const {
    return IsLetter(c);
}

bool VIntlMgr::IsPunctuation(UniChar c) const {
    return InRanges(kPunctuationRanges, c);
}

int32 VIntlMgr::CharDigitValue(UniChar c) noexcept {
    return c >= u'0' && c <= u'9' ? int32(c - u'0') : -1;
}

bool VIntlMgr::IsAMacCharacter(uint8 c, uint8 kind) noexcept {
    bool digit = c >= '0' && c <= '9';
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    bool high = (c >= 0x80 && c <= 0x9F) || c == 0xAE || c == 0xBE || (c >= 0xCB && c <= 0xCF);
    switch (kind) {
    case 0:
        return c == 9 || c == 13 || (c >= 32 && c != 127);
    case 1:
        return high || digit || letter;
    case 2:
        return high || letter;
    case 3:
        return digit || letter;
    case 4:
        return letter;
    case 5:
        return digit;
    default:
        return false;
    }
}

// ---- Words

void VIntlMgr::SplitWordRangeOnDot(const VString& text, int32 start, int32 length,
                                   std::vector<std::pair<int32, int32>>& pieces, bool withDots) {
    // Clamped to the text: a range that reaches past it reads what is there.
    int32 first = std::max(start, 1);
    int32 end = std::min(start + length, text.GetLength() + 1); // 1-based, one past the range
    int32 pieceStart = first;
    for (int32 position = first; position <= end; ++position) {
        bool atDot = position < end && text.GetUniChar(position) == u'.';
        if (position < end && !atDot) continue;
        if (position > pieceStart) pieces.emplace_back(pieceStart, position - pieceStart);
        if (atDot && withDots) pieces.emplace_back(position, 1);
        pieceStart = position + 1;
    }
}

bool VIntlMgr::HasApostropheSecondFollowedByVowel(const VString& text, int32 start, int32 length) {
    if (length < 4 || start < 1 || start + 2 > text.GetLength()) return false;
    UniChar second = text.GetUniChar(start + 1);
    if (second != u'\'' && second != 0x2019) return false;
    UniChar third = text.GetUniChar(start + 2);
    if (third >= u'A' && third <= u'Z') third = UniChar(third - u'A' + u'a');
    return std::char_traits<char16_t>::find(u"aeiouhy", 7, third) != nullptr;
}

bool VIntlMgr::GetWordBoundariesWithOptions(const VString& text, std::vector<std::pair<int32, int32>>& words,
                                            uint32 options) const {
    words.clear();
    if ((options & 1) == 0) return false;
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    int32 i = 0;
    while (i < length) {
        while (i < length && IsSeparator(units[i]))
            ++i;
        if (i == length) break;
        int32 start = i++;
        while (i < length && IsWordChar(units[i]))
            ++i;
        words.emplace_back(start + 1, i - start);
        ++i; // the character that ended the word
    }
    return true;
}

bool VIntlMgr::FindWord(const VString& text, const VString& word, const VCompareOptions& options) const {
    const UniChar* units = text.GetCPointer();
    int32 length = text.GetLength();
    bool diacritical = options.IsDiacritical();
    const UniChar* wordUnits = word.GetCPointer();
    int32 wordLength = word.GetLength();
    if (options.IsLike() && std::find(wordUnits, wordUnits + wordLength, GetWildChar()) != wordUnits + wordLength) {
        std::vector<std::pair<int32, int32>> words;
        GetWordBoundariesWithOptions(text, words, 1);
        return std::any_of(words.begin(), words.end(), [&](const std::pair<int32, int32>& w) {
            return fCollator->EqualString_Like(units + w.first - 1, w.second, wordUnits, wordLength, diacritical);
        });
    }
    if (wordLength == 0) return false;
    int32 from = 0; // 0-based index where the next search starts
    while (from < length) {
        int32 matched = 0;
        int32 hit = fCollator->FindString(units + from, length - from, wordUnits, wordLength, diacritical, &matched);
        if (hit == 0) return false;
        int32 at = from + hit - 1; // 0-based start of the hit
        int32 end = at + matched;
        bool startsWord = at == 0 || IsSeparator(units[at - 1]);
        bool endsWord = end >= length || IsSeparator(units[end]);
        if (startsWord && endsWord) return true;
        // The next search starts one unit after this hit's start: no later hit is skipped.
        from = at + 1;
    }
    return false;
}

std::atomic<int64> VIntlMgr::sFindStringsWordReads{0};

void VIntlMgr::FindStrings(const VString& text, const VString& pattern, EFindStringMode mode, bool diacritical,
                           std::vector<std::pair<int32, int32>>& hits, bool all) const {
    hits.clear();
    if (pattern.GetLength() == 0) return;
    const int32 length = text.GetLength();
    // Which 0-based unit indexes fall strictly inside a word (not at its first unit), marked in one pass over
    // the words: each hit then costs one look, however many words the text has.
    std::vector<bool> inside;
    if (mode != eFindAnyMode) {
        std::vector<std::pair<int32, int32>> words;
        GetWordBoundariesWithOptions(text, words, 1);
        inside.assign(size_t(length) + 1, false);
        for (const std::pair<int32, int32>& w : words) {
#ifdef VELA_TEST_SEAMS
            sFindStringsWordReads.fetch_add(1, std::memory_order_relaxed);
#endif
            const int32 start = w.first - 1;
            for (int32 i = start + 1; i < start + w.second && i < length; ++i)
                inside[size_t(i)] = true;
        }
    }
    auto strictlyInside = [&inside](int32 index) { return !inside.empty() && inside[size_t(index)]; };
    const UniChar* units = text.GetCPointer();
    int32 from = 0;
    while (from < length) {
        int32 matched = 0;
        int32 hit = fCollator->FindString(units + from, length - from, pattern.GetCPointer(), pattern.GetLength(),
                                          diacritical, &matched);
        if (hit == 0) return;
        int32 at = from + hit - 1;
        int32 end = at + matched; // one past the hit
        bool startInside = strictlyInside(at);
        bool endInside = end < length && strictlyInside(end);
        bool accepted = true;
        if (mode == eFindWholeWord) accepted = !startInside && !endInside;
        if (mode == eFindStartsWord) accepted = !startInside;
        if (mode == eFindEndsWord) accepted = !endInside;
        if (accepted) {
            hits.emplace_back(at + 1, matched);
            if (!all) return;
        }
        from = std::max(end, at + 1);
    }
}

// ---- Bidirectional text

void VIntlMgr::GetBidiRuns(const UniChar* text, int32 length, std::vector<VBidiRun>& runs,
                           std::vector<int32>& visualToLogical, int32 baseLevel, bool ignoreTrailingCR) const {
    runs.clear();
    visualToLogical.clear();
    length = std::max(length, 0);
    if (ignoreTrailingCR && length > 0 && text[length - 1] == 13) --length;
    VBidiRun run;
    run.fLength = uint32(length);
    run.fEmbeddingLevel = uint32(baseLevel) & 1;
    runs.push_back(run);
    visualToLogical.push_back(0);
}

bool VIntlMgr::TextLogicalToVisual(VString& text, int32) const {
    return text.GetLength() == 0 || (text.GetLength() == 1 && text.GetUniChar(1) == 13);
}

// ---- Pattern formatting

namespace {

// The longest run each pattern letter takes; longer runs are read as several.
int32 LongestRun(UniChar letter) noexcept {
    switch (letter) {
    case u'G':
    case u'M':
    case u'L':
        return 5;
    case u'E':
        return 6;
    case u'y':
    case u'Y':
    case u'g':
        return 999;
    case u'D':
        return 3;
    case u'd':
    case u'H':
    case u'k':
    case u'K':
    case u'h':
    case u'm':
    case u's':
        return 2;
    default:
        return 1;
    }
}

void AppendNumber(VString& out, int64 value, int32 width) {
    char text[1024];
    std::snprintf(text, sizeof(text), "%0*lld", int(width), static_cast<long long>(value));
    out.AppendCString(text);
}

// The first count characters of name (all of them for count < 0).
void AppendName(VString& out, const VString& name, int32 count = -1) {
    int32 length = count < 0 ? name.GetLength() : std::min(count, name.GetLength());
    out.AppendUniChars(name.GetCPointer(), length);
}

bool IsConsumedSilently(UniChar c) noexcept {
    static constexpr char16_t kSilent[] = u"AFQSVWZcequvwz";
    return std::char_traits<char16_t>::find(kSilent, 14, c) != nullptr;
}

} // namespace

VError VIntlMgr::CustomFormatTime(const VTime&, bool, const VString&, VString& out) const {
    out.Clear();
    return VE_OK;
}

void VIntlMgr::FormatDateTimeWithPattern(const VTime& time, const VString& pattern, bool utc, const VString* monthName,
                                         VString& out) const {
    int16 year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    if (utc) {
        time.GetUTCTime(year, month, day, hour, minute, second, millisecond);
    } else {
        time.GetLocalTime(year, month, day, hour, minute, second, millisecond);
    }
    const UniChar* units = pattern.GetCPointer();
    int32 length = pattern.GetLength();
    VString result;
    int32 i = 0;
    while (i < length) {
        UniChar c = units[i];
        if (c < u'A' || c > u'z') {
            result.AppendUniChar(c);
            ++i;
            continue;
        }
        int32 run = 1;
        while (i + run < length && units[i + run] == c && run < LongestRun(c))
            ++run;
        i += run;
        if (IsConsumedSilently(c)) continue;
        switch (c) {
        case u'G':
            result.AppendCString(run <= 3 ? "AD" : (run == 4 ? "Anno Domini" : "A"));
            break;
        case u'y':
        case u'Y':
            AppendNumber(result, year, run == 1 ? 0 : run);
            break;
        case u'M':
        case u'L': {
            if (run <= 2) {
                AppendNumber(result, month, run);
                break;
            }
            VString name;
            if (monthName != nullptr) {
                name = *monthName;
            } else {
                GetMonthName(month, run == 3, name);
            }
            AppendName(result, name, run == 5 ? 1 : -1);
            break;
        }
        case u'd':
            AppendNumber(result, day, run);
            break;
        case u'D':
            AppendNumber(result, VTime::ComputeYearDay(year, month, day), run);
            break;
        case u'g':
            AppendNumber(result, VTime::ComputeJulianDay(year, month, day), run);
            break;
        case u'E': {
            VString name;
            GetWeekDayName(VTime::ComputeWeekDay(year, month, day), run <= 3, name);
            AppendName(result, name, run == 5 ? 1 : (run == 6 ? 2 : -1));
            break;
        }
        case u'a':
            result.AppendCString(hour > 11 ? "PM" : "AM");
            break;
        case u'H':
            AppendNumber(result, hour, run);
            break;
        case u'k':
            AppendNumber(result, hour == 0 ? 24 : hour, run);
            break;
        case u'K':
            AppendNumber(result, hour % 12, run);
            break;
        case u'h':
            AppendNumber(result, hour % 12 == 0 ? 12 : hour % 12, run);
            break;
        case u'm':
            AppendNumber(result, minute, run);
            break;
        case u's':
            AppendNumber(result, second, run);
            break;
        default: // another letter, or one of "[\]^_`": copied
            for (int32 k = 0; k < run; ++k)
                result.AppendUniChar(c);
            break;
        }
    }
    out = result;
}

} // namespace vela
