// The text and file entry points of values, the description of objects, and the JSON members of strings.

#include "json/VJSONValue.h"

#include "core/VErrorContext.h"
#include "core/VMemoryBuffer.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/platform/XPosixFaults.h"
#include "json/IJSONObject.h"
#include "json/VJSONArray.h"
#include "json/VJSONBinaryWriter.h"
#include "json/VJSONBlob.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONRepeatBudget.h"
#include "json/VJSONText.h"

#include "JSONTestSupport.h"
#include "JSONTextTestSupport.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vela {
namespace {

using test::Compact;
using test::Text;
using test::Units;

// A temporary file path, removed at the end.
class StTempPath {
public:
    StTempPath() {
        char path[] = "/tmp/vela-json-text-XXXXXX";
        int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        close(fd);
        fPath = path;
        fFile = VRefPtr<VFile>::Adopt(new VFile(VFilePath(VString(path), FPS_POSIX)));
    }
    ~StTempPath() { unlink(fPath.c_str()); }
    // A file object on the path.
    const VFile* Get() const { return fFile.Get(); }
    std::string Bytes() const {
        std::ifstream in(fPath, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    void Write(const std::string& bytes) const { std::ofstream(fPath, std::ios::binary) << bytes; }

private:
    std::string fPath;
    VRefPtr<VFile> fFile;
};

class VJSONValueTextTest : public test::JSONTextFixture {};

TEST_F(VJSONValueTextTest, ParseFromStringTurnsDatesIntoTimesOnlyWhenAsked) {
    const VString text("[\"2024-05-17\",\"!!2024-05-18!!\"]");
    struct Case {
        bool dates;
        bool anyDate;
        bool firstIsTime;
        bool secondIsTime;
    };
    const Case cases[] = {{false, false, false, false},
                          {false, true, false, false},
                          {true, false, true, true},
                          {true, true, false, true}};
    for (const Case& c : cases) {
        VJSONValue value;
        ASSERT_EQ(value.ParseFromString(text, c.dates, c.anyDate), VE_OK);
        EXPECT_EQ(value.GetArrayPtr()->GetAt(0).IsTime(), c.firstIsTime);
        EXPECT_EQ(value.GetArrayPtr()->GetAt(1).IsTime(), c.secondIsTime);
    }
    // anyDate limits marked dates to the "!!YYYY-MM-DD!!" shape.
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("\"!!2024-05-18T10:00:00Z!!\""), true, false), VE_OK);
    EXPECT_TRUE(value.IsTime());
    ASSERT_EQ(value.ParseFromString(VString("\"!!2024-05-18T10:00:00Z!!\""), true, true), VE_OK);
    EXPECT_TRUE(value.IsString());

    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(value.ParseFromString(VString("[1,]")), VE_JSON_MALFORMED);
}

TEST_F(VJSONValueTextTest, StringifyWritesCompactOrIndentedText) {
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("{\"a\":[1,\"x\"]}")), VE_OK);
    VString text;
    ASSERT_EQ(value.Stringify(text), VE_OK);
    EXPECT_EQ(Units(text), u"{\"a\":[1,\"x\"]}");
    ASSERT_EQ(value.Stringify(text, 9), VE_OK);
    EXPECT_EQ(Units(text), u"{\n\t\"a\": [\n\t\t1,\n\t\t\"x\"\n\t]\n}");
}

