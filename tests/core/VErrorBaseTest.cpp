#include "core/VErrorBase.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "support/RecordingLogger.h"
#include "support/RecordingRaiser.h"
#include "support/TestProcess.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

using namespace vela;

namespace {

constexpr uint32 kUpdater = FourCC("UPZo");

std::string ToUTF8(const VString& text) {
    std::string bytes(size_t(text.GetLength()) * 3 + 4, '\0');
    bytes.resize(text.ToBlock(bytes.data(), bytes.size(), VTC_UTF_8, false, false));
    return bytes;
}

template <class Getter> std::string TextOf(const VErrorBase& error, Getter getter) {
    VString text;
    (error.*getter)(text);
    return ToUTF8(text);
}

// The own properties of an object as name -> text (numbers as JSON text).
std::map<std::string, std::string> PropertiesOf(const VJSONObject* object) {
    std::map<std::string, std::string> result;
    for (const auto& [name, value] : object->GetInternalProperties()) {
        VString text;
        value.GetString(text);
        result[ToUTF8(name)] = (value.IsNumber() ? "#" : "") + ToUTF8(text);
    }
    return result;
}

VRefPtr<VErrorBase> MakeError(VError code) {
    return VRefPtr<VErrorBase>::Adopt(new VErrorBase(code));
}

// Answers fixed texts for some codes and counts the questions.
class FakeLocalizer : public ILocalizer {
public:
    std::map<VError, std::string> fTexts;
    int fCalls = 0;

    bool LocalizeErrorMessage(VError code, VString& out) override {
        ++fCalls;
        auto found = fTexts.find(code);
        if (found == fTexts.end()) return false;
        out.FromCString(found->second.c_str());
        return true;
    }
};

// Registers a localizer for a signature while it lives.
class StLocalizer {
public:
    StLocalizer(uint32 signature, ILocalizer* localizer) : fSignature(signature) {
        VErrorBase::RegisterLocalizer(signature, localizer);
    }
    ~StLocalizer() { VErrorBase::UnregisterLocalizer(fSignature); }

private:
    uint32 fSignature;
};

} // namespace

TEST(VErrorBaseTest, CodeConstructorSetsNumberAndSignatureOnly) {
    auto error = MakeError(MakeVError(kUpdater, -42));
    EXPECT_EQ(error->GetError(), MakeVError(kUpdater, -42));
    EXPECT_EQ(error->GetRefCount(), 1);
    EXPECT_EQ(error->GetTaskID(), 0); // not made on a task
    VString name("stale");
    int32 id = 99;
    error->GetTaskName(name, &id);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_EQ(id, 0);
    EXPECT_EQ(PropertiesOf(error->GetParameters()),
              (std::map<std::string, std::string>{{"errCode", "#-42"}, {"componentSignature", "UPZo"}}));
    EXPECT_EQ(error->GetStackCrawl().GetCount(), 0);
}

TEST(VErrorBaseTest, ParametersAreSetAndReplacedByName) {
    auto error = MakeError(MakeLibraryError(600));
    error->SetString("path", "/tmp/a");
    error->SetLong("count", -7);
    error->SetLong8("big", int64(1) << 40);
    error->SetString("path", "/tmp/b");
    auto properties = PropertiesOf(error->GetParameters());
    EXPECT_EQ(properties["path"], "/tmp/b");
    EXPECT_EQ(properties["count"], "#-7");
    EXPECT_EQ(properties["big"], "#1099511627776");
    EXPECT_EQ(properties.size(), 5u);
}

TEST(VErrorBaseTest, ErrorStringAndLocation) {
    struct Case {
        VError code;
        const char* errorString;
        const char* location;
    };
    const Case cases[] = {
        {MakeLibraryError(100), "Error code: 100 (vela)", "velacore"},
        {MakeVError(kUpdater, 3), "Error code: 3 (UPZo)", "component: 'UPZo'"},
        {MakeVError(kComponentPosix, -1), "Error code: -1 (POSX)", "component: 'POSX'"},
        {MakeVError(FourCC("ZoRT"), -10719), "Error code: -10719 (ZoRT)", "component: 'ZoRT'"},
    };
    for (const Case& c : cases) {
        auto error = MakeError(c.code);
        EXPECT_EQ(TextOf(*error, &VErrorBase::GetErrorString), c.errorString);
        EXPECT_EQ(TextOf(*error, &VErrorBase::GetLocation), c.location);
    }
}

