#include "files/VResourceFile.h"

#include "values/VArrayString.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vela {
namespace {

// Resources held in memory: string lists by id, names by id.
class MemoryResourceFile : public VResourceFile {
public:
    MemoryResourceFile(std::map<int32, std::vector<const char*>> lists, std::map<std::string, int32> names, bool* saved)
        : fLists(std::move(lists)), fNames(std::move(names)), fSaved(saved) {}

    bool fUnsaved = false;

protected:
    bool ReadStringListEntry(int32 id, int32 index, VString& out) override {
        auto it = fLists.find(id);
        if (it == fLists.end() || index < 1 || size_t(index) > it->second.size()) return false;
        out = VString(it->second[size_t(index) - 1]);
        return true;
    }
    bool FindResourceID(uint32 type, const VString& name, int32& id) override {
        std::string text;
        for (int32 i = 1; i <= name.GetLength(); ++i)
            text += char(name.GetUniChar(i));
        auto it = fNames.find(text);
        if (type != kStringListType || it == fNames.end()) return false;
        id = it->second;
        return true;
    }
    bool HasUnsavedChanges() const override { return fUnsaved; }
    void Save() override { *fSaved = true; }

private:
    std::map<int32, std::vector<const char*>> fLists;
    std::map<std::string, int32> fNames;
    bool* fSaved;
};

std::vector<std::string> Strings(const VArrayString& array) {
    std::vector<std::string> out;
    for (int32 i = 1; i <= array.GetCount(); ++i) {
        VString text;
        array.GetString(text, i);
        std::string utf8;
        for (int32 k = 1; k <= text.GetLength(); ++k)
            utf8 += char(text.GetUniChar(k));
        out.push_back(utf8);
    }
    return out;
}

TEST(VResourceFileTest, StringListsAreReadUpToTheFirstMissingEntry) {
    bool saved = false;
    auto* file = new MemoryResourceFile({{128, {"one", "two", "three"}}, {129, {}}}, {{"Menu", 128}}, &saved);
    EXPECT_TRUE(VResourceFile::Init());
    struct Case {
        int32 id;
        std::vector<std::string> expected;
    };
    const Case cases[] = {{128, {"one", "two", "three"}}, {129, {}}, {999, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        VArrayString list;
        list.AppendString(VString("stale"));
        EXPECT_TRUE(file->GetStringList(c.id, list));
        EXPECT_EQ(Strings(list), c.expected);
    }
    VArrayString named;
    EXPECT_TRUE(file->GetStringList(VString("Menu"), named));
    EXPECT_EQ(Strings(named), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_FALSE(file->GetStringList(VString("Absent"), named));
    file->Release();
    EXPECT_FALSE(saved);
}

TEST(VResourceFileTest, UnsavedChangesAreSavedOnTheLastRelease) {
    bool saved = false;
    auto* file = new MemoryResourceFile({}, {}, &saved);
    file->fUnsaved = true;
    file->Retain();
    file->Release();
    EXPECT_FALSE(saved);
    file->Release();
    EXPECT_TRUE(saved);
}

} // namespace
} // namespace vela
