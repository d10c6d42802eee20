#pragma once

#include "system/VProgressManager.h"

#include <gtest/gtest.h>

namespace vela::test {

// A fixture whose tests run with the progress manager (made for the test unless one already runs).
class ProgressManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fHadManager = VProgressManager::Get() != nullptr;
        VProgressManager::Init();
    }
    void TearDown() override {
        if (!fHadManager) VProgressManager::Deinit();
    }

private:
    bool fHadManager = false;
};

} // namespace vela::test