TEST(VErrorBaseTest, DescriptionPrefersMessageThenLocalizerThenSystemThenErrorString) {
    FakeLocalizer localizer;
    localizer.fTexts[MakeLibraryError(600)] = "File {p1} not found ({missing}).";
    StLocalizer installed(kComponentVela, &localizer);

    auto localized = MakeError(MakeLibraryError(600));
    localized->SetString("p1", "a.txt");
    EXPECT_EQ(TextOf(*localized, &VErrorBase::GetErrorDescription), "File a.txt not found ({missing}).");

    auto withMessage = MakeError(MakeLibraryError(600));
    withMessage->SetDescription("fixed text");
    int calls = localizer.fCalls;
    EXPECT_EQ(TextOf(*withMessage, &VErrorBase::GetErrorDescription), "fixed text");
    EXPECT_EQ(localizer.fCalls, calls);

    auto unknown = MakeError(MakeLibraryError(601));
    EXPECT_EQ(TextOf(*unknown, &VErrorBase::GetErrorDescription), "Error code: 601 (vela)");

    auto posix = MakeError(MakeVError(kComponentPosix, ENOENT));
    EXPECT_EQ(TextOf(*posix, &VErrorBase::GetErrorDescription), std::strerror(ENOENT));

    // Other native components have no system text here.
    auto carbon = MakeError(MakeVError(kComponentCarbon, -43));
    EXPECT_EQ(TextOf(*carbon, &VErrorBase::GetErrorDescription), "Error code: -43 (CARB)");
}

TEST(VErrorBaseTest, FrozenDescriptionNoLongerNeedsTheLocalizer) {
    FakeLocalizer localizer;
    localizer.fTexts[MakeVError(kUpdater, 5)] = "Update failed";
    auto error = MakeError(MakeVError(kUpdater, 5));
    {
        StLocalizer installed(kUpdater, &localizer);
        error->FreezeDescription();
    }
    EXPECT_EQ(TextOf(*error, &VErrorBase::GetErrorDescription), "Update failed");

    // A message already set is not replaced.
    auto preset = MakeError(MakeVError(kUpdater, 5));
    preset->SetDescription("mine");
    preset->FreezeDescription();
    EXPECT_EQ(TextOf(*preset, &VErrorBase::GetErrorDescription), "mine");
}

TEST(VErrorBaseTest, CallLocalizer) {
    FakeLocalizer localizer;
    localizer.fTexts[MakeLibraryError(5)] = "Access to {path} denied";
    auto error = MakeError(MakeLibraryError(5));
    error->SetString("path", "/etc");
    VString out("unchanged");
    EXPECT_TRUE(error->CallLocalizer(&localizer, VE_OK, out));
    EXPECT_EQ(ToUTF8(out), "unchanged");
    EXPECT_TRUE(error->CallLocalizer(&localizer, MakeLibraryError(5), out));
    EXPECT_EQ(ToUTF8(out), "Access to /etc denied");
    EXPECT_FALSE(error->CallLocalizer(&localizer, MakeLibraryError(6), out));
    EXPECT_TRUE(out.IsEmpty());
    out.FromCString("x");
    EXPECT_FALSE(error->CallLocalizer(nullptr, MakeLibraryError(5), out));
    EXPECT_TRUE(out.IsEmpty());
}

