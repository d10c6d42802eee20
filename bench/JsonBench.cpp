// The JSON model against header-only peers: building and releasing a large tree, looking properties up by name,
// and releasing cyclic graphs of growing size.

#include "BenchCold.h"

#include "core/VString.h"
#include "json/VJSONArray.h"
#include "json/VJSONCloner.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <string>
#include <vector>

namespace {

using vela::JSON_array;
using vela::JSON_false;
using vela::JSON_object;
using vela::JSON_true;
using vela::VJSONArray;
using vela::VJSONObject;
using vela::VJSONValue;
using vela::VString;

constexpr int kTreeObjects = 100000;
constexpr int kNames = 16;

// Ten properties per object: strings short and long, numbers, a boolean and a nested array of three numbers.
const char* const kKeys[10] = {"id", "name", "label", "score", "ratio", "kind", "x", "y", "active", "tags"};

std::string NameText(int i) {
    return "item-" + std::to_string(i);
}

std::string LabelText(int i) {
    return "a label long enough to need the heap #" + std::to_string(i);
}

struct OurTexts {
    VString fKeys[10];
    VString fNames[kNames];
    VString fLabels[kNames];
    VString fKind;
    OurTexts() : fKind("record") {
        for (int i = 0; i < 10; ++i)
            fKeys[i].FromCString(kKeys[i]);
        for (int i = 0; i < kNames; ++i) {
            fNames[i].FromCString(NameText(i).c_str());
            fLabels[i].FromCString(LabelText(i).c_str());
        }
    }
};

struct PeerTexts {
    std::string fNames[kNames];
    std::string fLabels[kNames];
    PeerTexts() {
        for (int i = 0; i < kNames; ++i) {
            fNames[i] = NameText(i);
            fLabels[i] = LabelText(i);
        }
    }
};

// The tree: an array of kTreeObjects objects.
VJSONValue MakeTreeOurs() {
    static const OurTexts texts;
    const VString* keys = texts.fKeys;
    VJSONValue root(JSON_array);
    VJSONArray* items = root.GetArrayPtr();
    for (int i = 0; i < kTreeObjects; ++i) {
        VJSONValue item(JSON_object);
        VJSONObject* object = item.GetObjectPtr();
        object->SetProperty(keys[0], VJSONValue(double(i)));
        object->SetProperty(keys[1], VJSONValue(texts.fNames[i % kNames]));
        object->SetProperty(keys[2], VJSONValue(texts.fLabels[i % kNames]));
        object->SetProperty(keys[3], VJSONValue(i * 0.5));
        object->SetProperty(keys[4], VJSONValue(1.0 / (i + 1)));
        object->SetProperty(keys[5], VJSONValue(texts.fKind));
        object->SetProperty(keys[6], VJSONValue(double(i % 640)));
        object->SetProperty(keys[7], VJSONValue(double(i % 480)));
        object->SetProperty(keys[8], VJSONValue(i % 2 == 0 ? JSON_true : JSON_false));
        VJSONValue tags(JSON_array);
        VJSONArray* list = tags.GetArrayPtr();
        list->Push(VJSONValue(double(i)));
        list->Push(VJSONValue(double(i + 1)));
        list->Push(VJSONValue(double(i + 2)));
        object->SetProperty(keys[9], std::move(tags));
        items->Push(std::move(item));
    }
    return root;
}

// Each side builds and frees one tree before the timed loop: the first tree of a process also pays for growing
// the heap, which would otherwise count against whichever side runs first.
void BuildTreeOurs() {
    VJSONValue root = MakeTreeOurs();
    benchmark::DoNotOptimize(root.GetArrayPtr());
}

void BM_BuildTree_Ours(benchmark::State& state) {
    BuildTreeOurs();
    for (auto _ : state)
        BuildTreeOurs();
    state.SetItemsProcessed(state.iterations() * kTreeObjects);
}

nlohmann::ordered_json MakeTreeNlohmann() {
    static const PeerTexts texts;
    nlohmann::ordered_json root = nlohmann::ordered_json::array();
    for (int i = 0; i < kTreeObjects; ++i) {
        nlohmann::ordered_json item = nlohmann::ordered_json::object();
        item[kKeys[0]] = double(i);
        item[kKeys[1]] = texts.fNames[i % kNames];
        item[kKeys[2]] = texts.fLabels[i % kNames];
        item[kKeys[3]] = i * 0.5;
        item[kKeys[4]] = 1.0 / (i + 1);
        item[kKeys[5]] = "record";
        item[kKeys[6]] = double(i % 640);
        item[kKeys[7]] = double(i % 480);
        item[kKeys[8]] = i % 2 == 0;
        nlohmann::ordered_json tags = nlohmann::ordered_json::array();
        tags.push_back(double(i));
        tags.push_back(double(i + 1));
        tags.push_back(double(i + 2));
        item[kKeys[9]] = std::move(tags);
        root.push_back(std::move(item));
    }
    return root;
}

void BuildTreeNlohmann() {
    nlohmann::ordered_json root = MakeTreeNlohmann();
    benchmark::DoNotOptimize(root);
}

void BM_BuildTree_Nlohmann(benchmark::State& state) {
    BuildTreeNlohmann();
    for (auto _ : state)
        BuildTreeNlohmann();
    state.SetItemsProcessed(state.iterations() * kTreeObjects);
}

void BuildTreeRapidJSON() {
    static const PeerTexts texts;
    {
        rapidjson::Document document;
        document.SetArray();
        auto& allocator = document.GetAllocator();
        for (int i = 0; i < kTreeObjects; ++i) {
            rapidjson::Value item(rapidjson::kObjectType);
            const std::string& name = texts.fNames[i % kNames];
            const std::string& label = texts.fLabels[i % kNames];
            item.AddMember(rapidjson::StringRef(kKeys[0]), double(i), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[1]),
                           rapidjson::Value(name.c_str(), rapidjson::SizeType(name.size()), allocator), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[2]),
                           rapidjson::Value(label.c_str(), rapidjson::SizeType(label.size()), allocator), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[3]), i * 0.5, allocator);
            item.AddMember(rapidjson::StringRef(kKeys[4]), 1.0 / (i + 1), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[5]), rapidjson::Value("record", allocator), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[6]), double(i % 640), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[7]), double(i % 480), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[8]), i % 2 == 0, allocator);
            rapidjson::Value tags(rapidjson::kArrayType);
            tags.PushBack(double(i), allocator);
            tags.PushBack(double(i + 1), allocator);
            tags.PushBack(double(i + 2), allocator);
            item.AddMember(rapidjson::StringRef(kKeys[9]), tags, allocator);
            document.PushBack(item, allocator);
        }
        benchmark::DoNotOptimize(document);
    }
}

