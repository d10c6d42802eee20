#include "core/VErrorContext.h"

#include "core/ILogger.h"
#include "core/VErrorBase.h"
#include "core/VTask.h"
#include "values/VBagArray.h"
#include "values/VScalar.h"
#include "values/VValueBag.h"

#include <algorithm>
#include <cassert>
#include <new>

namespace vela {

// ---- VErrorContext

VErrorContext::VErrorContext(const VErrorContext& other)
    : VObject(other), IRefCountable(other), fErrors(other.fErrors), fFailedForMemory(other.fFailedForMemory) {}

VErrorContext::~VErrorContext() = default;

bool VErrorContext::PushError(VErrorBase* error) {
    if (error == nullptr) return false;
    if (error->GetError() == VE_MEMORY_FULL) fFailedForMemory = true;
    fErrors.emplace_back(error);
    return true;
}

void VErrorContext::PushErrors(const VErrorContext& other) {
    if (&other == this) return;
    fErrors.insert(fErrors.end(), other.fErrors.begin(), other.fErrors.end());
    // Combined, not copied: a memory failure below must still show after a block with other errors merges in.
    fFailedForMemory = fFailedForMemory || other.fFailedForMemory;
}

void VErrorContext::Flush() noexcept {
    fErrors.clear();
    fFailedForMemory = false;
}

bool VErrorContext::IsErrorFiltered(VError code) const noexcept {
    return std::find(fFilteredCodes.begin(), fFilteredCodes.end(), code) != fFilteredCodes.end();
}

VError VErrorContext::GetLastError() const noexcept {
    return fErrors.empty() ? VE_OK : fErrors.back()->GetError();
}

VErrorBase* VErrorContext::Find(VError code) const noexcept {
    for (const VRefPtr<VErrorBase>& error : fErrors)
        if (error->GetError() == code) return error.Get();
    return nullptr;
}

bool VErrorContext::_FindAny(const VError* codes, size_t count) const noexcept {
    // The list ends at its first 0 after the first code.
    size_t used = 1;
    while (used < count && codes[used] != VE_OK)
        ++used;
    for (const VRefPtr<VErrorBase>& error : fErrors)
        if (std::find(codes, codes + used, error->GetError()) != codes + used) return true;
    return false;
}

void VErrorContext::_ResetForReuse(bool keep, bool silent) noexcept {
    fFilteredCodes.clear();
    fFailedForMemory = false;
    fKeep = keep;
    fSilent = silent;
}

VError VErrorContext::SaveToBag(VValueBag& bag) const {
    for (const VRefPtr<VErrorBase>& error : fErrors) {
        auto saved = VRefPtr<VValueBag>::Adopt(new VValueBag);
        error->SaveToBag(*saved);
        bag.AddElement(ErrorBagKeys::error, saved.Get());
    }
    return VE_OK;
}

VError VErrorContext::LoadFromBag(const VValueBag& bag) {
    const VBagArray* list = bag.GetElements(ErrorBagKeys::error);
    for (int32 n = 1; list != nullptr && n <= list->GetCount(); ++n) {
        const VValueBag* saved = list->GetNth(n);
        if (saved == nullptr) continue;
        try {
            auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase);
            VError result = error->LoadFromBag(*saved);
            PushError(error.Get());
            if (result != VE_OK) return result;
        } catch (const std::bad_alloc&) {
            return VE_MEMORY_FULL;
        }
    }
    return VE_OK;
}

void VErrorContext::SendErrorsToLogger() const {
    ILogger* logger = GetProcessLogger();
    if (logger == nullptr) return;
    for (const VRefPtr<VErrorBase>& error : fErrors)
        logger->LogErrorIfNecessary(error.Get());
}

// ---- VErrorTaskContext

VErrorTaskContext::VErrorTaskContext() : fSpare(new VErrorContext) {
    // Room for a few nested guards, so that opening one does not allocate.
    fStack.reserve(8);
}

VErrorTaskContext::~VErrorTaskContext() {
    ReleaseRefCountable(&fSpare);
    while (!fStack.empty()) {
        VErrorContext* context = _PopTop();
        context->Release();
    }
}

VErrorContext* VErrorTaskContext::_PopTop() noexcept {
    VErrorContext* top = fStack.back();
    fStack.pop_back();
    return top;
}

