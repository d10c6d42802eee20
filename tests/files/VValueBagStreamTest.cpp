#include "values/VValueBag.h"

#include "core/VRefPtr.h"
#include "core/VString.h"
#include "support/BagTestSupport.h"
#include "support/RecordingRaiser.h"
#include "values/StoredBytes.h"
#include "values/VBagArray.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VStoredData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

namespace vela {
namespace {

using test::BagRef;
using test::Chain;
using test::NewBag;
using test::ReadBytes;
using test::StoredBytes;
using test::WrittenBytes;

std::string Minimal(const VValueBag& bag, bool withHash = true, bool bigEndian = false) {
    return WrittenBytes([&](VStream* s) { bag.WriteToStreamMinimal(s, withHash); }, bigEndian);
}

VError ReadMinimal(VValueBag& bag, const std::string& bytes, bool bigEndian = false) {
    return ReadBytes(
        bytes, [&](VStream* s) { return bag.ReadFromStreamMinimal(s); }, bigEndian);
}

// A tree with attributes of several kinds, a hashed attribute dictionary, several element names and a
// nested child.
BagRef SampleTree() {
    BagRef bag = NewBag();
    bag->SetString("name", VString("root \u00E9"));
    bag->SetLong("n", -5);
    bag->SetReal("r", 0.125);
    bag->SetBool("b", true);
    bag->SetLong8("l", -(int64(1) << 50));
    bag->SetWord("w", 300);
    bag->SetByte("y", -3);
    for (int i = 0; i < 3; ++i) {
        BagRef item = NewBag();
        item->SetLong("i", i);
        bag->AddElement("item", item.Get());
    }
    BagRef child = NewBag();
    child->AppendToCData(VString("text"));
    child->AddElement("deep", NewBag().Get());
    bag->AddElement("child", child.Get());
    for (const char* name : {"e1", "e2", "e3", "e4", "e5"})
        bag->AddElement(name, NewBag().Get());
    return bag;
}

TEST(VValueBagStream, MinimalFormOfOneLong) {
    BagRef bag = NewBag();
    bag->SetLong("a", 5);
    std::string expected =
        StoredBytes().Byte(1).Long(1).Long(2).Byte(1).Text("a").Byte(0).Long(3).Word(4).Long(5).Get();
    EXPECT_EQ(Minimal(*bag), expected);
    EXPECT_EQ(Minimal(*NewBag()), std::string(1, '\0'));
}

TEST(VValueBagStream, ElementsFollowTheirNames) {
    BagRef bag = NewBag();
    bag->AddElement("k", NewBag().Get());
    bag->AddElement("k", NewBag().Get());
    std::string expected = StoredBytes()
                               .Byte(2)
                               .Long(1)
                               .Long(2)
                               .Byte(1)
                               .Text("k")
                               .Byte(0)
                               .Long(2) // two bags
                               .Byte(0)
                               .Byte(0)
                               .Get();
    EXPECT_EQ(Minimal(*bag), expected);
}

TEST(VValueBagStream, TreesReadBackEqualInBothByteOrders) {
    BagRef tree = SampleTree();
    for (bool bigEndian : {false, true}) {
        for (bool withHash : {false, true}) {
            std::string bytes = Minimal(*tree, withHash, bigEndian);
            BagRef read = NewBag();
            read->SetLong("stale", 1);
            ASSERT_EQ(ReadMinimal(*read, bytes, bigEndian), VE_OK);
            EXPECT_TRUE(read->EqualTo(*tree)) << bigEndian << withHash;
            VString name;
            EXPECT_TRUE(read->GetString("name", name));
            EXPECT_TRUE(name.EqualToStringRaw(VString("root \u00E9")));
            EXPECT_EQ(Minimal(*read, withHash, bigEndian), bytes);
        }
    }
    EXPECT_NE(Minimal(*tree, true, true), Minimal(*tree, true, false));
}

TEST(VValueBagStream, ANameWithoutListIsWrittenAsAnEmptyList) {
    BagRef bag = NewBag();
    bag->SetElements("none", nullptr);
    BagRef read = NewBag();
    ASSERT_EQ(ReadMinimal(*read, Minimal(*bag)), VE_OK);
    ASSERT_NE(read->GetElements("none"), nullptr);
    EXPECT_EQ(read->GetElements("none")->GetCount(), 0);
    EXPECT_TRUE(read->EqualTo(*bag));
}

// bag, with count levels of one child under "k" each.
std::string NestedBytes(int levels) {
    StoredBytes bytes;
    for (int i = 0; i < levels; ++i)
        bytes.Byte(2).Long(1).Long(2).Byte(1).Text("k").Byte(0).Long(1);
    bytes.Byte(0);
    return bytes.Get();
}

TEST(VValueBagStream, NestingIsBounded) {
    BagRef read = NewBag();
    EXPECT_EQ(ReadMinimal(*read, NestedBytes(kStoredDataMaxDepth - 1)), VE_OK);
    EXPECT_EQ(read->GetElementNamesCount(), 1);

    test::RecordingRaiser raised;
    EXPECT_EQ(ReadMinimal(*read, NestedBytes(kStoredDataMaxDepth)), VE_STREAM_CORRUPTED);
    EXPECT_TRUE(read->IsEmpty());
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_CORRUPTED});
}

