#include "app/VComponentManager.h"

#include "app/CComponent.h"
#include "app/VLibrary.h"
#include "app/platform/XPosixLocalizations.h"
#include "files/VFolder.h"
#include "intl/VIntlMgr.h"
#include "support/FileTestSupport.h"
#include "support/TaskTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace vela;

namespace {

constexpr uint32 kTypeA = 0x74737441; // 'tstA'
constexpr uint32 kTypeB = 0x74737442; // 'tstB'
constexpr uint32 kModuleTypeA = 0x746D4131;
constexpr uint32 kModuleTypeB = 0x746D4231;

// What the components made by the test creators need and tell; set by each test.
CComponentRequirements sRequirementsOfA;
uint32 sVersionOfB = 1;

class ComponentA : public CComponent {
public:
    using CComponent::CComponent;
    const CComponentRequirements* GetComponentRequirements() const override { return &sRequirementsOfA; }
};

class ComponentB : public CComponent {
public:
    using CComponent::CComponent;
    CComponentInfo GetComponentInfo() const override { return {sVersionOfB}; }
};

CComponent* CreateA(uint32 type, uint32 signature) {
    return new ComponentA(type, signature);
}
CComponent* CreateB(uint32 type, uint32 signature) {
    return new ComponentB(type, signature);
}

CComponentRequirements Requiring(std::vector<CComponentRequirement> needs) {
    CComponentRequirements block;
    block.fCount = uint32(needs.size());
    for (size_t i = 0; i < needs.size(); ++i)
        block.fRequired[i] = needs[i];
    return block;
}

class VComponentManagerTest : public test::TempFolderFixture {
protected:
    void SetUp() override {
        test::TempFolderFixture::SetUp();
        sRequirementsOfA = CComponentRequirements();
        sVersionOfB = 1;
        ASSERT_TRUE(VComponentManager::Init());
    }
    void TearDown() override {
        VComponentManager::DeInit();
        test::TempFolderFixture::TearDown();
    }
    VFilePath CopyOf(const char* module, const std::string& name) {
        std::filesystem::copy_file(module, Posix(name));
        return VFilePath(Text(Posix(name)), FPS_POSIX);
    }
};

using Retained = VRefPtr<CComponent>;

} // namespace

TEST(VComponentManagerNotInitTest, NothingIsMadeOrRegisteredBeforeInit) {
    ASSERT_FALSE(VComponentManager::IsInitialized());
    EXPECT_EQ(VComponentManager::RetainComponent(kTypeA), nullptr);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, CreateA), VE_COMP_NOT_INITIALIZED);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTypeA));
}

TEST_F(VComponentManagerTest, CreatorsMakeSharedAndUniqueComponents) {
    StErrorContextInstaller errors(false, true);
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeB, CreateB), VE_OK);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeB, CreateA), VE_COMP_ALREADY_REGISTERED);
    EXPECT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, nullptr), VE_INVALID_PARAMETER);
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kTypeB));

    auto shared = Retained::Adopt(VComponentManager::RetainComponent(kTypeB, 0x31313131));
    ASSERT_NE(shared.Get(), nullptr);
    EXPECT_EQ(shared->GetComponentSignature(), 0x31313131u);
    auto again = Retained::Adopt(VComponentManager::RetainComponent(kTypeB));
    EXPECT_EQ(again.Get(), shared.Get()) << "any signature finds the shared one";
    auto other = Retained::Adopt(VComponentManager::RetainComponent(kTypeB, 0x32323232));
    EXPECT_NE(other.Get(), shared.Get()) << "another signature makes another";
    auto unique = Retained::Adopt(VComponentManager::RetainUniqueComponent(kTypeB));
    EXPECT_NE(unique.Get(), shared.Get());
    EXPECT_EQ(VComponentManager::RetainComponent(kTypeA), nullptr) << "unknown type";

    std::vector<CComponent*> family;
    EXPECT_FALSE(VComponentManager::RetainComponentsOfFamily(0x31313131, nullptr));
    EXPECT_TRUE(VComponentManager::RetainComponentsOfFamily(0x31313131, &family));
    ASSERT_EQ(family.size(), 1u);
    EXPECT_EQ(family[0], shared.Get());
    family[0]->Release();

    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeB, CreateA), VE_COMP_NOT_REGISTERED);
    EXPECT_EQ(VComponentManager::UnRegisterComponentType(kTypeA), VE_COMP_UNKNOWN_TYPE);
    EXPECT_EQ(VComponentManager::UnRegisterComponentCreator(kTypeB, CreateB), VE_OK);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kTypeB));
}

