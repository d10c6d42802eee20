#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VObject.h"
#include "core/VString.h"
#include "core/platform/XPosixStackCrawl.h"
#include "values/StPackedDictionaryKey.h"

namespace vela {

class VJSONObject;
class VValueBag;

// Element names of errors in bags.
namespace ErrorBagKeys {
inline constexpr StPackedDictionaryKey parameters("parameters");
inline constexpr StPackedDictionaryKey error("error");
inline constexpr StPackedDictionaryKey error_stack("error_stack");
} // namespace ErrorBagKeys

// Finds display texts: error messages and keyed strings (the localization manager implements it). Lookups leave
// out untouched when they find nothing.
class ILocalizer {
public:
    virtual ~ILocalizer() = default;
    // The dialect the texts are in; 0 when unknown.
    virtual uint32 GetLocalizationLanguage() const { return 0; }
    // Fills out with the text for code, which may name the error's parameters as {name}; false when none.
    virtual bool LocalizeErrorMessage(VError code, VString& out) = 0;
    virtual bool LocalizeStringWithKey(const VString&, VString&) { return false; }
    virtual bool LocalizeStringWithDotStringsKey(const VString&, VString&) { return false; }
    // The group bag stored under the name, with a reference for the caller; null when none.
    virtual const VValueBag* RetainGroupBag(const VString&) { return nullptr; }
};

// A reported failure: its code, the task that raised it and named parameters for its message. Made with a
// count of 1 owned by the creator; error contexts and readers on other threads retain it.
class VErrorBase : public VObject, public IRefCountable {
public:
    // Code 0, no task, empty parameters.
    VErrorBase();
    // Records the calling task (ID and name) when there is one, and the parameters "errCode" (the number) and
    // "componentSignature" (the four signature characters).
    explicit VErrorBase(VError code);
    // Retains parameters (null: a new empty object) as they are; records the calling task.
    VErrorBase(VError code, VJSONObject* parameters);
    // Same code and task; the parameters are a deep copy; the stack crawl is not copied.
    VErrorBase(const VErrorBase& other);
    VErrorBase& operator=(const VErrorBase&) = delete;
    ~VErrorBase() override;

    // A new error (the caller owns it) whose code comes from the parameters' "componentSignature" (a string,
    // else set to defaultSignature) and "errCode" (a number, else set to -1); both 0 give 'vela' 1. parameters
    // is retained (null: a new empty object).
    static VErrorBase* Create(VJSONObject* parameters, uint32 defaultSignature);
    // A new error (the caller owns it) as VErrorBase(code) makes, but with no task recorded: for an error made
    // ahead of need and shared by every task.
    static VErrorBase* CreateWithoutTask(VError code);

    VError GetError() const noexcept { return fError; }
    // 0 when the error was not made on a task.
    int32 GetTaskID() const noexcept { return fTaskID; }
    // The parameter object, never null; borrowed.
    VJSONObject* GetParameters() const noexcept { return fParameters; }
    // Empty: nothing fills it yet.
    const XPosixStackCrawl& GetStackCrawl() const noexcept { return fStackCrawl; }

    // ---- Parameters (added or replaced by name; numbers are stored as JSON numbers)
    void SetString(const VString& name, const VString& value);
    void SetLong(const VString& name, int32 value);
    void SetLong8(const VString& name, int64 value);
    // Sets "message", which then takes precedence over every lookup.
    void SetDescription(const VString& text);
    // Stores the current description as "message" unless "message" is already a string.
    void FreezeDescription();

