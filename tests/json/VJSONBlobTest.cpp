#include "json/VJSONBlob.h"

#include "core/VMemoryBuffer.h"
#include "support/RecordingRaiser.h"
#include "values/VBlob.h"
#include "json/VJSONClassStore.h"
#include "json/VJSONCloner.h"
#include "json/VJSONErrors.h"
#include "json/VJSONFunctionContext.h"
#include "json/VJSONObject.h"

#include "JSONTestSupport.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace vela {
namespace {

using test::RecordingRaiser;
using test::Units;

class BlobTest : public ::testing::Test {
protected:
    void SetUp() override { fStore = VJSONClassStore::CreateProcessStore(); }
    void TearDown() override {
        fStore.Clear();
        VJSONClassStore::ReleaseProcessStore();
    }
    static std::vector<uint8> Bytes(const VJSONObject* object) {
        const VJSONBlob* blob = VJSONBlob::CastJSONObject(object);
        if (blob == nullptr || blob->GetSize() == 0) return {};
        return std::vector<uint8>(blob->GetData(), blob->GetData() + blob->GetSize());
    }
    // Calls slice on blob with params; the result's bytes.
    static VJSONValue Slice(VJSONObject* blob, std::vector<VJSONValue> params, EJSONStatus* status = nullptr) {
        VJSONValue function = blob->GetProperty("slice");
        VJSONValue result;
        EJSONStatus answer = function.GetObjectPtr()->CallAsFunction(blob, nullptr, &params, result);
        if (status != nullptr) *status = answer;
        return result;
    }

