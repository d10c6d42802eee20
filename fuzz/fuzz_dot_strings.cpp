// ".strings" files read by a localization manager. With the first byte even, the other bytes are the file itself:
// never crashes, never reads out of bounds, whatever the byte order marks and lines. With it odd, they make
// pairs (each key and value a run of bytes up to a zero byte, as Latin-1 text) written as "key" = "value"; lines
// in UTF-16 big-endian: every key whose text the format can carry (no '=', no line end, no white space at either
// end, not empty) then reads back as the last value written for it.
#include "FuzzScratch.h"

#include "core/VRefPtr.h"
#include "files/VFile.h"
#include "files/VFileError.h"
#include "files/VFilePath.h"
#include "intl/VLocalizationManager.h"
#include "intl/VXMLParser.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace vela;

constexpr uint32 kNoLanguage = 0xFFFFFFFE;

bool Carried(const std::u16string& text) {
    if (text.empty()) return false;
    auto white = [](char16_t c) { return c == u' ' || c == u'\t'; };
    if (white(text.front()) || white(text.back())) return false;
    for (char16_t c : text)
        if (c == u'=' || c == u'\n' || c == u'\r') return false;
    return true;
}

void AppendBigEndian(std::string& bytes, const std::u16string& text) {
    for (char16_t c : text) {
        bytes += char(c >> 8);
        bytes += char(c & 0xFF);
    }
}

void RoundTrip(const uint8_t* data, size_t size) {
    std::vector<std::u16string> pieces(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += char16_t(data[i]);
    }
    std::map<std::u16string, std::u16string> expected;
    std::string bytes;
    for (size_t i = 0; i + 1 < pieces.size(); i += 2) {
        if (!Carried(pieces[i]) || !Carried(pieces[i + 1])) continue;
        AppendBigEndian(bytes, u"\"" + pieces[i] + u"\" = \"" + pieces[i + 1] + u"\";\n");
        expected[pieces[i]] = pieces[i + 1];
    }
    const std::string path = fuzz::WriteScratchFile("pairs.strings", bytes.data(), bytes.size());
    VFile file(VString(path.c_str()), FPS_POSIX);
    auto manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(kNoLanguage));
    if (manager->AnalyzeDotStringsFile(&file) != VE_OK) __builtin_trap();
    for (const auto& [key, value] : expected) {
        VString text;
        VString wanted;
        wanted.FromUniString(value.data(), int32(value.size()));
        VString name;
        name.FromUniString(key.data(), int32(key.size()));
        if (!manager->LocalizeStringWithKey(name, text) || !text.EqualToStringRaw(wanted)) __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static StXMLParserUser sUser;
    if (size < 1) return 0;
    const bool pairs = (data[0] & 1) != 0;
    ++data, --size;
    if (pairs) {
        RoundTrip(data, size);
        return 0;
    }
    const std::string path = fuzz::WriteScratchFile("raw.strings", data, size);
    VFile file(VString(path.c_str()), FPS_POSIX);
    auto manager = VRefPtr<VLocalizationManager>::Adopt(new VLocalizationManager(kNoLanguage));
    if (manager->LoadFile(&file, true) != VE_FILE_CANNOT_LOAD_LOCALIZATION) __builtin_trap();
    VString out;
    manager->LocalizeStringWithKey(VString("key"), out);
    return 0;
}