void BM_BuildTree_RapidJSON(benchmark::State& state) {
    BuildTreeRapidJSON();
    for (auto _ : state)
        BuildTreeRapidJSON();
    state.SetItemsProcessed(state.iterations() * kTreeObjects);
}

BENCHMARK(BM_BuildTree_Ours)->Name("json_build_tree/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree_Nlohmann)->Name("json_build_tree/peer")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree_Ours)->Name("json_build_tree_rapidjson/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildTree_RapidJSON)->Name("json_build_tree_rapidjson/peer")->Unit(benchmark::kMillisecond);

// ---- Property lookup by name in objects of 10 and 1,000 properties: every name once per iteration.

std::string PropertyName(int i) {
    return "property_" + std::to_string(i);
}

void BM_PropertyGet_Ours(benchmark::State& state) {
    int count = int(state.range(0));
    std::vector<VString> names;
    VJSONValue holder(JSON_object);
    VJSONObject* object = holder.GetObjectPtr();
    for (int i = 0; i < count; ++i) {
        names.emplace_back(PropertyName(i).c_str());
        object->SetProperty(names.back(), VJSONValue(double(i)));
    }
    for (auto _ : state) {
        double sum = 0;
        for (const VString& name : names)
            sum += object->GetProperty(name).GetNumber();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_PropertyGet_Nlohmann(benchmark::State& state) {
    int count = int(state.range(0));
    std::vector<std::string> names;
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (int i = 0; i < count; ++i) {
        names.push_back(PropertyName(i));
        object[names.back()] = double(i);
    }
    const nlohmann::ordered_json& constObject = object;
    for (auto _ : state) {
        double sum = 0;
        for (const std::string& name : names) {
            auto found = constObject.find(name);
            if (found != constObject.end()) sum += found->get<double>();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_PropertyGet_Ours)->Name("json_property_get/ours")->Arg(10)->Arg(1000);
BENCHMARK(BM_PropertyGet_Nlohmann)->Name("json_property_get/peer")->Arg(10)->Arg(1000);

// ---- Releasing cyclic graphs: a ring of objects and arrays, each node also holding a back reference to the
// first one, freed by dropping the last outside reference. Ours releases one ring of 100,000 nodes, the peer
// side ten rings of 10,000: a ratio near 1 means the release time grows linearly.

VJSONValue BuildRing(int nodes) {
    static const VString kNext("next");
    static const VString kFirst("first");
    static const VString kIndex("index");
    VJSONValue first(JSON_object);
    VJSONValue current = first;
    for (int i = 1; i < nodes; ++i) {
        VJSONValue next(i % 4 == 0 ? JSON_array : JSON_object);
        if (VJSONObject* object = current.GetObjectPtr(); object != nullptr) {
            object->SetProperty(kIndex, VJSONValue(double(i)));
            object->SetProperty(kFirst, first);
            object->SetProperty(kNext, next);
        } else {
            current.GetArrayPtr()->Push(first);
            current.GetArrayPtr()->Push(next);
        }
        current = std::move(next);
    }
    if (VJSONObject* object = current.GetObjectPtr(); object != nullptr) {
        object->SetProperty(kNext, first);
    } else {
        current.GetArrayPtr()->Push(first);
    }
    return first;
}

void BM_CycleRelease(benchmark::State& state, int rings, int nodes) {
    { std::vector<VJSONValue> warmUp{BuildRing(rings * nodes)}; }
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<VJSONValue> built;
        for (int i = 0; i < rings; ++i)
            built.push_back(BuildRing(nodes));
        state.ResumeTiming();
        built.clear();
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * rings * nodes);
}

BENCHMARK_CAPTURE(BM_CycleRelease, ours, 1, 100000)
    ->Name("json_cycle_release_scaling/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CycleRelease, peer, 10, 10000)
    ->Name("json_cycle_release_scaling/peer")
    ->Unit(benchmark::kMillisecond);

// ---- Deep copy of the tree of kTreeObjects objects (a cloner on our side), the copy freed in each iteration.

bool CloneOurs(const VJSONValue& tree) {
    VJSONValue copy = tree;
    vela::VJSONCloner cloner;
    bool copied = cloner.CloneValue(copy) == vela::VE_OK;
    benchmark::DoNotOptimize(copy.GetArrayPtr());
    return copied;
}

void CloneNlohmann(const nlohmann::ordered_json& tree) {
    nlohmann::ordered_json copy = tree;
    benchmark::DoNotOptimize(copy);
}

// Each side copies and frees its tree once before the timed loop: a first copy that needs fresh pages can take
// longer than the minimum time alone and would then be reported as the steady figure (the cold benchmarks below
// time it on purpose).
void BM_Clone_Ours(benchmark::State& state) {
    VJSONValue tree = MakeTreeOurs();
    CloneOurs(tree);
    for (auto _ : state) {
        if (!CloneOurs(tree)) state.SkipWithError("the copy failed");
    }
    state.SetItemsProcessed(state.iterations() * kTreeObjects);
}

void BM_Clone_Nlohmann(benchmark::State& state) {
    nlohmann::ordered_json tree = MakeTreeNlohmann();
    CloneNlohmann(tree);
    for (auto _ : state)
        CloneNlohmann(tree);
    state.SetItemsProcessed(state.iterations() * kTreeObjects);
}

BENCHMARK(BM_Clone_Ours)->Name("json_clone/ours")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Clone_Nlohmann)->Name("json_clone/peer")->Unit(benchmark::kMillisecond);

// ---- Cold: the first build and the first copy of a tree in a process. Each repetition starts with no free memory
// in the heap and times one operation; the copy's tree is built in the same repetition and never copied before.

void BM_BuildTreeCold_Ours(benchmark::State& state) {
    vela::bench::ForgetFreeMemory();
    VJSONValue root;
    for (auto _ : state)
        root = MakeTreeOurs();
    benchmark::DoNotOptimize(root.GetArrayPtr());
}

void BM_BuildTreeCold_Nlohmann(benchmark::State& state) {
    vela::bench::ForgetFreeMemory();
    nlohmann::ordered_json root;
    for (auto _ : state)
        root = MakeTreeNlohmann();
    benchmark::DoNotOptimize(root);
}

void BM_CloneCold_Ours(benchmark::State& state) {
    vela::bench::ForgetFreeMemory();
    VJSONValue tree = MakeTreeOurs();
    vela::VJSONCloner cloner;
    VJSONValue copy;
    for (auto _ : state) {
        copy = tree;
        if (cloner.CloneValue(copy) != vela::VE_OK) state.SkipWithError("the copy failed");
    }
    benchmark::DoNotOptimize(copy.GetArrayPtr());
}

void BM_CloneCold_Nlohmann(benchmark::State& state) {
    vela::bench::ForgetFreeMemory();
    nlohmann::ordered_json tree = MakeTreeNlohmann();
    nlohmann::ordered_json copy;
    for (auto _ : state)
        copy = tree;
    benchmark::DoNotOptimize(copy);
}

BENCHMARK(BM_BuildTreeCold_Ours)->Name("json_build_tree_cold/ours")->Apply(vela::bench::Cold);
BENCHMARK(BM_BuildTreeCold_Nlohmann)->Name("json_build_tree_cold/peer")->Apply(vela::bench::Cold);
BENCHMARK(BM_CloneCold_Ours)->Name("json_clone_cold/ours")->Apply(vela::bench::Cold);
BENCHMARK(BM_CloneCold_Nlohmann)->Name("json_clone_cold/peer")->Apply(vela::bench::Cold);

} // namespace
