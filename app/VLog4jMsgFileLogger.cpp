#include "app/VLog4jMsgFileLogger.h"

#include "core/ILoggerBagKeys.h"
#include "core/StStringConverter.h"
#include "values/VTime.h"
#include "values/VValue.h"
#include "values/VValueBag.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace vela {

namespace {

constexpr const char* kLevelNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

// How an extra attribute is printed: "" means never (the attributes the line shows elsewhere).
const char* ExtraPrefix(const VString& name) {
    static const std::unordered_map<std::u16string, const char*> prefixes = {
        {u"message", ""},
        {u"error_code", ""},
        {u"level", ""},
        {u"source", ""},
        {u"component_signature", ""},
        {u"task_id", "task="},
        {u"task_name", "taskName="},
        {u"socket", "socket="},
        {u"local_addr", "localAddr="},
        {u"local_port", "localPort="},
        {u"peer_addr", "peerAddr="},
        {u"peer_port", "peerPort="},
        {u"exchange_id", "exchangeEndpointId="},
        {u"is_blocking", "blocking="},
        {u"is_ssl", "SSL="},
        {u"is_select_io", "selectIO="},
        {u"ms_timeout", "timeout="},
        {u"count_bytes_asked", "asked="},
        {u"count_bytes_sent", "sent="},
        {u"count_bytes_received", "received="},
        {u"ms_spent", "executionTime="},
        {u"dump_offset", "offset="},
        {u"dump_buffer", "data="},
        {u"file_name", "fileName="},
        {u"line_number", "lineNumber="},
        {u"stack_crawl", "stackCrawl="},
        {u"user_id", "UUID="},
    };
    auto found = prefixes.find(std::u16string(name.GetCPointer(), size_t(name.GetLength())));
    return found == prefixes.end() ? nullptr : found->second;
}

// " (" and the printable attributes of bag, ", " between them, then ")".
void AppendExtras(const VValueBag& bag, VString& message) {
    message.AppendCString(" (");
    bool first = true;
    const int32 count = bag.GetAttributesCount();
    for (int32 n = 1; n <= count; ++n) {
        VString name;
        const VValueSingle* value = bag.GetNthAttribute(n, &name);
        if (value == nullptr || value->IsNull()) continue;
        const char* prefix = ExtraPrefix(name);
        if (prefix != nullptr && *prefix == 0) continue;
        if (!first) message.AppendCString(", ");
        first = false;
        if (prefix != nullptr)
            message.AppendCString(prefix);
        else
            message.AppendString(name).AppendUniChar(u'=');
        VString text;
        value->GetString(text);
        text.ExchangeRawString(VString("\n"), VString(" ; "));
        message.AppendString(text);
    }
    message.AppendUniChar(u')');
}

} // namespace

VLog4jMsgFileLogger::VLog4jMsgFileLogger(const VFilePath& folder, const VString& name) : fFolder(folder), fName(name) {}

VLog4jMsgFileLogger::~VLog4jMsgFileLogger() {
    Stop();
}

void VLog4jMsgFileLogger::Start() {
    if (fFolder.IsEmpty() || fName.IsEmpty()) return;
    int32 number = 1;
    for (;; ++number) {
        VSplitableLogFile probe(fFolder, fName, number, false);
        if (!probe.Exists()) break;
    }
    Start(number > 1 ? number - 1 : 1);
}

void VLog4jMsgFileLogger::Start(int32 number) {
    std::lock_guard<VCriticalSection> startGuard(fStartLock);
    {
        std::lock_guard<VCriticalSection> guard(fLock);
        if (fFile || fFolder.IsEmpty() || fName.IsEmpty()) return;
        auto file = std::make_unique<VSplitableLogFile>(fFolder, fName, number, false);
        if (!file->Open(false, false)) return;
        fFile = std::move(file);
    }
    // Outside fLock: the logger takes its listener lock, which a flush holds while it waits for fLock in Put.
    ILogger* logger = GetProcessLogger();
    if (logger != nullptr && logger->AddLogListener(&fListener)) {
        logger->Retain();
        fLogger = logger;
        return;
    }
    std::lock_guard<VCriticalSection> guard(fLock);
    fFile.reset();
}

void VLog4jMsgFileLogger::Stop() {
    std::lock_guard<VCriticalSection> startGuard(fStartLock);
    // Outside fLock, for the same reason as in Start; the removal flushes pending records into the open file.
    if (fLogger != nullptr) {
        fLogger->RemoveLogListener(&fListener);
        fLogger->Release();
        fLogger = nullptr;
    }
    std::lock_guard<VCriticalSection> guard(fLock);
    fFile.reset();
}

