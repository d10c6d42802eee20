#include "json/VJSONPointerResolver.h"

#include "core/VErrorContext.h"
#include "files/VFile.h"
#include "files/VFileSystem.h"
#include "files/VFolder.h"
#include "support/FileTestSupport.h"
#include "support/TestProcess.h"
#include "json/VJSONArray.h"
#include "json/VJSONErrors.h"
#include "json/VJSONImporter.h"
#include "json/VJSONObject.h"
#include "json/VJSONText.h"
#include "json/VJSONWriter.h"

#include "JSONTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vela {
namespace {

VJSONValue Parse(const std::string& text) {
    VJSONValue value;
    EXPECT_EQ(VJSONImporter::ParseString(VString(text.c_str()), value, VJSONImporter::kStrict), VE_OK) << text;
    return value;
}

// Compact text with quotes; an object met inside itself is written "[circular]".
std::u16string Json(const VJSONValue& value) {
    if (value.IsUndefined()) return u"undefined";
    VString text;
    VJSONWriter writer(VJSONWriter::kQuoted | VJSONWriter::kCircularAsText);
    EXPECT_EQ(writer.StringifyValue(value, text), VE_OK);
    return test::Units(text);
}

VRefPtr<VJSONPointerResolver> Resolver(const VJSONValue& root, IFolder* folder = nullptr,
                                       VFileSystemNamespace* ns = nullptr, VJSONFileCache* cache = nullptr) {
    return VRefPtr<VJSONPointerResolver>::Adopt(new VJSONPointerResolver(root, folder, ns, cache));
}

// The codes of the recorded failures, in order.
std::vector<VError> RecordedCodes(const VJSONPointerResolver& resolver) {
    std::vector<VError> codes;
    if (VJSONArray* errors = resolver.GetErrors(); errors != nullptr) {
        for (size_t i = 0; i < errors->GetCount(); ++i) {
            VJSONValue record = errors->GetAt(i);
            VString component;
            record.GetProperty(VString("component")).GetString(component);
            EXPECT_EQ(test::Units(component), u"vela");
            codes.push_back(MakeLibraryError(int32(record.GetProperty(VString("code")).GetNumber())));
        }
    }
    return codes;
}

std::u16string Parameter(const VJSONPointerResolver& resolver, size_t index, const char* name) {
    VString text;
    resolver.GetErrors()->GetAt(index).GetProperty(VString(name)).GetString(text);
    return test::Units(text);
}

// One reference object resolved on its own against a document.
struct OneCase {
    const char* reference;
    const char16_t* expected; // the result's text, or undefined
    VError error;             // the one failure recorded, or VE_OK
};

TEST(JSONPointerResolverTest, OnePointerFollowsStepsEscapesAndRefusesWhatNamesNothing) {
    test::StTestProcess process;
    const VJSONValue root = Parse(R"({"a": {"b": [10, 20, 30]}, "a/b": "slash", "m~n": "tilde", "m~1n": "tilde one",
        "list": [1, 2, 3], "s": "text", "sp ace": 5, "holes": [null]})");
    const OneCase cases[] = {
        {"#/a/b/1", u"20", VE_OK},
        {"#/a~1b", u"\"slash\"", VE_OK},
        {"#/m~0n", u"\"tilde\"", VE_OK},
        {"#/m~01n", u"\"tilde one\"", VE_OK}, // "~01" is "~1" taken literally, not "/"
        {"#/sp%20ace", u"5", VE_OK},
        {"#/holes/0", u"null", VE_OK},
        {"#/list/0", u"1", VE_OK},
        {"#/list/01", u"undefined", VE_JSON_POINTER_MALFORMED},
        {"#/list/", u"undefined", VE_JSON_POINTER_MALFORMED},
        {"#/list/1x", u"undefined", VE_JSON_POINTER_MALFORMED},
        {"#/list/-1", u"undefined", VE_JSON_POINTER_MALFORMED},
        {"#/list/-", u"undefined", VE_JSON_POINTER_UNSUPPORTED},
        {"#/list/7", u"undefined", VE_JSON_POINTER_NOT_FOUND},
        {"#/list/3", u"undefined", VE_JSON_POINTER_NOT_FOUND},
        {"#/list/99999999999999999999999999999", u"undefined", VE_JSON_POINTER_NOT_FOUND},
        {"#/nothing", u"undefined", VE_JSON_POINTER_NOT_FOUND},
        {"#/a/", u"undefined", VE_JSON_POINTER_NOT_FOUND},
        {"#/s/x", u"undefined", VE_JSON_POINTER_INTO_SCALAR},
        {"#/list/0/x", u"undefined", VE_JSON_POINTER_INTO_SCALAR},
        {"#a", u"undefined", VE_JSON_POINTER_MALFORMED},
        {"https://example.com/doc.json#/a", u"undefined", VE_JSON_POINTER_UNSUPPORTED},
        {"  HTTP:doc.json", u"undefined", VE_JSON_POINTER_UNSUPPORTED},
        {"file:///tmp/doc.json", u"undefined", VE_JSON_POINTER_UNSUPPORTED},
        {"http.json#/a", u"undefined", VE_JSON_REFERRED_FILE_MISSING}, // a file name, but no folder to find it in
    };
    for (const OneCase& c : cases) {
        VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
        VRefPtr<VJSONObject> reference = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(c.reference)));
        VJSONValue result;
        EXPECT_TRUE(resolver->ResolveOnePointer(reference.Get(), true, result)) << c.reference;
        EXPECT_EQ(Json(result), c.expected) << c.reference;
        std::vector<VError> expected;
        if (c.error != VE_OK) expected.push_back(c.error);
        EXPECT_EQ(RecordedCodes(*resolver), expected) << c.reference;
        if (c.error != VE_OK) {
            EXPECT_EQ(Parameter(*resolver, 0, "pointerURI"), test::Units(VString(c.reference)));
        }
    }
}

