#include "core/VErrorBase.h"

#include "core/VErrorContext.h"
#include "core/VRefPtr.h"
#include "core/VTask.h"
#include "values/StBagKey.h"
#include "values/VBagArray.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"
#include "json/VJSONArray.h"
#include "json/VJSONObject.h"
#include "json/VJSONValue.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

namespace vela {

namespace {

const VString& ErrCodeName() {
    static const VString sName("errCode");
    return sName;
}
const VString& SignatureName() {
    static const VString sName("componentSignature");
    return sName;
}
const VString& MessageName() {
    static const VString sName("message");
    return sName;
}
const VString& ActionName() {
    static const VString sName("action_description");
    return sName;
}

// The signature's bytes up to the first zero, decoded as UTF-8 (what "%.4s" of the four bytes shows).
void AppendSignature(VString& out, uint32 signature) {
    const char bytes[4] = {char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature)};
    size_t length = 0;
    while (length < 4 && bytes[length] != 0)
        ++length;
    if (length > 0) out.AppendBlock(bytes, length, VTC_UTF_8);
}

VString SignatureText(uint32 signature) {
    VString text;
    AppendSignature(text, signature);
    return text;
}

// The same four bytes as a C string, for the formatted dumps that run without the string machinery.
void SignatureChars(uint32 signature, char (&out)[5]) noexcept {
    const char bytes[4] = {char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature)};
    std::memcpy(out, bytes, 4);
    out[4] = 0;
}

struct NativeRow {
    VError fNative;
    VError fLibrary;
};

constexpr VError Carbon(int32 status) noexcept {
    return MakeVError(kComponentCarbon, status);
}
constexpr VError Posix(int32 number) noexcept {
    return MakeVError(kComponentPosix, number);
}

// Native codes with a library equivalent, scanned in order.
constexpr NativeRow kNativeTable[] = {
    {0, 0},
    {Carbon(-108), MakeLibraryError(100)}, // memFullErr
    {Carbon(-39), MakeLibraryError(200)},  // eofErr
    {Carbon(-34), MakeLibraryError(658)},  // dskFulErr
    {Carbon(-43), MakeLibraryError(600)},  // fnfErr
    {Carbon(-120), MakeLibraryError(650)}, // dirNFErr
    {Carbon(-45), MakeLibraryError(5)},    // fLckdErr
    {Carbon(-46), MakeLibraryError(5)},    // vLckdErr
    {Carbon(-192), MakeLibraryError(401)}, // resNotFound
    {Carbon(-37), MakeLibraryError(614)},  // bdNamErr
    {Carbon(-54), MakeLibraryError(5)},    // permErr
    {Carbon(-128), MakeLibraryError(6)},   // userCanceledErr
    {Posix(ENOENT), MakeLibraryError(600)},
    {Posix(EACCES), MakeLibraryError(5)},
    {Posix(ENOSPC), MakeLibraryError(658)}, // the disk is full, as dskFulErr
};

const NativeRow* FindNativeRow(VError native) noexcept {
    for (const NativeRow& row : kNativeTable)
        if (row.fNative == native) return &row;
    return nullptr;
}

std::mutex& LocalizersLock() {
    static std::mutex sLock;
    return sLock;
}
// Filled at start-up; locked anyway, since tests and late registrations may overlap descriptions.
std::map<uint32, ILocalizer*>& Localizers() {
    static std::map<uint32, ILocalizer*> sLocalizers;
    return sLocalizers;
}

// Deep copies of JSON values; shared and cyclic sub-objects keep their shape through the map of copies.
class JSONCloner {
public:
    VJSONValue Clone(const VJSONValue& value) {
        if (VJSONObject* object = value.GetObjectPtr()) return VJSONValue(CloneObject(object).Get());
        if (VJSONArray* array = value.GetArrayPtr()) return VJSONValue(CloneArray(array).Get());
        return value;
    }

