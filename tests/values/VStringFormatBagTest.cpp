#include "core/VString.h"

#include "core/VRefPtr.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

std::u16string Text(const VString& text) {
    return std::u16string(text.GetCPointer(), size_t(text.GetLength()));
}

class VStringFormatBag : public ::testing::Test {
protected:
    VStringFormatBag() {
        fBag->SetString("name", VString("x"));
        fBag->SetLong("n", 42);
        fBag->SetString("empty", VString(""));
        fBag->SetString("loop", VString("{name}"));
    }

    std::u16string Formatted(const char* text, bool removeMissing) {
        VString formatted(text);
        formatted.Format(fBag.Get(), removeMissing);
        return Text(formatted);
    }

    VRefPtr<VValueBag> fBag = VRefPtr<VValueBag>::Adopt(new VValueBag);
};

TEST_F(VStringFormatBag, Placeholders) {
    struct Case {
        const char* text;
        const char16_t* kept;    // removeMissing false
        const char16_t* removed; // removeMissing true
    } cases[] = {
        {"Hello {name}{{no}} {bad key} {zz}", u"Hello x{{no}} {bad key} {zz}", u"Hello x{{no}} {bad key} "},
        {"{name}}", u"x}", u"x}"}, // the doubled brace at the very end is no escape
        {"{name}}.", u"{name}}.", u"{name}}."},
        {"{n} items", u"42 items", u"42 items"}, // any kind, as its text
        {"{}{name}", u"{}x", u"{}x"},
        {"a{empty}b", u"ab", u"ab"},
        {"{loop}{name}", u"{name}x", u"{name}x"}, // inserted text is not scanned again
        {"{{name}", u"{{name}", u"{{name}"},
        {"{name", u"{name", u"{name"},
        {"{", u"{", u"{"},
        {"{zz}{name}", u"{zz}x", u"x"},
        {"{a{name}", u"{ax", u""}, // the key "a{name" is missing: the scan goes on behind its brace
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Formatted(c.text, false), c.kept) << c.text;
        EXPECT_EQ(Formatted(c.text, true), c.removed) << c.text;
    }
}

TEST_F(VStringFormatBag, NothingToDo) {
    VString text("{name}");
    text.Format(static_cast<const VValueBag*>(nullptr));
    EXPECT_EQ(Text(text), u"{name}");
    VRefPtr<VValueBag> empty = VRefPtr<VValueBag>::Adopt(new VValueBag);
    text.Format(empty.Get(), true);
    EXPECT_EQ(Text(text), u"{name}");
}

} // namespace
} // namespace vela