TEST(VValueBagStream, CorruptBagsAreRefusedAndLeftEmpty) {
    struct Case {
        const char* what;
        std::string bytes;
        VError expected;
    } cases[] = {
        {"unknown flag", StoredBytes().Byte(4).Get(), VE_STREAM_CORRUPTED},
        {"negative bag count", StoredBytes().Byte(2).Long(1).Long(2).Byte(1).Text("k").Byte(0).Long(-1).Get(),
         VE_STREAM_CORRUPTED},
        {"more bags than bytes", StoredBytes().Byte(2).Long(1).Long(2).Byte(1).Text("k").Byte(0).Long(9).Byte(0).Get(),
         VE_STREAM_CORRUPTED},
        {"corrupt child",
         StoredBytes()
             .Byte(3)
             .Long(1)
             .Long(2)
             .Byte(1)
             .Text("a")
             .Byte(0)
             .Long(3)
             .Word(4)
             .Long(5)
             .Long(1)
             .Long(2)
             .Byte(1)
             .Text("k")
             .Byte(0)
             .Long(1)
             .Byte(8)
             .Get(),
         VE_STREAM_CORRUPTED},
        {"attributes announced, none there", StoredBytes().Byte(1).Get(), VE_STREAM_EOF},
    };
    for (const Case& c : cases) {
        test::RecordingRaiser raised;
        BagRef read = NewBag();
        read->SetLong("stale", 1);
        EXPECT_EQ(ReadMinimal(*read, c.bytes), c.expected) << c.what;
        EXPECT_TRUE(read->IsEmpty()) << c.what;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{c.expected}) << c.what;
    }
}

TEST(VValueBagStream, EveryCutOfATreeIsRefused) {
    const std::string bytes = Minimal(*SampleTree());
    for (size_t size = 0; size < bytes.size(); ++size) {
        BagRef read = NewBag();
        VError error = ReadMinimal(*read, bytes.substr(0, size));
        EXPECT_TRUE(error == VE_STREAM_EOF || error == VE_STREAM_CORRUPTED) << size;
        EXPECT_TRUE(read->IsEmpty()) << size;
    }
}

TEST(VValueBagStream, ArraysAloneRoundTrip) {
    VRefPtr<VBagArray> array = VRefPtr<VBagArray>::Adopt(new VBagArray);
    array->AddTail(SampleTree().Get());
    array->AddTail(NewBag().Get());
    std::string bytes = WrittenBytes([&](VStream* s) { array->WriteToStreamMinimal(s); });
    VRefPtr<VBagArray> read = VRefPtr<VBagArray>::Adopt(new VBagArray);
    ASSERT_EQ(ReadBytes(bytes, [&](VStream* s) { return read->ReadFromStreamMinimal(s); }), VE_OK);
    ASSERT_EQ(read->GetCount(), 2);
    EXPECT_TRUE(read->GetNth(1)->EqualTo(*array->GetNth(1)));
    EXPECT_TRUE(read->GetNth(2)->IsEmpty());

    VRefPtr<VBagArray> cut = VRefPtr<VBagArray>::Adopt(new VBagArray);
    EXPECT_NE(ReadBytes(bytes.substr(0, bytes.size() - 1), [&](VStream* s) { return cut->ReadFromStreamMinimal(s); }),
              VE_OK);
    EXPECT_EQ(cut->GetCount(), 0);
}

