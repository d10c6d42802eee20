#include "app/VLog4jMsgFileLogger.h"

#include "core/ILoggerBagKeys.h"
#include "core/StStringConverter.h"
#include "files/VFolder.h"
#include "values/VScalar.h"
#include "values/VValue.h"
#include "values/VValueBag.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

namespace {

constexpr const char* kLevelNames[] = {"DUMP", "TRACE", "ASSERT", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};
// What stands between a line's source and its message, by level (as GetMessageLevelName names them): appended at
// once. Appending it in three pieces, and " (" and ")\n" apart around no extras, cost a fifth of making a line.
constexpr std::string_view kLevelMiddles[] = {"] DUMP - ", "] TRACE - ", "] ASSERT - ", "] DEBUG - ",
                                              "] INFO - ", "] WARN - ",  "] ERROR - ",  "] FATAL - "};

std::string_view LevelMiddle(EMessageLevel level) noexcept {
    if (level < EML_Dump) return kLevelMiddles[EML_Dump];
    if (level > EML_Fatal) return kLevelMiddles[EML_Information];
    return kLevelMiddles[level];
}

// What an attribute of a record is to its line.
enum class ERole { kMessage, kSource, kLevel, kErrorCode, kSignature, kExtra };

struct AttributeEntry {
    std::string_view fName;
    ERole fRole;
    // For extras: the printed prefix.
    const char* fPrefix;
    uint32 fHash;
};

// The attributes with a role of their own, then the extras with their printed prefix.
struct AttributeRole {
    std::string_view fName;
    ERole fRole;
    const char* fPrefix;
};
// In static storage: a table local to the set-up below was built on the stack at every look-up, which made the
// reading of a record twice as costly.
constexpr AttributeRole kAttributeRoles[] = {
    {"message", ERole::kMessage, ""},
    {"source", ERole::kSource, ""},
    {"level", ERole::kLevel, ""},
    {"error_code", ERole::kErrorCode, ""},
    {"component_signature", ERole::kSignature, ""},
    {"task_id", ERole::kExtra, "task="},
    {"task_name", ERole::kExtra, "taskName="},
    {"socket", ERole::kExtra, "socket="},
    {"local_addr", ERole::kExtra, "localAddr="},
    {"local_port", ERole::kExtra, "localPort="},
    {"peer_addr", ERole::kExtra, "peerAddr="},
    {"peer_port", ERole::kExtra, "peerPort="},
    {"exchange_id", ERole::kExtra, "exchangeEndpointId="},
    {"is_blocking", ERole::kExtra, "blocking="},
    {"is_ssl", ERole::kExtra, "SSL="},
    {"is_select_io", ERole::kExtra, "selectIO="},
    {"ms_timeout", ERole::kExtra, "timeout="},
    {"count_bytes_asked", ERole::kExtra, "asked="},
    {"count_bytes_sent", ERole::kExtra, "sent="},
    {"count_bytes_received", ERole::kExtra, "received="},
    {"ms_spent", ERole::kExtra, "executionTime="},
    {"dump_offset", ERole::kExtra, "offset="},
    {"dump_buffer", ERole::kExtra, "data="},
    {"file_name", ERole::kExtra, "fileName="},
    {"line_number", ERole::kExtra, "lineNumber="},
    {"stack_crawl", ERole::kExtra, "stackCrawl="},
    {"user_id", ERole::kExtra, "UUID="},
};

// The entry of name; any other attribute prints as its name and "=" (null). Names are matched by their stored hash
// first: hashing every name of every record again would cost more than the rest of the lookup.
const AttributeEntry* FindAttributeEntry(const StPackedDictionaryKey& name) {
    static const std::vector<AttributeEntry> entries = [] {
        std::vector<AttributeEntry> built;
        for (const AttributeRole& role : kAttributeRoles)
            built.push_back({role.fName, role.fRole, role.fPrefix,
                             StPackedDictionaryKey::GetHashCode(role.fName.data(), role.fName.size())});
        return built;
    }();
    const std::string_view bytes(name.GetKey(), name.GetKeyLength());
    for (const AttributeEntry& entry : entries) {
        if (entry.fHash == name.GetHashCode() && entry.fName == bytes) return &entry;
    }
    return nullptr;
}

// Appends ", " (unless first), the prefix (or the name and "=") and the text of value, its line feeds shown as
// " ; ".
void AppendExtra(const StPackedDictionaryKey& name, const char* prefix, const VValueSingle& value, bool first,
                 VString& extras) {
    if (!first) extras.AppendCString(", ");
    if (prefix != nullptr) {
        extras.AppendCString(prefix);
    } else {
        extras.AppendBlock(name.GetKey(), name.GetKeyLength(), VTC_UTF_8);
        extras.AppendUniChar(u'=');
    }
    VString text;
    value.GetString(text);
    text.ExchangeRawString(VString("\n"), VString(" ; "));
    extras.AppendString(text);
}

// Narrows length units to bytes at to and answers whether all of them were ASCII (to then holds garbage past the
// first that was not). Whole blocks of 16 are narrowed without a branch a unit, which the compiler turns into
// vector code: for a million log records this step went from 534 to 309 million instructions (gathering the units
// seen lane by lane to the end instead cost 519).
bool NarrowASCII(const UniChar* units, size_t length, char* to) noexcept {
    constexpr size_t kBlock = 16;
    size_t i = 0;
    for (; i + kBlock <= length; i += kBlock) {
        // Through local copies: the compiler cannot know that the bytes written do not overlap the units.
        UniChar block[kBlock];
        char narrowed[kBlock];
        std::memcpy(block, units + i, sizeof(block));
        UniChar seen = 0;
        for (size_t j = 0; j < kBlock; ++j) {
            seen |= block[j];
            narrowed[j] = char(block[j]);
        }
        if (seen >= 0x80) return false;
        std::memcpy(to + i, narrowed, sizeof(narrowed));
    }
    for (; i < length; ++i) {
        if (units[i] >= 0x80) return false;
        to[i] = char(units[i]);
    }
    return true;
}

// Appends length units as ASCII to out; false, with out as it was, as soon as one is not ASCII.
bool AppendASCII(const UniChar* units, int32 length, std::string& out) {
    const size_t start = out.size();
    out.resize(start + size_t(length));
    if (NarrowASCII(units, size_t(length), out.data() + start)) return true;
    out.resize(start);
    return false;
}

// Appends text as UTF-8 to out; ASCII is copied unit by unit, anything else goes through the converter.
void AppendUTF8(const VString& text, std::string& out) {
    if (AppendASCII(text.GetCPointer(), text.GetLength(), out)) return;
    StStringConverter<char> utf8(text, VTC_UTF_8);
    if (utf8.GetCPointer() != nullptr) out.append(utf8.GetCPointer(), utf8.GetSize());
}

// A text attribute of a record: the bag's own stored units when it has them, else decoded into scratch.
class RecordText {
public:
    void Read(const VPackedDictionary_with_backstore<VPackedValue_VValueSingle>& attributes, size_t index) {
        if (attributes.GetStringUnitsAt(index, fUnits, fLength)) return;
        attributes.GetValueAt(index, fScratch);
        fUnits = fScratch.GetCPointer();
        fLength = fScratch.GetLength();
    }
    void Clear() noexcept {
        fUnits = nullptr;
        fLength = 0;
    }
    const UniChar* GetUnits() const noexcept { return fUnits; }
    int32 GetLength() const noexcept { return fLength; }
    void AppendTo(VString& out) const {
        if (fLength > 0) out.AppendUniChars(fUnits, fLength);
    }

private:
    const UniChar* fUnits = nullptr;
    int32 fLength = 0;
    VString fScratch;
};

} // namespace

