#pragma once

#include "core/IRefCountable.h"
#include "core/VError.h"
#include "core/VErrorBase.h"
#include "core/VObject.h"
#include "core/VRefPtr.h"

#include <type_traits>
#include <vector>

namespace vela {

class VJSONValue;
class VValueBag;

// The errors gathered by one block of code, oldest first, with the codes the block expects and keeps quiet.
// Touched only by its task's thread; the counts are atomic so that readers elsewhere may keep its errors.
class VErrorContext : public VObject, public IRefCountable {
public:
    // No errors, no filters, not failed for memory; keep and silent as given.
    explicit VErrorContext(bool keep = true, bool silent = false) noexcept : fSilent(silent), fKeep(keep) {}
    // The same errors (retained again) and failed-for-memory flag; no filters, keeping, not silent.
    VErrorContext(const VErrorContext& other);
    VErrorContext& operator=(const VErrorContext&) = delete;
    ~VErrorContext() override;

    // Retains and appends error (null: false); 'vela' 100 marks the context failed for memory.
    bool PushError(VErrorBase* error);
    // Appends other's errors (retained); failed for memory when either context was.
    void PushErrors(const VErrorContext& other);
    // Releases every error and clears failed for memory; filters and flags stay.
    void Flush() noexcept;

    void AddErrorToFilter(VError code) { fFilteredCodes.push_back(code); }
    // Whether code is among the filtered codes (whole 64-bit comparison).
    bool IsErrorFiltered(VError code) const noexcept;
    bool HasFilters() const noexcept { return !fFilteredCodes.empty(); }

    bool IsEmpty() const noexcept { return fErrors.empty(); }
    size_t GetErrorCount() const noexcept { return fErrors.size(); }
    const std::vector<VRefPtr<VErrorBase>>& GetErrors() const noexcept { return fErrors; }
    // The oldest or newest error, or null; borrowed.
    VErrorBase* GetFirst() const noexcept { return fErrors.empty() ? nullptr : fErrors.front().Get(); }
    VErrorBase* GetLast() const noexcept { return fErrors.empty() ? nullptr : fErrors.back().Get(); }
    // The code of the newest error; 0 without errors.
    VError GetLastError() const noexcept;
    // The oldest error with code, or null; borrowed.
    VErrorBase* Find(VError code) const noexcept;
    // Whether any error has one of the codes; the list ends at its first 0 (the first code always counts).
    template <class... Codes> bool FindAny(VError code, Codes... codes) const noexcept {
        static_assert((std::is_integral_v<Codes> && ...), "error codes are integers");
        const VError list[] = {code, VError(codes)...};
        return _FindAny(list, sizeof...(Codes) + 1);
    }

    bool IsSilent() const noexcept { return fSilent; }
    void SetSilent(bool silent) noexcept { fSilent = silent; }
    bool IsKept() const noexcept { return fKeep; }
    void SetKeep(bool keep) noexcept { fKeep = keep; }
    bool FailedForMemory() const noexcept { return fFailedForMemory; }
    void SetFailedForMemory(bool failed) noexcept { fFailedForMemory = failed; }

    // Undefined without errors, else an array of each error's CreateJSONObject, oldest first.
    void SaveToJSONArray(VJSONValue& out) const;
    // Adds one element "error" per error, oldest first (VErrorBase::SaveToBag). Answers VE_OK.
    VError SaveToBag(VValueBag& bag) const;
    // Appends an error loaded from each "error" element in order, stopping at the first that does not load (it
    // is appended all the same) and answering its code; 'vela' 100 when memory runs out; VE_OK otherwise.
    VError LoadFromBag(const VValueBag& bag);
    // Hands each error, oldest first, to the process logger (when there is one).
    void SendErrorsToLogger() const;
    // Whether the context holds errors.
    bool DebugDisplay() const noexcept { return !fErrors.empty(); }

private:
    friend class VErrorTaskContext;

    bool _FindAny(const VError* codes, size_t count) const noexcept;
    // Makes a spare context fresh for another block: no filters, not failed for memory.
    void _ResetForReuse(bool keep, bool silent) noexcept;

    std::vector<VRefPtr<VErrorBase>> fErrors;
    std::vector<VError> fFilteredCodes;
    bool fFailedForMemory = false;
    bool fSilent = false;
    bool fKeep = true;
};

// A task's stack of error contexts, bottom (base) context first. Pushing walks the stack from the top: a silent
// context, or one filtering the error's code, keeps the error from being reported. Made on first need and
// owned by its task; only the task's own thread touches it.
class VErrorTaskContext : public VObject, public IRefCountable {
public:
    VErrorTaskContext();
    VErrorTaskContext(const VErrorTaskContext&) = delete;
    VErrorTaskContext& operator=(const VErrorTaskContext&) = delete;
    ~VErrorTaskContext() override;