bool VErrorTaskContext::PushError(VErrorBase* error, bool* filtered) {
    if (filtered != nullptr) *filtered = false;
    if (error == nullptr) return false;
    // The base context is always a new one: the spare is kept for guards.
    if (fStack.empty()) fStack.push_back(new VErrorContext(true, false));
    VErrorContext* top = fStack.back();
    if (!top->PushError(error)) return false;
    bool stopped = false;
    for (auto context = fStack.rbegin(); context != fStack.rend(); ++context) {
        if ((*context)->IsSilent()) {
            stopped = true;
            break;
        }
        if ((*context)->IsErrorFiltered(error->GetError())) {
            // An expected failure silences the rest of the block that raised it.
            top->SetSilent(true);
            top->SetKeep(false);
            stopped = true;
            break;
        }
    }
    if (filtered != nullptr) *filtered = stopped;
    return true;
}

void VErrorTaskContext::PushErrorsFromContext(const VErrorContext* context) {
    if (context == nullptr) return;
    // A copy of the list: the context may be one of this stack's.
    std::vector<VRefPtr<VErrorBase>> errors = context->GetErrors();
    for (const VRefPtr<VErrorBase>& error : errors)
        PushError(error.Get());
}

void VErrorTaskContext::PushErrorsFromBag(const VValueBag& bag) {
    const VBagArray* list = bag.GetElements(ErrorBagKeys::error);
    for (int32 n = 1; list != nullptr && n <= list->GetCount(); ++n) {
        const VValueBag* saved = list->GetNth(n);
        if (saved == nullptr) continue;
        auto error = VRefPtr<VErrorBase>::Adopt(new VErrorBase);
        if (error->LoadFromBag(*saved) != VE_OK) return;
        PushError(error.Get());
    }
}

void VErrorTaskContext::BuildErrorStack(VValueBag& bag) {
    static constexpr StPackedDictionaryKey kErrorElement("__ERROR");
    static constexpr StPackedDictionaryKey kMessage("message");
    static constexpr StPackedDictionaryKey kSignature("componentSignature");
    static constexpr StPackedDictionaryKey kNumber("errCode");
    const VErrorTaskContext* stack = VTask::GetErrorContext(false);
    if (stack == nullptr || stack->GetContextCount() == 0) return;
    VErrorContext all;
    stack->GetErrors(all);
    for (const VRefPtr<VErrorBase>& error : all.GetErrors()) {
        auto entry = VRefPtr<VValueBag>::Adopt(new VValueBag);
        VString text;
        error->GetErrorDescription(text);
        entry->SetString(kMessage, text);
        const uint32 signature = ComponentOfVError(error->GetError());
        const char chars[4] = {char(signature >> 24), char(signature >> 16), char(signature >> 8), char(signature)};
        text.Clear();
        text.AppendBlock(chars, size_t(std::find(chars, chars + 4, '\0') - chars), VTC_UTF_8); // reading order
        entry->SetString(kSignature, text);
        entry->SetLong(kNumber, NumberOfVError(error->GetError()));
        bag.AddElement(kErrorElement, entry.Get());
    }
}

void VErrorTaskContext::InsertFrontErrors(const std::vector<VRefPtr<VErrorBase>>& errors) {
    if (errors.empty()) return;
    if (fStack.empty()) {
        VErrorContext* base = PushNewContext(true, false);
        base->Release();
    }
    std::vector<VRefPtr<VErrorBase>>& bottom = fStack.front()->fErrors;
    bottom.insert(bottom.begin(), errors.begin(), errors.end());
    for (const VRefPtr<VErrorBase>& error : errors)
        if (error && error->GetError() == VE_MEMORY_FULL) fStack.front()->fFailedForMemory = true;
}

VErrorContext* VErrorTaskContext::PushNewContext(bool keep, bool silent) {
    VErrorContext* context = fSpare;
    fSpare = nullptr;
    if (context == nullptr) context = new VErrorContext;
    context->_ResetForReuse(keep, silent);
    fStack.push_back(context);
    context->Retain();
    return context;
}

