// The outer forms of bags against hand-written code over plain structs holding the same tree (10,000 elements:
// 100 groups of 99 items, attributes of five kinds, character data on every tenth item):
// - bag_write_xml: DumpXML (indented) vs the same XML built in a std::string;
// - bag_write_vbag: WriteToStream into a memory stream vs memcpy records appended to a std::vector<char>;
// - bag_read_vbag: ReadFromStream of those bytes vs reading the records back into the structs.
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VPtrStream.h"
#include "values/VBagArray.h"
#include "values/VValueBag.h"

#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

using namespace vela;

constexpr int kGroups = 100;
constexpr int kItemsPerGroup = 99;

// ---- The peer's tree

using PeerValue = std::variant<bool, int32_t, int64_t, double, std::string>;

struct PeerAttribute {
    std::string name;
    PeerValue value;
};

struct PeerNode {
    std::string name;
    std::vector<PeerAttribute> attributes;
    bool hasCData = false;
    std::string cdata;
    std::vector<PeerNode> children; // in name order, as a bag keeps its lists
};

std::string ItemName(int group, int item) {
    return "item " + std::to_string(group) + "." + std::to_string(item);
}

PeerNode MakePeerTree() {
    PeerNode root{"root", {{"version", int32_t(3)}, {"title", std::string("sample tree")}}, false, {}, {}};
    for (int g = 0; g < kGroups; ++g) {
        PeerNode group{"group", {{"name", "group " + std::to_string(g)}, {"index", int32_t(g)}}, false, {}, {}};
        for (int i = 0; i < kItemsPerGroup; ++i) {
            PeerNode item{"item",
                          {{"id", int32_t(g * 1000 + i)},
                           {"name", ItemName(g, i)},
                           {"size", int64_t(g) << 33 | i},
                           {"ratio", double(i) / 8 + 0.3},
                           {"enabled", (i & 1) != 0}},
                          false,
                          {},
                          {}};
            if (i % 10 == 0) {
                item.hasCData = true;
                item.cdata = "note <" + std::to_string(i) + "> & more";
            }
            group.children.push_back(std::move(item));
        }
        root.children.push_back(std::move(group));
    }
    return root;
}

// ---- The bag tree

VRefPtr<VValueBag> NewBag() {
    return VRefPtr<VValueBag>::Adopt(new VValueBag);
}

VRefPtr<VValueBag> MakeBag() {
    VRefPtr<VValueBag> root = NewBag();
    root->SetLong("version", 3);
    root->SetString("title", VString("sample tree"));
    for (int g = 0; g < kGroups; ++g) {
        VRefPtr<VValueBag> group = NewBag();
        group->SetString("name", VString(("group " + std::to_string(g)).c_str()));
        group->SetLong("index", g);
        for (int i = 0; i < kItemsPerGroup; ++i) {
            VRefPtr<VValueBag> item = NewBag();
            item->SetLong("id", g * 1000 + i);
            item->SetString("name", VString(ItemName(g, i).c_str()));
            item->SetLong8("size", int64_t(g) << 33 | i);
            item->SetReal("ratio", double(i) / 8 + 0.3);
            item->SetBool("enabled", (i & 1) != 0);
            if (i % 10 == 0) item->AppendToCData(VString(("note <" + std::to_string(i) + "> & more").c_str()));
            group->AddElement("item", item.Get());
        }
        root->AddElement("group", group.Get());
    }
    return root;
}

// ---- The peer's XML writer: the same text in UTF-8

void PutText(std::string& out, const std::string& text) {
    for (char c : text) {
        switch (c) {
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '\'':
            out += "&apos;";
            break;
        case '\t':
            out += "&#9;";
            break;
        case '\n':
            out += "&#10;";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            if (uint8_t(c) >= 0x20) out += c;
        }
    }
}

void PutNumber(std::string& out, const PeerValue& value) {
    char digits[40];
    std::to_chars_result result{};
    if (const auto* b = std::get_if<bool>(&value)) {
        out += *b ? "true" : "false";
        return;
    }
    if (const auto* l = std::get_if<int32_t>(&value)) result = std::to_chars(digits, digits + 40, *l);
    if (const auto* l8 = std::get_if<int64_t>(&value)) result = std::to_chars(digits, digits + 40, *l8);
    if (const auto* r = std::get_if<double>(&value))
        result = std::trunc(*r) == *r ? std::to_chars(digits, digits + 40, int64_t(*r))
                                      : std::to_chars(digits, digits + 40, *r, std::chars_format::general, 14);
    out.append(digits, result.ptr);
}

void PeerDumpXML(std::string& out, const PeerNode& node, int level) {
    out.append(size_t(level), '\t');
    out += '<';
    out += node.name;
    for (const PeerAttribute& attribute : node.attributes) {
        out += ' ';
        out += attribute.name;
        out += "=\"";
        if (const auto* text = std::get_if<std::string>(&attribute.value))
            PutText(out, *text);
        else
            PutNumber(out, attribute.value);
        out += '"';
    }
    if (node.children.empty() && !node.hasCData) {
        out += "/>";
        return;
    }
    out += '>';
    for (const PeerNode& child : node.children) {
        out += '\n';
        PeerDumpXML(out, child, level + 1);
    }
    if (node.hasCData) {
        // The sample's character data holds markup: always a section, without "]]>" inside.
        out += "<![CDATA[";
        out += node.cdata;
        out += "]]>";
    } else {
        out += '\n';
        out.append(size_t(level), '\t');
    }
    out += "</";
    out += node.name;
    out += '>';
}