TEST(VErrorBaseTest, ActionDescriptionFillsPlaceholders) {
    struct Case {
        const char* action;
        const char* expected;
    };
    const Case cases[] = {
        {"Hello {name}{{no}} {bad key} {zz}", "Hello x{{no}} {bad key} {zz}"},
        {"{name}}", "x}"},
        {"{name}}.", "{name}}."},
        {"{}{name", "{}{name"},
        {"{n}{name}", "7x"},
        {"{nothing}", "{nothing}"},
        {"{", "{"},
    };
    for (const Case& c : cases) {
        auto error = MakeError(MakeLibraryError(1));
        error->SetString("name", "x");
        error->SetLong("n", 7);
        error->SetString("action_description", c.action);
        EXPECT_EQ(TextOf(*error, &VErrorBase::GetActionDescription), c.expected) << c.action;
    }
    auto none = MakeError(MakeLibraryError(1));
    EXPECT_EQ(TextOf(*none, &VErrorBase::GetActionDescription), "");
    none->SetLong("action_description", 3); // not a string
    EXPECT_EQ(TextOf(*none, &VErrorBase::GetActionDescription), "");
}

TEST(VErrorBaseTest, DumpOffTaskHasFourLines) {
    auto error = MakeError(MakeLibraryError(601));
    EXPECT_EQ(TextOf(*error, &VErrorBase::DumpToString),
              "Error code: 601 (vela)\nError code: 601 (vela)\nvelacore\ntask 0\n");
    error->SetString("action_description", "Retry later");
    EXPECT_EQ(TextOf(*error, &VErrorBase::DumpToString),
              "Error code: 601 (vela)\nError code: 601 (vela)\nvelacore\nRetry later\ntask 0\n");
}

TEST(VErrorBaseTest, CreateReadsOrSetsSignatureAndNumber) {
    struct Case {
        std::vector<std::pair<const char*, VJSONValue>> properties;
        VError expected;
        const char* signatureAfter;
        const char* numberAfter;
    };
    const Case cases[] = {
        {{}, MakeVError(kUpdater, -1), "UPZo", "#-1"},
        {{{"componentSignature", VJSONValue(VString("xmlc"))}, {"errCode", VJSONValue(12.9)}},
         MakeVError(FourCC("xmlc"), 12),
         "xmlc",
         "#12.9"},
        // Wrong types are overwritten.
        {{{"componentSignature", VJSONValue(3.0)}, {"errCode", VJSONValue(VString("7"))}},
         MakeVError(kUpdater, -1),
         "UPZo",
         "#-1"},
        // Only the first four characters count; short signatures are padded with spaces.
        {{{"componentSignature", VJSONValue(VString("ZoRTxx"))}, {"errCode", VJSONValue(5.0)}},
         MakeVError(FourCC("ZoRT"), 5),
         "ZoRTxx",
         "#5"},
        {{{"componentSignature", VJSONValue(VString("ab"))}, {"errCode", VJSONValue(1.0)}},
         MakeVError(FourCC("ab  "), 1),
         "ab",
         "#1"},
        // Signature and number both 0: the unknown library error.
        {{{"componentSignature", VJSONValue(VString(""))}, {"errCode", VJSONValue(0.0)}}, VE_UNKNOWN_ERROR, "", "#0"},
    };
    for (const Case& c : cases) {
        auto parameters = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        for (const auto& [name, value] : c.properties)
            parameters->SetProperty(name, value);
        auto error = VRefPtr<VErrorBase>::Adopt(VErrorBase::Create(parameters.Get(), kUpdater));
        EXPECT_EQ(error->GetError(), c.expected);
        EXPECT_EQ(error->GetParameters(), parameters.Get()); // retained, not copied
        auto properties = PropertiesOf(parameters.Get());
        EXPECT_EQ(properties["componentSignature"], c.signatureAfter);
        EXPECT_EQ(properties["errCode"], c.numberAfter);
    }
    auto fromNothing = VRefPtr<VErrorBase>::Adopt(VErrorBase::Create(nullptr, kUpdater));
    EXPECT_EQ(fromNothing->GetError(), MakeVError(kUpdater, -1));
    EXPECT_NE(fromNothing->GetParameters(), nullptr);
}