    VRefPtr<VJSONObject> CloneObject(const VJSONObject* source) {
        if (auto found = fCopies.find(source); found != fCopies.end())
            return VRefPtr<VJSONObject>(static_cast<VJSONObject*>(found->second));
        auto copy = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
        fCopies.emplace(source, copy.Get());
        for (const auto& [name, value] : source->GetInternalProperties())
            copy->SetOwnProperty(name, Clone(value));
        return copy;
    }

private:
    VRefPtr<VJSONArray> CloneArray(const VJSONArray* source) {
        if (auto found = fCopies.find(source); found != fCopies.end())
            return VRefPtr<VJSONArray>(static_cast<VJSONArray*>(found->second));
        auto copy = VRefPtr<VJSONArray>::Adopt(new VJSONArray);
        fCopies.emplace(source, copy.Get());
        std::vector<VJSONValue> values;
        source->GetValues(values);
        for (const VJSONValue& value : values)
            copy->Push(Clone(value));
        return copy;
    }

    // Copies live as long as the root copy holds them; the map only borrows.
    std::unordered_map<const void*, void*> fCopies;
};

// strerror_r comes in two shapes: the GNU one answers the text, the POSIX one fills the buffer.
[[maybe_unused]] const char* PickErrorText(int result, const char* buffer) noexcept {
    // A cut text (ERANGE) is taken too.
    return result == 0 || result == ERANGE ? buffer : nullptr;
}
[[maybe_unused]] const char* PickErrorText(const char* text, const char*) noexcept {
    return text;
}

} // namespace

// ---- Construction

VErrorBase::VErrorBase() : fParameters(new VJSONObject) {}

VErrorBase::VErrorBase(VError code) : fError(code), fParameters(new VJSONObject) {
    _RecordTask();
    _SetNumber(ErrCodeName(), NumberOfVError(code));
    fParameters->SetProperty(SignatureName(), VJSONValue(SignatureText(ComponentOfVError(code))));
}

VErrorBase::VErrorBase(VError code, VJSONObject* parameters)
    : fError(code), fParameters(parameters != nullptr ? RetainRefCountable(parameters) : new VJSONObject) {
    _RecordTask();
}

VErrorBase::VErrorBase(const VErrorBase& other)
    : VObject(other), IRefCountable(other), fError(other.fError), fTaskID(other.fTaskID), fTaskName(other.fTaskName) {
    JSONCloner cloner;
    fParameters = cloner.CloneObject(other.fParameters).Forget();
}

VErrorBase::~VErrorBase() {
    ReleaseRefCountable(&fParameters);
}

VErrorBase* VErrorBase::Create(VJSONObject* parameters, uint32 defaultSignature) {
    auto held = parameters != nullptr ? VRefPtr<VJSONObject>(parameters) : VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    uint32 signature = defaultSignature;
    VJSONValue signatureValue = held->GetProperty(SignatureName());
    if (signatureValue.IsString()) {
        VString text;
        signatureValue.GetString(text);
        text.Truncate(4);
        signature = text.GetOsType();
    } else {
        held->SetProperty(SignatureName(), VJSONValue(SignatureText(defaultSignature)));
    }
    int32 number = -1;
    VJSONValue numberValue = held->GetProperty(ErrCodeName());
    if (numberValue.IsNumber()) {
        number = JSONNumberToLong(numberValue.GetNumber());
    } else {
        held->SetProperty(ErrCodeName(), VJSONValue(-1.0));
    }
    VError code = MakeVError(signature, number);
    if (code == VE_OK) code = VE_UNKNOWN_ERROR;
    return new VErrorBase(code, held.Get());
}

VErrorBase* VErrorBase::CreateWithoutTask(VError code) {
    auto* error = new VErrorBase(code);
    error->fTaskID = 0;
    error->fTaskName.Clear();
    return error;
}

void VErrorBase::_RecordTask() {
    VTask* task = VTask::GetCurrent();
    if (task == nullptr) return;
    fTaskID = task->GetID();
    task->GetName(fTaskName);
}

// ---- Parameters

void VErrorBase::_SetNumber(const VString& name, double value) {
    fParameters->SetProperty(name, VJSONValue(value));
}