TEST_F(VJSONValueTextTest, StringifyFallsBackToBinaryForWhatTextCannotHold) {
    VRefPtr<VJSONClassStore> store = VJSONClassStore::CreateProcessStore();
    VJSONValue shared;
    ASSERT_EQ(shared.ParseFromString(VString("{\"x\":1}")), VE_OK);
    VJSONValue pair(JSON_array);
    pair.GetArrayPtr()->Push(shared);
    pair.GetArrayPtr()->Push(shared);
    VJSONValue cycle(JSON_object);
    cycle.SetProperty(VString("self"), cycle);
    const uint8 raw[] = {9, 8, 7};
    VJSONValue blob(VJSONBlob::Create(raw, sizeof raw).Get());
    VRefPtr<VJSONObject> point = store->AddClass("Point", {}, nullptr, nullptr, nullptr, 0);
    VJSONValue instance(VRefPtr<VJSONObject>::Adopt(new VJSONObject(point.Get())).Get());

    VString text("kept");
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(pair.Stringify(text, 1), VE_OK);
    EXPECT_EQ(Units(text), u"[{\"x\":1},{\"x\":1}]"); // without the fall-back, written twice
    for (const VJSONValue* value : {&pair, &cycle, &blob, &instance}) {
        ASSERT_EQ(value->Stringify(text, 1 | 0x800), VE_OK);
        EXPECT_EQ(Units(text).rfind(u"{\"__PRIVATE_BINARY_OBJECT\":\"", 0), 0u);
    }
    EXPECT_EQ(errors.GetLastError(), VE_OK); // the text writer's refusals are dropped

    VJSONValue back;
    ASSERT_EQ(pair.Stringify(text, 1 | 0x800), VE_OK);
    ASSERT_EQ(back.ParseFromString(text), VE_OK);
    ASSERT_TRUE(back.IsArray());
    EXPECT_EQ(back.GetArrayPtr()->GetAt(0).GetObjectPtr(), back.GetArrayPtr()->GetAt(1).GetObjectPtr());
    ASSERT_EQ(cycle.Stringify(text, 1 | 0x800), VE_OK);
    ASSERT_EQ(back.ParseFromString(text), VE_OK);
    EXPECT_EQ(back.GetProperty(VString("self")).GetObjectPtr(), back.GetObjectPtr());
    ASSERT_EQ(blob.Stringify(text, 1 | 0x800), VE_OK);
    ASSERT_EQ(back.ParseFromString(text), VE_OK);
    const VJSONBlob* bytes = VJSONBlob::CastJSONObject(back.GetObjectPtr());
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<uint8>(bytes->GetData(), bytes->GetData() + bytes->GetSize()),
              std::vector<uint8>(raw, raw + sizeof raw));
    ASSERT_EQ(instance.Stringify(text, 1 | 0x800), VE_OK);
    ASSERT_EQ(back.ParseFromString(text), VE_OK);
    EXPECT_EQ(back.GetObjectPtr()->GetClassObject(), point.Get());

    // What text holds stays text; other failures stay failures.
    ASSERT_EQ(shared.Stringify(text, 1 | 0x800), VE_OK);
    EXPECT_EQ(Units(text), u"{\"x\":1}");
    cycle.GetObjectPtr()->Clear();
    store.Clear();
    VJSONClassStore::ReleaseProcessStore();
}

// The binary wrapper of a chain of depth arrays, each holding the next twice (the last holds 1 twice): each array
// is written once in binary JSON and referred to afterwards, but stands for 2^depth leaves as text.
VString SharedChainText(int depth) {
    VJSONValue chain(1.0);
    for (int i = 0; i < depth; ++i) {
        VJSONValue pair(JSON_array);
        pair.GetArrayPtr()->Push(chain);
        pair.GetArrayPtr()->Push(chain);
        chain = pair;
    }
    VMemoryBuffer<1024, 2, 1048576> buffer;
    VJSONBinaryWriter writer(64);
    EXPECT_EQ(writer.StreamValue(chain, buffer), VE_OK);
    VString encoded;
    EXPECT_TRUE(encoded.EncodeBase64(buffer.GetDataPtr(), buffer.GetDataSize(), false));
    VString text("{\"__PRIVATE_BINARY_OBJECT\":\"");
    text.AppendString(encoded);
    text.AppendCString("\"}");
    return text;
}

bool HoldsTheSameArrayTwice(const VJSONValue& value) {
    return value.IsArray() && value.GetArrayPtr()->GetCount() == 2 &&
           value.GetArrayPtr()->GetAt(0).GetArrayPtr() == value.GetArrayPtr()->GetAt(1).GetArrayPtr();
}

TEST_F(VJSONValueTextTest, SharedNodesOfABinaryWrapperDoNotMultiplyTheText) {
    // 22 levels: 16 Mi units of text in full; 40: 4 Ti units, which took gigabytes before failing.
    for (int depth : {22, 40}) {
        VJSONValue value;
        ASSERT_EQ(value.ParseFromString(SharedChainText(depth)), VE_OK) << depth;
        ASSERT_TRUE(HoldsTheSameArrayTwice(value)) << depth;
        StErrorContextInstaller errors(false, true);
        VString text("kept");
        EXPECT_EQ(value.Stringify(text, 1), VE_STRING_ALLOC_FAILED) << depth;
        EXPECT_TRUE(Units(text) == u"kept") << depth; // not printed: in full it would be megabytes
        EXPECT_EQ(value.GetString(text), VE_STRING_ALLOC_FAILED) << depth;
        EXPECT_LE(text.GetLength(), VJSONRepeatBudget::kRepeatFloor + 64) << depth;
        // The fall-back writes each shared array once, and it comes back shared.
        ASSERT_EQ(value.Stringify(text, 1 | 0x800), VE_OK) << depth;
        EXPECT_EQ(Units(text).rfind(u"{\"__PRIVATE_BINARY_OBJECT\":\"", 0), 0u) << depth;
        EXPECT_LT(text.GetLength(), 8 * 1024) << depth; // references name the first place of a node
        VJSONValue back;
        ASSERT_EQ(back.ParseFromString(text), VE_OK) << depth;
        EXPECT_TRUE(HoldsTheSameArrayTwice(back)) << depth;
    }
}

