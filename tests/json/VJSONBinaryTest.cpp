#include "json/VJSONBinaryImporter.h"
#include "json/VJSONBinaryWriter.h"

#include "core/VErrorContext.h"
#include "core/VMemoryBuffer.h"
#include "support/RecordingRaiser.h"
#include "values/VCompareOptions.h"
#include "values/VTime.h"
#include "json/IJSONObject.h"
#include "json/VJSONBlob.h"
#include "json/VJSONClass.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObjectFactory.h"
#include "json/VJSONText.h"

#include "JSONTestSupport.h"

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace vela {
namespace {

using test::RecordingRaiser;
using test::StLiveCounters;
using test::Units;
using Bytes = std::vector<uint8>;

// Binary data put together field by field, in host order.
struct Data {
    Bytes fBytes;

    template <class T> Data& Put(T field) {
        const auto* p = reinterpret_cast<const uint8*>(&field);
        fBytes.insert(fBytes.end(), p, p + sizeof field);
        return *this;
    }
    Data& U8(uint8 v) { return Put(v); }
    Data& U16(uint16 v) { return Put(v); }
    Data& U32(uint32 v) { return Put(v); }
    Data& I32(int32 v) { return Put(v); }
    Data& U64(uint64 v) { return Put(v); }
    Data& I64(int64 v) { return Put(v); }
    Data& F64(double v) { return Put(v); }
    Data& Units(const std::u16string& text) {
        for (char16_t c : text)
            U16(uint16(c));
        return *this;
    }
    // A name: its uint16 length and units.
    Data& Name(const std::u16string& text) { return U16(uint16(text.size())).Units(text); }
    // A string or reference: type byte, uint32 length, units.
    Data& Text(uint8 type, const std::u16string& text) { return U8(type).U32(uint32(text.size())).Units(text); }
};

Bytes Write(const VJSONValue& value, VError* error = nullptr) {
    VMemoryBuffer<1024, 2, 1048576> buffer;
    VJSONBinaryWriter writer(64);
    VError err = writer.StreamValue(value, buffer);
    if (error != nullptr) *error = err;
    const auto* data = static_cast<const uint8*>(buffer.GetDataPtr());
    return Bytes(data, data + buffer.GetDataSize());
}

VError Read(const Bytes& bytes, VJSONValue& out) {
    // A copy of exactly the bytes given, so that a read past the end shows under the address sanitizer.
    std::unique_ptr<uint8[]> copy(new uint8[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
    VJSONBinaryImporter importer(bytes.empty() ? nullptr : copy.get(), bytes.size());
    return importer.GetValue(out);
}

VJSONValue Parse(const char16_t* text) {
    VJSONValue value;
    EXPECT_EQ(value.ParseFromString(VString(text)), VE_OK);
    return value;
}

bool DeepEqual(const VJSONValue& a, const VJSONValue& b) {
    return a.DeepEqualTo(b, VCompareOptions());
}

VJSONObject* Member(const VJSONValue& value, const char* name) {
    return value.GetProperty(VString(name)).GetObjectPtr();
}

class VJSONBinaryTest : public ::testing::Test {
protected:
    void SetUp() override { fStore = VJSONClassStore::CreateProcessStore(); }
    void TearDown() override {
        fStore.Clear();
        VJSONClassStore::ReleaseProcessStore();
    }

    VRefPtr<VJSONClassStore> fStore;
};

TEST_F(VJSONBinaryTest, ScalarsHaveTheirLayout) {
    VTime day;
    day.FromUTCTime(2024, 5, 17, 0, 0, 0, 0);
    VJSONValue empty(JSON_array);
    VJSONValue one(JSON_array);
    one.GetArrayPtr()->Push(VJSONValue(JSON_true));
    struct Case {
        const char* label;
        VJSONValue value;
        Bytes expected;
    } cases[] = {
        {"null", VJSONValue(JSON_null), {0}},
        {"false", VJSONValue(JSON_false), {1}},
        {"true", VJSONValue(JSON_true), {2}},
        {"undefined", VJSONValue(JSON_undefined), {7}},
        {"empty string", VJSONValue(VString("")), {3, 0, 0, 0, 0}},
        {"string", VJSONValue(VString(u"h\u00e9")), Data().Text(3, u"h\u00e9").fBytes},
        {"number", VJSONValue(-2.5), Data().U8(4).F64(-2.5).fBytes},
        {"date", VJSONValue(day), Data().U8(8).I64(day.GetMilliseconds()).fBytes},
        {"empty object", VJSONValue(JSON_object), {5, 0xFF, 0xFF}},
        {"empty array", empty, {6, 0, 0, 0, 0}},
        {"array", one, {6, 1, 0, 0, 0, 2}},
        {"object", Parse(u"{\"a\":1}"), Data().U8(5).Name(u"a").U8(4).F64(1).U16(0xFFFF).fBytes},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Write(c.value), c.expected) << c.label;
        VJSONValue back;
        EXPECT_EQ(Read(c.expected, back), VE_OK) << c.label;
        EXPECT_EQ(back.GetType(), c.value.GetType()) << c.label;
        EXPECT_TRUE(DeepEqual(back, c.value)) << c.label;
    }
}

TEST_F(VJSONBinaryTest, DocumentsComeBackEqualAndWriteTheSameBytes) {
    VJSONValue value = Parse(u"{\"name\":\"caf\u00e9 \U0001F600\",\"n\":[1,-0.5,1e300,[],{}],\"deep\":{\"a\":{\"b\":"
                             u"[true,false,null,\"\"]}},\"long property name\":{\"x\":1}}");
    VTime day;
    day.FromUTCTime(1999, 12, 31, 0, 0, 0, 0);
    value.SetProperty(VString("when"), VJSONValue(day));
    value.GetProperty(VString("n")).GetArrayPtr()->Push(VJSONValue(JSON_undefined));
    Bytes bytes = Write(value);
    VJSONValue back;
    ASSERT_EQ(Read(bytes, back), VE_OK);
    EXPECT_TRUE(DeepEqual(back, value));
    EXPECT_TRUE(back.GetProperty(VString("when")).IsTime());
    EXPECT_TRUE(back.GetProperty(VString("n")).GetArrayPtr()->GetAt(5).IsUndefined());
    EXPECT_EQ(Write(back), bytes);
}

TEST_F(VJSONBinaryTest, ANodeMetTwiceIsWrittenOnceAndSharedWhenRead) {
    StLiveCounters live;
    {
        VJSONValue list = Parse(u"[1]");
        VJSONValue value(JSON_object);
        value.SetProperty(VString("x"), list);
        value.SetProperty(VString("y"), list);
        Bytes bytes = Write(value);
        Bytes expected =
            Data().U8(5).Name(u"x").U8(6).U32(1).U8(4).F64(1).Name(u"y").Text(255, u"#/x").U16(0xFFFF).fBytes;
        EXPECT_EQ(bytes, expected);
        VJSONValue back;
        ASSERT_EQ(Read(bytes, back), VE_OK);
        VJSONArray* x = back.GetProperty(VString("x")).GetArrayPtr();
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(back.GetProperty(VString("y")).GetArrayPtr(), x);
        EXPECT_EQ(Write(back), bytes);
    }
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
    EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
}

TEST_F(VJSONBinaryTest, CyclesComeBackAndAreFreed) {
    StLiveCounters live;
    {
        VJSONValue root(JSON_object);
        VJSONValue child(JSON_object);
        VJSONValue items(JSON_array);
        root.SetProperty(VString("self"), root);
        root.SetProperty(VString("child"), child);
        child.SetProperty(VString("up"), root);
        child.SetProperty(VString("items"), items);
        items.GetArrayPtr()->Push(items);
        items.GetArrayPtr()->Push(child);
        Bytes bytes = Write(root);
        VJSONValue back;
        ASSERT_EQ(Read(bytes, back), VE_OK);
        VJSONObject* top = back.GetObjectPtr();
        EXPECT_EQ(Member(back, "self"), top);
        VJSONObject* inner = Member(back, "child");
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(inner->GetProperty(VString("up")).GetObjectPtr(), top);
        VJSONArray* list = inner->GetProperty(VString("items")).GetArrayPtr();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->GetAt(0).GetArrayPtr(), list);
        EXPECT_EQ(list->GetAt(1).GetObjectPtr(), inner);
        EXPECT_EQ(Write(back), bytes);
        root.GetObjectPtr()->Clear(); // the original's cycles, broken by hand
        child.GetObjectPtr()->Clear();
        items.GetArrayPtr()->Clear();
    }
    // What was read is freed with its last outside reference, cycles and all.
    EXPECT_EQ(StLiveCounters::LiveObjects(), 0);
    EXPECT_EQ(StLiveCounters::LiveArrays(), 0);
}

TEST_F(VJSONBinaryTest, PointersEscapeNamesAndResolveThemAsTheyAre) {
    struct Case {
        std::u16string name;
        std::u16string pointer;
    } cases[] = {
        {u"a/b", u"#/a~1b"},        {u"~", u"#/~0"}, {u"~1", u"#/~01"}, {u"", u"#/"},
        {u"100%25", u"#/100%25"},   // no URI decoding
        {u"e\u0301", u"#/e\u0301"}, // no composition
        {u"\u00e9", u"#/\u00e9"},
    };
    for (const Case& c : cases) {
        std::string label(c.name.begin(), c.name.end());
        VJSONValue shared(JSON_object);
        VJSONValue value(JSON_object);
        VString name;
        name.FromUniString(c.name.data(), int32(c.name.size()));
        value.SetProperty(name, shared);
        value.SetProperty(VString("again"), shared);
        Bytes bytes = Write(value);
        Bytes tail = Data().Name(u"again").Text(255, c.pointer).U16(0xFFFF).fBytes;
        ASSERT_GE(bytes.size(), tail.size()) << label;
        EXPECT_EQ(Bytes(bytes.end() - tail.size(), bytes.end()), tail) << label;
        VJSONValue back;
        ASSERT_EQ(Read(bytes, back), VE_OK) << label;
        VJSONObject* first = back.GetProperty(name).GetObjectPtr();
        ASSERT_NE(first, nullptr) << label;
        EXPECT_EQ(Member(back, "again"), first) << label;
    }

    // The path of an array item, and one built from path parts.
    VJSONValue list = Parse(u"[0,{}]");
    VJSONValue value(JSON_object);
    value.SetProperty(VString("a/b"), list);
    value.SetProperty(VString("z"), list.GetArrayPtr()->GetAt(1));
    Bytes bytes = Write(value);
    Bytes tail = Data().Name(u"z").Text(255, u"#/a~1b/1").U16(0xFFFF).fBytes;
    EXPECT_EQ(Bytes(bytes.end() - tail.size(), bytes.end()), tail);
    VString ab("a/b");
    VJSONBinaryWriter::PathPart root;
    VJSONBinaryWriter::PathPart named{&root, &ab, 0};
    VJSONBinaryWriter::PathPart indexed{&named, nullptr, 3};
    VString pointer;
    VJSONBinaryWriter::BuildPathPointerString(&indexed, pointer);
    EXPECT_EQ(Units(pointer), u"#/a~1b/3");
}

// An implementation that hands a new object to write in its place each time.
class FreshCopy : public IJSONObject {
public:
    explicit FreshCopy(double n) : fN(n) {}
    void IJSON_GetValueToWriteToBuffer(VJSONValue& value) override {
        auto fresh = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        fresh->SetProperty(VString("n"), VJSONValue(fN));
        value = VJSONValue(fresh.Get());
    }

private:
    double fN;
};

TEST_F(VJSONBinaryTest, ValuesWrittenInPlaceOfObjectsAreNeverTakenForEachOther) {
    VJSONValue list(JSON_array);
    for (double n : {1.0, 2.0, 3.0}) {
        auto* impl = new FreshCopy(n);
        auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, impl));
        impl->Release();
        list.GetArrayPtr()->Push(VJSONValue(object.Get()));
    }
    VJSONValue back;
    ASSERT_EQ(Read(Write(list), back), VE_OK);
    VJSONArray* items = back.GetArrayPtr();
    ASSERT_EQ(items->GetCount(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(items->GetAt(i).GetProperty(VString("n")).GetNumber(), double(i + 1)) << i;
}

// An implementation whose hook drops a property of another object (freeing what only that property held) and
// hands a new object to write in its place.
class Dropper : public IJSONObject {
public:
    Dropper(VJSONObject* owner, const char* name) : fOwner(owner), fName(name) {}
    void IJSON_GetValueToWriteToBuffer(VJSONValue& value) override {
        fOwner->RemoveOwnProperty(fName);
        auto fresh = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        value = VJSONValue(fresh.Get());
    }

private:
    VJSONObject* fOwner;
    VString fName;
};

TEST_F(VJSONBinaryTest, ANodeFreedWhileWritingLendsItsAddressToNoOther) {
    // Each "d" frees the "a" written before it, then hands a new object of the same size to write.
    VJSONValue root(JSON_array);
    for (int32 i = 0; i < 8; ++i) {
        VJSONValue pair(JSON_object);
        pair.SetProperty(VString("a"), VJSONValue(JSON_object));
        auto* impl = new Dropper(pair.GetObjectPtr(), "a");
        auto dropper = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, impl));
        impl->Release();
        pair.SetProperty(VString("d"), VJSONValue(dropper.Get()));
        root.GetArrayPtr()->Push(pair);
    }
    VJSONValue back;
    ASSERT_EQ(Read(Write(root), back), VE_OK);
    // Sixteen objects, none of them a reference to one freed before.
    std::set<const VJSONObject*> objects;
    for (size_t i = 0; i < 8; ++i) {
        VJSONValue pair = back.GetArrayPtr()->GetAt(i);
        objects.insert(Member(pair, "a"));
        objects.insert(Member(pair, "d"));
    }
    objects.erase(nullptr);
    EXPECT_EQ(objects.size(), 16u);
}