TEST(VErrorBaseTest, CopyClonesParametersDeeply) {
    auto source = MakeError(MakeLibraryError(600));
    auto nested = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    nested->SetProperty("inner", VJSONValue(VString("a")));
    source->GetParameters()->SetProperty("nested", VJSONValue(nested.Get()));

    auto copy = VRefPtr<VErrorBase>::Adopt(new VErrorBase(*source));
    EXPECT_EQ(copy->GetError(), source->GetError());
    EXPECT_EQ(copy->GetRefCount(), 1);
    EXPECT_NE(copy->GetParameters(), source->GetParameters());
    VJSONObject* copiedNested = copy->GetParameters()->GetProperty("nested").GetObjectPtr();
    ASSERT_NE(copiedNested, nullptr);
    EXPECT_NE(copiedNested, nested.Get());

    copiedNested->SetProperty("inner", VJSONValue(VString("b")));
    copy->SetString("p1", "only in the copy");
    EXPECT_EQ(PropertiesOf(nested.Get())["inner"], "a");
    EXPECT_EQ(source->GetParameters()->HasOwnProperty("p1"), false);
    EXPECT_EQ(PropertiesOf(copy->GetParameters())["errCode"], "#600");
}

TEST(VErrorBaseTest, CreateJSONObjectHoldsCodeSignatureAndMessage) {
    auto error = MakeError(MakeVError(kUpdater, 9));
    error->SetDescription("broken");
    error->SetString("p1", "not exported");
    VJSONObject* object = error->CreateJSONObject();
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(PropertiesOf(object), (std::map<std::string, std::string>{
                                        {"errCode", "#9"}, {"componentSignature", "UPZo"}, {"message", "broken"}}));
    VString first;
    object->GetPropertyNameAt(0, first);
    EXPECT_EQ(ToUTF8(first), "errCode");
    object->Release();
}

TEST(VErrorBaseTest, NativeCodesMapThroughTheTable) {
    const VError fallback = MakeVError(kUpdater, 77);
    struct Case {
        VError native;
        VError expected;
    };
    const Case cases[] = {
        {MakeVError(kComponentCarbon, -43), MakeLibraryError(600)},
        {MakeVError(kComponentCarbon, -108), MakeLibraryError(100)},
        {MakeVError(kComponentCarbon, -128), MakeLibraryError(6)},
        {MakeVError(kComponentCarbon, -1), fallback},
        {MakeVError(kComponentPosix, ENOENT), MakeLibraryError(600)},
        {MakeVError(kComponentPosix, EACCES), MakeLibraryError(5)},
        {MakeVError(kComponentPosix, EIO), fallback},
        {MakeVError(kComponentMach, 5), fallback},
        {MakeVError(kComponentCocoa, 4), fallback},
        {VE_OK, VE_OK},
        {MakeVError(kUpdater, 7), MakeVError(kUpdater, 7)},
        {MakeVError(kUpdater, 0), MakeVError(kUpdater, 0)},
        {MakeVError(kComponentMach, 0), MakeVError(kComponentMach, 0)},
        {VE_UNKNOWN_ERROR, fallback},
        // "No error" in native terms finds no row: the default, not 0.
        {MakeVError(kComponentPosix, 0), fallback},
        {MakeVError(kComponentCarbon, 0), fallback},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VErrorBase::EncodedNativeErrorToVError(c.native, fallback), c.expected) << std::hex << c.native;

    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(0), VE_OK);
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-1), MakeVError(kComponentCarbon, -1));
    EXPECT_EQ(VErrorBase::MAC_MapCarbonErrorToVError(-39), MakeLibraryError(200));
}

TEST(VErrorBaseTest, LocalizerRegistry) {
    FakeLocalizer first;
    FakeLocalizer second;
    const uint32 signature = FourCC("tst1");
    EXPECT_EQ(VErrorBase::GetLocalizer(signature), nullptr);
    VErrorBase::RegisterLocalizer(signature, &first);
    VErrorBase::RegisterLocalizer(signature, &second);
    EXPECT_EQ(VErrorBase::GetLocalizer(signature), &second);
    VErrorBase::UnregisterLocalizer(signature);
    VErrorBase::UnregisterLocalizer(signature);
    EXPECT_EQ(VErrorBase::GetLocalizer(signature), nullptr);
}

