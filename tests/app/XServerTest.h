// Base of the end-to-end suites: one private Xvfb per suite, and every test
// starts once the windows of the test before it are gone.
#pragma once

#include "X11Probe.h"

#include <gtest/gtest.h>

class x_server_test : public testing::Test
{
protected:
    // Generous: a hang shows as a timeout, never as a slow pass.
    static constexpr double kTimeout = 30;

    static void SetUpTestSuite() { sServer = new x_server; }
    static void TearDownTestSuite()
    {
        delete sServer;
        sServer = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sServer->Ok()) << "Xvfb did not start";
        ASSERT_TRUE(sServer->WaitForWindows(0, kTimeout));
    }

    static inline x_server* sServer = nullptr;
};
