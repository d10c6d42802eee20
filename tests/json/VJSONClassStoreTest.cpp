#include "json/VJSONClassStore.h"

#include "files/IFileSystemObject.h"
#include "files/VFile.h"

#include "support/RecordingRaiser.h"
#include "json/VJSONErrors.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include "JSONTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace vela {
namespace {

using test::RecordingRaiser;
using test::Units;

VRefPtr<VJSONClassStore> NewStore(const char* name) {
    auto store = VRefPtr<VJSONClassStore>::Adopt(new VJSONClassStore(name));
    store->AddRootClasses();
    return store;
}

VRefPtr<VJSONObject> AddPlain(VJSONClassStore* store, const char* name, uint32 flags = 0) {
    VRefPtr<VJSONObject> object =
        VJSONClass::Create(name, store->GetObjectClassObject().Get(), nullptr, store->GetName(), flags);
    VJSONClass::FromClassObject(object.Get())
        ->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{}, nullptr, VJSONClass::GenericInstantiator);
    return object;
}

TEST(VJSONClassStore, RootClassesFormTheirHierarchy) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    VRefPtr<VJSONObject> classClass = store->GetClassClassObject();
    struct Case {
        const char* name;
        int32 depth;
        const char* superclass;
    } cases[] = {{"Object", 0, nullptr}, {"Class", 1, "Object"}, {"Function", 1, "Object"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VRefPtr<VJSONObject> object = store->GetClassObject(c.name, false);
        ASSERT_TRUE(object);
        VJSONClass* cls = VJSONClass::FromClassObject(object.Get());
        EXPECT_EQ(cls->GetDepth(), c.depth);
        if (c.superclass == nullptr) {
            EXPECT_EQ(cls->GetSuperclass(), nullptr);
        } else {
            EXPECT_EQ(Units(cls->GetSuperclass()->GetName()), Units(VString(c.superclass)));
        }
        EXPECT_EQ(object->GetClassObject(), classClass.Get());
    }
    EXPECT_EQ(store->GetCount(), 3u);
}

TEST(VJSONClassStore, LookupsFoldCaseOnlyWhenAsked) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    EXPECT_TRUE(store->GetClassObject("object", true));
    EXPECT_FALSE(store->GetClassObject("object", false));
    EXPECT_TRUE(VJSONClassStore::EqualClassName("Blob", "BLOB", true));
    EXPECT_FALSE(VJSONClassStore::EqualClassName("Blob", "BLOB", false));
}

TEST(VJSONClassStore, HiddenClassesAreFoundButNotShown) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    store->AddClass(AddPlain(store.Get(), "Secret").Get(), VJSONClassStore::kHidden);
    store->AddClass(AddPlain(store.Get(), "Open").Get(), 0);
    EXPECT_TRUE(store->GetClassObject("Secret", false));
    EXPECT_FALSE(store->GetVisibleClassObject("Secret", false));
    EXPECT_TRUE(store->GetVisibleClassObject("Open", false));
    std::vector<VString> names;
    store->IJSON_GetPropertyNames(names, 0);
    std::vector<std::u16string> units;
    for (const VString& name : names)
        units.push_back(Units(name));
    EXPECT_EQ(std::count(units.begin(), units.end(), u"Secret"), 0);
    EXPECT_EQ(std::count(units.begin(), units.end(), u"Open"), 1);

    // An object that is no class is not entered.
    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    store->AddClass(plain.Get(), 0);
    EXPECT_EQ(store->GetCount(), 5u);
}

TEST(VJSONClassStore, IdentifiersWalkComponentStores) {
    VRefPtr<VJSONClassStore> top = NewStore("top");
    VRefPtr<VJSONClassStore> a = NewStore("a");
    VRefPtr<VJSONClassStore> b = NewStore("b");
    VRefPtr<VJSONObject> c = AddPlain(b.Get(), "C");
    b->AddClass(c.Get(), 0);
    a->AddComponentClassStore("b", b.Get());
    top->AddComponentClassStore("a", a.Get());
    top->AddComponentClassStore("a", b.Get()); // a name already taken keeps its store
    EXPECT_EQ(top->GetClassObjectFromIdentifier("a.b.C"), c);
    EXPECT_FALSE(top->GetClassObjectFromIdentifier("x.C"));
    EXPECT_FALSE(top->GetClassObjectFromIdentifier("a.C"));
    EXPECT_TRUE(top->GetClassObjectFromIdentifier("Object"));

    VRefPtr<VJSONObject> singleton = VJSONClass::Create("Shared", b->GetObjectClassObject().Get(), nullptr, "b",
                                                        VJSONClass::kShared | VJSONClass::kSingleton);
    VJSONClass::FromClassObject(singleton.Get())
        ->SetFunctions(std::vector<VJSONClass::FunctionDescriptor>{}, nullptr, VJSONClass::SharedObjectInstantiator);
    b->AddClass(singleton.Get(), 0);
    std::vector<VString> identifiers;
    top->GetPublicSharedSingletonIdentifiers(identifiers, "");
    ASSERT_EQ(identifiers.size(), 1u);
    EXPECT_EQ(Units(identifiers[0]), u"a.b.Shared");
    VRefPtr<VJSONObject> instance = top->GetSingletonObjectFromIdentifier("a.b.Shared", nullptr);
    ASSERT_TRUE(instance);
    EXPECT_EQ(instance->GetClassObject(), singleton.Get());
    top->RemoveComponentClassStores();
    EXPECT_FALSE(top->GetClassObjectFromIdentifier("a.b.C"));
}

