#include "files/platform/XPosixFaults.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using vela::StPosixFault;
using vela::XPosixFaults;

volatile std::sig_atomic_t sRaised = 0;

void CountSignal(int) {
    sRaised = sRaised + 1;
}

TEST(XPosixFaultsTest, ArmedCallsFailWithTheirErrorAndOthersGoAhead) {
    StPosixFault fault("probe", ENOSPC, 2, 2);
    const bool expected[] = {false, true, true, false};
    for (bool fails : expected) {
        errno = 0;
        EXPECT_EQ(XPosixFaults::Fail("probe"), fails);
        EXPECT_EQ(errno, fails ? ENOSPC : 0);
    }
    EXPECT_FALSE(XPosixFaults::Fail("other"));
}

TEST(XPosixFaultsTest, ASignalArmedCallRaisesItAndThenGoesAhead) {
    struct sigaction count {
    }, previous{};
    count.sa_handler = CountSignal;
    ASSERT_EQ(::sigaction(SIGUSR1, &count, &previous), 0);
    sRaised = 0;
    {
        StPosixFault fault("probe", -SIGUSR1, 3);
        EXPECT_FALSE(XPosixFaults::Fail("probe"));
        EXPECT_FALSE(XPosixFaults::Fail("probe"));
        EXPECT_EQ(sRaised, 0);
        // The signal comes at the third call exactly, which is not failed.
        EXPECT_FALSE(XPosixFaults::Fail("probe"));
        EXPECT_EQ(sRaised, 1);
        EXPECT_FALSE(XPosixFaults::Fail("probe"));
        EXPECT_EQ(sRaised, 1);
    }
    ::sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace
