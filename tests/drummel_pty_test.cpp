// The serial-port component on real terminals (pseudo-terminals): rates, settings put
// back at the close, exclusive open, a line that goes away, and a listening line that
// takes the next caller.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>
#include <termios.h>

#include "link/rs232.h"
#include "support/link_peer.h"
#include "support/pty.h"
#include "support/tcp_peer.h"
#include "varnek.h"

uint32_t TtySpeed(int fd);  // support/tty_speed.cpp

namespace {

constexpr short PORT = 51;
constexpr short OTHER = 52;

// The component's reason for the last refused open.
std::string LastError()
{
    RS232_IsAbort();  // loads the component
    void *component = dlopen(getenv("VARNEK_DRUMMEL"), RTLD_NOW | RTLD_NOLOAD);
    auto fn = component != nullptr ? reinterpret_cast<const char *(*)()>(dlsym(component, "DRUMMEL_LastError")) : nullptr;
    std::string text = fn != nullptr ? fn() : "";
    if (component != nullptr) dlclose(component);
    return text;
}

class ComponentOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        SetEnvironment("DRUMMEL_PORT" + std::to_string(PORT), pty.path);
        SetEnvironment("DRUMMEL_PORT" + std::to_string(OTHER), pty.path);
    }
    void TearDown() override
    {
        RS232_Close(PORT);
        RS232_Close(OTHER);
    }
    Pty pty;
};

TEST_F(ComponentOnPty, SetsEveryRateExactlyStandardOrNot)
{
    for (uint16_t hundreds : {6, 96, 144, 1152, 2304, 5000}) {
        ASSERT_EQ(RS232_Open(PORT, hundreds, 8, 'N', 1, 0, 100, 0), 1) << LastError();
        EXPECT_EQ(TtySpeed(pty.slave), hundreds * 100u);
        RS232_Close(PORT);
    }
}

TEST_F(ComponentOnPty, TakesParityInAnyCaseAndChecksIt)
{
    // A pseudo-terminal keeps the input flags and the stop bits, but always runs 8 bits
    // without parity: the character format itself cannot be read back here.
    ASSERT_EQ(RS232_Open(PORT, 96, 7, 'e', 2, 0, 100, 0), 1) << LastError();
    termios t{};
    tcgetattr(pty.slave, &t);
    EXPECT_TRUE(t.c_iflag & INPCK) << "bytes with a parity error are caught";
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    RS232_Close(PORT);
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'o', 1, 0, 100, 0), 1) << LastError();
    tcgetattr(pty.slave, &t);
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    RS232_Close(PORT);
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 100, 0), 1);
    tcgetattr(pty.slave, &t);
    EXPECT_FALSE(t.c_iflag & INPCK);
}

TEST_F(ComponentOnPty, RefusesSettingsItCannotHaveAndSaysWhy)
{
    EXPECT_EQ(RS232_Open(PORT, 96, 8, 'X', 1, 0, 100, 0), 0);
    EXPECT_NE(LastError().find("parity 88"), std::string::npos) << LastError();
    EXPECT_EQ(RS232_Open(PORT, 96, 9, 'N', 1, 0, 100, 0), 0);
    EXPECT_NE(LastError().find("data bits 9"), std::string::npos) << LastError();
    EXPECT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 100, 0xFFFFFFFFu), 0) << "no attempt at 4 GiB";
    EXPECT_NE(LastError().find("receive buffer of 4294967295 bytes"), std::string::npos) << LastError();
    SetEnvironment("DRUMMEL_PORT" + std::to_string(OTHER), "/dev/no-such-adapter");
    EXPECT_EQ(RS232_Open(OTHER, 96, 8, 'N', 1, 0, 100, 0), 0);
    EXPECT_EQ(LastError(), "RS232_Open port 52: /dev/no-such-adapter: No such file or directory");
    std::vector<std::string> traces = TakeTraces();
    ASSERT_FALSE(traces.empty());
    EXPECT_EQ(traces.back(), LastError()) << "the reason is on the debug output too";
}

TEST_F(ComponentOnPty, PutsTheFormerSettingsBackAtTheClose)
{
    termios before{};
    tcgetattr(pty.slave, &before);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL;
    cfsetspeed(&before, B1200);
    tcsetattr(pty.slave, TCSANOW, &before);
    ASSERT_EQ(RS232_Open(PORT, 1152, 8, 'N', 1, 0, 100, 0), 1);
    RS232_Close(PORT);
    termios after{};
    tcgetattr(pty.slave, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(TtySpeed(pty.slave), 1200u);
}

TEST_F(ComponentOnPty, HoldsTheDeviceForItselfUntilTheClose)
{
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 100, 0), 1);
    EXPECT_EQ(RS232_Open(OTHER, 96, 8, 'N', 1, 0, 100, 0), 0) << "a second open of the same device";
    EXPECT_NE(LastError().find(pty.path + ": in use by another program"), std::string::npos) << LastError();
    RS232_Close(PORT);
    EXPECT_EQ(RS232_Open(OTHER, 96, 8, 'N', 1, 0, 100, 0), 1) << LastError();
}

TEST_F(ComponentOnPty, ALineThatGoesAwayEndsTheWaitAtOnceAndTheNextOpenWorks)
{
    // A character wait of a minute: only noticing the hang-up lets these calls return.
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 60000, 0), 1);
    close(pty.master);
    pty.master = -1;
    uint8_t c = 0;
    EXPECT_EQ(RS232_ReceiveCharWait(PORT, &c), -1);
    EXPECT_EQ(RS232_ReceiveChar(PORT, &c), 0);
    EXPECT_EQ(RS232_Send(PORT, "x", 1), 0);
    RS232_Close(PORT);

    Pty fresh;
    SetEnvironment("DRUMMEL_PORT" + std::to_string(PORT), fresh.path);
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 1000, 0), 1);
    EXPECT_TRUE(fresh.Write({0x41}));
    EXPECT_EQ(RS232_ReceiveCharWait(PORT, &c), 1);
    EXPECT_EQ(c, 0x41);
}

TEST_F(ComponentOnPty, TheLinkGivesUpAtOnceOnAHungUpLine)
{
    ASSERT_EQ(LINK_Open(PORT, 96, 8, 'N', 1, 0, 60000, 0), 1);
    close(pty.master);
    pty.master = -1;
    uint8_t buffer[64];
    EXPECT_EQ(LINK_Receive(PORT, buffer, sizeof buffer), 0);
    LINK_Close(PORT);
}

TEST(ComponentListening, TakesTheNextCallerAfterTheFirstLeaves)
{
    UseBuiltComponent();
    SocketService sockets;
    uint16_t tcpPort = FreeLoopbackPort();
    SetEnvironment("DRUMMEL_PORT" + std::to_string(PORT), "tcp-listen:" + std::to_string(tcpPort));
    ASSERT_EQ(RS232_Open(PORT, 96, 8, 'N', 1, 0, 60000, 0), 1);
    uint8_t c = 0;
    for (char mark : {'A', 'B'}) {
        TcpPeer caller;
        caller.ConnectSoon(tcpPort);
        ASSERT_TRUE(caller.Join());
        caller.Send(std::string(1, mark));
        EXPECT_EQ(RS232_ReceiveCharWait(PORT, &c), 1);
        EXPECT_EQ(c, mark);
        caller.Close();
        EXPECT_EQ(RS232_ReceiveCharWait(PORT, &c), -1) << "the caller left: the wait ends at once";
    }
    RS232_Close(PORT);
}

}  // namespace