void VErrorBase::SetString(const VString& name, const VString& value) {
    fParameters->SetProperty(name, VJSONValue(value));
}

void VErrorBase::SetLong(const VString& name, int32 value) {
    _SetNumber(name, value);
}

void VErrorBase::SetLong8(const VString& name, int64 value) {
    _SetNumber(name, double(value));
}

void VErrorBase::SetDescription(const VString& text) {
    SetString(MessageName(), text);
}

void VErrorBase::FreezeDescription() {
    if (fParameters->GetProperty(MessageName()).IsString()) return;
    VString description;
    GetErrorDescription(description);
    SetDescription(description);
}

// ---- Texts

void VErrorBase::GetErrorString(VString& out) const {
    out.FromCString("Error code: ");
    out.AppendLong(NumberOfVError(fError));
    out.AppendCString(" (");
    AppendSignature(out, ComponentOfVError(fError));
    out.AppendUniChar(u')');
}

void VErrorBase::GetErrorDescription(VString& out) const {
    VJSONValue message = fParameters->GetProperty(MessageName());
    if (message.IsString()) {
        message.GetString(out);
    } else if (fError != VE_OK) {
        ILocalizer* localizer = GetLocalizer(ComponentOfVError(fError));
        if (localizer == nullptr || !CallLocalizer(localizer, fError, out)) _GetSystemDescription(out);
    }
    if (out.IsEmpty()) GetErrorString(out);
}

void VErrorBase::_GetSystemDescription(VString& out) const {
    out.Clear();
    // Only POSIX codes have system texts here; the other native components belong to other systems.
    if (ComponentOfVError(fError) != kComponentPosix) return;
    char buffer[1024];
    buffer[0] = 0;
    const char* text = PickErrorText(strerror_r(NumberOfVError(fError), buffer, sizeof(buffer)), buffer);
    if (text != nullptr && text[0] != 0) out.FromBlock(text, std::strlen(text), VTC_UTF_8);
}

void VErrorBase::GetActionDescription(VString& out) const {
    out.Clear();
    VJSONValue action = fParameters->GetProperty(ActionName());
    if (!action.IsString()) return;
    action.GetString(out);
    _FillPlaceholders(out);
}

void VErrorBase::GetLocation(VString& out) const {
    uint32 signature = ComponentOfVError(fError);
    if (signature == kComponentVela) {
        out.FromCString("velacore");
        return;
    }
    out.FromCString("component: '");
    AppendSignature(out, signature);
    out.AppendUniChar(u'\'');
}

void VErrorBase::GetTaskName(VString& name, int32* taskID) const {
    name.FromString(fTaskName);
    if (taskID != nullptr) *taskID = fTaskID;
}

void VErrorBase::DumpToString(VString& out) const {
    GetErrorString(out);
    out.AppendUniChar(u'\n');
    VString line;
    GetErrorDescription(line);
    if (!line.IsEmpty()) out.AppendString(line).AppendUniChar(u'\n');
    GetLocation(line);
    if (!line.IsEmpty()) out.AppendString(line).AppendUniChar(u'\n');
    GetActionDescription(line);
    if (!line.IsEmpty()) out.AppendString(line).AppendUniChar(u'\n');
    out.AppendCString("task ");
    out.AppendLong(fTaskID);
    if (!fTaskName.IsEmpty()) {
        out.AppendCString(", name: '");
        out.AppendString(fTaskName);
        out.AppendUniChar(u'\'');
    }
    out.AppendUniChar(u'\n');
}

CharSet VErrorBase::DebugDump(char* buffer, int& size) const {
    if (buffer == nullptr || size <= 0) {
        size = 0;
        return VTC_UTF_8;
    }
    if (ProcessObjectExists()) {
        VString text;
        DumpToString(text);
        int units = std::min(text.GetLength(), size / 2);
        std::memcpy(buffer, text.GetCPointer(), size_t(units) * sizeof(UniChar));
        size = units * int(sizeof(UniChar));
        return VTC_UTF_16;
    }
    char signature[5];
    SignatureChars(ComponentOfVError(fError), signature);
    int written = std::snprintf(buffer, size_t(size), "Error code: %ld, component: '%.4s', task ID: %d",
                                long(NumberOfVError(fError)), signature, int(fTaskID));
    size = written < 0 ? 0 : std::min(written, size - 1);
    return VTC_UTF_8;
}

