#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/TestProcess.h"
#include "values/IBaggable.h"
#include "values/VBagArray.h"
#include "values/VDuration.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VTime.h"
#include "values/VUUID.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vela {
namespace {

using test::BagRef;
using test::NewBag;

// A bag whose attribute "name" holds the text.
BagRef NamedBag(const char* name) {
    BagRef bag = NewBag();
    bag->SetString("name", VString(name));
    return bag;
}

std::string NameOf(const VValueBag* bag) {
    VString name;
    if (bag == nullptr || !bag->GetString("name", name)) return "<none>";
    std::string out;
    for (int32 i = 1; i <= name.GetLength(); ++i)
        out += char(name.GetUniChar(i));
    return out;
}

// The element names of bag in order, joined with ",".
std::string ElementNames(const VValueBag& bag) {
    std::string names;
    for (int32 n = 1; n <= bag.GetElementNamesCount(); ++n) {
        VString name;
        bag.GetNthElementName(n, &name);
        if (!names.empty()) names += ",";
        for (int32 i = 1; i <= name.GetLength(); ++i)
            names += char(name.GetUniChar(i));
    }
    return names;
}

// The names of the children under key, joined with ",".
std::string ChildNames(const VValueBag& bag, const char* key) {
    std::string names;
    const VBagArray* array = bag.GetElements(key);
    for (int32 n = 1; array != nullptr && n <= array->GetCount(); ++n) {
        if (!names.empty()) names += ",";
        names += NameOf(array->GetNth(n));
    }
    return names;
}

TEST(VValueBag, IsAValueOfKind200) {
    BagRef bag = NewBag();
    EXPECT_EQ(bag->GetValueKind(), VValueBag::kKind);
    EXPECT_FALSE(bag->IsNull());
    EXPECT_EQ(bag->GetRefCount(), 1);
    VValue* made = VValue::NewValueFromValueKind(200);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetValueKind(), 200);
    EXPECT_EQ(made->IsVValueSingle(), nullptr);
    auto* madeBag = static_cast<VValueBag*>(made);
    EXPECT_TRUE(madeBag->IsEmpty());
    EXPECT_EQ(madeBag->GetRefCount(), 1);
    madeBag->Release();
}