TEST_F(VJSONBinaryTest, ClassInstancesKeepTheirClassWhenTheStoreHasIt) {
    VRefPtr<VJSONObject> point = fStore->AddClass("Point", {}, nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(point);
    VJSONClass* cls = VJSONClass::FromClassObject(point.Get());
    auto instance = VRefPtr<VJSONObject>::Adopt(new VJSONObject(point.Get()));
    instance->SetProperty(VString("x"), VJSONValue(3));
    Bytes bytes = Write(VJSONValue(instance.Get()));
    const std::u16string store = Units(fStore->GetName());
    Bytes expected = Data()
                         .U8(5)
                         .Name(u"x")
                         .U8(4)
                         .F64(3)
                         .U16(0xFFFD)
                         .U32(0x2A2A2A2A)
                         .U64(2 * (store.size() + 5) + 4)
                         .Name(store)
                         .Name(u"Point")
                         .fBytes;
    EXPECT_EQ(bytes, expected);

    VJSONValue back;
    ASSERT_EQ(Read(bytes, back), VE_OK);
    EXPECT_EQ(back.GetObjectPtr()->GetClass(), cls);
    EXPECT_EQ(back.GetObjectPtr()->GetClassLevel(), cls->GetDepth());
    EXPECT_EQ(back.GetProperty(VString("x")).GetNumber(), 3.0);
    EXPECT_EQ(Write(back), bytes);

    // Without the class (another store's name, an unknown class, a payload cut short) the object stays plain.
    for (const auto& [storeName, className] :
         {std::pair<std::u16string, std::u16string>{u"other", u"Point"}, {store, u"Nowhere"}, {store, u""}}) {
        Bytes other = Data()
                          .U8(5)
                          .Name(u"x")
                          .U8(2)
                          .U16(0xFFFD)
                          .U32(0x2A2A2A2A)
                          .U64(2 * (storeName.size() + className.size()) + 4)
                          .Name(storeName)
                          .Name(className)
                          .fBytes;
        VJSONValue plain;
        ASSERT_EQ(Read(other, plain), VE_OK);
        EXPECT_TRUE(plain.GetObjectPtr()->IsGenericObject());
        EXPECT_TRUE(plain.GetProperty(VString("x")).GetBool());
    }
}

TEST_F(VJSONBinaryTest, BlobsKeepTheirBytes) {
    const uint8 bytes[] = {0, 1, 0xFE, 0xFF, 42};
    VRefPtr<VJSONObject> blob = VJSONBlob::Create(bytes, sizeof bytes);
    VJSONValue value(JSON_object);
    value.SetProperty(VString("b"), VJSONValue(blob.Get()));
    Bytes written = Write(value);
    Data expected;
    expected.U8(5).Name(u"b").U8(5).U16(0xFFFD).U32(VJSONBlob::kBinarySignature).U64(sizeof bytes);
    for (uint8 b : bytes)
        expected.U8(b);
    expected.U16(0xFFFF);
    EXPECT_EQ(written, expected.fBytes);
    // The signature's bytes are those of the four characters from the last.
    EXPECT_EQ(std::string(written.begin() + 8, written.begin() + 12), "blBJ");

    VJSONValue back;
    ASSERT_EQ(Read(written, back), VE_OK);
    const VJSONBlob* read = VJSONBlob::CastJSONObject(Member(back, "b"));
    ASSERT_NE(read, nullptr);
    ASSERT_EQ(read->GetSize(), sizeof bytes);
    EXPECT_EQ(std::memcmp(read->GetData(), bytes, sizeof bytes), 0);
    EXPECT_EQ(Member(back, "b")->GetClassObject(), VJSONBlob::GetClass().Get());
    EXPECT_EQ(Write(back), written);
}

// A signature with a creator registered for the test's duration.
constexpr uint32 kTestSignature = FourCC("Tst1");

class Signed : public IJSONObject {
public:
    uint32 IJSON_GetBinarySignature() override { return kTestSignature; }
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<1024, 2, 1048576>& buffer, VError*) override {
        uint64 size = 1;
        uint8 payload = 7;
        buffer.AddData(&size, sizeof size);
        buffer.AddData(&payload, 1);
        return EJSONStatus_done;
    }
};

