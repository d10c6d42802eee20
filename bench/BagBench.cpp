// Bags against the standard containers an application would otherwise use for records:
// - bag_attr_set_get: a fresh record, 20 attributes of mixed kinds set by their names, then all read back;
//   the peer is an unordered_map from string to a variant.
// - bag_clone: a deep copy (and its release) of a tree of 1,000 elements with 10 attributes each; the peer is the
//   same tree of std::map records copied by value.
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "values/VBagArray.h"
#include "values/VReal.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace {

using namespace vela;

constexpr int kAttributes = 20;

const std::array<const char*, kAttributes> kNames = {
    "id",     "name",  "count",   "ratio", "enabled", "owner", "size",   "weight", "visible", "label",
    "offset", "title", "version", "scale", "locked",  "path",  "length", "factor", "hidden",  "comment"};

// The value of attribute i of iteration n: a long, a string, a 64-bit long, a real, then a boolean, in turn.
enum class Kind { eLong, eString, eLong8, eReal, eBool };
Kind KindOf(int i) {
    return Kind(i % 5);
}

void BM_BagAttrSetGet(benchmark::State& state) {
    std::vector<StPackedDictionaryKey> keys(kNames.begin(), kNames.end());
    std::vector<VString> texts;
    for (int i = 0; i < kAttributes; ++i)
        texts.emplace_back(("text " + std::to_string(i)).c_str());
    int64_t n = 0;
    for (auto _ : state) {
        VValueBag bag;
        for (int i = 0; i < kAttributes; ++i) {
            switch (KindOf(i)) {
            case Kind::eLong:
                bag.SetLong(keys[i], int32(n + i));
                break;
            case Kind::eString:
                bag.SetString(keys[i], texts[i]);
                break;
            case Kind::eLong8:
                bag.SetLong8(keys[i], n << 20);
                break;
            case Kind::eReal:
                bag.SetReal(keys[i], double(n) * 0.5);
                break;
            case Kind::eBool:
                bag.SetBool(keys[i], (n & 1) != 0);
                break;
            }
        }
        int64_t sum = 0;
        VString text;
        for (int i = 0; i < kAttributes; ++i) {
            switch (KindOf(i)) {
            case Kind::eLong: {
                int32 value = 0;
                bag.GetLong(keys[i], value);
                sum += value;
                break;
            }
            case Kind::eString:
                bag.GetString(keys[i], text);
                sum += text.GetLength();
                break;
            case Kind::eLong8: {
                int64 value = 0;
                bag.GetLong8(keys[i], value);
                sum += value;
                break;
            }
            case Kind::eReal: {
                double value = 0;
                bag.GetReal(keys[i], value);
                sum += int64_t(value);
                break;
            }
            case Kind::eBool: {
                bool value = false;
                bag.GetBool(keys[i], value);
                sum += value ? 1 : 0;
                break;
            }
            }
        }
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.SetItemsProcessed(state.iterations() * kAttributes * 2);
}

using PeerValue = std::variant<bool, int32_t, int64_t, double, std::string>;

void BM_MapAttrSetGet(benchmark::State& state) {
    std::vector<std::string> keys(kNames.begin(), kNames.end());
    std::vector<std::string> texts;
    for (int i = 0; i < kAttributes; ++i)
        texts.push_back("text " + std::to_string(i));
    int64_t n = 0;
    for (auto _ : state) {
        std::unordered_map<std::string, PeerValue> record;
        for (int i = 0; i < kAttributes; ++i) {
            switch (KindOf(i)) {
            case Kind::eLong:
                record.insert_or_assign(keys[i], int32_t(n + i));
                break;
            case Kind::eString:
                record.insert_or_assign(keys[i], texts[i]);
                break;
            case Kind::eLong8:
                record.insert_or_assign(keys[i], int64_t(n << 20));
                break;
            case Kind::eReal:
                record.insert_or_assign(keys[i], double(n) * 0.5);
                break;
            case Kind::eBool:
                record.insert_or_assign(keys[i], (n & 1) != 0);
                break;
            }
        }
        int64_t sum = 0;
        std::string text; // strings are copied out, as the bag copies them into a VString
        for (int i = 0; i < kAttributes; ++i) {
            auto found = record.find(keys[i]);
            if (found == record.end()) continue;
            const PeerValue& value = found->second;
            switch (KindOf(i)) {
            case Kind::eLong:
                sum += std::get<int32_t>(value);
                break;
            case Kind::eString:
                text = std::get<std::string>(value);
                sum += int64_t(text.size());
                break;
            case Kind::eLong8:
                sum += std::get<int64_t>(value);
                break;
            case Kind::eReal:
                sum += int64_t(std::get<double>(value));
                break;
            case Kind::eBool:
                sum += std::get<bool>(value) ? 1 : 0;
                break;
            }
        }
        benchmark::DoNotOptimize(sum);
        ++n;
    }
    state.SetItemsProcessed(state.iterations() * kAttributes * 2);
}

// ---- Trees: a root holding 10 groups of 99 items: 1,000 elements, each with 10 attributes.

constexpr int kGroups = 10;
constexpr int kItemsPerGroup = 99;
constexpr int kTreeAttributes = 10;

void FillBag(VValueBag& bag, int seed) {
    for (int i = 0; i < kTreeAttributes; ++i) {
        StPackedDictionaryKey key(kNames[i]);
        switch (KindOf(i)) {
        case Kind::eLong:
            bag.SetLong(key, seed + i);
            break;
        case Kind::eString:
            bag.SetString(key, VString(("item " + std::to_string(seed)).c_str()));
            break;
        case Kind::eLong8:
            bag.SetLong8(key, int64(seed) << 20);
            break;
        case Kind::eReal:
            bag.SetReal(key, seed * 0.25);
            break;
        case Kind::eBool:
            bag.SetBool(key, (seed & 1) != 0);
            break;
        }
    }
}

VRefPtr<VValueBag> MakeBagTree() {
    auto root = VRefPtr<VValueBag>::Adopt(new VValueBag);
    FillBag(*root, 0);
    for (int g = 0; g < kGroups; ++g) {
        auto group = VRefPtr<VValueBag>::Adopt(new VValueBag);
        FillBag(*group, g);
        for (int i = 0; i < kItemsPerGroup; ++i) {
            auto item = VRefPtr<VValueBag>::Adopt(new VValueBag);
            FillBag(*item, g * 1000 + i);
            group->AddElement("item", item.Get());
        }
        root->AddElement("group", group.Get());
    }
    return root;
}

struct PeerNode {
    std::map<std::string, PeerValue> fAttributes;
    std::map<std::string, std::vector<PeerNode>> fElements;
};

void FillNode(PeerNode& node, int seed) {
    for (int i = 0; i < kTreeAttributes; ++i) {
        std::string key = kNames[i];
        switch (KindOf(i)) {
        case Kind::eLong:
            node.fAttributes[key] = int32_t(seed + i);
            break;
        case Kind::eString:
            node.fAttributes[key] = "item " + std::to_string(seed);
            break;
        case Kind::eLong8:
            node.fAttributes[key] = int64_t(seed) << 20;
            break;
        case Kind::eReal:
            node.fAttributes[key] = seed * 0.25;
            break;
        case Kind::eBool:
            node.fAttributes[key] = (seed & 1) != 0;
            break;
        }
    }
}

PeerNode MakePeerTree() {
    PeerNode root;
    FillNode(root, 0);
    for (int g = 0; g < kGroups; ++g) {
        PeerNode group;
        FillNode(group, g);
        for (int i = 0; i < kItemsPerGroup; ++i) {
            PeerNode item;
            FillNode(item, g * 1000 + i);
            group.fElements["item"].push_back(std::move(item));
        }
        root.fElements["group"].push_back(std::move(group));
    }
    return root;
}

void BM_BagClone(benchmark::State& state) {
    VRefPtr<VValueBag> tree = MakeBagTree();
    for (auto _ : state) {
        VRefPtr<VValueBag> copy = VRefPtr<VValueBag>::Adopt(tree->Clone());
        benchmark::DoNotOptimize(copy.Get());
    }
    state.SetItemsProcessed(state.iterations() * (1 + kGroups * (1 + kItemsPerGroup)));
}

void BM_MapClone(benchmark::State& state) {
    PeerNode tree = MakePeerTree();
    for (auto _ : state) {
        PeerNode copy = tree;
        benchmark::DoNotOptimize(copy.fAttributes.size());
    }
    state.SetItemsProcessed(state.iterations() * (1 + kGroups * (1 + kItemsPerGroup)));
}

} // namespace

BENCHMARK(BM_BagAttrSetGet)->Name("bag_attr_set_get/ours");
BENCHMARK(BM_MapAttrSetGet)->Name("bag_attr_set_get/peer");
BENCHMARK(BM_BagClone)->Name("bag_clone/ours");
BENCHMARK(BM_MapClone)->Name("bag_clone/peer");
