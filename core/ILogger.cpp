#include "core/ILogger.h"

#include "core/ILoggerBagKeys.h"
#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VString.h"
#include "core/platform/XPosixBundleInfo.h"
#include "core/platform/XPosixStackCrawl.h"
#include "values/VValueBag.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace vela {

std::atomic<uint64> ILogger::sSequenceNumber{0};

namespace {

std::atomic<ILogger*> sProcessLogger{nullptr};

// The text after the last '/' of path (all of it without one).
const char* FileNameOf(const char* path) noexcept {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// Stands in for the process object's product name until the process frame exists and sets it.
class LogSourceIdentifier {
public:
    static LogSourceIdentifier& Get() {
        static LogSourceIdentifier sInstance;
        return sInstance;
    }
    void Read(VString& out) {
        std::lock_guard<std::mutex> guard(fLock);
        out = fIdentifier;
    }
    void Write(const VString& identifier) {
        std::lock_guard<std::mutex> guard(fLock);
        fIdentifier = identifier;
    }

private:
    LogSourceIdentifier() {
        std::string executable = XPosixBundleInfo::ExecutablePath();
        const char* name = FileNameOf(executable.c_str());
        fIdentifier.FromBlock(name, std::strlen(name), VTC_UTF_8);
    }

    std::mutex fLock;
    VString fIdentifier;
};

// One frame line in its short form.
void CleanStackLine(VString& line) {
    int32 open = line.FindUniChar(u'(');
    if (open > 0) {
        int32 close = line.FindUniChar(u')');
        if (close > open) line.Remove(open, close - open + 1);
    }
    static const VString sNamespace("vela::");
    static const VString sThunk("non-virtual thunk to ");
    static const VString sConst(" const");
    line.ExchangeRawString(sNamespace, VString::sEmpty);
    line.ExchangeRawString(sThunk, VString::sEmpty);
    int32 constAt = line.FindRawString(sConst);
    if (constAt > 0 && constAt + sConst.GetLength() - 1 == line.GetLength()) line.Truncate(constAt - 1);
}

} // namespace

uint64 ILogger::GetSequenceNumber() noexcept {
    return sSequenceNumber.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint64 ILogger::ReserveSequenceNumbers(uint64 count) noexcept {
    return sSequenceNumber.fetch_add(count, std::memory_order_relaxed) + 1;
}

void ILogger::LogErrorIfNecessary(VErrorBase* error) {
    if (error == nullptr || !ShouldLog(EML_Error)) return;
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    ILoggerBagKeys::level.Set(*bag, EML_Error);
    error->SaveToBag(*bag);
    VString description;
    error->GetErrorDescription(description);
    ILoggerBagKeys::message.Set(*bag, description);
    const uint32 signature = uint32(error->GetError() >> 32);
    if (signature != 0) ILoggerBagKeys::component_signature.Set(*bag, signature);
    VString source;
    GetLogSourceIdentifier(source);
    ILoggerBagKeys::source.Set(*bag, source);
    LogBag(bag.Get());
}

void ILogger::LogAssertIfNecessary(const char* message, const char* file, int line) {
    if (!ShouldLog(EML_Assert)) return;
    auto bag = VRefPtr<VValueBag>::Adopt(new VValueBag);
    ILoggerBagKeys::level.Set(*bag, EML_Assert);
    ILoggerBagKeys::file_name.Set(*bag, VString(FileNameOf(file != nullptr ? file : "")));
    ILoggerBagKeys::line_number.Set(*bag, line);
    ILoggerBagKeys::message.Set(*bag, VString(message != nullptr ? message : ""));
    // Skips LoadFrames and this function: the crawl starts at the caller.
    XPosixStackCrawl crawl;
    crawl.LoadFrames(2, 8);
    VString text;
    crawl.Dump(text);
    if (!text.IsEmpty()) {
        VString cleaned;
        CleanStackCrawl(text, cleaned);
        ILoggerBagKeys::stack_crawl.Set(*bag, cleaned);
    }
    LogBag(bag.Get());
}

void ILogger::CleanStackCrawl(const VString& crawl, VString& out) {
    // The line feed that ends the last line ends the text; it does not open an empty frame line.
    VString text(crawl);
    if (text.GetUniChar(text.GetLength()) == u'\n') text.Truncate(text.GetLength() - 1);
    std::vector<VString> lines;
    text.GetSubStrings(u'\n', lines, true, true);
    for (VString& line : lines)
        CleanStackLine(line);
    static const VString sSeparator(" <- ");
    out.Join(lines, sSeparator);
}

ILogger* GetProcessLogger() noexcept {
    return sProcessLogger.load(std::memory_order_acquire);
}

ILogger* SetProcessLogger(ILogger* logger) noexcept {
    return sProcessLogger.exchange(logger, std::memory_order_acq_rel);
}

void GetLogSourceIdentifier(VString& out) {
    LogSourceIdentifier::Get().Read(out);
}

void SetLogSourceIdentifier(const VString& identifier) {
    LogSourceIdentifier::Get().Write(identifier);
}

} // namespace vela