TEST(VValueBag, TypedAttributesReplaceWhateverKindTheNameHeld) {
    BagRef bag = NewBag();
    bag->SetLong("n", 42);
    bag->SetReal("r", 2.5);
    bag->SetBool("b", true);
    bag->SetLong8("l", int64(1) << 40);
    bag->SetString("s", VString("text"));
    EXPECT_EQ(bag->GetAttributesCount(), 5);

    int32 n = 0;
    double r = 0;
    bool b = false;
    int64 l = 0;
    VString s;
    EXPECT_TRUE(bag->GetLong("n", n));
    EXPECT_TRUE(bag->GetReal("r", r));
    EXPECT_TRUE(bag->GetBool("b", b));
    EXPECT_TRUE(bag->GetLong8("l", l));
    EXPECT_TRUE(bag->GetString("s", s));
    EXPECT_EQ(n, 42);
    EXPECT_EQ(r, 2.5);
    EXPECT_TRUE(b);
    EXPECT_EQ(l, int64(1) << 40);
    EXPECT_TRUE(s.EqualToStringRaw(VString("text")));

    // Conversions between kinds, and replacement by another kind.
    EXPECT_TRUE(bag->GetString("n", s));
    EXPECT_TRUE(s.EqualToStringRaw(VString("42")));
    bag->SetString("n", VString("17"));
    EXPECT_TRUE(bag->GetLong("n", n));
    EXPECT_EQ(n, 17);
    EXPECT_EQ(bag->GetAttributesCount(), 5);

    // Absent names clear the output.
    EXPECT_FALSE(bag->GetLong("absent", n));
    EXPECT_EQ(n, 0);
    EXPECT_FALSE(bag->GetString("absent", s));
    EXPECT_TRUE(s.IsEmpty());

    bag->RemoveAttribute("r");
    EXPECT_FALSE(bag->AttributeExists("r"));
    VString name;
    const VValueSingle* last = bag->GetNthAttribute(4, &name);
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(name.EqualToStringRaw(VString("s")));
    EXPECT_EQ(bag->GetNthAttribute(5, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
}

TEST(VValueBag, IdentifiersAreAttributesToo) {
    VUUIDBuffer buffer;
    for (int i = 0; i < 16; ++i)
        buffer.fBytes[i] = uint8(i + 1);
    VUUID id(buffer);
    BagRef bag = NewBag();
    bag->SetVUUID("uuid", id);
    VUUID back;
    EXPECT_TRUE(bag->GetVUUID("uuid", back));
    EXPECT_TRUE(back.EqualTo(id));
}

TEST(VValueBag, TimesAndDurationsAreAttributesToo) {
    BagRef bag = NewBag();
    VTime when;
    when.FromUTCTime(2024, 5, 17, 13, 45, 10, 250);
    bag->SetTime("when", when);
    bag->SetDuration("span", VDuration(90061001));
    VTime timeBack;
    EXPECT_TRUE(bag->GetTime("when", timeBack));
    EXPECT_EQ(timeBack.GetStamp(), when.GetStamp());
    VDuration spanBack;
    EXPECT_TRUE(bag->GetDuration("span", spanBack));
    EXPECT_EQ(spanBack.ConvertToMilliseconds(), 90061001);
    // A text attribute converts by the target's own reader; an absent one clears the output.
    bag->SetString("text", VString("2020-03-04T05:06:07.089Z"));
    EXPECT_TRUE(bag->GetTime("text", timeBack));
    EXPECT_EQ(timeBack.GetMilliseconds() % 86400000, ((5 * 60 + 6) * 60 + 7) * 1000 + 89);
    EXPECT_FALSE(bag->GetDuration("absent", spanBack));
    EXPECT_EQ(spanBack.ConvertToMilliseconds(), 0);
}

TEST(VValueBag, CharacterDataGrows) {
    BagRef bag = NewBag();
    bag->AppendToCData(VString("ab"));
    bag->AppendToCData(VString("cd"));
    VString text;
    EXPECT_TRUE(bag->GetString(VValueBag::CDataAttributeName(), text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("abcd")));

    BagRef number = NewBag();
    number->SetLong("<>", 5);
    number->AppendToCData(VString(" apples"));
    EXPECT_TRUE(number->GetString("<>", text));
    EXPECT_TRUE(text.EqualToStringRaw(VString("5 apples")));
    EXPECT_EQ(number->GetAttributes().GetNthKind(0), VString::kKind);
}

TEST(VValueBag, EmptinessAndJSONMarkers) {
    BagRef bag = NewBag();
    EXPECT_TRUE(bag->IsEmpty());
    bag->SetBool("____objectunic", true);
    EXPECT_FALSE(bag->IsEmpty(false));
    EXPECT_TRUE(bag->IsEmpty(true));
    bag->SetBool("____property_name_in_jsarray", true);
    EXPECT_TRUE(bag->IsEmpty(true));
    bag->SetLong("x", 1);
    EXPECT_FALSE(bag->IsEmpty(true));

    BagRef parent = NewBag();
    VRefPtr<VBagArray> empty = VRefPtr<VBagArray>::Adopt(new VBagArray);
    parent->SetElements("list", empty.Get());
    EXPECT_FALSE(parent->IsEmpty()); // a name with an empty list counts
    parent->Destroy();
    EXPECT_TRUE(parent->IsEmpty());
    EXPECT_EQ(empty->GetRefCount(), 1);
}

TEST(VValueBag, AddingUnderOneNameKeepsOrder) {
    BagRef bag = NewBag();
    BagRef first = NamedBag("first");
    BagRef second = NamedBag("second");
    bag->AddElement("item", first.Get());
    bag->AddElement("item", second.Get());
    bag->AddElement("item", nullptr);
    EXPECT_EQ(bag->GetElementNamesCount(), 1);
    EXPECT_EQ(ChildNames(*bag, "item"), "first,second");
    EXPECT_EQ(first->GetRefCount(), 2);

    VString name("stale");
    EXPECT_EQ(bag->GetNthElementName(2, &name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_EQ(bag->GetNthElementName(1, &name), bag->GetElements("item"));
    EXPECT_TRUE(name.EqualToStringRaw(VString("item")));

    bag->RemoveElements("item");
    EXPECT_EQ(bag->GetElementNamesCount(), 0);
    EXPECT_EQ(first->GetRefCount(), 1);
}

TEST(VValueBag, ReplaceElement) {
    BagRef bag = NewBag();
    BagRef only = NamedBag("only");
    EXPECT_TRUE(bag->ReplaceElement("x", only.Get()));
    EXPECT_EQ(only->GetRefCount(), 2);
    EXPECT_FALSE(bag->ReplaceElement("x", only.Get()));
    EXPECT_EQ(only->GetRefCount(), 2);

    BagRef other = NamedBag("other");
    bag->AddElement("x", other.Get());
    BagRef last = NamedBag("last");
    EXPECT_TRUE(bag->ReplaceElement("x", last.Get()));
    EXPECT_EQ(ChildNames(*bag, "x"), "last");
    EXPECT_EQ(only->GetRefCount(), 1);
    EXPECT_EQ(other->GetRefCount(), 1);

    // A bag held only by the list survives its own replacement.
    VValueBag* held = bag->GetElements("x")->GetNth(1);
    last = nullptr;
    BagRef extra = NamedBag("extra");
    bag->AddElement("x", extra.Get());
    EXPECT_TRUE(bag->ReplaceElement("x", held));
    EXPECT_EQ(ChildNames(*bag, "x"), "last");

    EXPECT_FALSE(bag->ReplaceElement("x", nullptr));
    EXPECT_EQ(bag->GetElements("x"), nullptr);
    EXPECT_EQ(bag->GetElementNamesCount(), 0);
}

TEST(VValueBag, NamesWithoutListTakeANewOne) {
    BagRef bag = NewBag();
    bag->SetElements("x", nullptr);
    EXPECT_EQ(bag->GetElementNamesCount(), 1);
    EXPECT_EQ(bag->GetElements("x"), nullptr);
    BagRef child = NamedBag("child");
    bag->AddElement("x", child.Get());
    EXPECT_EQ(bag->GetElementNamesCount(), 1);
    EXPECT_EQ(ChildNames(*bag, "x"), "child");
}

TEST(VValueBag, UniqueElements) {
    BagRef bag = NewBag();
    VString name("stale");
    EXPECT_EQ(bag->GetUniqueElementAnyKind(name), nullptr);
    EXPECT_TRUE(name.IsEmpty());
    BagRef child = NamedBag("one");
    bag->AddElement("kid", child.Get());
    EXPECT_EQ(bag->GetUniqueElementAnyKind(name), child.Get());
    EXPECT_TRUE(name.EqualToStringRaw(VString("kid")));
    bag->AddElement("kid", NamedBag("two").Get());
    EXPECT_EQ(bag->GetUniqueElementAnyKind(name), nullptr);
}

TEST(VValueBag, UniqueElementWithAttribute) {
    BagRef bag = NewBag();
    BagRef a = NamedBag("a");
    a->SetLong("id", 1);
    BagRef b = NamedBag("b");
    b->SetLong("id", 2);
    BagRef c = NamedBag("c"); // no id: matches the cleared value 0
    bag->AddElement("row", a.Get());
    bag->AddElement("row", b.Get());
    bag->AddElement("row", c.Get());

    VValueBag* found = bag->RetainUniqueElementWithAttribute("row", "id", VLong(2));
    EXPECT_EQ(found, b.Get());
    EXPECT_EQ(b->GetRefCount(), 3);
    found->Release();
    found = bag->RetainUniqueElementWithAttribute("row", "id", VLong(0));
    EXPECT_EQ(found, c.Get());
    found->Release();
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("row", "id", VLong(9)), nullptr);
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("none", "id", VLong(1)), nullptr);

    b->SetLong("id", 1); // two matches
    EXPECT_EQ(bag->RetainUniqueElementWithAttribute("row", "id", VLong(1)), nullptr);
}

std::vector<std::string> KeyBytes(const VValueBag::StKeyPath& keys) {
    std::vector<std::string> out;
    for (const StPackedDictionaryKey& key : keys)
        out.emplace_back(key.GetKey(), key.GetKeyLength());
    return out;
}

TEST(VValueBag, PathsSplitAtSlashes) {
    struct Case {
        const char* path;
        std::vector<std::string> keys;
    } cases[] = {
        {"", {}},          {"a", {"a"}}, {"a/b/", {"a", "b"}},       {"a//b", {"a", "", "b"}},
        {"/a", {"", "a"}}, {"/", {""}},  {"a/b/c", {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        VValueBag::StKeyPath keys;
        VValueBag::GetKeysFromPath(VString(c.path), keys);
        EXPECT_EQ(KeyBytes(keys), c.keys) << c.path;
        VValueBag::GetKeysFromUTF8PathNoCopy(c.path, keys);
        EXPECT_EQ(KeyBytes(keys), c.keys) << c.path;
        for (const StPackedDictionaryKey& key : keys)
            EXPECT_FALSE(key.OwnsBuffer());
    }
}

TEST(VValueBag, LongPathSegmentsAreCutToWholeCharacters) {
    std::string segment;
    for (int i = 0; i < 200; ++i)
        segment += "\xC3\xA9"; // 400 bytes of "é"
    const std::string path = "a/" + segment + "/b";
    VValueBag::StKeyPath fromText;
    VValueBag::GetKeysFromPath(VString(path.c_str()), fromText);
    VValueBag::StKeyPath fromBytes;
    VValueBag::GetKeysFromUTF8PathNoCopy(path.c_str(), fromBytes);
    ASSERT_EQ(fromText.size(), 3u);
    EXPECT_EQ(KeyBytes(fromText), KeyBytes(fromBytes));
    EXPECT_EQ(fromText[1].GetKeyLength(), 254u);
}

TEST(VValueBag, WalkingPaths) {
    BagRef root = NewBag();
    VValueBag::StKeyPath path;
    VValueBag::GetKeysFromPath(VString("a/b"), path);
    EXPECT_EQ(root->GetUniqueElementByPath(VValueBag::StKeyPath()), root.Get());
    EXPECT_EQ(root->GetUniqueElementByPath(path), nullptr);

    VValueBag* b = root->GetElementByPathAndCreateIfDontExists(path);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b")), b);
    EXPECT_EQ(root->GetElementByPathAndCreateIfDontExists(path), b); // found, not made again

    // A name whose list is empty is a missing step; creating fills it.
    VRefPtr<VBagArray> empty = VRefPtr<VBagArray>::Adopt(new VBagArray);
    root->SetElements("e", empty.Get());
    EXPECT_EQ(root->GetUniqueElementByPath(VString("e")), nullptr);
    VValueBag::GetKeysFromPath(VString("e/f"), path);
    VValueBag* f = root->GetElementByPathAndCreateIfDontExists(path);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(root->GetUniqueElementByPath(VString("e/f")), f);
}

TEST(VValueBag, ReplacingByPath) {
    BagRef root = NewBag();
    VValueBag::StKeyPath path;
    EXPECT_FALSE(root->ReplaceElementByPath(path, NamedBag("x").Get()));

    VValueBag::GetKeysFromPath(VString("a/b/c"), path);
    BagRef c = NamedBag("c");
    EXPECT_TRUE(root->ReplaceElementByPath(path, c.Get()));
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b/c")), c.Get());
    EXPECT_FALSE(root->ReplaceElementByPath(path, c.Get())); // already the only one

    EXPECT_TRUE(root->ReplaceElementByPath(path, nullptr));
    EXPECT_EQ(root->GetUniqueElementByPath(VString("a/b/c")), nullptr);
    EXPECT_NE(root->GetUniqueElementByPath(VString("a/b")), nullptr);
    VValueBag::GetKeysFromPath(VString("x/y"), path);
    EXPECT_TRUE(root->ReplaceElementByPath(path, nullptr)); // nothing there: nothing made
    EXPECT_EQ(root->GetElements("x"), nullptr);

    VValueBag::GetKeysFromPath(VString("a"), path);
    EXPECT_FALSE(root->ReplaceElementByPath(path, nullptr));
    EXPECT_EQ(root->GetElementNamesCount(), 0);
}

TEST(VValueBag, ClonesAreDeepAndEqual) {
    BagRef bag = NamedBag("root");
    bag->SetReal("r", 1.25);
    BagRef child = NamedBag("child");
    child->AddElement("grand", NamedBag("grandchild").Get());
    bag->AddElement("kid", child.Get());

    BagRef copy = BagRef::Adopt(bag->Clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->GetRefCount(), 1);
    EXPECT_TRUE(copy->EqualTo(*bag));
    EXPECT_TRUE(copy->IsDirty());
    VValueBag* copiedChild = copy->GetElements("kid")->GetNth(1);
    EXPECT_NE(copiedChild, child.Get());
    EXPECT_EQ(copiedChild->GetRefCount(), 1);
    EXPECT_NE(copy->GetUniqueElementByPath(VString("kid/grand")), bag->GetUniqueElementByPath(VString("kid/grand")));

    copiedChild->SetLong("changed", 1);
    EXPECT_FALSE(copy->EqualTo(*bag));
    EXPECT_FALSE(child->AttributeExists("changed"));
}

TEST(VValueBag, EqualityLooksAtNamesKindsDataAndOrder) {
    auto make = [](bool swapOrder, int32 value) {
        BagRef bag = NewBag();
        if (swapOrder) bag->SetLong("b", 2);
        bag->SetLong("a", value);
        if (!swapOrder) bag->SetLong("b", 2);
        return bag;
    };
    EXPECT_TRUE(make(false, 1)->EqualTo(*make(false, 1)));
    EXPECT_FALSE(make(false, 1)->EqualTo(*make(true, 1)));
    EXPECT_FALSE(make(false, 1)->EqualTo(*make(false, 3)));
    BagRef word = NewBag();
    word->SetWord("a", 1);
    word->SetLong("b", 2);
    EXPECT_FALSE(make(false, 1)->EqualTo(*word));

    BagRef x = make(false, 1);
    BagRef y = make(false, 1);
    x->AddElement("k", NewBag().Get());
    EXPECT_FALSE(x->EqualTo(*y));
    y->AddElement("k", NewBag().Get());
    EXPECT_TRUE(x->EqualTo(*y));
}

TEST(VValueBag, UnionCloneSetsAttributesAndAppendsCopies) {
    BagRef bag = NamedBag("mine");
    bag->SetLong("keep", 1);
    bag->AddElement("item", NamedBag("a").Get());
    BagRef other = NamedBag("theirs");
    other->SetLong("new", 2);
    BagRef b = NamedBag("b");
    other->AddElement("item", b.Get());
    other->AddElement("more", NamedBag("c").Get());

    EXPECT_TRUE(bag->UnionClone(other.Get()));
    EXPECT_TRUE(bag->UnionClone(nullptr));
    EXPECT_EQ(NameOf(bag.Get()), "theirs");
    int32 value = 0;
    EXPECT_TRUE(bag->GetLong("keep", value));
    EXPECT_TRUE(bag->GetLong("new", value));
    EXPECT_EQ(value, 2);
    EXPECT_EQ(ElementNames(*bag), "item,more");
    EXPECT_EQ(ChildNames(*bag, "item"), "a,b");
    EXPECT_NE(bag->GetElements("item")->GetNth(2), b.Get()); // a copy
    EXPECT_EQ(b->GetRefCount(), 2);
}

TEST(VValueBag, MergingABagWithItselfEnds) {
    BagRef bag = NamedBag("self");
    bag->AddElement("item", NamedBag("a").Get());
    bag->AddElement("item", NamedBag("b").Get());
    bag->AddElement("single", NamedBag("s").Get());
    EXPECT_TRUE(bag->UnionClone(bag.Get()));
    EXPECT_EQ(ChildNames(*bag, "item"), "a,b,a,b");
    EXPECT_EQ(ChildNames(*bag, "single"), "s,s");
    EXPECT_EQ(bag->GetAttributesCount(), 1);

    BagRef other = NamedBag("o");
    other->AddElement("item", NamedBag("a").Get());
    other->AddElement("item", NamedBag("b").Get());
    other->AddElement("single", NamedBag("s").Get());
    EXPECT_TRUE(other->Override(other.Get()));
    EXPECT_EQ(ChildNames(*other, "single"), "s"); // overridden by its own copy
    EXPECT_EQ(ChildNames(*other, "item"), "a,b,a,b");
}

TEST(VValueBag, OverrideRecursesIntoSingleChildren) {
    BagRef bag = NewBag();
    BagRef mine = NewBag();
    mine->SetLong("x", 1);
    bag->AddElement("item", mine.Get());
    BagRef other = NewBag();
    BagRef theirs = NewBag();
    theirs->SetLong("x", 2);
    theirs->SetLong("y", 3);
    other->AddElement("item", theirs.Get());

    EXPECT_TRUE(bag->Override(other.Get()));
    ASSERT_EQ(bag->GetElements("item")->GetCount(), 1);
    EXPECT_EQ(bag->GetElements("item")->GetNth(1), mine.Get());
    int32 x = 0;
    int32 y = 0;
    EXPECT_TRUE(mine->GetLong("x", x));
    EXPECT_TRUE(mine->GetLong("y", y));
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 3);

    // Two children on either side: the other's are appended.
    BagRef two = NewBag();
    two->AddElement("item", NamedBag("a").Get());
    two->AddElement("item", NamedBag("b").Get());
    BagRef otherTwo = NewBag();
    otherTwo->AddElement("item", NamedBag("c").Get());
    otherTwo->AddElement("item", NamedBag("d").Get());
    EXPECT_TRUE(two->Override(otherTwo.Get()));
    EXPECT_EQ(ChildNames(*two, "item"), "a,b,c,d");
}

TEST(VValueBag, SortingElementNames) {
    const StPackedDictionaryKey rowName("root");
    const StPackedDictionaryKey a("a");
    const StPackedDictionaryKey b("b");
    const StPackedDictionaryKey c("c");
    const VValueBag::StBagElementsOrdering table[] = {
        {&rowName, {&b, &a}},
        {&a, {&c, &b}},
        {nullptr, {}},
    };
    struct Case {
        std::vector<const char*> names;
        const char* sorted;
    } cases[] = {
        {{"a", "b"}, "b,a"},        {{"c", "a", "b"}, "c,b,a"}, // unlisted names rank 0 and come first
        {{"a", "c", "b"}, "a,c,b"},                             // b follows c (rank 0): nothing asks for sorting
        {{"b", "a"}, "b,a"},        {{"a"}, "a"},
    };
    for (const Case& test : cases) {
        BagRef bag = NewBag();
        for (const char* name : test.names)
            bag->AddElement(StPackedDictionaryKey(name), NamedBag(name).Get());
        bag->SortElements(rowName, table);
        EXPECT_EQ(ElementNames(*bag), test.sorted);
        EXPECT_EQ(ChildNames(*bag, "a"), "a"); // the lists move with their names
    }

    // Rows apply to children by their element names.
    BagRef bag = NewBag();
    BagRef child = NewBag();
    child->AddElement("b", NewBag().Get());
    child->AddElement("c", NewBag().Get());
    bag->AddElement("a", child.Get());
    bag->AddElement("b", NewBag().Get());
    bag->SortElements(rowName, table);
    EXPECT_EQ(ElementNames(*bag), "b,a");
    EXPECT_EQ(ElementNames(*child), "c,b");

    BagRef untouched = NewBag();
    untouched->AddElement("a", NewBag().Get());
    untouched->AddElement("b", NewBag().Get());
    untouched->SortElements(StPackedDictionaryKey("other"), table);
    untouched->SortElements(rowName, nullptr);
    EXPECT_EQ(ElementNames(*untouched), "a,b");
}

class Saved : public IBaggable {
public:
    explicit Saved(VError result) : fResult(result) {}
    VError SaveToBag(VValueBag& bag, VString& kind) const override {
        bag.SetLong("saved", 1);
        kind = VString("thing");
        return fResult;
    }

private:
    VError fResult;
};

TEST(VValueBag, AddingBaggableObjects) {
    BagRef bag = NewBag();
    EXPECT_EQ(bag->AddElement(static_cast<const IBaggable*>(nullptr)), VE_OK);
    Saved good(VE_OK);
    EXPECT_EQ(bag->AddElement(&good), VE_OK);
    Saved bad(VE_UNKNOWN_ERROR);
    EXPECT_EQ(bag->AddElement(&bad), VE_UNKNOWN_ERROR);
    ASSERT_NE(bag->GetElements("thing"), nullptr);
    EXPECT_EQ(bag->GetElements("thing")->GetCount(), 1);
    EXPECT_EQ(bag->GetElements("thing")->GetNth(1)->GetRefCount(), 1);

    VValueBag loaded;
    EXPECT_EQ(good.LoadFromBagWithLoader(loaded, nullptr), VE_OK); // defaults: nothing to load
}

TEST(VValueBag, DebugDumpNeedsAProcess) {
    BagRef bag = NewBag();
    bag->SetLong("n", 3);
    bag->AddElement("kid", NamedBag("k").Get());
    char buffer[1024];
    int size = sizeof(buffer);
    bag->DebugDump(buffer, size);
    EXPECT_EQ(size, 0);

    test::StProcessObject process;
    VString dump;
    bag->VObject::DebugDump(dump);
    EXPECT_TRUE(dump.EqualToStringRaw(VString("n = 3\n=======\n1 kid :\n--\nname = k\n")));
    size = 8; // 4 units
    EXPECT_EQ(bag->DebugDump(buffer, size), VTC_UTF_16);
    EXPECT_EQ(size, 8);
}

} // namespace
} // namespace vela