    VRefPtr<VJSONClassStore> fStore;
};

const uint8 kTen[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST_F(BlobTest, SlicesClampTheirBoundsAndShareTheBytes) {
    VRefPtr<VJSONObject> blob = VJSONBlob::Create(kTen, sizeof kTen);
    const double nan = std::nan("");
    const double huge = 1e300;
    struct Case {
        std::vector<VJSONValue> params;
        std::vector<uint8> expected;
    } cases[] = {
        {{}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{VJSONValue(-3.0)}, {7, 8, 9}},
        {{VJSONValue(4.0), VJSONValue(2.0)}, {}},
        {{VJSONValue(-20.0), VJSONValue(100.0)}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{VJSONValue(2.9), VJSONValue(4.9)}, {2, 3}},
        {{VJSONValue(nan)}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {{VJSONValue(huge)}, {}},
        {{VJSONValue(-huge), VJSONValue(2.0)}, {0, 1}},
        {{VJSONValue(1.0), VJSONValue(-huge)}, {}},
        {{VJSONValue(JSON_undefined), VJSONValue(-8.0)}, {0, 1}},
    };
    for (const Case& c : cases) {
        EJSONStatus status = EJSONStatus_failed;
        VJSONValue slice = Slice(blob.Get(), c.params, &status);
        EXPECT_EQ(status, EJSONStatus_done);
        ASSERT_TRUE(slice.IsObject());
        EXPECT_EQ(Bytes(slice.GetObjectPtr()), c.expected);
    }
    VJSONValue whole = Slice(blob.Get(), {});
    EXPECT_EQ(VJSONBlob::CastJSONObject(whole.GetObjectPtr())->GetData(),
              VJSONBlob::CastJSONObject(blob.Get())->GetData());
    VJSONValue tail = Slice(whole.GetObjectPtr(), {VJSONValue(-2.0)}); // a slice of a slice
    EXPECT_EQ(Bytes(tail.GetObjectPtr()), (std::vector<uint8>{8, 9}));

    RecordingRaiser raiser;
    EJSONStatus status = EJSONStatus_done;
    Slice(blob.Get(), {VJSONValue(VString("1"))}, &status);
    EXPECT_EQ(status, EJSONStatus_failed);
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_PARAM_NOT_A_NUMBER});
}

TEST_F(BlobTest, PropertiesAndIndexesReadTheBytes) {
    VRefPtr<VJSONObject> blob = VJSONBlob::Create(kTen, sizeof kTen);
    EXPECT_EQ(blob->GetProperty("size").GetNumber(), 10.0);
    EJSONStatus status = EJSONStatus_failed;
    EXPECT_EQ(blob->GetPropertyByIndex(9, &status).GetNumber(), 9.0);
    EXPECT_EQ(blob->GetCountPropertiesByIndex(&status), 10u);
    {
        RecordingRaiser raiser;
        blob->GetPropertyByIndex(10, &status);
        EXPECT_EQ(status, EJSONStatus_failed);
        EXPECT_FALSE(blob->SetProperty("size", VJSONValue(3.0)));
        EXPECT_EQ(raiser.Codes(), (std::vector<VError>{VE_JSON_INDEX_PAST_END, VE_JSON_READ_ONLY_PROPERTY}));
    }
    VRefPtr<VJSONObject> empty = VJSONBlob::Create(nullptr, 0);
    EXPECT_EQ(empty->GetProperty("size").GetNumber(), 0.0);
    EXPECT_EQ(VJSONBlob::CastJSONObject(empty.Get())->GetData(), nullptr);
    VString text;
    blob->GetDescription(text);
    EXPECT_EQ(Units(text), u"10 bytes");
    blob->GetClassName(text);
    EXPECT_EQ(Units(text), u"Blob");
    EXPECT_EQ(blob->GetClassObject(), VJSONBlob::GetClass().Get());
    // Immutable: a copy is the blob itself.
    VJSONCloner cloner;
    VJSONValue copy;
    ASSERT_EQ(blob->Clone(copy, cloner), VE_OK);
    EXPECT_EQ(copy.GetObjectPtr(), blob.Get());
}

TEST_F(BlobTest, BinaryFormIsTheSizeThenTheBytes) {
    VRefPtr<VJSONObject> blob = VJSONBlob::Create(kTen, 3);
    VMemoryBuffer<1024, 2, 1048576> buffer;
    VError error = VE_OK;
    EXPECT_EQ(blob->GetImplementation()->IJSON_WriteToBuffer(buffer, &error), EJSONStatus_done);
    EXPECT_EQ(blob->GetImplementation()->IJSON_GetBinarySignature(), 0x4A426C62u);
    ASSERT_EQ(buffer.GetDataSize(), sizeof(uint64) + 3);
    uint64 size = 0;
    std::memcpy(&size, buffer.GetDataPtr(), sizeof size);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(static_cast<const uint8*>(buffer.GetDataPtr()) + sizeof size, kTen, 3), 0);

    VRefPtr<VJSONObject> classObject;
    uint64 code = 0;
    auto read = VRefPtr<VJSONBlob>::Adopt(
        VJSONBlob::CreateIJSONObject(nullptr, VJSONBlob::kBinarySignature, kTen, 4, classObject, &code));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->GetSize(), 4u);
    EXPECT_EQ(classObject, VJSONBlob::GetClass());
}

TEST_F(BlobTest, NewBlobCopiesOneBlobAndRefusesAnythingElse) {
    VRefPtr<VJSONObject> source = VJSONBlob::Create(kTen, 4);
    VRefPtr<VJSONObject> blobClass = VJSONBlob::GetClass();
    auto construct = [&](std::vector<VJSONValue> params) {
        VJSONFunctionContext context(blobClass.Get(), nullptr, &params, nullptr, nullptr);
        return VJSONClass::CreateInstance(blobClass.Get(), &context);
    };
    VRefPtr<VJSONObject> empty = construct({});
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->GetProperty("size").GetNumber(), 0.0);
    VRefPtr<VJSONObject> copy = construct({VJSONValue(source.Get())});
    ASSERT_TRUE(copy);
    EXPECT_EQ(Bytes(copy.Get()), (std::vector<uint8>{0, 1, 2, 3}));
    EXPECT_NE(VJSONBlob::CastJSONObject(copy.Get())->GetData(), VJSONBlob::CastJSONObject(source.Get())->GetData());

    RecordingRaiser raiser;
    EXPECT_FALSE(construct({VJSONValue(source.Get()), VJSONValue(source.Get())}));
    EXPECT_FALSE(construct({VJSONValue(1.0)})); // no empty blob passing for a copy
    EXPECT_EQ(raiser.Codes(), (std::vector<VError>{MakeJSONRuntimeError(58), VE_JSON_PARAM_NOT_AN_OBJECT}));
}