IJSONObject* CreateSigned(VJSONObject*, uint32, const void* data, size_t length, VRefPtr<VJSONObject>&, uint64*) {
    return length == 1 && *static_cast<const uint8*>(data) == 7 ? new Signed : nullptr;
}

TEST_F(VJSONBinaryTest, TheFactoryMakesImplementationsBySignature) {
    VJSONObjectFactory* factory = VJSONObjectFactory::Get();
    EXPECT_TRUE(factory->IsSignatureSupported(VJSONBlob::kBinarySignature));
    EXPECT_FALSE(factory->IsSignatureSupported(kTestSignature));

    auto* impl = new Signed;
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, impl));
    impl->Release();
    Bytes bytes = Write(VJSONValue(object.Get()));

    // Without a creator the object is read plain, without error.
    VJSONValue back;
    ASSERT_EQ(Read(bytes, back), VE_OK);
    EXPECT_EQ(back.GetObjectPtr()->GetImplementation(), nullptr);

    factory->RegisterSignature(kTestSignature, CreateSigned);
    EXPECT_TRUE(factory->IsSignatureSupported(kTestSignature));
    ASSERT_EQ(Read(bytes, back), VE_OK);
    EXPECT_NE(dynamic_cast<Signed*>(back.GetObjectPtr()->GetImplementation()), nullptr);
    EXPECT_EQ(Write(back), bytes);
    factory->UnRegisterSignature(kTestSignature);
    EXPECT_FALSE(factory->IsSignatureSupported(kTestSignature));
}

