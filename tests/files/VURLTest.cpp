#include "files/VURL.h"

#include "VolumesFixture.h"
#include "core/VRefPtr.h"
#include "files/VFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

std::string Utf8(const VString& text) {
    char buffer[4096];
    const size_t n = text.ToBlock(buffer, sizeof buffer, VTC_UTF_8, false, false);
    return std::string(buffer, n);
}

VString Text(const char* utf8) {
    VString out;
    out.FromBlock(utf8, strlen(utf8), VTC_UTF_8);
    return out;
}

// A part's decoded text, read through its position in the whole text.
std::string PartText(const VURL& url, EURLParts part) {
    VString whole, text;
    url.GetAbsoluteURL(whole, false);
    if (url.GetPartLength(part) != 0) whole.GetSubString(url.GetPartStart(part), url.GetPartLength(part), text);
    return Utf8(text);
}

struct PartsCase {
    const char* url;
    bool parsed;
    const char* parts[e_PartCount];
};

TEST(VURLTest, SplitsIntoSixPartsWithoutOverlap) {
    const PartsCase cases[] = {
        {"http://host", false, {"http", "host", "", "", "", ""}},
        {"http://host/", true, {"http", "host", "", "", "", ""}},
        {"http://u:p@host:80/a/b;p=1?q=2#frag", true, {"http", "u:p@host:80", "a/b", "p=1", "q=2", "frag"}},
        {"http://host?q", true, {"http", "host", "", "", "q", ""}},
        {"http://host/p#f?x;y", true, {"http", "host", "p", "", "", "f?x;y"}},
        {"http://host/p?q;r#f", true, {"http", "host", "p", "", "q;r", "f"}},
        {"http://host#f/g", false, {"http", "host", "", "", "", "f/g"}},
        {"file:///tmp/x", true, {"file", "", "tmp/x", "", "", ""}},
        {"a/b://c", false, {"", "", "a/b://c", "", "", ""}},
        {"plain/path;x", false, {"", "", "plain/path", "x", "", ""}},
        {"", true, {"", "", "", "", "", ""}},
    };
    for (const PartsCase& c : cases) {
        VURL url(VString(c.url), false);
        EXPECT_EQ(url.IsParsed(), c.parsed) << c.url;
        for (int part = e_Scheme; part < e_PartCount; ++part) {
            VString text;
            if (url.GetPartLength(EURLParts(part)) != 0)
                VString(c.url).GetSubString(url.GetPartStart(EURLParts(part)), url.GetPartLength(EURLParts(part)),
                                            text);
            EXPECT_EQ(Utf8(text), c.parts[part]) << c.url << " part " << part;
        }
    }
}

TEST(VURLTest, EncodedTextIsDecodedPartByPartOnce) {
    VURL url("http://host/a%20b;p%3D?q%2541#f%3F%3B", true);
    VString text;
    url.GetPath(text, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Utf8(text), "a b");
    url.GetParameters(text, false);
    EXPECT_EQ(Utf8(text), "p=");
    url.GetQuery(text, false);
    EXPECT_EQ(Utf8(text), "q%41"); // decoded once, not twice
    url.GetFragment(text, false);
    EXPECT_EQ(Utf8(text), "f?;");
    url.GetAbsoluteURL(text, true);
    EXPECT_EQ(Utf8(text), "http://host/a%20b;p%3D?q%2541#f%3F%3B");
}

TEST(VURLTest, KeepsTheEncodedFormOnlyForURICharacters) {
    VURL spaced("http://h/a b", true);
    VString text;
    spaced.GetAbsoluteURL(text, true);
    EXPECT_EQ(Utf8(text), "http://h/a%20b"); // rebuilt, not kept
    VURL kept("a%20b", true);
    kept.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "a b");
}

TEST(VURLTest, RebuildsTheQueryBeforeTheParameters) {
    VURL url("http://h/p;a b?c d#e f", false);
    VString text;
    url.GetAbsoluteURL(text, true);
    EXPECT_EQ(Utf8(text), "http://h/p?c%20d;a%20b#e%20f");
    url.GetRelativeURL(text, true);
    EXPECT_EQ(Utf8(text), "http://h/p;a%20b?c%20d#e%20f");
}