TEST(JSONPointerResolverTest, EmptyReferenceAndHashGiveTheRootItselfAndOtherObjectsStayAsTheyAre) {
    const VJSONValue root = Parse(R"({"x": 1})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    for (const char* text : {"", "#", "  #"}) {
        VRefPtr<VJSONObject> reference = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(text)));
        VJSONValue result;
        EXPECT_TRUE(resolver->ResolveOnePointer(reference.Get(), true, result)) << text;
        EXPECT_EQ(result.GetObjectPtr(), root.GetObjectPtr()) << text;
    }
    // "$ref" that is no text makes no reference.
    VJSONValue notReference = Parse(R"({"$ref": 7})");
    VJSONValue result;
    EXPECT_FALSE(resolver->ResolveOnePointer(notReference.GetObjectPtr(), true, result));
    EXPECT_EQ(result.GetObjectPtr(), notReference.GetObjectPtr());
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

TEST(JSONPointerResolverTest, OnePointerResolvesReferencesAlongItsPathOnlyWhenAsked) {
    const VJSONValue root = Parse(R"({"alias": {"$ref": "#/target"}, "target": {"v": [1, 2]}})");
    const OneCase cases[] = {
        {"#/alias/v/1", u"undefined", VE_JSON_POINTER_NOT_FOUND}, // "alias" is taken as it stands
        {"#/alias", u"{\"$ref\":\"#/target\"}", VE_OK},
    };
    for (const OneCase& c : cases) {
        VRefPtr<VJSONObject> reference = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
        reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString(c.reference)));
        VJSONValue result;
        VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
        resolver->ResolveOnePointer(reference.Get(), false, result);
        EXPECT_EQ(Json(result), c.expected) << c.reference;
        EXPECT_EQ(RecordedCodes(*resolver), c.error == VE_OK ? std::vector<VError>{} : std::vector<VError>{c.error});
    }
    VRefPtr<VJSONObject> reference = VRefPtr<VJSONObject>::Adopt(new VJSONObject());
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString("#/alias/v/1")));
    VJSONValue result;
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveOnePointer(reference.Get(), true, result);
    EXPECT_EQ(Json(result), u"2");
    // A reference that designates a reference goes on to its target.
    reference->SetProperty(VJSONPointerResolver::sRefPropertyName, VJSONValue(VString("#/alias")));
    resolver->ResolveOnePointer(reference.Get(), true, result);
    EXPECT_EQ(result.GetObjectPtr(), root.GetProperty(VString("target")).GetObjectPtr());
}

