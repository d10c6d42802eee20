// A bag handed to other tasks while its owner still reads it (as the logger gets one): every const reader on
// every thread sees the same bag, and none changes what another reads (ThreadSanitizer checks this suite).
#include "values/VValueBag.h"

#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/RunTogether.h"
#include "values/StoredBytes.h"
#include "values/VBagArray.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

using test::BagRef;
using test::CountFailuresTogether;
using test::NewBag;
using test::WrittenBytes;

constexpr int kReaders = 4;
constexpr int kNames = 8; // attributes and element names, past the index threshold

std::string Name(const char* prefix, int i) {
    return prefix + std::to_string(i);
}

// Attributes a0.. of several kinds, one replaced by a value of another size (waiting for a pack), and element
// lists e0.. of one child each.
BagRef MakeBag() {
    BagRef bag = NewBag();
    for (int i = 0; i < kNames; ++i) {
        const std::string name = Name("a", i);
        if (i % 2 == 0) {
            bag->SetLong(name.c_str(), i * 100);
        } else {
            bag->SetString(name.c_str(), VString("short"));
        }
        BagRef child = NewBag();
        child->SetLong8("n", i);
        bag->AddElement(Name("e", i).c_str(), child.Get());
    }
    bag->SetString("a1", VString("a text longer than the first"));
    return bag;
}

struct Forms {
    std::u16string xml;
    std::u16string json;
    std::string stored;
};

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

Forms FormsOf(const VValueBag& bag) {
    Forms forms;
    VString text;
    bag.DumpXML(text, VString("bag"), true);
    forms.xml = Text(text);
    text.Clear();
    bag.GetJSONString(text, 0);
    forms.json = Text(text);
    forms.stored = WrittenBytes([&](VStream* s) { bag.WriteToStream(s); });
    return forms;
}

// What a reader on any thread does with the bag: lookups that hit and miss, conversions to another kind, the
// children, the written forms, comparison and copy.
bool ReadsTheSameBag(const VValueBag& bag, const VValueBag& reference, const Forms& expected) {
    for (int i = 0; i < kNames; ++i) {
        VString text;
        if (!bag.GetString(Name("a", i).c_str(), text)) return false;
        const VValueBag* child = bag.GetUniqueElementByPath(VString(Name("e", i).c_str()));
        int64 number = -1;
        if (child == nullptr || !child->GetLong8("n", number) || number != i) return false;
    }
    if (bag.AttributeExists("absent") || bag.GetElements("absent") != nullptr) return false;
    const Forms forms = FormsOf(bag);
    if (forms.xml != expected.xml || forms.json != expected.json || forms.stored != expected.stored) return false;
    BagRef copy = BagRef::Adopt(bag.Clone());
    return bag.EqualTo(reference) && copy && copy->EqualTo(bag);
}

TEST(VValueBagConcurrency, ABagHandedToOtherTasksIsReadOnAllOfThem) {
    const BagRef reference = MakeBag();
    const Forms expected = FormsOf(*MakeBag());
    const BagRef shared = MakeBag();
    EXPECT_EQ(CountFailuresTogether(kReaders,
                                    [&] {
                                        BagRef held(shared.Get()); // each task holds its own reference
                                        return ReadsTheSameBag(*held, *reference, expected);
                                    }),
              0);
}

} // namespace
} // namespace vela