TEST(VURLTest, EncodeEscapesUnsafeBytes) {
    struct Case {
        const char* text;
        bool brackets;
        bool keepBackslashU;
        const char* encoded;
    };
    const Case cases[] = {
        {"a b[1]", true, false, "a%20b%5B1%5D"},
        {"a b[1]", false, false, "a%20b[1]"},
        {"x:y/z?", true, false, "x:y/z?"},
        {"\xC3\xA9", true, false, "%C3%A9"},
        {"\xF0\x9F\x98\x80", true, false, "%F0%9F%98%80"},
        {"<\"#%{}|\\^`>", true, false, "%3C%22%23%25%7B%7D%7C%5C%5E%60%3E"},
        {"\\u00e9\\x", true, true, "\\u00e9%5Cx"},
        {"\x7F\t", true, false, "%7F%09"},
        {"", true, false, ""},
    };
    for (const Case& c : cases) {
        VString text = Text(c.text);
        VURL::Encode(text, false, false, c.brackets, c.keepBackslashU);
        EXPECT_EQ(Utf8(text), c.encoded) << c.text;
    }
}

TEST(VURLTest, DecodeTakesOnlyEscapesOfTwoHexDigits) {
    struct Case {
        const char* text;
        const char* decoded;
    };
    const Case cases[] = {
        {"%C3%A9", "\xC3\xA9"},
        {"%E9", "\xC3\xA9"},    // one byte: ISO-8859-1
        {"%c3%a9", "\xC3\xA9"}, // lower-case digits
        {"50%", "50%"},
        {"5%4", "5%4"},
        {"%zz", "%zz"}, // never a NUL
        {"%00", "%00"},
        {"a%0zb", "a%0zb"},
        {"%41%zz%42", "A%zzB"},
        {"%%41", "%A"},
        {"%C3%28", "\xC3\x83("}, // not UTF-8: bytes stand for themselves
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"no escapes", "no escapes"},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        VURL::Decode(text);
        EXPECT_EQ(Utf8(text), c.decoded) << c.text;
        EXPECT_EQ(text.FindUniChar(0), 0) << c.text;
    }
}

TEST(VURLTest, EncodeThenDecodeGivesTheTextBack) {
    for (const char* sample : {"a b/c?d#e%f", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "[x]{y}", "%zz %00 %41"}) {
        VString text = Text(sample);
        VURL::Encode(text, false, false, true, false);
        VURL::Decode(text);
        EXPECT_EQ(Utf8(text), sample);
    }
}

// Long texts are encoded in blocks into a buffer that grows: every byte comes out as a plain loop would write it,
// whatever falls on a block's edge (a surrogate pair included) and however much the text grows.
TEST(VURLTest, LongTextsEncodeByteForByte) {
    const char* pieces[] = {"\xF0\x9F\x98\x80", "a", "\xC3\xA9", " ", "\xE6\x97\xA5", "[", "%"};
    for (int density : {1, 2, 7}) {
        std::string utf8;
        for (int i = 0; utf8.size() < 6000; ++i)
            utf8 += pieces[(i * density) % 7];
        std::string expected;
        for (unsigned char b : utf8) {
            if (b >= 0x80 || b == ' ' || b == '[' || b == '%') {
                expected += '%';
                expected += "0123456789ABCDEF"[b >> 4];
                expected += "0123456789ABCDEF"[b & 0xF];
            } else {
                expected += char(b);
            }
        }
        VString text = Text(utf8.c_str());
        VURL::Encode(text, false, false, true, false);
        std::string encoded(size_t(text.GetLength()), '\0');
        for (int32 i = 0; i < text.GetLength(); ++i)
            encoded[size_t(i)] = char(text.GetUniChar(i + 1));
        EXPECT_EQ(encoded, expected) << density;
        VURL::Decode(text);
        EXPECT_TRUE(text.EqualToStringRaw(Text(utf8.c_str()))) << density;
    }
}

