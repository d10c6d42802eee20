#include "updater/platform/XPosixBundle.h"

#include <fstream>
#include <iterator>

namespace vela {

namespace {

// The five predefined XML entities, the only ones a property list writer emits in a string.
std::string Unescape(const std::string& text) {
    static const struct {
        const char* entity;
        char character;
    } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& e : kEntities) {
                if (text.compare(i, std::char_traits<char>::length(e.entity), e.entity) == 0) {
                    out += e.character;
                    i += std::char_traits<char>::length(e.entity);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

} // namespace

bool XPosixBundle::ReadInfoString(const std::string& plistPath, const std::string& key, std::string& out) {
    std::ifstream in(plistPath, std::ios::binary);
    if (!in) return false;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string keyElement = "<key>" + key + "</key>";
    const size_t at = text.find(keyElement);
    if (at == std::string::npos) return false;
    // The value must be the next element: a <string> further on belongs to another key.
    size_t next = text.find('<', at + keyElement.size());
    if (next == std::string::npos || text.compare(next, 8, "<string>") != 0) return false;
    next += 8;
    const size_t end = text.find("</string>", next);
    if (end == std::string::npos) return false;
    out = Unescape(text.substr(next, end - next));
    return true;
}

bool XPosixBundle::GetExecutablePath(const std::string& bundlePath, std::string& out) {
    std::string root = bundlePath;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    std::string name;
    if (!ReadInfoString(root + "/Contents/Info.plist", "CFBundleExecutable", name) || name.empty() ||
        name.find('/') != std::string::npos)
        return false;
    out = root + "/Contents/MacOS/" + name;
    return true;
}

} // namespace vela
