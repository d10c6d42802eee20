// Readers of one dictionary on several threads at once: const access must change nothing that another reader
// sees (ThreadSanitizer checks this suite).
#include "values/VPackedDictionary.h"

#include "core/VString.h"
#include "support/RunTogether.h"
#include "values/StoredBytes.h"
#include "values/VScalar.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

using Attributes = VPackedDictionary_with_backstore<VPackedValue_VValueSingle>;
using test::CountFailuresTogether;
using test::ReadBytes;
using test::WrittenBytes;

constexpr int kReaders = 4;
constexpr int kEntries = 12; // past the index threshold

std::string Name(int i) {
    return "k" + std::to_string(i);
}

// Every name found with its value, converted to text (a kind other than the stored one), and a missing name.
bool ReadsEveryEntry(const Attributes& attributes) {
    for (int i = 0; i < kEntries; ++i) {
        VString text;
        if (!attributes.GetValue(StPackedDictionaryKey(Name(i).c_str()), text)) return false;
        if (!text.EqualToStringRaw(VString(std::to_string(i * 1000).c_str()))) return false;
        const VValueSingle* value = attributes.GetNthValue(size_t(i));
        if (value == nullptr || value->GetLong() != i * 1000) return false;
    }
    VLong missing;
    return !attributes.GetValue(StPackedDictionaryKey("absent"), missing);
}

Attributes& Longs(Attributes& attributes) {
    for (int i = 0; i < kEntries; ++i)
        attributes.Append(StPackedDictionaryKey(Name(i).c_str()), VLong(i * 1000));
    return attributes;
}

TEST(VPackedDictionaryConcurrency, FreshDictionariesAreReadTogether) {
    Attributes attributes;
    const Attributes& shared = Longs(attributes);
    EXPECT_EQ(CountFailuresTogether(kReaders, [&] { return ReadsEveryEntry(shared); }), 0);
}

TEST(VPackedDictionaryConcurrency, DictionariesReadFromAStreamAreReadTogether) {
    Attributes built;
    const std::string bytes = WrittenBytes([&](VStream* s) { Longs(built).WriteToStream(s, false); });
    Attributes read;
    ASSERT_EQ(ReadBytes(bytes, [&](VStream* s) { return read.ReadFromStream(s); }), VE_OK);
    const Attributes& shared = read;
    EXPECT_EQ(CountFailuresTogether(kReaders, [&] { return ReadsEveryEntry(shared); }), 0);
}

// Replacements of another size wait for a pack: writers, copies and comparisons on several threads see them
// without packing the dictionary they share.
TEST(VPackedDictionaryConcurrency, ValuesWaitingForAPackAreWrittenTogether) {
    Attributes attributes;
    Longs(attributes);
    attributes.Append(StPackedDictionaryKey("text"), VString("a long text"));
    attributes.SetExistingValue(StPackedDictionaryKey("text"), VString("short"));
    attributes.SetExistingValue(StPackedDictionaryKey("k0"), VString("longer than a long"));
    ASSERT_TRUE(attributes.IsPackNeeded());
    Attributes expected; // the same entries, appended as they now stand
    expected.Append(StPackedDictionaryKey("k0"), VString("longer than a long"));
    for (int i = 1; i < kEntries; ++i)
        expected.Append(StPackedDictionaryKey(Name(i).c_str()), VLong(i * 1000));
    expected.Append(StPackedDictionaryKey("text"), VString("short"));
    const std::string expectedBytes = WrittenBytes([&](VStream* s) { expected.WriteToStream(s, true); });

    const Attributes& shared = attributes;
    EXPECT_EQ(CountFailuresTogether(kReaders,
                                    [&] {
                                        Attributes copy;
                                        copy = shared;
                                        const std::string bytes =
                                            WrittenBytes([&](VStream* s) { shared.WriteToStream(s, true); });
                                        bool equal = true;
                                        for (size_t i = 0; i < shared.GetCount(); ++i)
                                            equal = equal && shared.NthEqualsStored(i, expected, i) &&
                                                    copy.NthEqualsStored(i, shared, i);
                                        return equal && bytes == expectedBytes;
                                    }),
              0);
}

} // namespace
} // namespace vela