TEST(VErrorBaseTest, DebugDumpWithoutProcessIsABoundedLine) {
    auto error = MakeError(MakeVError(kUpdater, -12));
    char buffer[128];
    int size = sizeof(buffer);
    EXPECT_EQ(error->DebugDump(buffer, size), VTC_UTF_8);
    const std::string expected = "Error code: -12, component: 'UPZo', task ID: 0";
    EXPECT_EQ(std::string(buffer, size_t(size)), expected);

    // A short buffer is cut and still terminated inside it.
    char small[12];
    std::memset(small, '#', sizeof(small));
    int smallSize = 10;
    error->DebugDump(small, smallSize);
    EXPECT_EQ(smallSize, 9);
    EXPECT_EQ(std::string(small, 9), expected.substr(0, 9));
    EXPECT_EQ(small[9], 0);
    EXPECT_EQ(small[10], '#');

    VString text;
    error->VObject::DebugDump(text);
    EXPECT_EQ(ToUTF8(text), expected);
}

TEST(VErrorBaseTest, DebugDumpWithProcessWritesUTF16WithinSize) {
    test::StProcessObject process;
    auto error = MakeError(MakeLibraryError(601));
    VString dump;
    error->DumpToString(dump);

    char buffer[40];
    std::memset(buffer, '#', sizeof(buffer));
    int size = 20;
    EXPECT_EQ(error->DebugDump(buffer, size), VTC_UTF_16);
    EXPECT_EQ(size, 20);
    EXPECT_EQ(std::memcmp(buffer, dump.GetCPointer(), 20), 0);
    EXPECT_EQ(buffer[20], '#'); // nothing beyond size

    char big[1024];
    int bigSize = sizeof(big);
    error->DebugDump(big, bigSize);
    EXPECT_EQ(bigSize, dump.GetLength() * 2);
}

TEST(VErrorBaseTest, SubclassesDescribeThemselvesWithTheirText) {
    auto user = VRefPtr<VErrorUserGenerated>::Adopt(new VErrorUserGenerated(MakeVError(kUpdater, 1), "Disk full"));
    EXPECT_EQ(TextOf(*user, &VErrorBase::GetErrorDescription), "Disk full");
    EXPECT_EQ(TextOf(*user, &VErrorBase::DumpToString), "Disk full");
    EXPECT_EQ(TextOf(*user, &VErrorBase::GetLocation), "component: 'UPZo'");

    auto imported = VRefPtr<VErrorImported>::Adopt(new VErrorImported(MakeLibraryError(1), "remote failure"));
    EXPECT_EQ(TextOf(*imported, &VErrorBase::GetErrorDescription), "remote failure");
    EXPECT_EQ(TextOf(*imported, &VErrorBase::DumpToString), "remote failure");
    EXPECT_EQ(TextOf(*imported, &VErrorBase::GetLocation), "REST Imported Error");
}

TEST(VErrorBaseTest, RaisesOffATaskPushNothingAndGiveUpTheReference) {
    ASSERT_EQ(VTask::GetCurrent(), nullptr);
    test::StProcessObject process;
    auto error = MakeError(MakeLibraryError(600));
    error->Retain(); // the reference _PushRetainedError takes over
    EXPECT_FALSE(_PushRetainedError(error.Get(), MakeVError(kComponentPosix, ENOENT)));
    EXPECT_EQ(error->GetRefCount(), 1);
    EXPECT_FALSE(_PushRetainedError(nullptr, VE_OK));
    EXPECT_EQ(vThrowUserGeneratedError(MakeLibraryError(7), "text"), MakeLibraryError(7));
    EXPECT_EQ(VTask::GetLastError(), VE_OK);
    EXPECT_EQ(VTask::GetErrorContext(true), nullptr);
}

TEST(VErrorBaseTest, ThrowErrorStillReachesTheRecordingRaiser) {
    test::RecordingRaiser raiser;
    VString path("/x");
    _ThrowError(MakeLibraryError(600), &path, nullptr, nullptr);
    _ThrowErrorWithParam(MakeLibraryError(5), "path", path);
    auto all = raiser.All();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].code, MakeLibraryError(600));
    EXPECT_EQ(all[0].params, (std::vector<std::pair<std::string, std::u16string>>{{"p1", u"/x"}}));
    EXPECT_EQ(all[1].params, (std::vector<std::pair<std::string, std::u16string>>{{"path", u"/x"}}));
}