VJSONObject* VErrorBase::CreateJSONObject() const {
    auto object = VRefPtr<VJSONObject>::Adopt(new VJSONObject);
    object->SetProperty(ErrCodeName(), VJSONValue(double(NumberOfVError(fError))));
    object->SetProperty(SignatureName(), VJSONValue(SignatureText(ComponentOfVError(fError))));
    VString description;
    GetErrorDescription(description);
    object->SetProperty(MessageName(), VJSONValue(description));
    return object.Forget();
}

bool VErrorBase::CallLocalizer(ILocalizer* localizer, VError code, VString& out) const {
    if (code == VE_OK) return true;
    if (localizer != nullptr && localizer->LocalizeErrorMessage(code, out)) {
        _FillPlaceholders(out);
        return true;
    }
    out.Clear();
    return false;
}

// {name} takes the text of the parameter name; "{{" and "}}" escape braces except as the very last character;
// empty names, names with a space and missing or null parameters are left as written.
void VErrorBase::_FillPlaceholders(VString& text) const {
    const int32 length = text.GetLength();
    if (length < 2 || fParameters->IsEmpty()) return;
    const UniChar* units = text.GetCPointer();
    VString result;
    VString key;
    VString value;
    int32 pos = 0;
    while (pos < length) {
        int32 open = pos;
        while (open < length && units[open] != u'{')
            ++open;
        result.AppendUniChars(units + pos, open - pos);
        if (open >= length) break;
        if (open + 1 < length - 1 && units[open + 1] == u'{') {
            result.AppendUniChars(units + open, 2);
            pos = open + 2;
            continue;
        }
        int32 close = open + 1;
        while (close < length && units[close] != u'}')
            ++close;
        if (close >= length) {
            result.AppendUniChars(units + open, length - open);
            break;
        }
        if (close + 1 < length - 1 && units[close + 1] == u'}') {
            result.AppendUniChars(units + open, close + 2 - open);
            pos = close + 2;
            continue;
        }
        key.FromUniString(units + open + 1, close - open - 1);
        VJSONValue parameter;
        if (!key.IsEmpty() && key.FindUniChar(u' ') == 0) parameter = fParameters->GetProperty(key);
        if (parameter.IsNull() || parameter.IsUndefined()) {
            result.AppendUniChar(u'{');
            pos = open + 1;
            continue;
        }
        parameter.GetString(value);
        result.AppendString(value);
        pos = close + 1;
    }
    text.FromString(result);
}

// ---- Localizers

void VErrorBase::RegisterLocalizer(uint32 signature, ILocalizer* localizer) {
    std::lock_guard<std::mutex> guard(LocalizersLock());
    Localizers()[signature] = localizer;
}

void VErrorBase::UnregisterLocalizer(uint32 signature) {
    std::lock_guard<std::mutex> guard(LocalizersLock());
    Localizers().erase(signature);
}

ILocalizer* VErrorBase::GetLocalizer(uint32 signature) {
    std::lock_guard<std::mutex> guard(LocalizersLock());
    auto found = Localizers().find(signature);
    return found != Localizers().end() ? found->second : nullptr;
}

// ---- Native codes

VError VErrorBase::MAC_MapCarbonErrorToVError(int32 status) noexcept {
    if (status == 0) return VE_OK;
    VError code = Carbon(status);
    const NativeRow* row = FindNativeRow(code);
    return row != nullptr ? row->fLibrary : code;
}

