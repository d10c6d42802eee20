#include "files/VFilePath.h"

#include "VolumesFixture.h"
#include "files/VFileError.h"
#include "files/VPathConversion.h"
#include "files/platform/XPosixFilePaths.h"
#include "support/RecordingRaiser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vela {
namespace {

using test::U8;

VString V(const char* text) {
    return VString(text);
}

class VFilePathTest : public ::testing::Test {
protected:
    test::StFakeVolumes fVolumes{test::StandardMounts()};
};

// ---- validity and parent steps

struct ValidityCase {
    const char* text;
    const char* stored; // nullptr: as given
    bool valid;
};

TEST_F(VFilePathTest, FullPathsResolveParentStepsAndTellValidity) {
    const ValidityCase cases[] = {
        {"Vol:a:b::c", "Vol:a:c", true},
        {"Vol:a:b:::c", "Vol:c", true},
        {"Vol:a::", "Vol:", true},
        {"Vol:", nullptr, true},
        {"Vol", nullptr, true},
        {"Vol:a:b", nullptr, true},
        {"Vol:a/b:c", nullptr, true},
        {"", nullptr, false},
        {":Vol:", nullptr, false},
        {"Vol:::x", nullptr, false},
        {"Vol::", nullptr, false},
        {"Vol:a::::b", nullptr, false},
        // One step more than there are folders climbs above the volume, however the colons are grouped.
        {"Vol:a:b::::c", nullptr, false},
        {"Vol:a:::b", nullptr, false},
    };
    for (const ValidityCase& c : cases) {
        VFilePath path(V(c.text));
        EXPECT_EQ(path.IsValid(), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(U8(path.GetPath()), c.stored ? c.stored : c.text) << c.text;
        }
    }
}

TEST_F(VFilePathTest, AnEmbeddedNulMakesThePathInvalid) {
    const UniChar units[] = {u'V', u'o', u'l', u':', u'a', 0, u'b'};
    VString text;
    text.FromUniString(units, 7);
    EXPECT_FALSE(VFilePath(text).IsValid());
}

TEST_F(VFilePathTest, AHundredThousandParentStepsResolveWithoutRecursion) {
    const int count = 100000;
    std::string deep = "Vol:";
    for (int i = 0; i < count; ++i)
        deep += "a:";
    deep += std::string(size_t(count) - 1, ':') + "x";
    VFilePath path(V(deep.c_str()));
    EXPECT_TRUE(path.IsValid());
    EXPECT_EQ(U8(path.GetPath()), "Vol:a:x");

    std::string flat = "Vol:";
    for (int i = 0; i < count; ++i)
        flat += "a::";
    flat += "x";
    VFilePath resolved(V(flat.c_str()));
    EXPECT_EQ(U8(resolved.GetPath()), "Vol:x");
}

// ---- readers

TEST_F(VFilePathTest, KindDepthAndParentOfEachShape) {
    struct Case {
        const char* text;
        bool folder;
        bool hasParent;
        int depth;
        const char* parent; // "" when there is none
    } const cases[] = {
        {"Vol:", true, false, 1, ""},          {"Vol:a", false, true, 2, "Vol:"},     {"Vol:a:", true, true, 2, "Vol:"},
        {"Vol:a:b", false, true, 3, "Vol:a:"}, {"Vol:a:b:", true, true, 3, "Vol:a:"},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.text));
        EXPECT_EQ(path.IsFolder(), c.folder) << c.text;
        EXPECT_EQ(path.IsFile(), !c.folder) << c.text;
        EXPECT_EQ(path.HasParent(), c.hasParent) << c.text;
        EXPECT_EQ(path.GetDepth(), c.depth) << c.text;
        VFilePath parent;
        EXPECT_EQ(path.GetParent(parent), *c.parent != 0) << c.text;
        EXPECT_EQ(U8(parent.GetPath()), c.parent) << c.text;
        EXPECT_EQ(parent.IsValid(), *c.parent != 0) << c.text;
    }
}

TEST_F(VFilePathTest, InvalidPathsAnswerNothing) {
    VFilePath path(V("Vol:::x"));
    VString out(V("stale"));
    EXPECT_FALSE(path.IsFolder());
    EXPECT_FALSE(path.IsFile());
    EXPECT_EQ(path.GetDepth(), 0);
    path.GetPosixPath(out);
    EXPECT_TRUE(out.IsEmpty());
    VFilePath parent(V("Vol:a:"));
    EXPECT_FALSE(path.GetParent(parent));
    EXPECT_TRUE(parent.GetPath().IsEmpty());
    EXPECT_TRUE(path.GetPath(FPS_POSIX).IsEmpty());
}