TEST_F(VJSONBinaryTest, UnknownKindsAndMarkersAreSkipped) {
    struct Case {
        const char* label;
        Bytes bytes;
        const char16_t* expected; // compact text of what is read
    } cases[] = {
        {"a kind of its own length", Data().U8(6).U32(2).U8(9).U32(6).U16(0xABCD).U8(2).fBytes, u"[null,true]"},
        {"a kind with no payload", Data().U8(6).U32(2).U8(200).U32(4).U8(1).fBytes, u"[null,false]"},
        {"an undefined object", Data().U8(6).U32(2).U8(5).U16(0xFFFE).U8(2).fBytes, u"[null,true]"},
        {"an undefined array", Data().U8(6).U32(2).U8(6).I32(-2).U8(2).fBytes, u"[null,true]"},
        {"an unknown marker", Data().U8(5).U16(0x8001).Name(u"a").U8(2).U16(0xFFFF).fBytes, u"{\"a\":true}"},
        {"an undefined member", Data().U8(5).Name(u"a").U8(7).Name(u"b").U8(2).U16(0xFFFF).fBytes, u"{\"b\":true}"},
        {"a null reference", Data().U8(0).fBytes, u"null"},
    };
    for (const Case& c : cases) {
        VJSONValue back;
        ASSERT_EQ(Read(c.bytes, back), VE_OK) << c.label;
        VString text;
        ASSERT_EQ(back.Stringify(text), VE_OK) << c.label;
        EXPECT_EQ(Units(text), c.expected) << c.label;
    }
    VJSONValue none(JSON_null);
    EXPECT_EQ(Read({}, none), VE_OK);
    EXPECT_TRUE(none.IsUndefined());
}