VError VErrorBase::EncodedNativeErrorToVError(VError nativeCode, VError defaultCode) noexcept {
    uint32 signature = ComponentOfVError(nativeCode);
    bool mapped = signature == kComponentCarbon || signature == kComponentPosix;
    if (!mapped) {
        if (NumberOfVError(nativeCode) == 0) return nativeCode;
        if (signature == kComponentMach || signature == kComponentCocoa) return defaultCode;
        return nativeCode == VE_UNKNOWN_ERROR ? defaultCode : nativeCode;
    }
    // 'CARB' 0 and 'POSX' 0 ("no error" in native terms) find no row and give defaultCode, not 0: callers only
    // map codes of actual failures.
    const NativeRow* row = FindNativeRow(nativeCode);
    return row != nullptr ? row->fLibrary : defaultCode;
}

// ---- Subclasses

VErrorUserGenerated::VErrorUserGenerated(VError code, const VString& message) : VErrorBase(code), fMessage(message) {}

void VErrorUserGenerated::GetErrorDescription(VString& out) const {
    out.FromString(fMessage);
}

void VErrorUserGenerated::DumpToString(VString& out) const {
    out.FromString(fMessage);
}

VErrorImported::VErrorImported(VError code, const VString& description) : VErrorBase(code), fDescription(description) {}

void VErrorImported::GetErrorDescription(VString& out) const {
    out.FromString(fDescription);
}

void VErrorImported::DumpToString(VString& out) const {
    out.FromString(fDescription);
}

void VErrorImported::GetLocation(VString& out) const {
    out.FromCString("REST Imported Error");
}

// ---- Bag form

namespace {
// Attributes private to the error layer.
constexpr StBagKeyNoDefault<int64, VLong8> kErrorCodeKey("error_code");
constexpr StBagKeyNoDefault<int32, VLong> kTaskIDKey("task_id");
constexpr StBagKeyNoDefault<VString, VString> kTaskNameKey("task_name");
} // namespace

VError VErrorBase::SaveToBag(VValueBag& bag) const {
    kErrorCodeKey.Set(bag, int64(fError));
    kTaskIDKey.Set(bag, fTaskID);
    kTaskNameKey.Set(bag, fTaskName);
    auto parameters = VRefPtr<VValueBag>::Adopt(new VValueBag);
    if (parameters->FromJSONValue(VJSONValue(fParameters)) == VE_OK)
        bag.ReplaceElement(ErrorBagKeys::parameters, parameters.Get());
    return VE_OK;
}

VError VErrorBase::LoadFromBag(const VValueBag& bag) {
    int64 code = 0;
    if (kErrorCodeKey.Get(bag, code)) fError = VError(code);
    int32 taskID = 0;
    if (kTaskIDKey.Get(bag, taskID)) fTaskID = taskID;
    kTaskNameKey.Get(bag, fTaskName); // cleared when absent
    const VBagArray* list = bag.GetElements(ErrorBagKeys::parameters);
    const VValueBag* saved = list != nullptr ? list->GetNth(1) : nullptr;
    if (saved == nullptr) return VE_OK;
    VJSONValue json;
    saved->GetJSONValue(json);
    VJSONObject* parameters = json.IsObject() ? json.RetainObject() : new VJSONObject;
    ReleaseRefCountable(&fParameters);
    fParameters = parameters;
    return VE_OK;
}

// ---- Raising

bool _PushRetainedError(VErrorBase* error, VError nativeCode) {
    if (error == nullptr) return false;
    if (nativeCode != VE_OK && VTask::GetCurrent() != nullptr) {
        VErrorTaskContext* context = VTask::GetErrorContext(false);
        if (context == nullptr || !context->IsErrorFiltered(error->GetError()))
            VTask::PushRetainedError(new VErrorBase(nativeCode));
    }
    return VTask::PushRetainedError(error);
}

VError vThrowUserGeneratedError(VError code, const VString& message) {
    // Off a task the push would drop it at once.
    if (VTask::GetCurrent() == nullptr) return code;
    auto error = VRefPtr<VErrorUserGenerated>::Adopt(new VErrorUserGenerated(code, message));
    VTask::PushError(error.Get());
    return code;
}

} // namespace vela