TEST_F(VFilePathTest, NamesAndExtensions) {
    struct Case {
        const char* text;
        const char* name;
        const char* fileName;
        const char* fileBase;
        const char* folderName;
        const char* folderBase;
        const char* extension;
    } const cases[] = {
        {"Vol:", "Vol", "", "", "Vol:", "Vol:", ""},
        {"Vol:a.b.c", "a.b.c", "a.b.c", "a.b", "", "", "c"},
        {"Vol:a.", "a.", "a.", "a", "", "", ""},
        {"Vol:x.d:a", "a", "a", "a", "", "", ""},
        {"Vol:App.bundle:", "App.bundle", "", "", "App.bundle", "App", "bundle"},
        {"Vol:x.d:App:", "App", "", "", "App", "App", ""},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.text));
        VString out;
        path.GetName(out);
        EXPECT_EQ(U8(out), c.name) << c.text;
        path.GetFileName(out, true);
        EXPECT_EQ(U8(out), c.fileName) << c.text;
        path.GetFileName(out, false);
        EXPECT_EQ(U8(out), c.fileBase) << c.text;
        path.GetFolderName(out, true);
        EXPECT_EQ(U8(out), c.folderName) << c.text;
        path.GetFolderName(out, false);
        EXPECT_EQ(U8(out), c.folderBase) << c.text;
        path.GetExtension(out);
        EXPECT_EQ(U8(out), c.extension) << c.text;
    }
}

// ---- containment compares code units exactly

TEST_F(VFilePathTest, ContainmentIsExactOnCaseAndAccents) {
    struct Case {
        const char* path;
        const char* base;
        bool child;
        bool sameOrChild;
        bool relative;
        const char* relativeText;
    } const cases[] = {
        {"Vol:Data:x", "Vol:Data:", true, true, true, "x"},
        {"Vol:Data:x", "Vol:data:", false, false, false, "Vol:Data:x"},
        {"Vol:Caf\xC3\xA9:x", "Vol:Cafe:", false, false, false, "Vol:Caf\xC3\xA9:x"},
        {"Vol:Data:", "Vol:Data:", false, true, true, ""},
        {"Vol:Data:x", "Vol:Data", false, false, false, "Vol:Data:x"}, // a file is no base
        {"Vol:Database", "Vol:Data:", false, false, false, "Vol:Database"},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.path));
        VFilePath base(V(c.base));
        EXPECT_EQ(path.IsChildOf(base), c.child) << c.path << " in " << c.base;
        EXPECT_EQ(path.IsChildOfRawPath(base), c.child) << c.path << " in " << c.base;
        EXPECT_EQ(path.IsSameOrChildOf(base), c.sameOrChild) << c.path << " in " << c.base;
        VString out;
        EXPECT_EQ(path.GetRelativePath(base, out), c.relative) << c.path << " in " << c.base;
        EXPECT_EQ(U8(out), c.relativeText) << c.path << " in " << c.base;
    }
}

TEST_F(VFilePathTest, RelativePosixPathInsideAndOutsideTheBase) {
    VFilePath path(V("Root:tmp:a:b/c"));
    VString out;
    EXPECT_TRUE(path.GetRelativePosixPath(VFilePath(V("Root:tmp:")), out));
    EXPECT_EQ(U8(out), "a/b:c");
    EXPECT_FALSE(path.GetRelativePosixPath(VFilePath(V("Disk2:")), out));
    EXPECT_EQ(U8(out), "/tmp/a/b:c");
}

// ---- changing

TEST_F(VFilePathTest, NameSettersRefuseAColonAndLeaveThePath) {
    using Setter = bool (*)(VFilePath&, const VString&);
    struct Case {
        const char* what;
        const char* start;
        Setter set;
    } const cases[] = {
        {"SetName", "Vol:a:b", [](VFilePath& p, const VString& n) { return p.SetName(n); }},
        {"SetFileName", "Vol:a:b", [](VFilePath& p, const VString& n) { return p.SetFileName(n); }},
        // A folder named "x:y" would be two levels: the later operations would act on another folder.
        {"SetFolderName", "Vol:a:b:", [](VFilePath& p, const VString& n) { return p.SetFolderName(n); }},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.start));
        test::RecordingRaiser raised;
        EXPECT_FALSE(c.set(path, V("x:y"))) << c.what;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_FILE_BAD_NAME}) << c.what;
        EXPECT_EQ(U8(path.GetPath()), c.start) << c.what;
        EXPECT_TRUE(path.IsValid()) << c.what;
    }
}