TEST(VURLTest, ParseNetLocation) {
    struct Case {
        const char* netloc;
        const char* user;
        const char* password;
        const char* host;
        const char* port;
    };
    const Case cases[] = {
        {"u:p@[::1]:8080", "u", "p", "::1", "8080"}, {"host", "", "", "host", ""}, {"host:81", "", "", "host", "81"},
        {"user@host", "user", "", "host", ""},       {":p@h:", "", "p", "h", ""},  {"@", "", "", "", ""},
        {"[fe80::1", "", "", "fe80::1", ""},         {"", "", "", "", ""},
    };
    for (const Case& c : cases) {
        VString user, password, host, port;
        VURL::ParseNetLocation(VString(c.netloc), &user, &password, &host, &port);
        EXPECT_EQ(Utf8(user), c.user) << c.netloc;
        EXPECT_EQ(Utf8(password), c.password) << c.netloc;
        EXPECT_EQ(Utf8(host), c.host) << c.netloc;
        EXPECT_EQ(Utf8(port), c.port) << c.netloc;
    }
    VURL::ParseNetLocation("u@h:1", nullptr, nullptr, nullptr, nullptr);
}

TEST(VURLTest, PortNumbers) {
    struct Case {
        const char* url;
        int port;
    };
    const Case cases[] = {
        {"http://h:80/", 80},    {"http://h/", 0},      {"http://h:65535/", 65535}, {"http://h:65536/", 65536},
        {"http://h:65537/", -1}, {"http://h:8 0/", -1}, {"http://h:9x9/", 99},      {"http://h:99999999999/", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VURL(VString(c.url), false).GetPortNumber(), c.port) << c.url;
}

TEST(VURLTest, PathSteps) {
    VURL url("file:///a/b/c", false);
    EXPECT_FALSE(url.IsRoot());
    VString text;
    url.GetLastPathComponent(text, false);
    EXPECT_EQ(Utf8(text), "c");
    ASSERT_TRUE(url.ToParent());
    url.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "file:///a/b/");
    url.GetLastPathComponent(text, false);
    EXPECT_EQ(Utf8(text), "b/");
    EXPECT_TRUE(url.ToSubFolder("d e"));
    url.GetAbsoluteURL(text, true);
    EXPECT_EQ(Utf8(text), "file:///a/b/d%20e");
    EXPECT_FALSE(url.ToSubFolder("f"));
    ASSERT_TRUE(url.ToParent());
    ASSERT_TRUE(url.ToParent());
    url.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "file:///a/");
    EXPECT_TRUE(url.IsRoot());
    EXPECT_FALSE(url.ToParent());
    EXPECT_EQ(url.RetainParent(), nullptr);
    VURL schemeless("a/b/c", false); // parts cannot be rebuilt: nothing changes, and no endless walk up
    EXPECT_FALSE(schemeless.ToParent());
    EXPECT_TRUE(url.IsScheme("file"));
    EXPECT_FALSE(url.IsScheme("File"));
}

// An escaped '/', '?', '#' or ';' is part of a name: walking up, rebuilding and analysing again keep it so.
TEST(VURLTest, EscapedMarksKeepTheirMeaningWhenWalkingUp) {
    struct Case {
        const char* url;
        const char* parents[3]; // encoded, until ToParent refuses
    };
    const Case cases[] = {
        {"s://h/a%23b/c", {"s://h/a%23b/", nullptr}},
        {"s://h/a%2Fb", {nullptr}},
        {"s://h/x/a%3Fb%3Bc/d", {"s://h/x/a%3Fb%3Bc/", "s://h/x/", nullptr}},
        {"file:///a/b%2Fc/d?q#f", {"file:///a/b%2Fc/?q#f", "file:///a/?q#f", nullptr}},
        {"s://h/a/b%23/", {"s://h/a/", nullptr}},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.url), true);
        for (const char* parent : c.parents) {
            if (parent == nullptr) {
                EXPECT_FALSE(url.ToParent()) << c.url;
                break;
            }
            ASSERT_TRUE(url.ToParent()) << c.url << " to " << parent;
            VString text;
            url.GetRelativeURL(text, true);
            EXPECT_EQ(Utf8(text), parent) << c.url;
        }
    }
}

