#include "system/VNotificationDebugMessageHandler.h"

#include "core/StStringConverter.h"
#include "core/VTask.h"
#include "support/TestProcess.h"
#include "system/VAlertPresenter.h"

#include <gtest/gtest.h>

#include <string>

namespace vela {
namespace {

constexpr VError kFirst = MakeLibraryError(600);
constexpr VError kSecond = MakeLibraryError(601);

// The notification handler installed with a scripted presenter; everything restored at the end.
class NotificationHandlerTest : public test::TestProcessFixture {
protected:
    void SetUp() override {
        ASSERT_NE(VTask::GetCurrent(), nullptr);
        fPresenter = new VScriptedAlertPresenter;
        IAlertPresenter::SetCurrent(fPresenter);
        VNotificationDebugMessageHandler::Install();
    }
    void TearDown() override {
        VDebugMgr::Get()->SetDebugMessageHandler(nullptr);
        VDebugMgr::Get()->ClearIgnoreLists();
        IAlertPresenter::SetCurrent(nullptr);
        ReleaseRefCountable(&fPresenter);
        VTask::FlushErrors();
    }

    std::vector<std::string> Titles() const {
        std::vector<std::string> titles;
        for (const VAlert& alert : fPresenter->GetAlerts())
            titles.push_back(to_string(alert.title));
        return titles;
    }

    VScriptedAlertPresenter* fPresenter = nullptr;
};

TEST(VNotificationDebugMessageHandler, TranslatesEachResponse) {
    struct Case {
        ENotificationResponse response;
        int answer;
    };
    const Case cases[] = {
        {eNotificationResponse_Abort, eDebugAnswer_Break},
        {eNotificationResponse_Retry, eDebugAnswer_Continue},
        {eNotificationResponse_Ignore, eDebugAnswer_IgnoreThis},
        {eNotificationResponse_None, eDebugAnswer_IgnoreThis},
        {eNotificationResponse_Cancelled, eDebugAnswer_IgnoreThis},
    };
    for (const Case& c : cases)
        EXPECT_EQ(VNotificationDebugMessageHandler::Translate(c.response), c.answer) << c.response;
}

TEST_F(NotificationHandlerTest, ErrorAlertRetryThenIgnore) {
    fPresenter->QueueAnswer(eNotificationResponse_Retry);
    fPresenter->QueueAnswer(eNotificationResponse_Ignore);
    _ThrowError(kFirst); // Retry: shown again next time
    _ThrowError(kFirst); // Ignore: never again
    _ThrowError(kFirst);
    _ThrowError(kSecond); // no answer left: ignored as well
    _ThrowError(kSecond);
    EXPECT_EQ(Titles(), (std::vector<std::string>(3, "Error Thrown")));
    VAlert alert = fPresenter->GetAlerts().front();
    std::string message = to_string(alert.message);
    EXPECT_EQ(message.rfind("Error: ", 0), 0u) << message;
    EXPECT_EQ(message.back(), '\n');
    EXPECT_TRUE(alert.wait);
    ASSERT_EQ(alert.buttons.size(), 3u);
    EXPECT_EQ(to_string(alert.buttons[0]), "Retry");
}

TEST_F(NotificationHandlerTest, AssertAlertNamesConditionFileAndLine) {
    fPresenter->QueueAnswer(eNotificationResponse_Retry);
    EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("count > 0", "engine.cpp", 42));
    EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("count > 0", "engine.cpp", 42)); // default: ignore from now on
    EXPECT_FALSE(VDebugMgr::Get()->AssertFailed("count > 0", "engine.cpp", 42));
    ASSERT_EQ(Titles(), (std::vector<std::string>(2, "Assert Failed")));
    EXPECT_EQ(to_string(fPresenter->GetAlerts().front().message), "Condition: count > 0\nFile: engine.cpp, 42");
}

} // namespace
} // namespace vela