TEST_F(VFilePathTest, NameSettersReplaceTheLastElement) {
    struct Case {
        const char* start;
        int setter; // 0 SetName, 1 SetFileName, 2 SetFolderName
        bool withExtension;
        const char* name;
        const char* result;
        bool answer;
    } const cases[] = {
        {"Vol:a:b", 0, true, "c", "Vol:a:c", true},
        {"Vol:a:b:", 0, true, "c", "Vol:a:c:", true},
        {"Vol:a:b.txt", 1, false, "c", "Vol:a:c.txt", true},
        {"Vol:a:b.txt", 1, true, "c", "Vol:a:c", true},
        {"Vol:a:", 1, true, "f", "Vol:a:f", true},
        {"Vol:a:App.bundle:", 2, false, "New", "Vol:a:New.bundle:", true},
        {"Vol:a:App.bundle:", 2, true, "New", "Vol:a:New:", true},
        {"Vol:a:b", 2, true, "c", "Vol:a:b", false},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.start));
        bool answer = c.setter == 0   ? path.SetName(V(c.name))
                      : c.setter == 1 ? path.SetFileName(V(c.name), c.withExtension)
                                      : path.SetFolderName(V(c.name), c.withExtension);
        EXPECT_EQ(answer, c.answer) << c.start << " <- " << c.name;
        EXPECT_EQ(U8(path.GetPath()), c.result) << c.start << " <- " << c.name;
    }
}

TEST_F(VFilePathTest, ExtensionSetters) {
    struct Case {
        const char* start;
        const char* extension;
        const char* result;
    } const cases[] = {
        {"Vol:a.b.c", "", "Vol:a.b"},         {"Vol:a", "", "Vol:a"},
        {"Vol:a.", "txt", "Vol:a.txt"},       {"Vol:a.b", "c", "Vol:a.c"},
        {"Vol:x.d:a", "e", "Vol:x.d:a.e"},    {"Vol:App:", "bundle", "Vol:App.bundle:"},
        {"Vol:App.:", "app", "Vol:App.app:"}, {"Vol:App.old:", "new", "Vol:App.new:"},
        {"Vol:App.old:", "", "Vol:App:"},     {"Vol:x.d:App:", "", "Vol:x.d:App:"},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.start));
        path.SetExtension(V(c.extension));
        EXPECT_EQ(U8(path.GetPath()), c.result) << c.start << " + " << c.extension;
    }
}

TEST_F(VFilePathTest, MovingUpAndDown) {
    VFilePath path(V("Vol:a:f.txt"));
    path.ToFolder();
    EXPECT_EQ(U8(path.GetPath()), "Vol:a:");
    path.ToSubFolder(V("sub")).ToSubFile(V("g"));
    EXPECT_EQ(U8(path.GetPath()), "Vol:a:sub:g");
    path.ToSubFolder(V("ignored")); // a file has no sub-folder
    EXPECT_EQ(U8(path.GetPath()), "Vol:a:sub:g");
    path.ToParent().ToParent().ToParent();
    EXPECT_EQ(U8(path.GetPath()), "Vol:");
    path.ToParent();
    EXPECT_FALSE(path.IsValid());
    EXPECT_TRUE(path.GetPath().IsEmpty());
}

TEST_F(VFilePathTest, RemoveBlanksAroundSeparators) {
    VFilePath path(V("  Vol : a b :  c  "));
    path.RemoveBlanks();
    EXPECT_EQ(U8(path.GetPath()), "Vol:a b:c");
}

// ---- POSIX text

