// bag_xml_roundtrip: a bag of 10,000 elements (100 groups of 99 items with five attributes each, character data
// on every tenth item) written as XML and read back into a new bag, vs pugixml saving an equivalent document to
// text and parsing that text into a new document. The parser library is held set up, as a process that parses
// holds it through its managers. Our read goes through the parser library, which alone costs several times the
// whole pugixml round trip: that pair is printed for reference.
//
// bag_xml_read_xerces: the read alone, the bag's XML text read into a new bag, vs a bare SAX scan of the same text
// by the parser library with handlers that do nothing, set up as our parser sets it up where that costs (the
// entity expansion limit of a security manager, no default entity resolution, no namespaces, validation when
// the document asks for it).
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "intl/VXMLBagHandler.h"
#include "intl/VXMLParser.h"
#include "values/VValueBag.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <bit>

#include <cstdlib>
#include <sstream>
#include <string>

namespace {

using namespace vela;

constexpr int kGroups = 100;
constexpr int kItemsPerGroup = 99;

std::string ItemName(int group, int item) {
    return "item " + std::to_string(group) + "." + std::to_string(item);
}

std::string Note(int item) {
    return "note <" + std::to_string(item) + "> & more";
}

VRefPtr<VValueBag> MakeBag() {
    auto root = VRefPtr<VValueBag>::Adopt(new VValueBag);
    root->SetLong("version", 3);
    root->SetString("title", VString("sample tree"));
    for (int g = 0; g < kGroups; ++g) {
        auto group = VRefPtr<VValueBag>::Adopt(new VValueBag);
        group->SetString("name", VString(("group " + std::to_string(g)).c_str()));
        group->SetLong("index", g);
        for (int i = 0; i < kItemsPerGroup; ++i) {
            auto item = VRefPtr<VValueBag>::Adopt(new VValueBag);
            item->SetLong("id", g * 1000 + i);
            item->SetString("name", VString(ItemName(g, i).c_str()));
            item->SetLong8("size", int64_t(g) << 33 | i);
            item->SetReal("ratio", double(i) / 8 + 0.3);
            item->SetBool("enabled", (i & 1) != 0);
            if (i % 10 == 0) item->AppendToCData(VString(Note(i).c_str()));
            group->AddElement("item", item.Get());
        }
        root->AddElement("group", group.Get());
    }
    return root;
}

void MakeDocument(pugi::xml_document& document) {
    pugi::xml_node root = document.append_child("root");
    root.append_attribute("version") = 3;
    root.append_attribute("title") = "sample tree";
    for (int g = 0; g < kGroups; ++g) {
        pugi::xml_node group = root.append_child("group");
        group.append_attribute("name") = ("group " + std::to_string(g)).c_str();
        group.append_attribute("index") = g;
        for (int i = 0; i < kItemsPerGroup; ++i) {
            pugi::xml_node item = group.append_child("item");
            item.append_attribute("id") = g * 1000 + i;
            item.append_attribute("name") = ItemName(g, i).c_str();
            item.append_attribute("size") = static_cast<long long>(int64_t(g) << 33 | i);
            item.append_attribute("ratio") = double(i) / 8 + 0.3;
            item.append_attribute("enabled") = (i & 1) != 0;
            if (i % 10 == 0) item.append_child(pugi::node_cdata).set_value(Note(i).c_str());
        }
    }
}

void BM_BagXMLRoundTripOurs(benchmark::State& state) {
    StXMLParserUser user;
    const VRefPtr<VValueBag> bag = MakeBag();
    for (auto _ : state) {
        VString text;
        if (bag->DumpXML(text, VString("root"), false) != VE_OK) std::abort();
        VValueBag read;
        if (LoadBagFromXML(text, VString("root"), read, 0) != VE_OK) std::abort();
        benchmark::DoNotOptimize(read.GetElementNamesCount());
    }
}
BENCHMARK(BM_BagXMLRoundTripOurs)->Name("bag_xml_roundtrip/ours")->Unit(benchmark::kMillisecond);

struct StringWriter : pugi::xml_writer {
    std::string fText;
    void write(const void* data, size_t size) override { fText.append(static_cast<const char*>(data), size); }
};

void BM_BagXMLRoundTripPeer(benchmark::State& state) {
    pugi::xml_document document;
    MakeDocument(document);
    for (auto _ : state) {
        StringWriter writer;
        document.save(writer, "", pugi::format_raw);
        pugi::xml_document read;
        if (!read.load_buffer(writer.fText.data(), writer.fText.size())) std::abort();
        benchmark::DoNotOptimize(read.first_child());
    }
}
BENCHMARK(BM_BagXMLRoundTripPeer)->Name("bag_xml_roundtrip/peer")->Unit(benchmark::kMillisecond);

void BM_BagXMLReadOurs(benchmark::State& state) {
    StXMLParserUser user;
    VString text;
    if (MakeBag()->DumpXML(text, VString("root"), false) != VE_OK) std::abort();
    for (auto _ : state) {
        VValueBag read;
        if (LoadBagFromXML(text, VString("root"), read, 0) != VE_OK) std::abort();
        benchmark::DoNotOptimize(read.GetElementNamesCount());
    }
}
BENCHMARK(BM_BagXMLReadOurs)->Name("bag_xml_read_xerces/ours")->Unit(benchmark::kMillisecond);

// The entity expansion limit our parser sets (VXMLParser).
constexpr XMLSize_t kEntityExpansionLimit = 10000;

void BM_BagXMLReadPeer(benchmark::State& state) {
    namespace xerces = XERCES_CPP_NAMESPACE;
    StXMLParserUser user;
    VString text;
    if (MakeBag()->DumpXML(text, VString("root"), false) != VE_OK) std::abort();
    const char16_t* encoding = std::endian::native == std::endian::little ? u"UTF-16LE" : u"UTF-16BE";
    for (auto _ : state) {
        xerces::SecurityManager security;
        security.setEntityExpansionLimit(kEntityExpansionLimit);
        xerces::SAXParser parser;
        parser.setSecurityManager(&security);
        parser.setDisableDefaultEntityResolution(true);
        parser.setValidationScheme(xerces::SAXParser::Val_Auto);
        parser.setDoSchema(false);
        parser.setDoNamespaces(false);
        parser.setLoadExternalDTD(false);
        xerces::HandlerBase handler;
        parser.setDocumentHandler(&handler);
        parser.setErrorHandler(&handler);
        xerces::MemBufInputSource source(reinterpret_cast<const XMLByte*>(text.GetCPointer()),
                                         size_t(text.GetLength()) * sizeof(UniChar), u"frommem");
        source.setEncoding(encoding);
        parser.parse(source);
        if (parser.getErrorCount() != 0) std::abort();
    }
}
BENCHMARK(BM_BagXMLReadPeer)->Name("bag_xml_read_xerces/peer")->Unit(benchmark::kMillisecond);

} // namespace