bool VLog4jMsgFileLogger::IsStarted() const {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fFile != nullptr;
}

void VLog4jMsgFileLogger::Flush() {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (fFile) fFile->Flush();
}

bool VLog4jMsgFileLogger::ShouldLog(EMessageLevel level) const {
    return IsValidMessageLevel(level) && (kLevelMask & (uint32(1) << uint32(level))) != 0 && IsStarted();
}

void VLog4jMsgFileLogger::SetLogMaxNumberToKeep(int32 count) {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (fFile) fFile->SetMaxLogsToKeep(count);
}

int32 VLog4jMsgFileLogger::GetLogMaxNumberToKeep() const {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fFile ? fFile->GetMaxLogsToKeep() : 0;
}

int32 VLog4jMsgFileLogger::GetLogNumber() const {
    std::lock_guard<VCriticalSection> guard(fLock);
    return fFile ? fFile->GetLogNumber() : 0;
}

const char* VLog4jMsgFileLogger::GetMessageLevelName(EMessageLevel level) noexcept {
    if (level < EML_Dump) return kLevelNames[EML_Dump];
    if (level > EML_Fatal) return kLevelNames[EML_Information];
    return kLevelNames[level];
}

void VLog4jMsgFileLogger::GetLogInfosFromBag(const VValueBag* bag, VString& source, EMessageLevel& level,
                                             VString& message) {
    message.Clear();
    source.Clear();
    level = EML_Information;
    if (bag == nullptr) {
        GetLogSourceIdentifier(source);
        message.AppendCString(" ()");
        return;
    }
    ILoggerBagKeys::message.Get(*bag, message);
    uint64 errorCode = 0;
    ILoggerBagKeys::error_code.Get(*bag, errorCode);
    level = ILoggerBagKeys::level.Get(*bag);
    if (!ILoggerBagKeys::source.Get(*bag, source)) GetLogSourceIdentifier(source);
    uint32 signature = 0;
    if (!ILoggerBagKeys::component_signature.Get(*bag, signature)) signature = uint32(errorCode >> 32);
    if (signature != 0) {
        if (!source.IsEmpty()) source.AppendUniChar(u'.');
        source.AppendOsType(signature);
    }
    if (errorCode != 0) {
        VString prefix;
        prefix.Printf("[%d] ", int32(uint32(errorCode)));
        message.Insert(prefix, 1);
    }
    AppendExtras(*bag, message);
}

void VLog4jMsgFileLogger::Log(const VString& source, EMessageLevel level, const VString& message) {
    StStringConverter<char> source8(source, VTC_UTF_8);
    StStringConverter<char> message8(message, VTC_UTF_8);
    Log(source8.GetCPointer(), level, message8.GetCPointer());
}

void VLog4jMsgFileLogger::Log(const char* source, EMessageLevel level, const char* message) {
    std::lock_guard<VCriticalSection> guard(fLock);
    _WriteLine(source, level, message);
}

void VLog4jMsgFileLogger::_WriteLine(const char* source, EMessageLevel level, const char* message) {
    if (!fFile || IsPaused() || !IsValidMessageLevel(level) || (kLevelMask & (uint32(1) << uint32(level))) == 0) return;
    VTime now;
    VTime::Now(now);
    VString time;
    now.GetRfc3339String(time, VTime::kRfc3339Local);
    StStringConverter<char> time8(time, VTC_UTF_8);
    fFile->AppendFormattedString("%llu %s [%s] %s - %s\n", (unsigned long long)ILogger::GetSequenceNumber(),
                                 time8.GetCPointer(), source != nullptr ? source : "", GetMessageLevelName(level),
                                 message != nullptr ? message : "");
}

void VLog4jMsgFileLogger::_Put(const std::vector<const VValueBag*>& bags) {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (!fFile) return;
    VString source;
    VString message;
    EMessageLevel level = EML_Information;
    for (const VValueBag* bag : bags) {
        GetLogInfosFromBag(bag, source, level, message);
        StStringConverter<char> source8(source, VTC_UTF_8);
        StStringConverter<char> message8(message, VTC_UTF_8);
        _WriteLine(source8.GetCPointer(), level, message8.GetCPointer());
    }
    fFile->Flush();
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& bags) {
    fOwner._Put(bags);
}

} // namespace vela