TEST_F(VFilePathTest, AbsolutePosixPathsGoThroughTheMountedVolumes) {
    struct Case {
        const char* posix;
        const char* internal;
        const char* back;
    } const cases[] = {
        {"/", "Root:", "/"},
        {"/home/me/notes.txt", "Root:home:me:notes.txt", "/home/me/notes.txt"},
        {"/tmp/x/", "Root:tmp:x:", "/tmp/x/"},
        {"/tmp/a:b", "Root:tmp:a/b", "/tmp/a:b"},
        {"/tmp//x", "Root:tmp:x", "/tmp/x"},
        {"/Volumes/Disk2/", "Disk2:", "/Volumes/Disk2/"},
        {"/Volumes/Disk2/a/../b", "Disk2:b", "/Volumes/Disk2/b"},
        {"/Volumes/Disk2/a/./b", "Disk2:a:b", "/Volumes/Disk2/a/b"},
        {"/Volumes/Disk2/a/..", "Disk2:", "/Volumes/Disk2/"},
        {"/Volumes/Disk2/../x", "Root:Volumes:x", "/Volumes/x"},
        {"/Volumes/Disk2x/f", "Root:Volumes:Disk2x:f", "/Volumes/Disk2x/f"},
        {"/media/usb/f", "usb:f", "/media/usb/f"},
        {"/srv/usb/f", "usb 2:f", "/srv/usb/f"},
        {"/mnt/a:b/f", "a/b:f", "/mnt/a:b/f"},
        {"/mnt/with space/f", "with space:f", "/mnt/with space/f"},
        {"/..", "Root:", "/"},
        {"/tmp/.x", "Root:tmp:.x", "/tmp/.x"},
        {"/tmp/..x/...", "Root:tmp:..x:...", "/tmp/..x/..."},
        {"/tmp/x/.", "Root:tmp:x", "/tmp/x"},
        {"/Volumes/Disk2", "Disk2", "/Volumes/Disk2/"},
    };
    for (const auto& c : cases) {
        VFilePath path(V(c.posix), FPS_POSIX);
        EXPECT_TRUE(path.IsValid()) << c.posix;
        EXPECT_EQ(U8(path.GetPath()), c.internal) << c.posix;
        VString back;
        path.GetPosixPath(back);
        EXPECT_EQ(U8(back), c.back) << c.posix;
        EXPECT_EQ(U8(path.GetPath(FPS_POSIX)), c.back) << c.posix;
    }
}

// Each kind of step, and each name that only looks like one, at every distance from the start and the end of the
// text: the scan that tells a normal path from one to resolve reads the units in blocks and the last ones alone.
TEST_F(VFilePathTest, StepsAreFoundWhereverTheyStand) {
    struct Case {
        const char* step;
        bool keepsPad;
        const char* name; // the element the step leaves after the pad, "" when none
    } const cases[] = {
        {"//f", true, "f"},      {"/./f", true, "f"}, {"/../f", false, "f"}, {"/.", true, ""},
        {"/..", false, ""},      {"/.x", true, ".x"}, {"/..x", true, "..x"}, {"/...", true, "..."},
        {"/.../f", true, "..."}, {"/x.", true, "x."}, {"/x..", true, "x.."},
    };
    for (const auto& c : cases) {
        for (int padLength = 1; padLength <= 7; ++padLength) {
            for (const bool followed : {false, true}) {
                const std::string pad(size_t(padLength), 'a');
                std::string posix = "/tmp/" + pad + c.step + (followed ? "/zzzzzz" : "");
                std::string expected = "Root:tmp";
                if (c.keepsPad) expected += ":" + pad;
                if (*c.name != 0) expected += std::string(":") + c.name;
                if (std::string(c.step) == "/.../f") expected += ":f";
                if (followed) expected += ":zzzzzz";
                if (!followed && std::string(c.step) == "/..") expected += ":";
                VFilePath path(V(posix.c_str()), FPS_POSIX);
                EXPECT_EQ(U8(path.GetPath()), expected) << posix;
            }
        }
    }
}

TEST_F(VFilePathTest, UnmountedVolumesConvertUnderTheRoot) {
    VString out;
    EXPECT_FALSE(XPosixFile::HFSFullPathToPosix(V("Gone:a:b"), out));
    EXPECT_EQ(U8(out), "/Gone/a/b");
    EXPECT_TRUE(XPosixFile::HFSFullPathToPosix(V("Disk2:a"), out));
    EXPECT_EQ(U8(out), "/Volumes/Disk2/a");
}

TEST_F(VFilePathTest, WithoutAnyVolumeAnAbsolutePathIsInvalid) {
    test::StFakeVolumes none({});
    VFilePath path(V("/tmp/x"), FPS_POSIX);
    EXPECT_FALSE(path.IsValid());
}

