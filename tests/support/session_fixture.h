// A fresh library for each test of sessions over loopback: reset, default compression,
// display lines recorded, a fake clock; whatever a test leaves open is released after it.
#pragma once

#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "support/recorders.h"
#include "support/session_wiring.h"
#include "support/tcp_peer.h"
#include "zip/zip.h"

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        Session_Reset();
        APPCOM_Ses2PortReset();
        ZIP_SetOfferedVersion(ZIP_DEFAULT_VERSION);
        display.Install();
    }
    void TearDown() override
    {
        ReleaseAllSessions();
        TCPAPI_End();
        ZIP_SetOfferedVersion(ZIP_DEFAULT_VERSION);
    }
    SocketService service;
    FakeClock clock;
    DisplayRecorder display;
};