TEST_F(VJSONBinaryTest, MalformedDataFailsWith200) {
    const int64 kFarFuture = (VTime::ComputeJulianDay(32767, 12, 31) + 1) * 86400000;
    struct Case {
        const char* label;
        Bytes bytes;
    } cases[] = {
        {"a negative count", Data().U8(6).I32(-1).fBytes},
        {"the smallest count", Data().U8(6).I32(INT32_MIN).fBytes},
        {"a count beyond the bytes left", Data().U8(6).I32(3).U8(2).U8(2).fBytes},
        {"a huge count", Data().U8(6).I32(0x7FFFFFFF).U8(2).fBytes},
        {"a cut number", Data().U8(6).U32(2).U8(4).U32(0).U8(2).fBytes},
        {"a cut date", Data().U8(6).U32(2).U8(8).U32(0).U8(2).fBytes},
        {"a date past the last year", Data().U8(8).I64(kFarFuture).fBytes},
        {"a date before the first year", Data().U8(8).I64(-86400000LL * 1000000000).fBytes},
        {"a cut string", Data().U8(3).U32(3).Units(u"ab").fBytes},
        {"a string longer than any", Data().U8(3).U32(0xFFFFFFFF).Units(u"ab").fBytes},
        {"a cut extension signature", Data().U8(5).U16(0xFFFD).U16(0).fBytes},
        {"a cut extension length", Data().U8(5).U16(0xFFFD).U32(kTestSignature).U32(0).fBytes},
        {"an extension longer than the data", Data().U8(5).U16(0xFFFD).U32(kTestSignature).U64(2).U8(1).fBytes},
        {"an extension of the largest length", Data().U8(5).U16(0xFFFD).U32(kTestSignature).U64(~0ull).fBytes},
        {"a kind whose length is below its own", Data().U8(6).U32(2).U8(9).U32(3).U8(2).U8(2).fBytes},
        {"a kind longer than the data", Data().U8(9).U32(9).U8(2).fBytes},
        {"an object without end", Data().U8(5).Name(u"a").U8(2).fBytes},
        {"a reference at the root", Data().Text(255, u"#").fBytes},
        {"a reference to nothing", Data().U8(5).Name(u"a").Text(255, u"#/b").U16(0xFFFF).fBytes},
        {"a reference to a scalar", Data().U8(5).Name(u"a").U8(2).Name(u"b").Text(255, u"#/a").U16(0xFFFF).fBytes},
        {"a reference past an array", Data().U8(6).U32(2).U8(6).U32(0).Text(255, u"#/2").fBytes},
        {"a reference with a leading zero", Data().U8(6).U32(2).U8(6).U32(0).Text(255, u"#/01").fBytes},
        {"a reference with a huge index",
         Data().U8(6).U32(2).U8(6).U32(0).Text(255, u"#/99999999999999999999999").fBytes},
        {"a reference with a bad escape", Data().U8(5).Name(u"a").Text(255, u"#/~2").U16(0xFFFF).fBytes},
        {"a reference without #", Data().U8(5).Name(u"a").Text(255, u"/").U16(0xFFFF).fBytes},
        {"a cut reference", Data().U8(5).Name(u"a").U8(255).U32(5).Units(u"#").fBytes},
        {"no type byte", Data().U8(6).U32(1).fBytes},
    };
    for (const Case& c : cases) {
        RecordingRaiser raised;
        VJSONValue back;
        EXPECT_EQ(Read(c.bytes, back), VE_STREAM_EOF) << c.label;
        EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_STREAM_EOF}) << c.label;
    }
}

