// The varnek station's serial settings and its report of a port that does not open.
#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/link_peer.h"
#include "support/pty.h"

#ifndef VARNEK_STATION
#error "VARNEK_STATION must name the varnek program"
#endif

namespace {

std::string Dir() { return ::testing::TempDir(); }

TEST(VarnekSerial, SaysWhyAPortDidNotOpen)
{
    UseBuiltComponent();
    ChildProcess call;
    ASSERT_TRUE(call.Start({VARNEK_STATION, "call", "--serial", "3", "--line", "/dev/no-such-adapter", "--p2p", "--text", "x"},
                           Dir() + "varnek-no-adapter.txt"));
    EXPECT_EQ(call.Wait(30), 2);
    EXPECT_EQ(call.Output(),
              "serial port 3 cannot be opened: serial port 3 (/dev/no-such-adapter): the device /dev/no-such-adapter does "
              "not exist\n");
}

TEST(VarnekSerial, RefusesSettingsNoPortCanTake)
{
    for (std::vector<std::string> bad : {std::vector<std::string>{"--baud", "12345"}, {"--parity", "x"},
                                         {"--data-bits", "9"}, {"--stop-bits", "3"}, {"--flow", "dtr"}}) {
        ChildProcess call;
        std::vector<std::string> argv = {VARNEK_STATION, "call", "--serial", "3", "--p2p", bad[0], bad[1]};
        ASSERT_TRUE(call.Start(argv, Dir() + "varnek-bad-setting.txt"));
        EXPECT_EQ(call.Wait(30), 1) << bad[0] << " " << bad[1];
    }
}

TEST(VarnekSerial, TwoStationsTalkAtAnUnusualRateWithParity)
{
    UseBuiltComponent();
    Cable cable;
    std::vector<std::string> line = {"--baud", "250000", "--parity", "even", "--stop-bits", "2", "--flow", "none"};
    std::vector<std::string> listenArgs = {VARNEK_STATION, "listen", "--serial", "4", "--line", cable.b.path, "--echo",
                                           "--count", "1"};
    std::vector<std::string> callArgs = {VARNEK_STATION, "call", "--serial", "3", "--line", cable.a.path, "--p2p",
                                         "--text", "hello"};
    listenArgs.insert(listenArgs.end(), line.begin(), line.end());
    callArgs.insert(callArgs.end(), line.begin(), line.end());
    ChildProcess listener, caller;
    ASSERT_TRUE(listener.Start(listenArgs, Dir() + "varnek-rate-listener.txt"));
    ASSERT_TRUE(caller.Start(callArgs, Dir() + "varnek-rate-caller.txt"));
    EXPECT_EQ(caller.Wait(60), 0) << caller.Output();
    EXPECT_EQ(listener.Wait(30), 0) << listener.Output();
    EXPECT_NE(caller.Output().find("answer 5 bytes"), std::string::npos) << caller.Output();
}

}  // namespace