    // Pushes error on the top context (making a base context when the stack is empty). *filtered (may be null)
    // tells whether a silent or filtering context stopped it; a filtering context silences the top context
    // for the rest of its block. Null: false.
    bool PushError(VErrorBase* error, bool* filtered = nullptr);
    // PushError for each error of context, oldest first; null does nothing.
    void PushErrorsFromContext(const VErrorContext* context);
    // PushError for an error loaded from each "error" element of bag in order, up to the first that does not load.
    void PushErrorsFromBag(const VValueBag& bag);
    // On the current task, when it has error contexts: one element "__ERROR" per error (bottom context first,
    // oldest first) with the attributes "message" (the description), "componentSignature" and "errCode".
    static void BuildErrorStack(VValueBag& bag);
    // Inserts errors, in order, before the bottom context's errors (making it when the stack is empty).
    void InsertFrontErrors(const std::vector<VRefPtr<VErrorBase>>& errors);

    // Pushes a context with the given flags (the spare one when there is one). The stack keeps a reference and
    // the caller owns a second one, to release.
    VErrorContext* PushNewContext(bool keep, bool silent);
    // Pops the top context: a kept one with errors merges them into the context below (logging them when it
    // was silent and the one below is not); the base context survives as a plain copy holding its errors.
    void PopContext();
    // Pops the top context when it is expected (a guard's own); asserts in debug builds otherwise.
    void PopContext(const VErrorContext* expected);
    // Keeps the top context's errors below it (logging them with logAndSilence), then empties it; the top
    // becomes silent with logAndSilence and stays on the stack.
    void MergeAndFlushLastContext(bool logAndSilence);
    // Keeps context as the spare when the slot is free and nobody else holds it or its errors, else releases
    // it. Null does nothing.
    void RecycleContext(VErrorContext* context);

    // Appends every error of every context, bottom first, to out (retained); out is failed for memory when any
    // context is.
    void GetErrors(VErrorContext& out) const;
    // Whether any context on the stack filters code.
    bool IsErrorFiltered(VError code) const noexcept;
    // The top context's flag; false with an empty stack.
    bool FailedForMemory() const noexcept;
    // The first error with code, bottom context first; borrowed.
    VErrorBase* Find(VError code) const noexcept;
    // The newest error of the top context only; 0 when it has none.
    VError GetLastError() const noexcept;
    // The newest error of the highest context holding any, and the oldest of the lowest; borrowed.
    VErrorBase* GetLast() const noexcept;
    VErrorBase* GetFirst() const noexcept;
    // Flushes the top context.
    void Flush() noexcept;

    size_t GetContextCount() const noexcept { return fStack.size(); }
    // The top context, or null; borrowed.
    VErrorContext* GetTopContext() const noexcept { return fStack.empty() ? nullptr : fStack.back(); }
    // The context kept for reuse, or null; borrowed.
    VErrorContext* GetSpareContext() const noexcept { return fSpare; }

private:
    // Takes the stack's reference to the top context.
    VErrorContext* _PopTop() noexcept;

    VErrorContext* fSpare = nullptr;
    // Each entry holds one reference.
    std::vector<VErrorContext*> fStack;
};

// Opens an error context for a block: on a task, pushed on the task's stack and popped at the end of the
// block; off a task, a private context that no raise reaches. Guards nest strictly with their blocks.
class StErrorContextInstaller {
public:
    // keep: the block's errors survive it (merged into the enclosing context); silent: they are not reported.
    explicit StErrorContextInstaller(bool keep = true, bool silent = false) { _Init(keep, silent); }
    // A keeping, reporting context that filters code and the further codes up to the first 0:
    // StErrorContextInstaller errors(VE_A, VE_B, 0).
    template <class... Codes> explicit StErrorContextInstaller(VError code, Codes... codes) {
        static_assert((std::is_integral_v<Codes> && ...), "error codes are integers");
        const VError list[] = {code, VError(codes)...};
        _Init(true, false, list, sizeof...(Codes) + 1);
    }
    StErrorContextInstaller(const StErrorContextInstaller&) = delete;
    StErrorContextInstaller& operator=(const StErrorContextInstaller&) = delete;
    ~StErrorContextInstaller();

    // The context this guard installed; borrowed.
    VErrorContext* GetContext() const noexcept { return fContext; }
    // The newest error of the block's context; 0 when it has none.
    VError GetLastError() const noexcept;

private:
    void _Init(bool keep, bool silent, const VError* codes = nullptr, size_t count = 0);

    VErrorTaskContext* fTaskContext = nullptr;
    VErrorContext* fContext = nullptr;
    bool fSilent = false;
};

} // namespace vela