TEST(JSONPointerResolverTest, WalkReplacesReferencesSharingTheirTargetsAndKeepsFailuresAsDocumented) {
    test::StTestProcess process;
    VJSONValue root = Parse(R"({"base": {"n": 1}, "one": {"$ref": "#/base"}, "two": {"$ref": "#/base"},
        "list": [{"$ref": "#/base/n"}, {"$ref": "#/missing"}, 3], "bad": {"$ref": "#/missing"},
        "chain": {"$ref": "#/one"}, "inner": {"deep": [{"$ref": "#/list/2"}]}})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveRecursively(root, false);

    VJSONObject* object = root.GetObjectPtr();
    VJSONObject* base = object->GetProperty(VString("base")).GetObjectPtr();
    EXPECT_EQ(object->GetProperty(VString("one")).GetObjectPtr(), base);
    EXPECT_EQ(object->GetProperty(VString("two")).GetObjectPtr(), base);
    // A reference to a reference goes on to the final target.
    EXPECT_EQ(object->GetProperty(VString("chain")).GetObjectPtr(), base);
    // Unresolved: an array item becomes undefined, a property keeps its reference object.
    EXPECT_EQ(Json(object->GetProperty(VString("list"))), u"[1,null,3]");
    EXPECT_TRUE(object->GetProperty(VString("list")).GetArrayPtr()->GetAt(1).IsUndefined());
    EXPECT_EQ(Json(object->GetProperty(VString("bad"))), u"{\"$ref\":\"#/missing\"}");
    EXPECT_EQ(Json(object->GetProperty(VString("inner"))), u"{\"deep\":[3]}");
    EXPECT_EQ(RecordedCodes(*resolver), (std::vector<VError>{VE_JSON_POINTER_NOT_FOUND, VE_JSON_POINTER_NOT_FOUND}));
}

TEST(JSONPointerResolverTest, PatchMergesTheReferenceObjectsOwnPropertiesIntoANewObject) {
    VJSONValue root = Parse(R"({"base": {"a": 1, "x": 0}, "plain": {"$ref": "#/base"},
        "patched": {"$ref": "#/base", "x": 1, "y": 2}, "scalar": {"$ref": "#/base/a", "z": 3}})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveRecursively(root, true);
    VJSONObject* object = root.GetObjectPtr();
    VJSONObject* base = object->GetProperty(VString("base")).GetObjectPtr();
    EXPECT_EQ(object->GetProperty(VString("plain")).GetObjectPtr(), base);
    VJSONValue patched = object->GetProperty(VString("patched"));
    EXPECT_NE(patched.GetObjectPtr(), base);
    EXPECT_EQ(Json(patched), u"{\"a\":1,\"x\":1,\"y\":2}");
    EXPECT_EQ(Json(object->GetProperty(VString("base"))), u"{\"a\":1,\"x\":0}");
    // Only objects are patched: a scalar target replaces the reference whole.
    EXPECT_EQ(Json(object->GetProperty(VString("scalar"))), u"1");
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

VJSONValue At(const VJSONValue& value, size_t index) {
    return value.IsArray() ? value.GetArrayPtr()->GetAt(index) : VJSONValue(JSON_undefined);
}

