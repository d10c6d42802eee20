// Every operation of the file layer that changes the disk, failed at each of its file-system calls in turn through
// the fault seam: after each run the source and the target are as they were or as the operation's success leaves
// them, and nothing else that was there is gone.
#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileStream.h"
#include "files/VFolder.h"
#include "files/platform/XPosixFaults.h"
#include "support/TestProcess.h"

#include "TreeFixture.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vela {
namespace {

using Tree = std::map<std::string, std::string>;

VString Text(const std::string& utf8) {
    VString text;
    text.FromBlock(utf8.data(), utf8.size(), VTC_UTF_8);
    return text;
}

VRefPtr<VFolder> FolderAt(const std::string& posix) {
    return VRefPtr<VFolder>::Adopt(new VFolder(VFilePath(Text(posix + "/"), FPS_POSIX)));
}

VRefPtr<VFile> FileAt(const std::string& posix) {
    return VRefPtr<VFile>::Adopt(new VFile(VFilePath(Text(posix), FPS_POSIX)));
}

VFilePath FilePathAt(const std::string& posix) {
    return VFilePath(Text(posix), FPS_POSIX);
}

// Every object below path gets the same times, so that trees built at different moments describe alike.
void FixTimes(const std::string& path) {
    const struct timespec fixed[2] = {{1600000000, 0}, {1600000000, 0}};
    (void)::utimensat(AT_FDCWD, path.c_str(), fixed, AT_SYMLINK_NOFOLLOW);
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        FixTimes(entry.path().string());
}

// What a tree holds, with the times of folders and links left out: adding or removing an entry changes a
// folder's, and a link's are not kept by every copy.
Tree Describe(const std::string& path) {
    Tree tree = test::DescribeTree(path);
    for (auto& [name, line] : tree) {
        const mode_t mode = mode_t(std::stoul(line));
        if (!S_ISDIR(mode) && !S_ISLNK(mode)) continue;
        const size_t second = line.find(' ', line.find(' ') + 1);
        const size_t third = line.find(' ', second + 1);
        line.erase(second, third == std::string::npos ? std::string::npos : third - second);
    }
    return tree;
}

// The entries where got differs from wanted, for a failure's message.
std::string Difference(const Tree& got, const Tree& wanted) {
    std::string out;
    for (const auto& [name, line] : got) {
        auto found = wanted.find(name);
        if (found == wanted.end() || found->second != line)
            out +=
                "\n  " + name + ": " + line + (found == wanted.end() ? " (not after success)" : " vs " + found->second);
    }
    for (const auto& [name, line] : wanted)
        if (got.count(name) == 0) out += "\n  " + name + ": missing";
    return out;
}

bool Under(const std::string& path, const std::string& top) {
    return path == top || path.rfind(top + "/", 0) == 0;
}

// Where a run's objects lie: "h/..." below the temporary folder, "t/..." on another device (a tmpfs), "r/..." on
// a read-only file system and "f/..." on a full one, each below a folder of the run's own.
class Scene {
public:
    explicit Scene(std::map<char, std::string> roots) : fRoots(std::move(roots)) {}
    std::string P(const std::string& relative) const { return fRoots.at(relative[0]) + relative.substr(1); }
    void Folder(const std::string& relative) const { ASSERT_EQ(::mkdir(P(relative).c_str(), 0755), 0) << relative; }
    void File(const std::string& relative, const std::string& content) const {
        std::FILE* file = std::fopen(P(relative).c_str(), "wb");
        ASSERT_NE(file, nullptr) << relative;
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
        ASSERT_EQ(::chmod(P(relative).c_str(), 0644), 0);
    }
    void Link(const std::string& relative, const std::string& target) const {
        ASSERT_EQ(::symlink(P(target).c_str(), P(relative).c_str()), 0) << relative;
    }
    // A small tree: a file, a hidden folder, a link and a sub-folder.
    void Source(const std::string& relative) const {
        Folder(relative);
        Folder(relative + "/sub");
        File(relative + "/sub/f", "f");
        File(relative + "/top", "top");
        Link(relative + "/link", relative + "/sub/f");
        Folder(relative + "/.hidden");
        File(relative + "/.hidden/h", "h");
    }
    const std::map<char, std::string>& Roots() const { return fRoots; }

private:
    std::map<char, std::string> fRoots; // each ends without '/'
};

struct Row {
    const char* name;
    std::function<void(const Scene&)> build;
    std::function<VError(const Scene&)> run;
    // Compared whole: as before or as after the success.
    std::vector<std::string> watched;
    // Compared entry by entry, each as before or as after the success (a merge may stop between entries).
    std::vector<std::string> merged = {};
    // Not compared (texts that hold the moment, such as a Trash record).
    std::vector<std::string> ignored = {};
};

class DiskChangeFaultsTest : public test::TempTree {
protected:
    void TearDown() override {
        XPosixFaults::Reset();
        TempTree::TearDown();
    }