    // ---- Texts
    // "Error code: <number> (<signature>)".
    virtual void GetErrorString(VString& out) const;
    // "message", else the registered localizer's text, else the system's text for native codes, else
    // GetErrorString: never empty for a non-zero code.
    virtual void GetErrorDescription(VString& out) const;
    // "action_description" with {name} placeholders filled from the parameters; empty without one.
    virtual void GetActionDescription(VString& out) const;
    // "velacore" for library errors, else "component: '<signature>'".
    virtual void GetLocation(VString& out) const;
    // The name of the raising task; its ID into taskID when not null.
    virtual void GetTaskName(VString& name, int32* taskID) const;
    // Error string, description, location, action (each on its own line when not empty) and the task line.
    virtual void DumpToString(VString& out) const;
    // Writes into buffer (size bytes) and sets size to the bytes written. With a process object: the dump text
    // as UTF-16, cut to size / 2 units, no terminator (answers UTF-16); without: a short UTF-8 line, zero-ended
    // within size (answers UTF-8).
    CharSet DebugDump(char* buffer, int& size) const override;

    // A new object (the caller owns it) with "errCode", "componentSignature" and "message" (the description).
    VJSONObject* CreateJSONObject() const;

    // ---- Bag form: attributes "error_code" (the 64-bit code), "task_id" and "task_name", and the parameters as
    // the element "parameters" (VValueBag::FromJSONValue). Answers VE_OK.
    VError SaveToBag(VValueBag& bag) const;
    // Reads what SaveToBag writes: an absent code or task ID stays as it was, an absent task name empties it; the
    // first "parameters" element replaces the parameters (with an empty object when it gives no object).
    // Answers VE_OK.
    VError LoadFromBag(const VValueBag& bag);

    // The localizer's text for code with placeholders filled from this error's parameters, and true; code 0
    // answers true and leaves out; no text clears out and answers false.
    bool CallLocalizer(ILocalizer* localizer, VError code, VString& out) const;

    // ---- Localizers by component signature (process-wide; the localizers are not owned)
    static void RegisterLocalizer(uint32 signature, ILocalizer* localizer);
    static void UnregisterLocalizer(uint32 signature);
    static ILocalizer* GetLocalizer(uint32 signature);

    // ---- Native codes
    // 0 gives 0; a status with a row in the native table gives its library code, else the 'CARB' code itself.
    static VError MAC_MapCarbonErrorToVError(int32 status) noexcept;
    // 'CARB' and 'POSX' codes through the native table (no row: defaultCode); 'MACH' and 'COCO' give
    // defaultCode; 'vela' 1 gives defaultCode; other codes, and numbers 0 of other components, stay.
    static VError EncodedNativeErrorToVError(VError nativeCode, VError defaultCode) noexcept;

private:
    void _RecordTask();
    void _SetNumber(const VString& name, double value);
    // Replaces {name} in text by the parameters' texts.
    void _FillPlaceholders(VString& text) const;
    void _GetSystemDescription(VString& out) const;

    VError fError = VE_OK;
    int32 fTaskID = 0;
    VString fTaskName;
    VJSONObject* fParameters = nullptr;
    XPosixStackCrawl fStackCrawl;
};

// An error whose text was written by a user: its description and dump are that text alone.
class VErrorUserGenerated : public VErrorBase {
public:
    VErrorUserGenerated(VError code, const VString& message);

    void GetErrorDescription(VString& out) const override;
    void DumpToString(VString& out) const override;

private:
    VString fMessage;
};

// An error received from elsewhere, carrying the description it came with; located "REST Imported Error".
class VErrorImported : public VErrorBase {
public:
    VErrorImported(VError code, const VString& description);

    void GetErrorDescription(VString& out) const override;
    void DumpToString(VString& out) const override;
    void GetLocation(VString& out) const override;

private:
    VString fDescription;
};

// Pushes error on the current task, taking over the caller's reference (also off a task, where nothing is
// pushed). A nativeCode other than 0 is pushed first as an error of its own, below error, unless the task's
// contexts filter error's code. Answers the push's result (false off a task).
bool _PushRetainedError(VErrorBase* error, VError nativeCode = VE_OK);

// Raises a VErrorUserGenerated with message on the current task and answers code.
VError vThrowUserGeneratedError(VError code, const VString& message);

} // namespace vela