TEST_F(VJSONValueTextTest, SharedNodesWithinTheBoundAreWrittenInFull) {
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(SharedChainText(10)), VE_OK);
    VString text;
    ASSERT_EQ(value.Stringify(text, 1), VE_OK);
    EXPECT_EQ(text.GetLength(), 4 * 1024 - 3); // "[a,a]" around each level
    EXPECT_EQ(Units(text).substr(0, 14), u"[[[[[[[[[[1,1]");
    ASSERT_EQ(value.GetString(text), VE_OK);
    EXPECT_EQ(text.GetLength(), 2 * 1024 - 1); // "1,1,...,1"
    EXPECT_EQ(Units(text).substr(0, 6), u"1,1,1,");
}

TEST_F(VJSONValueTextTest, TheBinaryWrapperFailsWithItsData) {
    // {"a":true} in binary, then the same cut short and a text that is no Base64.
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("[{\"__PRIVATE_BINARY_OBJECT\":\"BQEAYQAC//8=\"}]")), VE_OK);
    EXPECT_EQ(Compact(value), u"[{\"a\":true}]");
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(value.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"BQEA\"}")), VE_STREAM_EOF);
    EXPECT_EQ(value.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":\"\u00e9\"}")), VE_STREAM_EOF);
    // A wrapper whose member is no string is an ordinary object.
    ASSERT_EQ(value.ParseFromString(VString("{\"__PRIVATE_BINARY_OBJECT\":1}")), VE_OK);
    EXPECT_EQ(Compact(value), u"{\"__PRIVATE_BINARY_OBJECT\":1}");
}

TEST_F(VJSONValueTextTest, SaveToFileAndLoadFromFileGoThroughUTF8Text) {
    StTempPath path;
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(Text(u"{\"caf\u00e9\":[1,\"\U0001F600\"],\"d\":\"2024-05-17\"}")), VE_OK);
    ASSERT_EQ(value.SaveToFile(path.Get(), 9), VE_OK);
    EXPECT_EQ(path.Bytes(),
              "{\n\t\"caf\xC3\xA9\": [\n\t\t1,\n\t\t\"\xF0\x9F\x98\x80\"\n\t],\n\t\"d\": \"2024-05-17\"\n}");

    VJSONValue back;
    ASSERT_EQ(back.LoadFromFile(path.Get()), VE_OK);
    EXPECT_EQ(Compact(back), Compact(value));
    EXPECT_TRUE(back.GetProperty(VString("d")).IsString());
    ASSERT_EQ(back.LoadFromFile(path.Get(), true), VE_OK);
    EXPECT_TRUE(back.GetProperty(VString("d")).IsTime());

    // A shorter text replaces the whole file.
    ASSERT_EQ(VJSONValue(2.5).SaveToFile(path.Get(), 1), VE_OK);
    EXPECT_EQ(path.Bytes(), "2.5");
}

TEST_F(VJSONValueTextTest, AFailedWriteLeavesTheFileAlone) {
    StTempPath path;
    path.Write("before");
    {
        // A full disk meets the new text: the old one is still there.
        StErrorContextInstaller errors(false, true);
        StPosixFault full("pwrite", ENOSPC);
        EXPECT_EQ(VJSONValue(2.5).SaveToFile(path.Get(), 1), VE_DISK_FULL);
        EXPECT_EQ(path.Bytes(), "before");
    }
    VJSONValue cycle(JSON_array);
    cycle.GetArrayPtr()->Push(cycle);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(cycle.SaveToFile(path.Get(), 1), VE_JSON_CYCLE);
    EXPECT_EQ(path.Bytes(), "before");
    cycle.GetArrayPtr()->Clear();

    // A file below a file can be neither written nor read: the file error, and the value untouched.
    VJSONValue value(1);
    VString below;
    path.Get()->GetPlatformPath(below, FPS_POSIX);
    below.AppendCString("/x.json");
    const VFile inside(VFilePath(below, FPS_POSIX));
    EXPECT_EQ(value.SaveToFile(&inside, 1), VE_FILE_CANNOT_OPEN);
    EXPECT_EQ(value.LoadFromFile(&inside), VE_FILE_CANNOT_OPEN);
    EXPECT_EQ(value.GetNumber(), 1);
    EXPECT_EQ(value.SaveToFile(nullptr, 1), VE_OK);
}

// An implementation that describes its object itself.
class DescribingImpl : public IJSONObject {
public:
    EJSONStatus IJSON_GetDescription(const VJSONObject*, VString& out) override {
        out.FromCString("described");
        return EJSONStatus_done;
    }
};