// ---- The peer's records: per node its name, attributes (name, kind, datum) and children, memcpy'd

template <class T> void PutRecord(std::vector<char>& out, const T& value) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void PutBytes(std::vector<char>& out, const std::string& text) {
    PutRecord(out, uint32_t(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void PeerWrite(std::vector<char>& out, const PeerNode& node) {
    PutBytes(out, node.name);
    PutRecord(out, uint32_t(node.attributes.size() + (node.hasCData ? 1 : 0)));
    for (const PeerAttribute& attribute : node.attributes) {
        PutBytes(out, attribute.name);
        PutRecord(out, uint8_t(attribute.value.index()));
        std::visit(
            [&](const auto& datum) {
                if constexpr (std::is_same_v<std::decay_t<decltype(datum)>, std::string>)
                    PutBytes(out, datum);
                else
                    PutRecord(out, datum);
            },
            attribute.value);
    }
    if (node.hasCData) {
        PutBytes(out, "<>");
        PutRecord(out, uint8_t(4));
        PutBytes(out, node.cdata);
    }
    PutRecord(out, uint32_t(node.children.size()));
    for (const PeerNode& child : node.children)
        PeerWrite(out, child);
}

struct PeerReader {
    const char* p;

    template <class T> T Get() {
        T value;
        std::memcpy(&value, p, sizeof(T));
        p += sizeof(T);
        return value;
    }
    std::string GetBytes() {
        const uint32_t size = Get<uint32_t>();
        std::string text(p, size);
        p += size;
        return text;
    }
    void Read(PeerNode& node) {
        node.name = GetBytes();
        const uint32_t attributes = Get<uint32_t>();
        node.attributes.reserve(attributes);
        for (uint32_t i = 0; i < attributes; ++i) {
            std::string name = GetBytes();
            PeerValue value;
            switch (Get<uint8_t>()) {
            case 0:
                value = Get<bool>();
                break;
            case 1:
                value = Get<int32_t>();
                break;
            case 2:
                value = Get<int64_t>();
                break;
            case 3:
                value = Get<double>();
                break;
            default:
                value = GetBytes();
                break;
            }
            if (name == "<>") {
                node.hasCData = true;
                node.cdata = std::get<std::string>(std::move(value));
                continue;
            }
            node.attributes.push_back({std::move(name), std::move(value)});
        }
        const uint32_t children = Get<uint32_t>();
        node.children.resize(children);
        for (PeerNode& child : node.children)
            Read(child);
    }
};

// ---- Benchmarks

void BM_BagWriteXML(benchmark::State& state) {
    const VRefPtr<VValueBag> bag = MakeBag();
    size_t units = 0;
    for (auto _ : state) {
        VString out;
        bag->DumpXML(out, "root", true);
        units = size_t(out.GetLength());
        benchmark::DoNotOptimize(out.GetCPointer());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(units) * 2);
}

void BM_PeerWriteXML(benchmark::State& state) {
    const PeerNode tree = MakePeerTree();
    size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        PeerDumpXML(out, tree, 0);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_BagWriteVBAG(benchmark::State& state) {
    const VRefPtr<VValueBag> bag = MakeBag();
    size_t bytes = 0;
    for (auto _ : state) {
        VPtrStream stream;
        stream.OpenWriting();
        bag->WriteToStream(&stream);
        stream.CloseWriting();
        bytes = stream.GetDataSize();
        benchmark::DoNotOptimize(stream.GetDataPtr());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_PeerWriteVBAG(benchmark::State& state) {
    const PeerNode tree = MakePeerTree();
    size_t bytes = 0;
    for (auto _ : state) {
        std::vector<char> out;
        PeerWrite(out, tree);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

void BM_BagReadVBAG(benchmark::State& state) {
    VPtrStream written;
    written.OpenWriting();
    MakeBag()->WriteToStream(&written);
    written.CloseWriting();
    for (auto _ : state) {
        VConstPtrStream stream(written.GetDataPtr(), written.GetDataSize());
        stream.OpenReading();
        VRefPtr<VValueBag> bag = NewBag();
        if (bag->ReadFromStream(&stream) != VE_OK) state.SkipWithError("unreadable");
        benchmark::DoNotOptimize(bag.Get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(written.GetDataSize()));
}

void BM_PeerReadVBAG(benchmark::State& state) {
    std::vector<char> written;
    PeerWrite(written, MakePeerTree());
    for (auto _ : state) {
        PeerNode tree;
        PeerReader{written.data()}.Read(tree);
        benchmark::DoNotOptimize(tree.children.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(written.size()));
}

} // namespace

BENCHMARK(BM_BagWriteXML)->Name("bag_write_xml/ours");
BENCHMARK(BM_PeerWriteXML)->Name("bag_write_xml/peer");
BENCHMARK(BM_BagWriteVBAG)->Name("bag_write_vbag/ours");
BENCHMARK(BM_PeerWriteVBAG)->Name("bag_write_vbag/peer");
BENCHMARK(BM_BagReadVBAG)->Name("bag_read_vbag/ours");
BENCHMARK(BM_PeerReadVBAG)->Name("bag_read_vbag/peer");