TEST(VJSONClassStore, AsAnObjectItAnswersClassesAndRefusesChanges) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    VRefPtr<VJSONClassStore> part = NewStore("part");
    store->AddComponentClassStore("part", part.Get());
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject(nullptr, store.Get()));
    EXPECT_EQ(object->GetProperty("Function").GetObjectPtr(), store->GetFunctionClassObject().Get());
    VJSONValue nested = object->GetProperty("part");
    ASSERT_TRUE(nested.IsObject());
    EXPECT_EQ(nested.GetObjectPtr()->GetImplementation(), part.Get());
    EXPECT_TRUE(object->GetProperty("Nothing").IsUndefined());
    RecordingRaiser raiser;
    EXPECT_FALSE(object->SetProperty("Object", VJSONValue(1.0)));
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_STORE_PROPERTY_READ_ONLY});
    VString description;
    object->GetDescription(description);
    EXPECT_EQ(Units(description), u"<<Class Store>>");
}

TEST(VJSONClassStore, ObsoleteClassesAndRedefinedOnesLeave) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    for (const char* name : {"Kept", "Redefined", "Stale"})
        store->AddClass(AddPlain(store.Get(), name).Get(), 0);
    VJSONClass::FromClassObject(store->GetClassObject("Stale", false).Get())->SetObsolete();
    VJSONClassStore::DefinitionMap definitions;
    definitions.emplace(VString("Redefined"), VRefPtr<IFile>());
    std::vector<VString> removed;
    store->RemoveObsoleteClasses(definitions, removed);
    EXPECT_TRUE(removed.empty()); // classes without a file are not reported
    EXPECT_TRUE(store->GetClassObject("Kept", false));
    EXPECT_FALSE(store->GetClassObject("Redefined", false));
    EXPECT_FALSE(store->GetVisibleClassObject("Stale", false));
}

// Sets the modification time of path to seconds since the epoch.
void SetModified(const char* path, long seconds) {
    timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimes(path, times), 0);
}

TEST(VJSONClassStore, ClassesOfDefinitionFilesGoStaleWhenTheFileChangesOrGoes) {
    char path[] = "/tmp/vela-class-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    SetModified(path, 1000000000);
    auto file = VRefPtr<VFile>::Adopt(new VFile(VString(path), FPS_POSIX));
    VRefPtr<VJSONClassStore> store = NewStore("test");
    for (const char* name : {"Defined", "Orphan"}) {
        VRefPtr<VJSONObject> object =
            VJSONClass::Create(name, store->GetObjectClassObject().Get(), file.Get(), "test", 0);
        store->AddClass(object.Get(), 0);
    }
    VJSONClass* defined = VJSONClass::FromClassObject(store->GetClassObject("Defined", false).Get());
    EXPECT_FALSE(defined->IsObsolete());
    VJSONClassStore::DefinitionMap definitions;
    definitions.emplace(VString("Defined"), VRefPtr<IFile>(file.Get()));
    std::vector<VString> removed;
    store->RemoveObsoleteClasses(definitions, removed); // the class no file defines any more goes
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(Units(removed[0]), u"Orphan");

    SetModified(path, 1000000100); // edited since the class was made
    EXPECT_TRUE(defined->IsObsolete());
    SetModified(path, 1000000000);
    EXPECT_FALSE(defined->IsObsolete());
    ASSERT_EQ(unlink(path), 0);
    EXPECT_TRUE(defined->IsObsolete());
    removed.clear();
    store->RemoveObsoleteClasses(definitions, removed);
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_FALSE(store->GetClassObject("Defined", false));
}

TEST(VJSONClassStore, DuplicatesShareClassesButNotComponents) {
    VRefPtr<VJSONClassStore> store = NewStore("test");
    store->AddComponentClassStore("part", NewStore("part").Get());
    VRefPtr<VJSONClassStore> copy = store->Duplicate();
    store.Clear(); // the copy keeps the root classes working
    EXPECT_EQ(Units(copy->GetName()), u"test");
    EXPECT_FALSE(copy->GetComponentClassStore("part"));
    VRefPtr<VJSONObject> object = copy->GetClassObject("Object", false);
    VJSONValue make = object->GetProperty("new");
    ASSERT_TRUE(make.IsObject());
    EXPECT_EQ(object->GetClassObject(), copy->GetClassClassObject().Get());
}

TEST(VJSONClassStore, TheProcessStoreIsCreatedOnceAndReleased) {
    VRefPtr<VJSONClassStore> store = VJSONClassStore::CreateProcessStore();
    ASSERT_TRUE(store);
    EXPECT_EQ(Units(store->GetName()), u"zo");
    EXPECT_EQ(VJSONClassStore::CreateProcessStore(), store);
    EXPECT_EQ(VJSONClassStore::GetProcessStore(), store);
    // A class made without superclass derives from the process store's "Object".
    VRefPtr<VJSONObject> free = VJSONClass::Create("Free", nullptr, nullptr, "zo", 0);
    EXPECT_EQ(VJSONClass::FromClassObject(free.Get())->GetSuperclassObject(), store->GetObjectClassObject().Get());
    // Function objects are formulas; other objects are not.
    VRefPtr<VJSONObject> call(VJSONClass::FromClassObject(store->GetFunctionClassObject().Get())->GetFunction("call"));
    ASSERT_TRUE(call);
    EXPECT_TRUE(IsObjectAFormula(call.Get()));
    EXPECT_TRUE(IsObjectAFormula(VJSONValue(call.Get())));
    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    EXPECT_FALSE(IsObjectAFormula(plain.Get()));
    EXPECT_FALSE(IsObjectAFormula(VJSONValue(1.0)));
    VJSONClassStore::ReleaseProcessStore();
    EXPECT_FALSE(VJSONClassStore::GetProcessStore());
    EXPECT_FALSE(IsObjectAFormula(call.Get()));
}

} // namespace
} // namespace vela