// ---- The 'VBAG' form and the older layout

std::string Full(const VValueBag& bag, bool bigEndian = false) {
    return WrittenBytes([&](VStream* s) { bag.WriteToStream(s); }, bigEndian);
}

std::string Header(uint32_t signature = 0x56424147, uint16_t version = 1) {
    return StoredBytes().Long(int32_t(signature)).Word(version).Word(0).Get();
}

TEST(VValueBagStream, FullFormBytes) {
    BagRef bag = NewBag();
    bag->SetLong("a", 5);
    const std::string expected = StoredBytes()
                                     .Raw("\x47\x41\x42\x56\x01\x00\x00\x00", 8)
                                     .Byte(1)
                                     .Long(1)
                                     .Long(2)
                                     .Byte(1)
                                     .Text("a")
                                     .Byte(0)
                                     .Long(3)
                                     .Word(4)
                                     .Long(5)
                                     .Get();
    EXPECT_EQ(Full(*bag), expected);
    EXPECT_EQ(Full(*NewBag()), Header() + std::string(1, '\0'));
    EXPECT_EQ(Full(*bag, true).substr(0, 8), std::string("\x56\x42\x41\x47\x00\x01\x00\x00", 8));
}

TEST(VValueBagStream, FullFormRoundTripsAlsoAsAValue) {
    BagRef tree = SampleTree();
    for (bool bigEndian : {false, true}) {
        BagRef read = NewBag();
        read->SetLong("stale", 1);
        ASSERT_EQ(ReadBytes(
                      Full(*tree, bigEndian), [&](VStream* s) { return read->ReadFromStream(s); }, bigEndian),
                  VE_OK);
        EXPECT_TRUE(read->EqualTo(*tree)) << bigEndian;
    }
    // Bags travel among other values by their kind.
    std::string bytes = WrittenBytes([&](VStream* s) { s->PutValue(*tree); });
    std::unique_ptr<VValue> value(ReadBytes(bytes, [](VStream* s) { return s->GetValue(); }));
    auto* bag = dynamic_cast<VValueBag*>(value.get());
    ASSERT_NE(bag, nullptr);
    EXPECT_TRUE(bag->EqualTo(*tree));
}

TEST(VValueBagStream, FullFormRefusals) {
    const std::string body = Minimal(*SampleTree());
    struct Case {
        const char* what;
        std::string bytes;
        VError expected;
    } cases[] = {
        {"other signature", Header(0x56424148) + body, VE_STREAM_BAD_SIGNATURE},
        {"other version", Header(0x56424147, 2) + body, VE_STREAM_BAD_VERSION},
        {"cut header", Header().substr(0, 6), VE_STREAM_EOF},
        {"cut body", Header() + body.substr(0, 3), VE_STREAM_EOF},
        {"corrupt body", Header() + StoredBytes().Byte(4).Get(), VE_STREAM_CORRUPTED},
    };
    for (const Case& c : cases) {
        test::RecordingRaiser raised;
        BagRef read = NewBag();
        read->SetLong("stale", 1);
        VError streamError = VE_OK;
        EXPECT_EQ(ReadBytes(c.bytes,
                            [&](VStream* s) {
                                VError error = read->ReadFromStream(s);
                                streamError = s->GetLastError();
                                return error;
                            }),
                  c.expected)
            << c.what;
        EXPECT_EQ(streamError, c.expected) << c.what;
        EXPECT_TRUE(read->IsEmpty()) << c.what;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{c.expected}) << c.what;
    }
}

