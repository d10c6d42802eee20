#include "intl/platform/XercesSupport.h"

#include "core/VErrorBase.h"
#include "core/VString.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLNetAccessor.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <mutex>

namespace vela {

using namespace XERCES_CPP_NAMESPACE;

namespace {

std::mutex& SetUpLock() {
    static std::mutex sLock;
    return sLock;
}

// Guarded by SetUpLock().
int32 sUsers = 0;

} // namespace

std::atomic<bool> XercesSupport::sFailSetUp{false};

bool XercesSupport::Init() noexcept {
    std::lock_guard<std::mutex> guard(SetUpLock());
    if (sUsers > 0) {
        ++sUsers;
        return true;
    }
#ifdef VELA_TEST_SEAMS
    if (sFailSetUp.load()) return false;
#endif
    try {
        XMLPlatformUtils::Initialize(XMLUni::fgXercescDefaultLocale);
    } catch (...) {
        return false;
    }
    // Documents name remote DTDs and schemas; we never fetch them. Without an accessor any such address fails
    // inside the parser as an entity it cannot open.
    delete XMLPlatformUtils::fgNetAccessor;
    XMLPlatformUtils::fgNetAccessor = nullptr;
    sUsers = 1;
    return true;
}

void XercesSupport::DeInit() noexcept {
    std::lock_guard<std::mutex> guard(SetUpLock());
    if (sUsers == 0) return;
    if (--sUsers > 0) return;
    try {
        XMLPlatformUtils::Terminate();
    } catch (...) {
    }
}

bool XercesSupport::IsInited() noexcept {
    std::lock_guard<std::mutex> guard(SetUpLock());
    return sUsers > 0;
}

void XercesSupport::PushParseError(VError code, const char16_t* message, const char16_t* systemID,
                                   const char16_t* publicID, int64 line, int64 column) noexcept {
    try {
        VErrorBase* error = new VErrorBase(code);
        error->SetString(VString("message"), VString(message != nullptr ? message : u""));
        error->SetString(VString("systemID"), VString(systemID != nullptr ? systemID : u""));
        error->SetString(VString("publicID"), VString(publicID != nullptr ? publicID : u""));
        error->SetLong8(VString("line"), line);
        error->SetLong8(VString("column"), column);
        _PushRetainedError(error);
    } catch (...) {
        // Out of memory while reporting: the parse's failure result still tells.
    }
}

} // namespace vela