TEST_F(VJSONBinaryTest, NoCutOfADocumentReadsAsAWhole) {
    VRefPtr<VJSONObject> point = fStore->AddClass("Point", {}, nullptr, nullptr, nullptr, 0);
    auto instance = VRefPtr<VJSONObject>::Adopt(new VJSONObject(point.Get()));
    instance->SetProperty(VString("x"), VJSONValue(1));
    const uint8 raw[] = {1, 2, 3};
    VJSONValue value = Parse(u"{\"s\":\"text\",\"n\":[1,2.5,{\"deep\":[null,true]}],\"e\":{},\"l\":[]}");
    VTime day;
    day.FromUTCTime(2001, 2, 3, 0, 0, 0, 0);
    value.SetProperty(VString("d"), VJSONValue(day));
    value.SetProperty(VString("again"), value.GetProperty(VString("n")));
    value.SetProperty(VString("blob"), VJSONValue(VJSONBlob::Create(raw, sizeof raw).Get()));
    value.SetProperty(VString("point"), VJSONValue(instance.Get()));
    Bytes bytes = Write(value);
    VJSONValue whole;
    ASSERT_EQ(Read(bytes, whole), VE_OK);
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        StErrorContextInstaller quiet(false, true);
        VJSONValue back;
        EXPECT_EQ(Read(Bytes(bytes.begin(), bytes.begin() + cut), back), VE_STREAM_EOF) << cut;
    }
}