TEST_F(VComponentManagerTest, SharedInstancesAreRegisteredOnce) {
    StErrorContextInstaller errors(false, true);
    auto component = Retained::Adopt(new ComponentB(kTypeB, 0x41414141));
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(nullptr), VE_INVALID_PARAMETER);
    ASSERT_EQ(VComponentManager::RegisterComponentInstance(component.Get()), VE_OK);
    EXPECT_EQ(VComponentManager::RegisterComponentInstance(component.Get()), VE_COMP_ALREADY_REGISTERED);
    auto found = Retained::Adopt(VComponentManager::RetainComponent(kTypeB, 0x41414141));
    EXPECT_EQ(found.Get(), component.Get()) << "shared without a creator";
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(component.Get()), VE_OK);
    EXPECT_EQ(VComponentManager::UnRegisterComponentInstance(component.Get()), VE_COMP_NOT_REGISTERED);
}

TEST_F(VComponentManagerTest, RequirementsAreCheckedAndForgottenWhenTypesChange) {
    sRequirementsOfA = Requiring({{kTypeB, 2}});
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, CreateA), VE_OK);
    EXPECT_EQ(VComponentManager::RetainUniqueComponent(kTypeA), nullptr) << "B is missing";

    sVersionOfB = 1;
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeB, CreateB), VE_OK);
    EXPECT_EQ(VComponentManager::RetainUniqueComponent(kTypeA), nullptr) << "B is too old";
    auto unchecked = Retained::Adopt(VComponentManager::RetainUniqueComponent(kTypeA, kCOMPONENT_ANY_SIGNATURE, true));
    EXPECT_NE(unchecked.Get(), nullptr) << "the check can be skipped";

    // A new B forgets what was concluded about A.
    ASSERT_EQ(VComponentManager::UnRegisterComponentType(kTypeB), VE_OK);
    sVersionOfB = 3;
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeB, CreateB), VE_OK);
    auto made = Retained::Adopt(VComponentManager::RetainUniqueComponent(kTypeA));
    EXPECT_NE(made.Get(), nullptr);
}

TEST_F(VComponentManagerTest, RequirementBlocksAreReadWithinTheirBounds) {
    struct Case {
        const char* name;
        CComponentRequirements block;
        bool available;
    };
    CComponentRequirements oldVersion = Requiring({{kTypeB, 0}});
    oldVersion.fVersion = 0xFFFF;
    CComponentRequirements tooSmall = Requiring({{kTypeB, 0}});
    tooSmall.fSize = 51;
    // Every pair names its own type: only reading past them could find another.
    CComponentRequirements overclaimed = Requiring({{kTypeA, 0}, {kTypeA, 0}, {kTypeA, 0}, {kTypeA, 0}, {kTypeA, 0}});
    overclaimed.fCount = 1000;
    const Case cases[] = {
        {"an old block declares nothing", oldVersion, true},
        {"a small block declares nothing", tooSmall, true},
        {"a missing type", Requiring({{kTypeB, 0}}), false},
        {"its own type is not a need", Requiring({{kTypeA, 0}}), true},
        {"a count past the pairs stops at the pairs", overclaimed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sRequirementsOfA = c.block;
        ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, CreateA), VE_OK);
        auto made = Retained::Adopt(VComponentManager::RetainUniqueComponent(kTypeA));
        EXPECT_EQ(made.Get() != nullptr, c.available);
        ASSERT_EQ(VComponentManager::UnRegisterComponentType(kTypeA), VE_OK);
    }
}