// Cycles end, through the in-progress check (908) or the visited set. A document that refers to itself through an
// array used to recurse into the array without end.
TEST(JSONPointerResolverTest, CyclesThroughArraysEndWithTheArrayHoldingItself) {
    VJSONValue root = Parse(R"(["x", {"$ref": "#"}])");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveRecursively(root, false);
    EXPECT_EQ(At(root, 1).GetArrayPtr(), root.GetArrayPtr());

    root = Parse(R"([[{"$ref": "#/0"}], {"$ref": "#/0/0"}, {"a": {"$ref": "#/2"}}])");
    resolver = Resolver(root);
    resolver->ResolveRecursively(root, false);
    VJSONArray* inner = At(root, 0).GetArrayPtr();
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(At(At(root, 0), 0).GetArrayPtr(), inner);
    EXPECT_EQ(At(root, 1).GetArrayPtr(), inner);
    EXPECT_EQ(At(root, 2).GetProperty(VString("a")).GetObjectPtr(), At(root, 2).GetObjectPtr());
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

TEST(JSONPointerResolverTest, ReferenceCyclesThroughObjectsFailWith908AndKeepTheirObjects) {
    struct Case {
        const char* document;
        const char16_t* expected;
    };
    const Case cases[] = {
        {R"({"self": {"$ref": "#/self"}})", u"{\"self\":{\"$ref\":\"#/self\"}}"},
        {R"({"a": {"$ref": "#/b/x"}, "b": {"$ref": "#/a/x"}})",
         u"{\"a\":{\"$ref\":\"#/b/x\"},\"b\":{\"$ref\":\"#/a/x\"}}"},
        {R"({"a": {"$ref": "#/b"}, "b": {"$ref": "#/a"}, "c": {"$ref": "#/a"}})",
         u"{\"a\":{\"$ref\":\"#/b\"},\"b\":{\"$ref\":\"#/a\"},\"c\":{\"$ref\":\"#/a\"}}"},
    };
    for (const Case& c : cases) {
        VJSONValue root = Parse(c.document);
        VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
        resolver->ResolveRecursively(root, false);
        EXPECT_EQ(Json(root), c.expected) << c.document;
        // One record for the cycle: the references that lead into it fail with it.
        EXPECT_EQ(RecordedCodes(*resolver), std::vector<VError>{VE_JSON_POINTER_CYCLE}) << c.document;
    }
}

// A pointer passing twice through a reference whose own pointer does the same doubles the work per link: each
// reference is resolved once per run, so a long such chain ends at once.
TEST(JSONPointerResolverTest, ReferencesMetManyTimesAlongPointersAreResolvedOnce) {
    std::string text = R"({"a": {"$ref": "#"}, "r40": {"$ref": "#"})";
    for (int k = 0; k < 40; ++k)
        text += ", \"r" + std::to_string(k) + "\": {\"$ref\": \"#/r" + std::to_string(k + 1) + "/a/r" +
                std::to_string(k + 1) + "/a\"}";
    text += "}";
    VJSONValue root = Parse(text);
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveRecursively(root, false);
    EXPECT_EQ(root.GetProperty(VString("r0")).GetObjectPtr(), root.GetObjectPtr());
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

TEST(JSONPointerResolverTest, ChainsOfReferencesDeeperThanTheNestingLimitFailWith108) {
    const int links = kJSONTextMaxDepth + 20;
    std::string text = "{\"end\": {\"x\": 1}";
    for (int k = 0; k < links; ++k)
        text += ", \"r" + std::to_string(k) + "\": {\"$ref\": \"#/r" + std::to_string(k + 1) + "/x\"}";
    text += ", \"r" + std::to_string(links) + "\": {\"$ref\": \"#/end\"}}";
    VJSONValue root = Parse(text);
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    VJSONValue result;
    resolver->ResolveOnePointer(root.GetProperty(VString("r0")).GetObjectPtr(), true, result);
    EXPECT_TRUE(result.IsUndefined());
    const std::vector<VError> codes = RecordedCodes(*resolver);
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), VE_JSON_TOO_DEEP);
}

class JSONPointerFileTest : public test::TempFolderFixture {
protected:
    void SetUp() override {
        TempFolderFixture::SetUp();
        ASSERT_EQ(::mkdir(Posix("sub").c_str(), 0755), 0);
    }
    void File(const std::string& name, const std::string& content) const { WriteBytes(Posix(name), content); }
    std::string P(const std::string& name) const { return Posix(name); }
    VRefPtr<VFolder> Dir(const std::string& name) const {
        return VRefPtr<VFolder>::Adopt(
            new VFolder(VFilePath(Text((name.empty() ? fRoot : Posix(name)) + "/"), FPS_POSIX)));
    }
    VFilePath PathOf(const std::string& name) const { return VFilePath(Text(Posix(name)), FPS_POSIX); }
    static std::vector<std::u16string> Names(const std::vector<VRefPtr<IFile>>& files) {
        std::vector<std::u16string> names;
        for (const VRefPtr<IFile>& file : files) {
            VString name;
            file->GetName(name);
            names.push_back(test::Units(name));
        }
        return names;
    }
};

TEST_F(JSONPointerFileTest, ReferencesAcrossFilesAreTakenRelativeToTheirOwnDocument) {
    File("other.json", R"({"a": {"v": 1}, "b": {"$ref": "#/a"}, "c": {"$ref": "sub/inner.json#/back"}})");
    File("sub/inner.json", R"({"back": {"$ref": "../other.json#/a"}, "own": {"$ref": "#/back"}, "n": 2})");
    VJSONValue root = Parse(R"({"x": {"$ref": "other.json#/a"}, "y": {"$ref": "other.json#/b"},
        "z": {"$ref": "sub/inner.json"}, "w": {"$ref": "other.json#/c"}})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root, Dir("").Get());
    std::vector<VRefPtr<IFile>> files;
    resolver->ResolveRecursively(root, false, &files);

    VJSONObject* object = root.GetObjectPtr();
    VJSONObject* a = object->GetProperty(VString("x")).GetObjectPtr();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Json(VJSONValue(a)), u"{\"v\":1}");
    EXPECT_EQ(object->GetProperty(VString("y")).GetObjectPtr(), a);
    EXPECT_EQ(object->GetProperty(VString("w")).GetObjectPtr(), a);
    VJSONValue inner = object->GetProperty(VString("z"));
    EXPECT_EQ(inner.GetProperty(VString("back")).GetObjectPtr(), a);
    EXPECT_EQ(inner.GetProperty(VString("own")).GetObjectPtr(), a);
    EXPECT_EQ(resolver->GetErrors(), nullptr);
    // Each file is parsed once and listed once, in the order first read.
    EXPECT_EQ(Names(files), (std::vector<std::u16string>{u"other.json", u"inner.json"}));
    // The cache holds the very document the references now share, whatever path led to it.
    EXPECT_EQ(resolver->GetFileCache()->GetValue(PathOf("other.json")).GetProperty(VString("a")).GetObjectPtr(), a);
    EXPECT_EQ(resolver->GetFileCache()->GetValue(PathOf("sub/inner.json")).GetObjectPtr(), inner.GetObjectPtr());
}

TEST_F(JSONPointerFileTest, FilesThatCannotBeFoundOrReadAreRecordedWithTheirPath) {
    File("broken.json", "{\"a\": ");
    File("loose.json", "{a: 1}"); // read strictly
    struct Case {
        const char* reference;
        VError error;
        std::string referredPath; // relative to the tree, or "=" followed by the text as given
    };
    const Case cases[] = {
        {"missing.json#/a", VE_JSON_REFERRED_FILE_MISSING, "missing.json"},
        {"broken.json#/a", VE_JSON_REFERRED_FILE_INVALID, "broken.json"},
        {"loose.json", VE_JSON_REFERRED_FILE_INVALID, "loose.json"},
        {"/etc/hostname", VE_JSON_REFERRED_FILE_MISSING, "=/etc/hostname"}, // absolute needs a namespace
        {"sub/", VE_JSON_REFERRED_FILE_MISSING, "=sub/"},
    };
    for (const Case& c : cases) {
        VJSONValue root = Parse(std::string("{\"r\": {\"$ref\": \"") + c.reference + "\"}}");
        VRefPtr<VJSONPointerResolver> resolver = Resolver(root, Dir("").Get());
        resolver->ResolveRecursively(root, false);
        EXPECT_EQ(RecordedCodes(*resolver), std::vector<VError>{c.error}) << c.reference;
        if (resolver->GetErrors() == nullptr) continue;
        EXPECT_EQ(Parameter(*resolver, 0, "pointerURI"), test::Units(VString(c.reference)));
        const std::string expected = c.referredPath.starts_with("=") ? c.referredPath.substr(1) : P(c.referredPath);
        EXPECT_EQ(Parameter(*resolver, 0, "referredPath"), test::Units(Text(expected))) << c.reference;
        EXPECT_FALSE(Parameter(*resolver, 0, "message").empty());
    }
}

TEST_F(JSONPointerFileTest, RelativeDocumentWithoutFolderFailsWith913) {
    File("other.json", R"({"a": 1})");
    VJSONValue root = Parse(R"([{"$ref": "other.json#/a"}])");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root);
    resolver->ResolveRecursively(root, false);
    EXPECT_EQ(RecordedCodes(*resolver), std::vector<VError>{VE_JSON_REFERRED_FILE_MISSING});
    EXPECT_EQ(Json(root), u"[null]");
}

TEST_F(JSONPointerFileTest, NamespacePathsReachFilesThroughTheirFileSystem) {
    File("sub/inner.json", R"({"n": 2, "up": {"$ref": "#/n"}})");
    VRefPtr<VFileSystemNamespace> ns = VRefPtr<VFileSystemNamespace>::Adopt(new VFileSystemNamespace(nullptr));
    ASSERT_EQ(ns->RegisterFileSystem(VString("data"), Dir("sub").Get(), 0), VE_OK);
    VJSONValue root = Parse(R"({"n": {"$ref": "/data/inner.json#/up"}, "none": {"$ref": "/nofs/inner.json"}})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root, nullptr, ns.Get());
    resolver->ResolveRecursively(root, false);
    EXPECT_EQ(Json(root.GetProperty(VString("n"))), u"2");
    EXPECT_EQ(RecordedCodes(*resolver), std::vector<VError>{VE_JSON_REFERRED_FILE_MISSING});
}

TEST_F(JSONPointerFileTest, CacheServesLaterResolversUntilItsEntryIsRemoved) {
    File("other.json", R"({"a": 1})");
    VRefPtr<VJSONFileCache> cache = VRefPtr<VJSONFileCache>::Adopt(new VJSONFileCache());
    auto resolveA = [&]() {
        VJSONValue root = Parse(R"({"r": {"$ref": "other.json#/a"}})");
        VRefPtr<VJSONPointerResolver> resolver = Resolver(root, Dir("").Get(), nullptr, cache.Get());
        std::vector<VRefPtr<IFile>> files;
        resolver->ResolveRecursively(root, false, &files);
        EXPECT_EQ(files.size(), 1u); // listed even when the cache answered
        return Json(root.GetProperty(VString("r")));
    };
    EXPECT_EQ(resolveA(), u"1");
    File("other.json", R"({"a": 2})");
    EXPECT_EQ(resolveA(), u"1"); // the cached document, not the file
    cache->SetValue(PathOf("other.json"), VJSONValue(JSON_undefined));
    EXPECT_TRUE(cache->GetValue(PathOf("other.json")).IsUndefined());
    EXPECT_EQ(resolveA(), u"2"); // read again
    // A value stored by hand stands for the file; names differ by case on this system.
    cache->SetValue(PathOf("other.json"), Parse(R"({"a": 3})"));
    EXPECT_EQ(resolveA(), u"3");
    EXPECT_TRUE(cache->GetValue(PathOf("OTHER.json")).IsUndefined());
}

TEST_F(JSONPointerFileTest, FilesReferringToEachOtherEnd) {
    File("a.json", R"({"to": {"$ref": "b.json"}, "name": "a"})");
    File("b.json", R"({"to": {"$ref": "a.json"}, "name": "b"})");
    VJSONValue root = Parse(R"({"start": {"$ref": "a.json"}})");
    VRefPtr<VJSONPointerResolver> resolver = Resolver(root, Dir("").Get());
    std::vector<VRefPtr<IFile>> files;
    resolver->ResolveRecursively(root, false, &files);
    VJSONValue a = root.GetProperty(VString("start"));
    VJSONValue b = a.GetProperty(VString("to"));
    EXPECT_EQ(Json(b.GetProperty(VString("name"))), u"\"b\"");
    EXPECT_EQ(b.GetProperty(VString("to")).GetObjectPtr(), a.GetObjectPtr());
    EXPECT_EQ(Names(files), (std::vector<std::u16string>{u"a.json", u"b.json"}));
    EXPECT_EQ(resolver->GetErrors(), nullptr);
}

} // namespace
} // namespace vela
