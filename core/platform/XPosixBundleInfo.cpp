#include "core/platform/XPosixBundleInfo.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vela {

namespace {

// Minimal reader of the XML that property lists use: tags, text and the five predefined entities.
class PlistScanner {
public:
    explicit PlistScanner(const std::string& text) : fText(text) {}

    // The next tag name ("dict", "/dict", "true/"), skipping text, comments and declarations; empty at the end.
    std::string NextTag() {
        while (true) {
            size_t open = fText.find('<', fPos);
            if (open == std::string::npos) return {};
            if (fText.compare(open, 4, "<!--") == 0) {
                size_t end = fText.find("-->", open + 4);
                if (end == std::string::npos) return {};
                fPos = end + 3;
                continue;
            }
            size_t close = fText.find('>', open);
            if (close == std::string::npos) return {};
            fPos = close + 1;
            if (fText[open + 1] == '?' || fText[open + 1] == '!') continue;
            std::string tag = fText.substr(open + 1, close - open - 1);
            size_t space = tag.find_first_of(" \t\r\n");
            bool selfClosing = !tag.empty() && tag.back() == '/';
            if (space != std::string::npos) tag.erase(space);
            // A tag without a name ("<>", "< />") is no property list; empty stops every caller.
            if (tag.empty() || tag == "/") return {};
            if (selfClosing && tag.back() != '/') tag += '/';
            return tag;
        }
    }

    // The text up to the closing tag of name, entities decoded.
    std::optional<std::string> TextUntilClose(const std::string& name) {
        std::string closing = "</" + name + ">";
        size_t end = fText.find(closing, fPos);
        if (end == std::string::npos) return std::nullopt;
        std::string raw = fText.substr(fPos, end - fPos);
        fPos = end + closing.size();
        return Decode(raw);
    }

private:
    static std::string Decode(const std::string& raw) {
        static const std::pair<const char*, char> kEntities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
        std::string out;
        out.reserve(raw.size());
        for (size_t i = 0; i < raw.size(); ++i) {
            bool replaced = false;
            if (raw[i] == '&') {
                for (auto [entity, ch] : kEntities) {
                    if (raw.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                        out += ch;
                        i += std::char_traits<char>::length(entity) - 1;
                        replaced = true;
                        break;
                    }
                }
            }
            if (!replaced) out += raw[i];
        }
        return out;
    }

    const std::string& fText;
    size_t fPos = 0;
};

// Skips one value whose opening tag was already read (nested dicts and arrays included).
bool SkipValue(PlistScanner& scanner, const std::string& tag) {
    if (!tag.empty() && tag.back() == '/') return true;
    int depth = 1;
    while (depth > 0) {
        std::string next = scanner.NextTag();
        if (next.empty()) return false;
        if (next.back() == '/') continue;
        if (next[0] == '/') {
            --depth;
        } else {
            ++depth;
        }
    }
    return true;
}

} // namespace

std::string XPosixBundleInfo::ExecutablePath() {
    std::string path(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size()) return {};
    path.resize(size_t(length));
    return path;
}

std::string XPosixBundleInfo::BundlePathOfExecutable(const std::string& executablePath) {
    size_t slash = executablePath.rfind('/');
    if (slash == std::string::npos) return {};
    std::string folder = executablePath.substr(0, slash);
    static const std::string kTail = "/Contents/MacOS";
    if (folder.size() <= kTail.size() || folder.compare(folder.size() - kTail.size(), kTail.size(), kTail) != 0)
        return {};
    return folder.substr(0, folder.size() - kTail.size());
}

std::optional<XPosixBundleInfo::Dictionary> XPosixBundleInfo::ParseInfoPlist(const std::string& text) {
    PlistScanner scanner(text);
    std::string tag;
    do {
        tag = scanner.NextTag();
        if (tag.empty()) return std::nullopt;
        if (tag == "dict/") return Dictionary{};
    } while (tag != "dict");

    Dictionary dictionary;
    while (true) {
        tag = scanner.NextTag();
        if (tag.empty()) return std::nullopt;
        if (tag == "/dict") return dictionary;
        if (tag != "key") return std::nullopt;
        std::optional<std::string> key = scanner.TextUntilClose("key");
        if (!key) return std::nullopt;
        std::string valueTag = scanner.NextTag();
        if (valueTag == "string" || valueTag == "integer") {
            std::optional<std::string> value = scanner.TextUntilClose(valueTag);
            if (!value) return std::nullopt;
            dictionary[*key] = *value;
        } else if (valueTag == "true/" || valueTag == "false/") {
            dictionary[*key] = valueTag == "true/" ? "true" : "false";
        } else if (valueTag == "string/") {
            dictionary[*key] = "";
        } else if (valueTag.empty() || valueTag[0] == '/' || !SkipValue(scanner, valueTag)) {
            return std::nullopt;
        }
    }
}

std::optional<XPosixBundleInfo::Dictionary> XPosixBundleInfo::ReadInfoPlist(const std::string& plistPath) {
    std::ifstream file(plistPath, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream content;
    content << file.rdbuf();
    return ParseInfoPlist(content.str());
}

const std::string& XPosixBundleInfo::MainBundlePath() {
    static const std::string sPath = BundlePathOfExecutable(XPosixBundleInfo::ExecutablePath());
    return sPath;
}

std::optional<std::string> XPosixBundleInfo::GetMainBundleValue(const std::string& key) {
    static const std::optional<Dictionary> sInfo =
        MainBundlePath().empty() ? std::nullopt : ReadInfoPlist(MainBundlePath() + "/Contents/Info.plist");
    if (!sInfo) return std::nullopt;
    auto found = sInfo->find(key);
    if (found == sInfo->end()) return std::nullopt;
    return found->second;
}

} // namespace vela