TEST(VURLTest, EncodedFormRoundTripsThroughItsParts) {
    struct Case {
        const char* url;
        const char* path; // decoded
        const char* query;
        const char* fragment;
        const char* encoded; // GetRelativeURL(encoded), which analyses back to the same parts
    };
    const Case cases[] = {
        {"s://h/a%23b/c", "a#b/c", "", "", "s://h/a%23b/c"},
        {"s://h/p%3Bx;a%3Fb?q%23r#f%23", "p;x", "q#r", "f#", "s://h/p%3Bx;a%3Fb?q%23r#f%23"},
        {"s://u%40x:p@h/a", "a", "", "", "s://u%40x:p@h/a"},
        {"s://h/%e9%2f", "\xC3\xA9/", "", "", "s://h/%C3%A9%2F"},
        {"s://h/50%zz a", "50%zz a", "", "", "s://h/50%25zz%20a"},
        {"s://h/%41%7e", "A~", "", "", "s://h/A~"},
        {"s:///x%00y", "x%00y", "", "", "s:///x%2500y"},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.url), true);
        VString text;
        url.GetPath(text, eURL_POSIX_STYLE, false);
        EXPECT_EQ(Utf8(text), c.path) << c.url;
        url.GetQuery(text, false);
        EXPECT_EQ(Utf8(text), c.query) << c.url;
        url.GetFragment(text, false);
        EXPECT_EQ(Utf8(text), c.fragment) << c.url;
        VString encoded;
        url.GetRelativeURL(encoded, true);
        EXPECT_EQ(Utf8(encoded), c.encoded) << c.url;
        VURL again(encoded, true);
        for (int part = e_Scheme; part < e_PartCount; ++part)
            EXPECT_EQ(PartText(url, EURLParts(part)), PartText(again, EURLParts(part))) << c.url << " part " << part;
        url.GetAbsoluteURL(text, false);
        again.GetAbsoluteURL(encoded, false);
        EXPECT_EQ(Utf8(text), Utf8(encoded)) << c.url;
    }
}

TEST(VURLTest, DecodedMarksSetInAPartStayInIt) {
    VURL url("http://h/p?q#f", false);
    url.SetRelativePath("a?b#c;d", eURL_POSIX_STYLE, false);
    VString text;
    url.GetPath(text, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Utf8(text), "a?b#c;d");
    url.GetQuery(text, false);
    EXPECT_EQ(Utf8(text), "q");
    url.GetFragment(text, false);
    EXPECT_EQ(Utf8(text), "f");
    url.GetPath(text, eURL_POSIX_STYLE, true);
    EXPECT_EQ(Utf8(text), "a%3Fb%23c%3Bd");
    url.SetQuery("x#y", false);
    url.GetQuery(text, false);
    EXPECT_EQ(Utf8(text), "x#y");
    url.GetFragment(text, false);
    EXPECT_EQ(Utf8(text), "f");

    VURL folder("s://h/d/", false);
    ASSERT_TRUE(folder.ToSubFolder("n#1?"));
    folder.GetLastPathComponent(text, false);
    EXPECT_EQ(Utf8(text), "n#1?");
    folder.GetLastPathComponent(text, true);
    EXPECT_EQ(Utf8(text), "n%231%3F");
    ASSERT_TRUE(folder.ToParent());
    folder.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "s://h/d/");

    VURL file(VString("/tmp/a#b?c;d"), eURL_POSIX_STYLE, VString("file://"));
    file.GetPath(text, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Utf8(text), "tmp/a#b?c;d");
    file.GetAbsoluteURL(text, true);
    EXPECT_EQ(Utf8(text), "file:///tmp/a%23b%3Fc%3Bd");
    ASSERT_TRUE(file.ToParent());
    file.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "file:///tmp/");
}

TEST(VURLTest, TextAfterABaseKeepsEscapedMarks) {
    struct Case {
        const char* base;
        const char* text;
        const char* path;
        const char* last;
        const char* lastEncoded;
    };
    const Case cases[] = {
        {"s://h/a%2Fb", "c%23d", "a/b/c#d", "c#d", "c%23d"},
        {"s://h/", "%3F", "?", "?", "%3F"},
        {"s://h", "x%2Fy/z", "x/y/z", "z", "z"},
    };
    for (const Case& c : cases) {
        VURL url;
        url.FromString(VString(c.text), VString(c.base), true);
        VString text;
        url.GetPath(text, eURL_POSIX_STYLE, false);
        EXPECT_EQ(Utf8(text), c.path) << c.base << " + " << c.text;
        url.GetLastPathComponent(text, false);
        EXPECT_EQ(Utf8(text), c.last) << c.base << " + " << c.text;
        url.GetLastPathComponent(text, true);
        EXPECT_EQ(Utf8(text), c.lastEncoded) << c.base << " + " << c.text;
    }
}