TEST_F(VComponentManagerTest, TypesThatRequireEachOtherDoNotRecurseForever) {
    // A needs B; B (made by CreateA too, so with A's block) needs B itself and A.
    sRequirementsOfA = Requiring({{kTypeB, 0}, {kTypeA, 0}});
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeA, CreateA), VE_OK);
    ASSERT_EQ(VComponentManager::RegisterComponentCreator(kTypeB, CreateA), VE_OK);
    auto made = Retained::Adopt(VComponentManager::RetainUniqueComponent(kTypeA));
    EXPECT_NE(made.Get(), nullptr);
}

TEST_F(VComponentManagerTest, ALibraryRegistersTheTypesItLists) {
    VFilePath path = CopyOf(VELA_TEST_MODULE, "components.so");
    ASSERT_EQ(VComponentManager::RegisterComponentLibrary(path), VE_OK);
    {
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VComponentManager::RegisterComponentLibrary(path), VE_COMP_ALREADY_REGISTERED);
    }
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kModuleTypeA));
    EXPECT_TRUE(VComponentManager::IsComponentAvailable(kModuleTypeB));
    {
        auto component = Retained::Adopt(VComponentManager::RetainComponent(kModuleTypeB, 0x51515151));
        ASSERT_NE(component.Get(), nullptr);
        EXPECT_EQ(component->GetComponentType(), kModuleTypeB);
        EXPECT_EQ(component->GetComponentInfo().fVersion, 7u);
    }
    ASSERT_EQ(VComponentManager::UnRegisterComponentLibrary(path), VE_OK);
    EXPECT_FALSE(VComponentManager::IsComponentAvailable(kModuleTypeA));
    StErrorContextInstaller errors(false, true);
    EXPECT_EQ(VComponentManager::UnRegisterComponentLibrary(path), VE_COMP_NOT_REGISTERED);
}