TEST_F(BlobTest, BlobParametersAreOptionalOnRequest) {
    VRefPtr<VJSONObject> source = VJSONBlob::Create(kTen, 2);
    std::vector<VJSONValue> params{VJSONValue(source.Get()), VJSONValue(2.0)};
    VJSONFunctionContext context(nullptr, nullptr, &params, nullptr, nullptr);
    VJSONBlobRange range = context.GetBlobParam(1, false);
    EXPECT_EQ(range.fFound, 1u);
    EXPECT_EQ(range.fSize, 2u);
    EXPECT_EQ(range.fData, VJSONBlob::CastJSONObject(source.Get())->GetData());
    RecordingRaiser raiser;
    EXPECT_EQ(context.GetBlobParam(2, true).fFound, 0u);
    EXPECT_TRUE(context.AreParametersValid());
    EXPECT_EQ(context.GetBlobParam(2, false).fFound, 0u);
    EXPECT_FALSE(context.AreParametersValid());
    EXPECT_EQ(raiser.Codes(), std::vector<VError>{VE_JSON_PARAM_NOT_AN_OBJECT});
}

// ---- The blob value's JSON form

TEST_F(BlobTest, BlobValuesTravelAsJSONBlobsBothWays) {
    VBlobWithPtr source(kTen, sizeof kTen);
    VJSONValue json;
    ASSERT_EQ(source.GetJSONValue(json), VE_OK);
    ASSERT_TRUE(json.IsObject());
    EXPECT_EQ(Bytes(json.GetObjectPtr()), std::vector<uint8>(kTen, kTen + 10));

    VBlobWithPtr copy(kTen, 3); // holds other bytes that must go
    ASSERT_EQ(copy.FromJSONValue(json), VE_OK);
    EXPECT_FALSE(copy.IsNull());
    EXPECT_TRUE(copy.EqualToSameKind(&source));

    // The JSON blob holds its own copy: the source may change afterwards.
    source.FromData(kTen, 2);
    EXPECT_EQ(Bytes(json.GetObjectPtr()).size(), 10u);

    VBlobWithPtr empty;
    ASSERT_EQ(empty.GetJSONValue(json), VE_OK);
    ASSERT_NE(VJSONBlob::CastJSONObject(json.GetObjectPtr()), nullptr);
    EXPECT_EQ(VJSONBlob::CastJSONObject(json.GetObjectPtr())->GetSize(), 0u);
    ASSERT_EQ(copy.FromJSONValue(json), VE_OK);
    EXPECT_EQ(copy.GetSize(), 0u);
    EXPECT_FALSE(copy.IsNull());
}

TEST_F(BlobTest, AnythingButAJSONBlobMakesTheBlobValueNull) {
    auto plain = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    const VJSONValue others[] = {VJSONValue(), VJSONValue(JSON_null), VJSONValue(VString("AAEC")), VJSONValue(3.0),
                                 VJSONValue(plain.Get())};
    for (const VJSONValue& other : others) {
        VBlobWithPtr blob(kTen, sizeof kTen);
        EXPECT_EQ(blob.FromJSONValue(other), VE_OK);
        EXPECT_TRUE(blob.IsNull()) << other.GetType();
        EXPECT_EQ(blob.GetSize(), 0u) << other.GetType();
    }
}

} // namespace
} // namespace vela