TEST_F(VFilePathTest, RelativePosixTextIsConvertedTextually) {
    struct Case {
        const char* posix;
        const char* internal;
    } const cases[] = {
        {"a/b/", "a:b:"}, {"../x", ":x"}, {"./a", "a"},     {"a:b/c", "a/b:c"}, {"x/", "x:"},
        {"a/./", "a:"},   {"a/.", "a:."}, {"a//b", "a::b"}, {"", ""},
    };
    for (const auto& c : cases) {
        VString text(V(c.posix));
        PosixToSystemPath(text);
        EXPECT_EQ(U8(text), c.internal) << c.posix;
    }
}

TEST_F(VFilePathTest, RelativeInternalTextToPosix) {
    struct Case {
        const char* internal;
        const char* posix;
    } const cases[] = {
        {"a:b", "a/b"},     {"sub:", "sub/"},     {":a", "a"},     {"a::b", "a/../b"},
        {"a/b:c", "a:b/c"}, {"a:::", "a/../../"}, {"::a", "../a"}, {":", ""},
    };
    for (const auto& c : cases) {
        VString text(V(c.internal));
        SystemToPosixPath(text, true);
        EXPECT_EQ(U8(text), c.posix) << c.internal;
    }
}

// A relative POSIX text given as a full path names its first element as the volume: callers make paths
// absolute first.
TEST_F(VFilePathTest, ARelativePosixFullPathIsRootedAtItsFirstElement) {
    VFilePath path(V("a/b"), FPS_POSIX);
    EXPECT_TRUE(path.IsValid());
    EXPECT_EQ(U8(path.GetPath()), "a:b");
}

TEST_F(VFilePathTest, RelativePathsOnABase) {
    VFilePath base(V("Vol:a:b:"));
    struct Case {
        const char* relative;
        FilePathStyle style;
        bool flag;
        const char* result; // "" when invalid
    } const cases[] = {
        {"../c", FPS_POSIX, false, "Vol:a:c"},      {"../c", FPS_POSIX, true, "Vol:a:c"},
        {"x/y/", FPS_POSIX, false, "Vol:a:b:x:y:"}, {"/tmp/x", FPS_POSIX, false, "Root:tmp:x"},
        {"c:d", FPS_SYSTEM, false, "Vol:a:b:c:d"},  {":c", FPS_SYSTEM, false, "Vol:a:c"},
        {"::c", FPS_SYSTEM, false, "Vol:c"},        {"../../../../c", FPS_POSIX, false, ""},
    };
    for (const auto& c : cases) {
        VFilePath path(base, V(c.relative), c.style, c.flag);
        EXPECT_EQ(path.IsValid(), *c.result != 0) << c.relative;
        if (*c.result != 0) {
            EXPECT_EQ(U8(path.GetPath()), c.result) << c.relative;
        }
    }
    VFilePath onFile(VFilePath(V("Vol:a:f")), V("x"), FPS_POSIX, true);
    EXPECT_FALSE(onFile.IsValid());
    EXPECT_TRUE(onFile.GetPath().IsEmpty());
}

TEST_F(VFilePathTest, ResolveRelativePosixSteps) {
    struct Case {
        const char* text;
        bool ok;
        const char* result;
    } const cases[] = {
        {"a/./b/../c", true, "a/c"},    {"a//b", false, nullptr},    {"", true, ""},
        {"a/b/c/../../d", true, "a/d"}, {"a/b/./../c", true, "a/c"}, {"a/../../b", true, "../b"},
        {"a/b/", true, "a/b/"},
    };
    for (const auto& c : cases) {
        VString text(V(c.text));
        EXPECT_EQ(VFilePath::ResolveRelativePosix(text), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(U8(text), c.result) << c.text;
        }
    }
}

TEST_F(VFilePathTest, FullPathsAreStableThroughTheirText) {
    const char* const texts[] = {"Vol:a:b::c", "/Volumes/Disk2/a/../b", "a/b", "x/", "Vol:a:::b", "/tmp/a:b/", "../x",
                                 "a//b"};
    for (FilePathStyle style : {FPS_SYSTEM, FPS_POSIX}) {
        for (const char* text : texts) {
            VFilePath first(V(text), style);
            VFilePath second(first.GetPath());
            EXPECT_EQ(second.IsValid(), first.IsValid()) << text;
            EXPECT_EQ(U8(second.GetPath()), U8(first.GetPath())) << text;
        }
    }
}

} // namespace
} // namespace vela