TEST(VURLTest, SettingAPartRebuildsTheText) {
    VURL url("http://h/p?q#f", false);
    url.SetQuery("a%20b", true);
    VString text;
    url.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "http://h/p?a b#f");
    url.SetFragment("", false);
    url.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "http://h/p?a b");
    url.SetRelativePath("x\\y", eURL_WIN_STYLE, false);
    url.GetPath(text, eURL_POSIX_STYLE, false);
    EXPECT_EQ(Utf8(text), "x/y");
    url.GetPath(text, eURL_WIN_STYLE, false);
    EXPECT_EQ(Utf8(text), "x\\y");
    url.GetPath(text, eURL_HFS_STYLE, false);
    EXPECT_EQ(Utf8(text), "x:y");
}

TEST(VURLTest, FilePathsWithABase) {
    struct Case {
        const char* path;
        EURLPathStyle style;
        const char* url;
    };
    const Case cases[] = {
        {"/tmp/a b", eURL_POSIX_STYLE, "file:///tmp/a b"},
        {"//net/x", eURL_POSIX_STYLE, "file:///net/x"},
        {"sub\\f.txt", eURL_WIN_STYLE, "file:///sub/f.txt"},
        {"sub:f.txt", eURL_HFS_STYLE, "file:///sub/f.txt"},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.path), c.style, "file://");
        VString text;
        url.GetAbsoluteURL(text, false);
        EXPECT_EQ(Utf8(text), c.url) << c.path;
    }
    VURL joined;
    joined.FromString("x/y", "http://h", false);
    VString text;
    joined.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "http://h/x/y");
    joined.FromString("x", "http://h/", false); // no "//" when the base ends with '/'
    joined.GetAbsoluteURL(text, false);
    EXPECT_EQ(Utf8(text), "http://h/x");
}

// File URLs and paths meet through the mounted volumes.
class VURLFilePathTest : public ::testing::Test {
protected:
    test::StFakeVolumes fVolumes{test::StandardMounts()};
};

TEST_F(VURLFilePathTest, FileURLsRoundTripThroughPaths) {
    struct Case {
        const char* path; // internal form
        const char* url;  // decoded
        const char* encoded;
    };
    const Case cases[] = {
        {"Root:tmp:a b:c.txt", "file:///tmp/a b/c.txt", "file:///tmp/a%20b/c.txt"},
        {"Disk2:x:", "file:///Volumes/Disk2/x/", "file:///Volumes/Disk2/x/"},
        {"Root:", "file:///", "file:///"},
        {"Root:tmp:a#b?c;d%e", "file:///tmp/a#b?c;d%e", "file:///tmp/a%23b%3Fc%3Bd%25e"},
        {"Root:tmp:a/b", "file:///tmp/a:b", "file:///tmp/a:b"},
        {"usb 2:\xC3\xA9", "file:///srv/usb/\xC3\xA9", "file:///srv/usb/%C3%A9"},
    };
    for (const Case& c : cases) {
        const VFilePath path(Text(c.path));
        ASSERT_TRUE(path.IsValid()) << c.path;
        VURL url(path);
        VString text;
        url.GetAbsoluteURL(text, false);
        EXPECT_EQ(Utf8(text), c.url) << c.path;
        url.GetAbsoluteURL(text, true);
        EXPECT_EQ(Utf8(text), c.encoded) << c.path;
        VFilePath back;
        EXPECT_TRUE(url.GetFilePath(back)) << c.path;
        EXPECT_EQ(Utf8(back.GetPath()), c.path);
        VURL reread(text, true); // the encoded text read again names the same file
        EXPECT_TRUE(reread.GetFilePath(back)) << c.path;
        EXPECT_EQ(Utf8(back.GetPath()), c.path);
    }
}