    // The run folders of every root, made empty.
    Scene NewScene(const std::string& id) {
        std::map<char, std::string> roots;
        for (char root : {'h', 't', 'f'}) {
            const std::string top = P(std::string(1, root)) + "/" + id;
            std::filesystem::remove_all(top);
            std::filesystem::create_directory(top);
            roots[root] = top;
        }
        roots['r'] = P("r");
        return Scene(roots);
    }
    static void Clear(const Scene& scene) {
        for (const auto& [root, top] : scene.Roots())
            if (root != 'r') std::filesystem::remove_all(top);
    }
    static Tree Everything(const Scene& scene) {
        Tree all;
        for (const auto& [root, top] : scene.Roots())
            for (auto& [name, line] : Describe(top))
                all[std::string(1, root) + (name.empty() ? "" : "/" + name)] = line;
        return all;
    }

    // Runs the row once without a fault, then once for each seam call n failing with error, until a run makes
    // fewer than n calls. Answers the runs made. With freshTimes, the row writes new content whose time is the
    // moment of the run: times are then settled after each run, and contents compared.
    int RunRow(const Row& row, int error, bool freshTimes = false) {
        auto settle = [&](const Scene& scene) {
            if (!freshTimes) return;
            for (const std::string& top : row.watched)
                FixTimes(scene.P(top));
        };
        Scene reference = NewScene("run");
        row.build(reference);
        FixTimes(P("h"));
        FixTimes(P("t"));
        FixTimes(P("f"));
        const Tree before = Everything(reference);
        {
            StErrorContextInstaller quiet(false, true);
            (void)row.run(reference);
        }
        settle(reference);
        const Tree success = Everything(reference);
        Clear(reference);
        int runs = 0;
        for (int n = 1;; ++n) {
            Scene scene = NewScene("run");
            row.build(scene);
            FixTimes(P("h"));
            FixTimes(P("t"));
            FixTimes(P("f"));
            EXPECT_EQ(Everything(scene), before) << row.name;
            VError result;
            int calls;
            {
                StErrorContextInstaller quiet(false, true);
                XPosixFaults::Arm(XPosixFaults::kAnyCall, error, n);
                result = row.run(scene);
                calls = XPosixFaults::Calls(XPosixFaults::kAnyCall);
                XPosixFaults::Reset();
            }
            settle(scene);
            ++runs;
            const Tree after = Everything(scene);
            Check(row, before, success, after, result, n, error);
            Clear(scene);
            if (calls < n) {
                // Deterministic: the run the fault never reached ends as the reference did.
                Check(row, success, success, after, VE_OK, n, error);
                break;
            }
            if (n > 10000) {
                ADD_FAILURE() << row.name << ": no end to its calls";
                break;
            }
        }
        return runs;
    }

    void Check(const Row& row, const Tree& before, const Tree& success, const Tree& after, VError result, int n,
               int error) {
        const std::string where = std::string(row.name) + ", call " + std::to_string(n) + " failing with errno " +
                                  std::to_string(error) + " (result " + std::to_string(result) + ")";
        auto part = [](const Tree& tree, const std::string& top) {
            Tree out;
            for (const auto& [name, line] : tree)
                if (Under(name, top)) out[name] = line;
            return out;
        };
        for (const std::string& top : row.watched) {
            const Tree now = part(after, top);
            EXPECT_TRUE(now == part(before, top) || now == part(success, top))
                << where << ": " << top << Difference(now, part(success, top));
        }
        bool leftOver = false;
        std::set<std::string> names;
        for (const Tree* tree : {&before, &success, &after})
            for (const auto& [name, line] : *tree)
                names.insert(name);
        for (const std::string& name : names) {
            auto covered = [&](const std::vector<std::string>& tops) {
                for (const std::string& top : tops)
                    if (Under(name, top)) return true;
                return false;
            };
            if (covered(row.watched) || covered(row.ignored)) continue;
            auto state = [&](const Tree& tree) {
                auto found = tree.find(name);
                return found == tree.end() ? std::string("<absent>") : found->second;
            };
            if (covered(row.merged)) {
                EXPECT_TRUE(state(after) == state(before) || state(after) == state(success)) << where << ": " << name;
                continue;
            }
            // Outside what the operation works on, nothing that was there goes or changes.
            if (before.count(name) != 0) {
                EXPECT_EQ(state(after), state(before)) << where << ": " << name;
            } else if (after.count(name) != 0 && success.count(name) == 0) {
                // Left beside the target: allowed only when the operation said it failed.
                EXPECT_NE(result, VE_OK) << where << ": left " << name;
                if (fLeftOverRows.insert(row.name).second)
                    std::printf("[ LEFT     ] %s: %s\n", where.c_str(), name.c_str());
                leftOver = true;
            }
        }
        if (leftOver) ++fLeftOvers;
    }