// What one record says, read in one pass over its attributes (in their stored order, that of the extras).
// The texts borrow the bag until the next Read.
struct VLog4jMsgFileLogger::RecordParts {
    RecordText message;
    RecordText source;
    bool hasSource = false;
    bool hasSignature = false;
    EMessageLevel level = EML_Information;
    uint64 errorCode = 0;
    uint32 signature = 0;
    // The extra attributes as printed inside the parentheses.
    VString extras;

    void Read(const VValueBag* bag);
    // The signature printed after the source: the attribute's, else that of the error code (0: none).
    uint32 GetSignature() const noexcept { return hasSignature ? signature : uint32(errorCode >> 32); }
};

void VLog4jMsgFileLogger::RecordParts::Read(const VValueBag* bag) {
    message.Clear();
    source.Clear();
    hasSource = false;
    hasSignature = false;
    level = EML_Information;
    errorCode = 0;
    signature = 0;
    extras.Clear();
    bool first = true;
    const size_t count = bag != nullptr ? bag->GetAttributes().GetCount() : 0;
    for (size_t i = 0; i < count; ++i) {
        const auto& attributes = bag->GetAttributes();
        const StPackedDictionaryKey name = attributes.GetKeyAt(i);
        const AttributeEntry* entry = FindAttributeEntry(name);
        switch (entry != nullptr ? entry->fRole : ERole::kExtra) {
        case ERole::kMessage:
            message.Read(attributes, i);
            break;
        case ERole::kSource:
            source.Read(attributes, i);
            hasSource = true;
            break;
        case ERole::kLevel: {
            VLong value;
            attributes.GetValueAt(i, value);
            level = EMessageLevel(value.Get());
            break;
        }
        case ERole::kErrorCode: {
            VLong8 value;
            attributes.GetValueAt(i, value);
            errorCode = uint64(value.Get());
            break;
        }
        case ERole::kSignature: {
            VLong value;
            attributes.GetValueAt(i, value);
            signature = uint32(value.Get());
            hasSignature = true;
            break;
        }
        case ERole::kExtra: {
            const VValueSingle* value = attributes.GetNthValue(i);
            if (value == nullptr || value->IsNull()) break;
            AppendExtra(name, entry != nullptr ? entry->fPrefix : nullptr, *value, first, extras);
            first = false;
            break;
        }
        }
    }
}