TEST_F(VURLFilePathTest, OnlyFileURLsGiveAPath) {
    struct Case {
        const char* url;
        bool encoded;
        const char* path; // empty: none
    };
    const Case cases[] = {
        {"http://h/tmp/x", false, ""},
        {"FILE:///tmp/x", false, "Root:tmp:x"},
        {"file://host/Volumes/Disk2/a%20b", true, "Disk2:a b"},
        {"tmp/x", false, "Root:tmp:x"}, // no scheme: the text is the path
        {"file:///media/usb/", false, "usb:"},
    };
    for (const Case& c : cases) {
        VURL url(VString(c.url), c.encoded);
        VFilePath path(VString("Root:old"));
        EXPECT_EQ(url.GetFilePath(path), *c.path != 0) << c.url;
        EXPECT_EQ(Utf8(path.GetPath()), c.path) << c.url;
    }
    VURL empty{VFilePath()};
    EXPECT_FALSE(empty.IsParsed());
    VString text;
    empty.GetAbsoluteURL(text, false);
    EXPECT_TRUE(text.IsEmpty());
}

TEST_F(VURLFilePathTest, RelativePathsFromAFolder) {
    struct Case {
        const char* relative;
        EURLPathStyle style;
        const char* url;
    };
    const Case cases[] = {
        {"sub/f.txt", eURL_POSIX_STYLE, "file:///Volumes/Disk2/d/sub/f.txt"},
        {"sub:f.txt", eURL_HFS_STYLE, "file:///Volumes/Disk2/d/sub/f.txt"},
        {"sub\\f.txt", eURL_WIN_STYLE, "file:///Volumes/Disk2/d/sub/f.txt"},
        {"../up/", eURL_POSIX_STYLE, "file:///Volumes/Disk2/up/"},
        {"/tmp/x", eURL_POSIX_STYLE, "file:///tmp/x"}, // a leading '/' makes it absolute
    };
    const VFilePath folderPath(VString("Disk2:d:"));
    auto folder = VRefPtr<VFolder>::Adopt(new VFolder(folderPath));
    for (const Case& c : cases) {
        VURL url;
        url.FromRelativePath(folderPath, VString(c.relative), c.style);
        VString text;
        url.GetAbsoluteURL(text, false);
        EXPECT_EQ(Utf8(text), c.url) << c.relative;
        VURL fromFolder(*folder, VString(c.relative), c.style);
        fromFolder.GetAbsoluteURL(text, false);
        EXPECT_EQ(Utf8(text), c.url) << c.relative;
    }
}

// Absolute texts go through the mounted volumes, relative ones are converted textually.
TEST_F(VURLFilePathTest, PathStyleConversions) {
    struct Case {
        const char* text;
        EURLPathStyle from;
        EURLPathStyle to;
        bool relative;
        const char* converted;
    };
    const Case cases[] = {
        {"a/b/", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, "a:b:"},
        {"../x", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, ":x"},
        {"./a", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, "a"},
        {"a:b/c", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, "a/b:c"},
        {"a/.", eURL_POSIX_STYLE, eURL_HFS_STYLE, true, "a:."}, // a lone final '.' stays a name, as for paths
        {"a:b", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, "a/b"},
        {"sub:", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, "sub/"},
        {":a", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, "a"},
        {"a::b", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, "a/../b"},
        {"a/b:c", eURL_HFS_STYLE, eURL_POSIX_STYLE, true, "a:b/c"},
        {"a/b", eURL_POSIX_STYLE, eURL_WIN_STYLE, true, "a\\b"},
        {"a\\b", eURL_WIN_STYLE, eURL_POSIX_STYLE, true, "a/b"},
        {"a/b", eURL_WIN_STYLE, eURL_HFS_STYLE, true, "a/b"},
        {"Disk2:a:b", eURL_HFS_STYLE, eURL_POSIX_STYLE, false, "/Volumes/Disk2/a/b"},
        {"usb 2:x/y:", eURL_HFS_STYLE, eURL_POSIX_STYLE, false, "/srv/usb/x:y/"},
        {"/media/usb/x", eURL_POSIX_STYLE, eURL_HFS_STYLE, false, "usb:x"},
        {"/tmp/../etc/a:b", eURL_POSIX_STYLE, eURL_HFS_STYLE, false, "Root:etc:a/b"},
    };
    for (const Case& c : cases) {
        VString text = Text(c.text);
        VURL::Convert(text, c.from, c.to, c.relative);
        EXPECT_EQ(Utf8(text), c.converted) << c.text;
    }
}

} // namespace
} // namespace vela
