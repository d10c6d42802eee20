// xliff_load: a localization manager loading an XLIFF file of 20,000 units (half of them in groups, every unit
// with a resname, a source and a target), vs the parser library's SAX parser reading the same file with a
// handler that only counts elements. Each side starts from the file on disk; the parser library is held set up.
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "files/VFile.h"
#include "intl/VIntlMgr.h"
#include "intl/VLocalizationManager.h"
#include "intl/VXMLParser.h"

#include <benchmark/benchmark.h>
#include <xercesc/parsers/SAXParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using namespace vela;

constexpr int kUnits = 20000;
constexpr uint32 kDialect = 1036;

// The benchmark's XLIFF file, written once and removed at exit.
class XliffFile {
public:
    XliffFile() {
        char pattern[] = "/tmp/vela_xliff_bench_XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd < 0) std::abort();
        ::close(fd);
        fPath = std::string(pattern) + ".xlf";
        ::unlink(pattern);
        VString tag;
        VIntlMgr::GetRFC3066BisLanguageCodeWithDialectCode(kDialect, tag, '-');
        std::string language;
        for (int32 i = 0; i < tag.GetLength(); ++i)
            language += char(tag.GetCPointer()[i]);
        std::ofstream out(fPath, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.2\"><file original=\"bench\" "
               "source-language=\"en\" target-language=\""
            << language << "\"><body>\n";
        for (int i = 0; i < kUnits; ++i) {
            const bool grouped = i % 2 == 1;
            if (grouped && i % 20 == 1) out << "<group id=\"" << (i / 20 + 1) << "\" resname=\"group" << i << "\">\n";
            out << "<trans-unit id=\"" << (i % 20 + 1) << "\" resname=\"key" << i << "\"><source>Source text " << i
                << " &amp; more</source><target>Texte traduit " << i << "</target></trans-unit>\n";
            if (grouped && i % 20 == 19) out << "</group>\n";
        }
        out << "</body></file></xliff>\n";
    }
    ~XliffFile() { ::unlink(fPath.c_str()); }

    const std::string& Path() const { return fPath; }

private:
    std::string fPath;
};

const XliffFile& File() {
    static const XliffFile sFile;
    return sFile;
}

void BM_XliffLoadOurs(benchmark::State& state) {
    StXMLParserUser user;
    const VFile file(VString(File().Path().c_str()), FPS_POSIX);
    for (auto _ : state) {
        auto manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(kDialect));
        if (manager->LoadFile(&file, false) != VE_OK) std::abort();
        VString text;
        if (!manager->LocalizeStringWithKey(VString("key1"), text)) std::abort();
    }
}
BENCHMARK(BM_XliffLoadOurs)->Name("xliff_load/ours")->Unit(benchmark::kMillisecond);

struct CountingHandler : XERCES_CPP_NAMESPACE::HandlerBase {
    long fElements = 0;
    void startElement(const XMLCh* const, XERCES_CPP_NAMESPACE::AttributeList&) override { ++fElements; }
};

void BM_XliffLoadPeer(benchmark::State& state) {
    StXMLParserUser user;
    const std::string& path = File().Path();
    for (auto _ : state) {
        XERCES_CPP_NAMESPACE::SAXParser parser;
        parser.setValidationScheme(XERCES_CPP_NAMESPACE::SAXParser::Val_Never);
        CountingHandler handler;
        parser.setDocumentHandler(&handler);
        parser.parse(path.c_str());
        if (handler.fElements < kUnits) std::abort();
    }
}
BENCHMARK(BM_XliffLoadPeer)->Name("xliff_load/peer")->Unit(benchmark::kMillisecond);

} // namespace