TEST_F(VJSONBinaryTest, NestingBeyondTheLimitFailsWith108) {
    // Reading: arrays of one array each, one level too many.
    Data deep;
    for (int32 i = 0; i <= kJSONTextMaxDepth; ++i)
        deep.U8(6).U32(1);
    deep.U8(2);
    VJSONValue back;
    {
        RecordingRaiser raised;
        EXPECT_EQ(Read(deep.fBytes, back), VE_JSON_TOO_DEEP);
        EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_JSON_TOO_DEEP});
    }
    // At the limit the same nesting reads and writes back.
    Bytes atLimit(deep.fBytes.begin() + 5, deep.fBytes.end());
    ASSERT_EQ(Read(atLimit, back), VE_OK);
    EXPECT_EQ(Write(back), atLimit);

    // Writing: one object more than the limit.
    VJSONValue root(JSON_object);
    VJSONValue current = root;
    for (int32 i = 0; i < kJSONTextMaxDepth; ++i) {
        VJSONValue next(JSON_object);
        current.SetProperty(VString("o"), next);
        current = next;
    }
    RecordingRaiser raised;
    VError err = VE_OK;
    Write(root, &err);
    EXPECT_EQ(err, VE_JSON_TOO_DEEP);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_JSON_TOO_DEEP});
}

TEST_F(VJSONBinaryTest, NamesTooLongForTheirFieldAreRefused) {
    VString longName;
    for (int32 i = 0; i < 0x8000; ++i)
        longName.AppendUniChar(u'n');
    VJSONValue value(JSON_object);
    value.SetProperty(longName, VJSONValue(1));
    RecordingRaiser raised;
    VError err = VE_OK;
    Write(value, &err);
    EXPECT_EQ(err, VE_JSON_NO_BINARY_FORM);
    EXPECT_EQ(raised.Codes(), std::vector<VError>{VE_JSON_NO_BINARY_FORM});

    // One unit shorter fits, and reads back.
    VJSONValue fits(JSON_object);
    longName.Truncate(0x7FFF);
    fits.SetProperty(longName, VJSONValue(1));
    VJSONValue back;
    ASSERT_EQ(Read(Write(fits), back), VE_OK);
    EXPECT_EQ(back.GetProperty(longName).GetNumber(), 1.0);
}

} // namespace
} // namespace vela