VLog4jMsgFileLogger::VLog4jMsgFileLogger(const VFilePath& folder, const VString& name)
    : fFolder(folder), fName(name), fParts(std::make_unique<RecordParts>()) {}

VLog4jMsgFileLogger::VLog4jMsgFileLogger(const VFolder* folder, const VString& name)
    : fFolder(folder != nullptr ? folder->GetPath() : VFilePath()), fName(name),
      fParts(std::make_unique<RecordParts>()) {}

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
    RecordParts parts;
    parts.Read(bag);
    _Assemble(parts, source, message);
    level = parts.level;
}

void VLog4jMsgFileLogger::_Assemble(const RecordParts& parts, VString& source, VString& message) {
    source.Clear();
    message.Clear();
    if (parts.hasSource)
        parts.source.AppendTo(source);
    else
        GetLogSourceIdentifier(source);
    // A present 0 means no signature; a missing one comes from the error code.
    if (const uint32 signature = parts.GetSignature(); signature != 0) {
        if (!source.IsEmpty()) source.AppendUniChar(u'.');
        source.AppendOsType(signature);
    }
    if (parts.errorCode != 0) {
        VString prefix;
        prefix.Printf("[%d] ", int32(uint32(parts.errorCode)));
        message.AppendString(prefix);
    }
    parts.message.AppendTo(message);
    message.AppendCString(" (").AppendString(parts.extras).AppendUniChar(u')');
}

void VLog4jMsgFileLogger::Log(const VString& source, EMessageLevel level, const VString& message) {
    std::lock_guard<VCriticalSection> guard(fLock);
    fSource8.clear();
    fMessage8.clear();
    AppendUTF8(source, fSource8);
    AppendUTF8(message, fMessage8);
    _WriteLine(fSource8, level, fMessage8);
    _NumberLines();
    _WritePending();
}

void VLog4jMsgFileLogger::Log(const char* source, EMessageLevel level, const char* message) {
    std::lock_guard<VCriticalSection> guard(fLock);
    _WriteLine(source != nullptr ? source : "", level, message != nullptr ? message : "");
    _NumberLines();
    _WritePending();
}

void VLog4jMsgFileLogger::_AppendLocalTime(std::string& out) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // The calendar part changes once a second: converting to local time for every batch would cost more than
    // writing its lines.
    if (int64(now.tv_sec) != fTimeSecond) {
        tm local{};
        const time_t seconds = now.tv_sec;
        localtime_r(&seconds, &local);
        snprintf(fTimePrefix, sizeof(fTimePrefix), "%04d-%02d-%02dT%02d:%02d:%02d.", local.tm_year + 1900,
                 local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        fTimeSecond = int64(now.tv_sec);
    }
    const int32 ms = int32(now.tv_nsec / 1000000);
    out.append(fTimePrefix);
    out.push_back(char('0' + ms / 100));
    out.push_back(char('0' + ms / 10 % 10));
    out.push_back(char('0' + ms % 10));
}

bool VLog4jMsgFileLogger::_ShouldWrite(EMessageLevel level) const noexcept {
    return fFile && !IsPaused() && IsValidMessageLevel(level) && (kLevelMask & (uint32(1) << uint32(level))) != 0;
}

