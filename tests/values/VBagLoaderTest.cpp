#include "values/VBagLoader.h"

#include "core/VRefPtr.h"
#include "values/VValueBag.h"

#include <gtest/gtest.h>

namespace vela {
namespace {

VUUID Identifier(uint8 first) {
    VUUIDBuffer buffer;
    buffer.fBytes[0] = first;
    buffer.fBytes[15] = 0x5A;
    return VUUID(buffer);
}

VRefPtr<VValueBag> BagWith(const VUUID& id) {
    VRefPtr<VValueBag> bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    bag->SetVUUID("uuid", id);
    return bag;
}

TEST(VBagLoader, WithoutRegenerationStoredIdentifiersAreKept) {
    VBagLoader loader(false, false);
    VUUID out;
    EXPECT_TRUE(loader.GetUUID(*BagWith(Identifier(1)), out));
    EXPECT_EQ(out, Identifier(1));

    VValueBag none;
    EXPECT_FALSE(loader.GetUUID(none, out));
    EXPECT_FALSE(out.IsNull()); // a fresh identifier
    EXPECT_NE(out, Identifier(1));

    VUUID kept = Identifier(9);
    EXPECT_TRUE(loader.ResolveUUID(kept));
    EXPECT_EQ(kept, Identifier(9));
}

TEST(VBagLoader, RegenerationMapsEachStoredIdentifierOnce) {
    VBagLoader loader(true, false);
    EXPECT_TRUE(loader.IsRegeneratingUUIDs());
    VUUID first;
    VUUID again;
    VUUID other;
    EXPECT_TRUE(loader.GetUUID(*BagWith(Identifier(1)), first));
    EXPECT_TRUE(loader.GetUUID(*BagWith(Identifier(1)), again));
    EXPECT_TRUE(loader.GetUUID(*BagWith(Identifier(2)), other));
    EXPECT_FALSE(first.IsNull());
    EXPECT_NE(first, Identifier(1));
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);

    VUUID resolved = Identifier(1);
    EXPECT_TRUE(loader.ResolveUUID(resolved));
    EXPECT_EQ(resolved, first);
    VUUID unknown = Identifier(3);
    EXPECT_FALSE(loader.ResolveUUID(unknown));
    EXPECT_EQ(unknown, Identifier(3));

    // A stored null identifier gets a fresh one each time and enters no map.
    VUUID fromNull;
    EXPECT_TRUE(loader.GetUUID(*BagWith(VUUID()), fromNull));
    EXPECT_FALSE(fromNull.IsNull());
    VValueBag none;
    VUUID fresh;
    EXPECT_FALSE(loader.GetUUID(none, fresh));
    EXPECT_FALSE(fresh.IsNull());
}

} // namespace
} // namespace vela
