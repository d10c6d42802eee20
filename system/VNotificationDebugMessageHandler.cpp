#include "system/VNotificationDebugMessageHandler.h"

#include "core/VErrorBase.h"
#include "core/VRefPtr.h"
#include "core/VString.h"

namespace vela {

namespace {

int Ask(const VString& title, const VString& text) {
    ENotificationResponse response = eNotificationResponse_None;
    VSystem::DisplayNotification(title, text, eNotificationButtons_RetryIgnoreAbort, &response);
    return VNotificationDebugMessageHandler::Translate(response);
}

} // namespace

int VNotificationDebugMessageHandler::Translate(ENotificationResponse response) noexcept {
    if (response == eNotificationResponse_Abort) return eDebugAnswer_Break;
    if (response == eNotificationResponse_Retry) return eDebugAnswer_Continue;
    return eDebugAnswer_IgnoreThis;
}

int VNotificationDebugMessageHandler::AssertFailed(VDebugContext&, const char* message, const char* file, int line) {
    VString text;
    text.Printf("Condition: %s\nFile: %s, %d", message != nullptr ? message : "", file != nullptr ? file : "", line);
    return Ask(VString("Assert Failed"), text);
}

int VNotificationDebugMessageHandler::ErrorThrown(VDebugContext&, VErrorBase* error) {
    VString text("Error: ");
    if (error != nullptr) {
        VString dump;
        error->DumpToString(dump);
        text.AppendString(dump);
    }
    text.AppendUniChar('\n');
    return Ask(VString("Error Thrown"), text);
}

void VNotificationDebugMessageHandler::Install() {
    auto handler = VRefPtr<VNotificationDebugMessageHandler>::Adopt(new VNotificationDebugMessageHandler);
    VDebugMgr::Get()->SetDebugMessageHandler(handler.Get());
}

} // namespace vela