// Two tasks registering one library at once: the check and the registration are one step, so exactly one passes.
TEST_F(VComponentManagerTest, ConcurrentRegistrationsOfOneLibraryPassOnce) {
    const VFilePath path = CopyOf(VELA_TEST_MODULE, "components.so");
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ready{0};
        VError results[2] = {VE_OK, VE_OK};
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            threads.emplace_back([&, i] {
                ready.fetch_add(1);
                while (ready.load() < 2)
                    std::this_thread::yield();
                results[i] = VComponentManager::RegisterComponentLibrary(path);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        ASSERT_EQ(int(results[0] == VE_OK) + int(results[1] == VE_OK), 1) << "round " << round;
        EXPECT_TRUE(results[0] == VE_COMP_ALREADY_REGISTERED || results[1] == VE_COMP_ALREADY_REGISTERED);
        ASSERT_EQ(VComponentManager::UnRegisterComponentLibrary(path), VE_OK);
        EXPECT_FALSE(VComponentManager::IsComponentAvailable(kModuleTypeA)) << "round " << round;
    }
}

TEST_F(VComponentManagerTest, ALibraryThatCannotServeIsRefusedWithItsOwnCode) {
    WriteBytes(Posix("broken.so"), "not a module");
    const VFilePath bare = CopyOf(VELA_TEST_BARE_MODULE, "bare.so");
    struct Case {
        VFilePath path;
        VError expected;
    };
    const Case cases[] = {
        // Not the memory-full code: the code of the file error pushed on the path.
        {VFilePath(Text(Posix("broken.so")), FPS_POSIX), VE_COMP_CANNOT_LOAD_LIBRARY},
        {VFilePath(Text(Posix("missing.so")), FPS_POSIX), VE_COMP_CANNOT_LOAD_LIBRARY},
        {bare, VE_COMP_BAD_LIBRARY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int32(c.expected));
        StErrorContextInstaller errors(false, true);
        EXPECT_EQ(VComponentManager::RegisterComponentLibrary(c.path), c.expected);
        ASSERT_FALSE(Codes(errors).empty());
        EXPECT_EQ(Codes(errors).back(), c.expected);
    }
}

TEST_F(VComponentManagerTest, TheLocalizationLanguageComesFromTheBundlesLanguageFolders) {
    constexpr uint32 kFrench = 1036;
    constexpr uint32 kGerman = 1031;
    struct Case {
        const char* name;
        std::vector<std::string> folders;
        bool inResources;
        uint32 dialect;
        uint32 expected;
    };
    const Case cases[] = {
        {"only English, French wanted", {"en.lproj"}, false, kFrench, DC_ENGLISH_US},
        {"French and English, French wanted", {"en.lproj", "fr.lproj"}, false, kFrench, kFrench},
        {"an English language name", {"French.lproj", "German.lproj"}, false, kFrench, kFrench},
        {"no language folder", {"Other"}, false, kFrench, kNoDialect},
        {"the last language recognised", {"de.lproj", "xx-nothing.lproj"}, false, kFrench, kGerman},
        {"in the resources", {"Contents/Resources/fr.lproj"}, true, kFrench, kFrench},
        {"not in the resources", {"fr.lproj"}, true, kFrench, kNoDialect},
        // Without a main bundle the wanted language is English.
        {"the system's choice without a main bundle", {"fr.lproj", "en.lproj"}, false, 0, DC_ENGLISH_US},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bundle = "Bundle" + std::to_string(++round);
        std::filesystem::create_directories(Posix(bundle));
        for (const std::string& folder : c.folders)
            std::filesystem::create_directories(Posix(bundle + "/" + folder));
        VFolder folder(VFilePath(Text(Posix(bundle) + "/"), FPS_POSIX));
        EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&folder, c.inResources, c.dialect), c.expected);
    }
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(nullptr, false, kFrench), kNoDialect);
    VFolder missing(VFilePath(Text(Posix("missing") + "/"), FPS_POSIX));
    EXPECT_EQ(VComponentManager::GetLocalizationLanguage(&missing, false, kFrench), kNoDialect);
}

TEST(XPosixLocalizationsTest, ThePreferredLanguagesChooseALocalization) {
    struct Case {
        std::vector<VString> localizations;
        std::vector<VString> preferred;
        const char* expected;
    };
    const Case cases[] = {
        {{"en", "fr", "fr-CA"}, {"fr-CA"}, "fr-CA"},
        {{"en", "fr"}, {"de", "fr-BE"}, "fr"},
        {{"en", "fr"}, {"ja"}, "en"},
        {{"de", "en"}, {}, "de"},
        {{}, {"fr"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_TRUE(XPosixLocalizations::PreferredLocalization(c.localizations, c.preferred)
                        .EqualToStringRaw(VString(c.expected)));
    }
}

// DeInit while another task registers, makes and looks up components: the registry that task holds stays until
// its call ends (ASan and TSan see any use of freed state).
TEST(VComponentManagerConcurrency, DeInitWhileAnotherTaskUsesTheRegistry) {
    ASSERT_TRUE(VComponentManager::Init());
    std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    std::thread user([&] {
        while (!stop.load()) {
            (void)VComponentManager::RegisterComponentCreator(kTypeB, CreateB);
            (void)Retained::Adopt(VComponentManager::RetainComponent(kTypeB));
            (void)VComponentManager::IsComponentAvailable(kTypeB);
            (void)VComponentManager::UnRegisterComponentType(kTypeB);
            calls.fetch_add(1);
        }
    });
    // Each shut-down waits for one more call of the user, so that the two keep meeting.
    bool progressed = true;
    for (int cycle = 0; cycle < 2000 && progressed; ++cycle) {
        VComponentManager::DeInit();
        ASSERT_TRUE(VComponentManager::Init());
        const int before = calls.load();
        progressed = test::WaitUntil([&] { return calls.load() > before; });
    }
    stop = true;
    user.join();
    EXPECT_TRUE(progressed);
    VComponentManager::DeInit();
}