void VLog4jMsgFileLogger::_WriteLine(std::string_view source, EMessageLevel level, std::string_view message) {
    if (!_ShouldWrite(level)) return;
    // "%llu %s [%s] %s - %s\n": sequence, local time, source, level name, message; the first two come with
    // the batch's numbering.
    fTails.append(source).append(LevelMiddle(level));
    fTails.append(message).push_back('\n');
    fTailEnds.push_back(fTails.size());
}

void VLog4jMsgFileLogger::_NumberLines() {
    if (fTailEnds.empty()) return;
    // One clock read and one take of the counter for the whole batch: per line they were a quarter of the making
    // of a line.
    fTime.assign(1, ' ');
    _AppendLocalTime(fTime);
    fTime.append(" [");
    uint64 number = ILogger::ReserveSequenceNumbers(fTailEnds.size());
    // Each line's head (its number, then the time) is put together on the stack and appended whole: a million
    // lines went from 236 to 210 million instructions here.
    char head[24 + sizeof(fTimePrefix) + 8];
    fPending.reserve(fPending.size() + fTails.size() + fTailEnds.size() * (12 + fTime.size()));
    size_t start = 0;
    for (const size_t end : fTailEnds) {
        auto [digitsEnd, error] = std::to_chars(head, head + 24, number++);
        (void)error;
        std::memcpy(digitsEnd, fTime.data(), fTime.size());
        const std::string_view tail(fTails.data() + start, end - start);
        start = end;
        // Cut where the file rolls over between two lines: every line lands in the file that writing the lines
        // one by one would have given it.
        if (!fPending.empty() && int64(fPending.size()) > fFile->GetBytesBeforeRollover()) _WritePending();
        fPending.append(head, size_t(digitsEnd - head) + fTime.size()).append(tail);
    }
    fTails.clear();
    fTailEnds.clear();
}

void VLog4jMsgFileLogger::_WritePending() {
    if (fPending.empty()) return;
    if (fFile) fFile->AppendString(fPending.data(), fPending.size());
    fPending.clear();
}

void VLog4jMsgFileLogger::_Put(const std::vector<const VValueBag*>& bags) {
    std::lock_guard<VCriticalSection> guard(fLock);
    if (!fFile) return;
    for (const VValueBag* bag : bags) {
        fParts->Read(bag);
        if (_WriteASCIIRecord(*fParts)) continue;
        VString source;
        VString message;
        _Assemble(*fParts, source, message);
        fSource8.clear();
        fMessage8.clear();
        AppendUTF8(source, fSource8);
        AppendUTF8(message, fMessage8);
        _WriteLine(fSource8, fParts->level, fMessage8);
    }
    _NumberLines();
    _WritePending();
    fFile->Flush();
}

bool VLog4jMsgFileLogger::_WriteASCIIRecord(const RecordParts& parts) {
    if (!_ShouldWrite(parts.level)) return true;
    // The signature and the process's identifier are rare: the general path has them. Neither is a
    // sequence number spent before it is known that the line is made here.
    if (!parts.hasSource || parts.GetSignature() != 0) return false;
    // From the source on, in the order of the general path's message: "[<code>] ", message, " (", extras, ")".
    std::string& tail = fTails;
    const size_t start = tail.size();
    if (!AppendASCII(parts.source.GetUnits(), parts.source.GetLength(), tail)) {
        tail.resize(start);
        return false;
    }
    tail.append(LevelMiddle(parts.level));
    if (parts.errorCode != 0) {
        char prefix[24];
        const int length = snprintf(prefix, sizeof(prefix), "[%d] ", int32(uint32(parts.errorCode)));
        tail.append(prefix, size_t(length));
    }
    bool ascii = AppendASCII(parts.message.GetUnits(), parts.message.GetLength(), tail);
    if (ascii && parts.extras.IsEmpty()) {
        tail.append(" ()\n");
    } else if (ascii) {
        tail.append(" (");
        ascii = AppendASCII(parts.extras.GetCPointer(), parts.extras.GetLength(), tail);
        tail.append(")\n");
    }
    if (!ascii) {
        tail.resize(start);
        return false;
    }
    fTailEnds.push_back(tail.size());
    return true;
}

void VLog4jMsgFileLogger::VLog4jLogListener::Put(const std::vector<const VValueBag*>& bags) {
    fOwner._Put(bags);
}

} // namespace vela