    int fLeftOvers = 0;
    std::set<std::string> fLeftOverRows;
    test::StTestProcess fProcess;
};

std::vector<Row> FileRows() {
    auto copyTo = [](const char* source, const char* target, FileCopyOptions options) {
        return [=](const Scene& s) { return FileAt(s.P(source))->CopyTo(FilePathAt(s.P(target)), nullptr, options); };
    };
    auto moveTo = [](const char* source, const char* target, FileCopyOptions options) {
        return [=](const Scene& s) { return FileAt(s.P(source))->Move(FilePathAt(s.P(target)), nullptr, options); };
    };
    auto sourceAndDest = [](const Scene& s) {
        s.File("h/src.txt", "source");
        s.Folder("h/dest");
        s.Folder("t/dest");
        s.File("h/keep.txt", "keep");
    };
    auto withTargets = [=](const Scene& s) {
        sourceAndDest(s);
        s.File("h/dest/new.txt", "old");
        s.File("t/dest/new.txt", "old");
        s.Link("h/dest/link.txt", "h/keep.txt");
    };
    return {
        {"file copy", sourceAndDest, copyTo("h/src.txt", "h/dest/new.txt", FCP_DEFAULT), {"h/src.txt", "h/dest"}},
        {"file copy replacing",
         withTargets,
         copyTo("h/src.txt", "h/dest/new.txt", FCP_OVERWRITE),
         {"h/src.txt", "h/dest/new.txt"}},
        {"file copy replacing a link",
         withTargets,
         copyTo("h/src.txt", "h/dest/link.txt", FCP_OVERWRITE),
         {"h/src.txt", "h/dest/link.txt"}},
        {"file copy of a link",
         [=](const Scene& s) {
             sourceAndDest(s);
             s.Link("h/alias.txt", "h/keep.txt");
         },
         copyTo("h/alias.txt", "h/dest/new.txt", FCP_DEFAULT),
         {"h/alias.txt", "h/dest"}},
        {"file move", sourceAndDest, moveTo("h/src.txt", "h/dest/new.txt", FCP_DEFAULT), {"h/src.txt", "h/dest"}},
        {"file move across devices",
         sourceAndDest,
         moveTo("h/src.txt", "t/dest/new.txt", FCP_DEFAULT),
         {"h/src.txt", "t/dest"}},
        {"file move replacing across devices",
         withTargets,
         moveTo("h/src.txt", "t/dest/new.txt", FCP_OVERWRITE),
         {"h/src.txt", "t/dest/new.txt"}},
        {"file rename",
         sourceAndDest,
         [](const Scene& s) { return FileAt(s.P("h/src.txt"))->Rename(VString("renamed.txt"), nullptr); },
         {"h/src.txt", "h/renamed.txt"}},
        {"file delete",
         sourceAndDest,
         [](const Scene& s) { return FileAt(s.P("h/src.txt"))->Delete(); },
         {"h/src.txt"}},
        {"file delete of a link",
         withTargets,
         [](const Scene& s) { return FileAt(s.P("h/dest/link.txt"))->Delete(); },
         {"h/dest/link.txt"}},
    };
}

std::vector<Row> FolderRows() {
    auto copy = [](const char* source, const char* destination, uint32 options) {
        return [=](const Scene& s) {
            return FolderAt(s.P(source))->CopyTo(*FolderAt(s.P(destination)), VString("src"), nullptr, options);
        };
    };
    auto move = [](const char* source, const char* destination) {
        return [=](const Scene& s) { return FolderAt(s.P(source))->Move(*FolderAt(s.P(destination)), nullptr); };
    };
    auto plain = [](const Scene& s) {
        s.Source("h/src");
        s.Folder("h/dest");
        s.Folder("t/dest");
        s.Folder("h/keep");
        s.File("h/keep/k", "k");
    };
    auto withTargets = [=](const Scene& s) {
        plain(s);
        for (const char* root : {"h", "t"}) {
            s.Folder(std::string(root) + "/dest/src");
            s.File(std::string(root) + "/dest/src/stale", "old");
            s.File(std::string(root) + "/dest/src/top", "old top");
        }
        s.Folder("h/linked");
        s.Link("h/linked/src", "h/keep");
    };
    return {
        {"folder create", plain, [](const Scene& s) { return FolderAt(s.P("h/a/b/c"))->CreateRecursive(); }, {"h/a"}},
        {"folder copy", plain, copy("h/src", "h/dest", FOLDER_COPY_DEFAULT), {"h/src"}, {"h/dest"}},
        {"folder copy merging", withTargets, copy("h/src", "h/dest", FOLDER_COPY_DEFAULT), {"h/src"}, {"h/dest"}},
        {"folder copy replacing nothing", plain, copy("h/src", "h/dest", FOLDER_COPY_REPLACE), {"h/src", "h/dest/src"}},
        {"folder copy replacing", withTargets, copy("h/src", "h/dest", FOLDER_COPY_REPLACE), {"h/src", "h/dest/src"}},
        {"folder copy replacing a link",
         withTargets,
         copy("h/src", "h/linked", FOLDER_COPY_REPLACE),
         {"h/src", "h/linked/src"}},
        {"folder copy replacing from a link",
         [=](const Scene& s) {
             withTargets(s);
             s.Link("h/alias", "h/src");
         },
         [](const Scene& s) {
             return FolderAt(s.P("h/alias"))
                 ->CopyTo(*FolderAt(s.P("h/dest")), VString("src"), nullptr, FOLDER_COPY_REPLACE);
         },
         {"h/src", "h/alias", "h/dest/src"}},
        {"folder copy replacing across devices",
         withTargets,
         copy("h/src", "t/dest", FOLDER_COPY_REPLACE),
         {"h/src", "t/dest/src"}},
        {"folder copy replacing in a read-only file system",
         plain,
         copy("h/src", "r/dest", FOLDER_COPY_REPLACE),
         {"h/src", "r/dest/src"}},
        {"folder copy replacing in a full file system",
         [=](const Scene& s) {
             plain(s);
             s.File("h/src/big", std::string(320 * 1024, 'b'));
             s.Folder("f/dest");
             s.Folder("f/dest/src");
             s.File("f/dest/src/old", "old");
         },
         copy("h/src", "f/dest", FOLDER_COPY_REPLACE),
         {"h/src", "f/dest/src"}},
        {"folder move", plain, move("h/src", "h/dest"), {"h/src", "h/dest/src"}},
        {"folder move across devices", plain, move("h/src", "t/dest"), {"h/src", "t/dest/src"}},
        {"folder move across devices onto a folder", withTargets, move("h/src", "t/dest"), {"h/src", "t/dest/src"}},
        {"folder rename",
         plain,
         [](const Scene& s) { return FolderAt(s.P("h/src"))->Rename(VString("new"), nullptr); },
         {"h/src", "h/new"}},
        {"folder delete", plain, [](const Scene& s) { return FolderAt(s.P("h/src"))->Delete(true); }, {}, {"h/src"}},
        {"folder delete of a link",
         withTargets,
         [](const Scene& s) { return FolderAt(s.P("h/linked/src"))->Delete(true); },
         {"h/linked/src"}},
        {"folder forced delete",
         plain,
         [](const Scene& s) { return FolderAt(s.P("h/src"))->DeleteForced(); },
         {},
         {"h/src"}},
        {"folder move to Trash",
         [=](const Scene& s) {
             plain(s);
             s.Folder("h/data");
             ::setenv("XDG_DATA_HOME", s.P("h/data").c_str(), 1);
         },
         [](const Scene& s) { return FolderAt(s.P("h/src"))->MoveToTrash(); },
         {"h/src"},
         {"h/data/Trash/files"},
         {"h/data/Trash/info"}},
    };
}

// The mounts the rows need: another device, a read-only file system holding a target, a full one.
class StRowMounts {
public:
    explicit StRowMounts(const std::string& root)
        : fOther(root + "/t", "4m"), fReadOnly(root + "/r", "256k"), fFull(root + "/f", "256k") {
        if (!fReadOnly.Mounted()) return;
        ::mkdir((root + "/r/dest").c_str(), 0755);
        ::mkdir((root + "/r/dest/src").c_str(), 0755);
        if (std::FILE* file = std::fopen((root + "/r/dest/src/old").c_str(), "wb")) std::fclose(file);
        fReadOnlyMade = ::mount(nullptr, (root + "/r").c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    const test::StTmpfsMount& Missing() const {
        if (!fOther.Mounted()) return fOther;
        return fReadOnly.Mounted() ? fFull : fReadOnly;
    }
    bool AllMounted() const { return fOther.Mounted() && fReadOnly.Mounted() && fFull.Mounted() && fReadOnlyMade; }

private:
    test::StTmpfsMount fOther;
    test::StTmpfsMount fReadOnly;
    test::StTmpfsMount fFull;
    bool fReadOnlyMade = false;
};

TEST_F(DiskChangeFaultsTest, EveryFailedCallLeavesSourceAndTargetWholeAndNothingElseGone) {
    Folder("h");
    StRowMounts mounts(fRoot);
    if (!mounts.AllMounted()) VELA_REQUIRE_MOUNT(mounts.Missing());
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const std::string savedDataHome = dataHome != nullptr ? dataHome : "";
    int runs = 0;
    std::vector<Row> rows = FileRows();
    for (Row& row : FolderRows())
        rows.push_back(std::move(row));
    for (const Row& row : rows)
        for (int error : {EIO, EINVAL})
            runs += RunRow(row, error);
    if (dataHome != nullptr)
        ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    std::printf("[ RUNS     ] %zu operations, %d runs, %d runs left an object beside a failed operation\n", rows.size(),
                runs, fLeftOvers);
    EXPECT_GT(runs, int(rows.size()) * 2);
}

// Whole-file saves: the file holds its old content or the new one, never a part of either.
std::vector<Row> SaveRows() {
    auto existing = [](const Scene& s) {
        s.Folder("h/dest");
        s.File("h/dest/file.txt", "the old content");
        s.File("h/keep.txt", "keep");
        s.Link("h/dest/link.txt", "h/keep.txt");
    };
    auto stream = [](const char* target) {
        return [=](const Scene& s) {
            VRefPtr<VFile> file = FileAt(s.P(target));
            VFileStream out(file.Get());
            VError error = out.OpenWriting();
            if (error == VE_OK) error = out.PutData("the new content", 15);
            const VError closed = out.CloseWriting();
            return error != VE_OK ? error : closed;
        };
    };
    return {
        {"file set content",
         existing,
         [](const Scene& s) { return FileAt(s.P("h/dest/file.txt"))->SetContent("the new content", 15); },
         {"h/dest/file.txt"}},
        {"file save",
         existing,
         [](const Scene& s) { return FileAt(s.P("h/dest/file.txt"))->SetContentAsString(VString("the new content")); },
         {"h/dest/file.txt"}},
        {"file set content through a link",
         existing,
         [](const Scene& s) { return FileAt(s.P("h/dest/link.txt"))->SetContent("the new content", 15); },
         {"h/dest/link.txt", "h/keep.txt"}},
        {"stream write and close", existing, stream("h/dest/file.txt"), {"h/dest/file.txt"}},
    };
}

TEST_F(DiskChangeFaultsTest, EveryFailedCallOfAWholeFileSaveLeavesTheOldContentOrTheNew) {
    Folder("h");
    StRowMounts mounts(fRoot);
    if (!mounts.AllMounted()) VELA_REQUIRE_MOUNT(mounts.Missing());
    int runs = 0;
    const std::vector<Row> rows = SaveRows();
    for (const Row& row : rows)
        for (int error : {EIO, EINVAL})
            runs += RunRow(row, error, true);
    std::printf("[ RUNS     ] %zu saves, %d runs\n", rows.size(), runs);
    EXPECT_GT(runs, int(rows.size()) * 2);
}

} // namespace
} // namespace vela