TEST_F(VJSONValueTextTest, DescriptionIsTheCompactTextOrTheImplementationsOwn) {
    VJSONValue value;
    ASSERT_EQ(value.ParseFromString(VString("{\"a\":1,\"b\":[true]}")), VE_OK);
    VString text;
    value.GetObjectPtr()->GetDescription(text);
    EXPECT_EQ(Units(text), u"{\"a\":1,\"b\":[true]}");

    VJSONValue big(JSON_object);
    for (int i = 0; i < 200; ++i)
        big.SetProperty(VString::ToString(i), VJSONValue(i));
    big.GetObjectPtr()->GetDescription(text, true);
    EXPECT_LT(text.GetLength(), 700);
    EXPECT_EQ(Units(text).substr(size_t(text.GetLength()) - 3), u"...");

    auto* impl = new DescribingImpl;
    auto described = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, impl));
    impl->Release();
    described->GetDescription(text);
    EXPECT_EQ(Units(text), u"described");
}

TEST_F(VJSONValueTextTest, StringsComeFromAndGoToJSONValues) {
    VString text("old");
    EXPECT_EQ(text.FromJSONValue(VJSONValue(JSON_null)), VE_OK);
    EXPECT_TRUE(text.IsNull());
    EXPECT_EQ(text.FromJSONValue(VJSONValue(2.5)), VE_OK);
    EXPECT_EQ(Units(text), u"2.5");
    EXPECT_FALSE(text.IsNull());
    EXPECT_EQ(text.FromJSONValue(VJSONValue(JSON_undefined)), VE_OK);
    EXPECT_EQ(Units(text), u"");
    EXPECT_FALSE(text.IsNull());

    VJSONValue cycle(JSON_array);
    cycle.GetArrayPtr()->Push(cycle);
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(text.FromJSONValue(cycle), VE_JSON_CYCLE);
    cycle.GetArrayPtr()->Clear();

    VJSONValue json;
    EXPECT_EQ(VString("abc").GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsString());
    EXPECT_EQ(test::TextOf(json), u"abc");
    EXPECT_EQ(VString().GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsString());
    EXPECT_EQ(VString(true).GetJSONValue(json), VE_OK);
    EXPECT_TRUE(json.IsNull());
}

TEST_F(VJSONValueTextTest, FormatFillsPlaceholdersWithTheBagRulesForBraces) {
    VJSONValue object;
    ASSERT_EQ(object.ParseFromString(VString("{\"name\":\"x\",\"n\":3,\"nothing\":null,\"empty\":\"\"}")), VE_OK);
    struct Case {
        const char* text;
        bool removeMissing;
        const char* formatted;
    };
    const Case cases[] = {
        {"Hello {name}{{no}} {bad key} {zz}", false, "Hello x{{no}} {bad key} {zz}"},
        {"Hello {name}{{no}} {bad key} {zz}", true, "Hello x{{no}} {bad key} "},
        {"{name}}", false, "x}"},
        {"{name}}.", false, "{name}}."},
        {"{{name}", false, "{{name}"},
        {"{{", false, "{{"},
        {"{n}{n}{}", false, "33{}"},
        {"[{nothing}]", false, "[{nothing}]"},
        {"[{nothing}]", true, "[]"},
        {"[{empty}]", false, "[]"},
        {"{name", false, "{name"},
        {"{x{name}", true, ""},
    };
    for (const Case& c : cases) {
        VString text(c.text);
        text.Format(object.GetObjectPtr(), c.removeMissing);
        EXPECT_EQ(to_string(text), c.formatted) << c.text;
    }
    VString untouched("{name}");
    untouched.Format(static_cast<const VJSONObject*>(nullptr), true);
    EXPECT_EQ(to_string(untouched), "{name}");
}

TEST_F(VJSONValueTextTest, FormatWithTemplateFillsDottedPaths) {
    VJSONValue object;
    ASSERT_EQ(object.ParseFromString(VString("{\"p\":{\"q\":1,\"list\":[\"a\",\"b\"]},\"none\":null}")), VE_OK);
    struct Case {
        const char* text;
        const char* formatted;
    };
    const Case cases[] = {
        {"a{{p.q}}b", "a1b"},
        {"a{{p.q", "ap.q"},
        {"{{p.list[1]}}/{{p.list.length}}", "b/2"},
        {"[{{none}}][{{missing}}]", "[][]"},
        {"x}}y", "x}}y"},
        {"no placeholder", "no placeholder"},
        {"", ""},
    };
    for (const Case& c : cases) {
        VString out("old");
        VString(c.text).FormatWithTemplate(object.GetObjectPtr(), out);
        EXPECT_EQ(to_string(out), c.formatted) << c.text;
    }
    VString out("old");
    VString("a{{p.q}}b").FormatWithTemplate(nullptr, out);
    EXPECT_EQ(to_string(out), "ab");
}

} // namespace
} // namespace vela