TEST(VValueBagStream, TreesTooDeepToReadAreNotWritten) {
    BagRef deepest = Chain(kStoredDataMaxDepth, "k");
    BagRef read = NewBag();
    ASSERT_EQ(ReadBytes(Full(*deepest), [&](VStream* s) { return read->ReadFromStream(s); }), VE_OK);
    EXPECT_TRUE(read->EqualTo(*deepest));

    test::RecordingRaiser raised;
    VError error = VE_OK;
    WrittenBytes([&](VStream* s) {
        error = Chain(kStoredDataMaxDepth + 1, "k")->WriteToStream(s);
        EXPECT_EQ(s->GetLastError(), VE_INVALID_PARAMETER);
    });
    EXPECT_EQ(error, VE_INVALID_PARAMETER);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_INVALID_PARAMETER});
}

// The string-array form of the older layout: a count, then per name the marker 2 and the string's stream form
// (minus its length, then its units), or the marker 'NULL' for no name.
StoredBytes& Names(StoredBytes& bytes, std::initializer_list<const char*> names) {
    bytes.Long(int32_t(names.size()));
    for (const char* name : names) {
        if (name == nullptr) {
            bytes.Long(0x4E554C4C);
            continue;
        }
        bytes.Long(2).Long(-int32_t(std::strlen(name)));
        for (const char* c = name; *c != 0; ++c)
            bytes.Word(uint8_t(*c));
    }
    return bytes;
}

// Attributes a = 5, (no name) = "hi" and st = 7 (its kind with high bits that do not count), then two empty
// bags under k. valueKind replaces the kind of the first value, names the count of values.
std::string OlderLayout(int32_t valueKind = 4, int32_t values = 3, int32_t lists = 1) {
    StoredBytes bytes;
    Names(bytes, {"a", nullptr, "st"}).Long(values);
    bytes.Long(valueKind).Long(5);
    bytes.Long(10).Long(-2).Word('h').Word('i');
    bytes.Long(0x10004).Long(7);
    Names(bytes, {"k"}).Long(lists);
    bytes.Long(2).Byte(0).Byte(0);
    return bytes.Get();
}

TEST(VValueBagStream, OlderLayoutIsRead) {
    BagRef read = NewBag();
    read->SetLong("stale", 1);
    ASSERT_EQ(ReadBytes(OlderLayout(), [&](VStream* s) { return read->_ReadFromStream_v1(s); }), VE_OK);
    BagRef expected = NewBag();
    expected->SetLong("a", 5);
    expected->SetString("", VString("hi"));
    expected->SetLong("st", 7);
    expected->AddElement("k", NewBag().Get());
    expected->AddElement("k", NewBag().Get());
    EXPECT_TRUE(read->EqualTo(*expected));
}

TEST(VValueBagStream, OlderLayoutRefusals) {
    const std::string whole = OlderLayout();
    struct Case {
        const char* what;
        std::string bytes;
        VError expected;
    } cases[] = {
        {"kind without descriptor", OlderLayout(7), VE_STREAM_CORRUPTED},
        {"kind of no single datum", OlderLayout(200), VE_STREAM_CORRUPTED},
        {"fewer values than names", OlderLayout(4, 2), VE_STREAM_CORRUPTED},
        {"more lists than names", OlderLayout(4, 3, 2), VE_STREAM_CORRUPTED},
        {"negative name count", StoredBytes().Long(-1).Get(), VE_STREAM_CORRUPTED},
        {"cut", whole.substr(0, 16), VE_STREAM_EOF},
        {"list longer than the data", whole.substr(0, whole.size() - 1), VE_STREAM_CORRUPTED},
    };
    for (const Case& c : cases) {
        BagRef read = NewBag();
        EXPECT_EQ(ReadBytes(c.bytes, [&](VStream* s) { return read->_ReadFromStream_v1(s); }), c.expected) << c.what;
        EXPECT_TRUE(read->IsEmpty()) << c.what;
    }
}

} // namespace
} // namespace vela