void VErrorTaskContext::PopContext() {
    if (fStack.empty()) return;
    VErrorContext* top = fStack.back();
    if (top->IsEmpty() || !top->IsKept()) {
        _PopTop()->Release();
        return;
    }
    if (fStack.size() > 1) {
        _PopTop();
        VErrorContext* below = fStack.back();
        if (top->IsSilent() && !below->IsSilent()) top->SendErrorsToLogger();
        below->PushErrors(*top);
        top->Release();
        return;
    }
    // The base context survives as a plain keeping copy holding its errors.
    if (top->IsSilent()) top->SendErrorsToLogger();
    auto* copy = new VErrorContext(*top);
    fStack.back() = copy;
    top->Release();
}

void VErrorTaskContext::PopContext(const VErrorContext* expected) {
    // Guards nest strictly: a guard ending out of order would pop a context that is not its own.
    assert(!fStack.empty() && fStack.back() == expected && "error context guards must end in reverse order");
    (void)expected;
    PopContext();
}

void VErrorTaskContext::MergeAndFlushLastContext(bool logAndSilence) {
    if (fStack.empty()) return;
    VErrorContext* top = fStack.back();
    if (top->IsEmpty()) return;
    if (top->IsKept()) {
        if (logAndSilence) top->SendErrorsToLogger();
        if (fStack.size() > 1) {
            fStack[fStack.size() - 2]->PushErrors(*top);
        } else {
            fStack.insert(fStack.begin(), new VErrorContext(*top));
        }
    }
    top->Flush();
    top->SetSilent(logAndSilence);
}

void VErrorTaskContext::RecycleContext(VErrorContext* context) {
    if (context == nullptr) return;
    if (fSpare == nullptr && context->IsEmpty() && context->GetRefCount() == 1) {
        // Reused without its filters: the next block expects its own codes.
        context->_ResetForReuse(true, false);
        fSpare = context;
        return;
    }
    context->Release();
}

void VErrorTaskContext::GetErrors(VErrorContext& out) const {
    for (const VErrorContext* context : fStack) {
        if (context == &out) continue;
        out.PushErrors(*context);
    }
}

bool VErrorTaskContext::IsErrorFiltered(VError code) const noexcept {
    for (const VErrorContext* context : fStack)
        if (context->IsErrorFiltered(code)) return true;
    return false;
}

bool VErrorTaskContext::FailedForMemory() const noexcept {
    return !fStack.empty() && fStack.back()->FailedForMemory();
}

VErrorBase* VErrorTaskContext::Find(VError code) const noexcept {
    for (const VErrorContext* context : fStack)
        if (VErrorBase* found = context->Find(code)) return found;
    return nullptr;
}

VError VErrorTaskContext::GetLastError() const noexcept {
    return fStack.empty() ? VE_OK : fStack.back()->GetLastError();
}

VErrorBase* VErrorTaskContext::GetLast() const noexcept {
    for (auto context = fStack.rbegin(); context != fStack.rend(); ++context)
        if (!(*context)->IsEmpty()) return (*context)->GetLast();
    return nullptr;
}

VErrorBase* VErrorTaskContext::GetFirst() const noexcept {
    for (const VErrorContext* context : fStack)
        if (!context->IsEmpty()) return context->GetFirst();
    return nullptr;
}

void VErrorTaskContext::Flush() noexcept {
    if (!fStack.empty()) fStack.back()->Flush();
}

// ---- StErrorContextInstaller

void StErrorContextInstaller::_Init(bool keep, bool silent, const VError* codes, size_t count) {
    fSilent = silent;
    fTaskContext = VTask::GetErrorContext(true);
    if (fTaskContext != nullptr) {
        fContext = fTaskContext->PushNewContext(keep, silent);
    } else {
        // Off a task: a private context that no push reaches.
        fContext = new VErrorContext(keep, silent);
    }
    // The list ends at its first 0; the first code always counts.
    for (size_t i = 0; i < count && (i == 0 || codes[i] != VE_OK); ++i)
        fContext->AddErrorToFilter(codes[i]);
}

StErrorContextInstaller::~StErrorContextInstaller() {
    if (fTaskContext == nullptr) {
        fContext->Release();
        return;
    }
    fTaskContext->PopContext(fContext);
    fTaskContext->RecycleContext(fContext);
}

VError StErrorContextInstaller::GetLastError() const noexcept {
    return fContext->GetLastError();
}

} // namespace vela
