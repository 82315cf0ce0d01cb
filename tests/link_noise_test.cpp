// The link over a simulated cable that loses, changes and adds bytes: single mistakes
// anywhere in a conversation cost a retransmission, never the session.
#include <gtest/gtest.h>

#include <string>

#include "link/rs232.h"
#include "support/link_peer.h"
#include "support/noisy_echo.h"
#include "varnek.h"

#ifndef VARNEK_DRUMMEL_PATH
#error "VARNEK_DRUMMEL_PATH must name the built serial-port component"
#endif

namespace {

// A trace file of this test alone: ctest runs the tests in parallel processes.
std::string TraceFileOfTest()
{
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char &ch : name) ch = ch == '/' ? '-' : ch;
    return ::testing::TempDir() + "varnek-noise-" + name + ".txt";
}

// Sends bytes 0, 1, 2 ... from port 41 to port 42 and returns what port 42 got.
Bytes ThroughCable(const std::string &spec, size_t n)
{
    SetEnvironment("DRUMMEL_PORT41", spec);
    SetEnvironment("DRUMMEL_PORT42", spec);
    Bytes got;
    if (RS232_Open(41, 0, 8, 'N', 1, 0, 50, 0) != 1 || RS232_Open(42, 0, 8, 'N', 1, 0, 50, 0) != 1) return got;
    Bytes sent(n);
    for (size_t i = 0; i < n; ++i) sent[i] = static_cast<uint8_t>(i);
    RS232_Send(41, sent.data(), static_cast<uint16_t>(n));
    uint8_t c;
    while (RS232_ReceiveCharWait(42, &c) == 1) got.push_back(c);
    RS232_Close(41);
    RS232_Close(42);
    return got;
}

TEST(SimulatedCable, MakesTheMistakesItIsToldAt)
{
    UseBuiltComponent();
    EXPECT_EQ(ThroughCable("sim:exact,baud=0", 6), Bytes({0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ThroughCable("sim:drop,baud=0,drop=2", 6), Bytes({0, 1, 3, 4, 5}));
    EXPECT_EQ(ThroughCable("sim:flip,baud=0,flip=2", 6), Bytes({0, 1, 3, 3, 4, 5}));
    EXPECT_EQ(ThroughCable("sim:insert,baud=0,insert=2", 6), Bytes({0, 1, 2, 0x55, 3, 4, 5}));
    EXPECT_TRUE(ThroughCable("sim:bad,baud=0,colour=red", 6).empty()) << "an unknown option refuses the open";
}

TEST(SimulatedCable, TheSameSeedMakesTheSameMistakes)
{
    UseBuiltComponent();
    Bytes first = ThroughCable("sim:a,baud=0,error=0.05,seed=7", 2000);
    Bytes second = ThroughCable("sim:b,baud=0,error=0.05,seed=7", 2000);
    Bytes other = ThroughCable("sim:c,baud=0,error=0.05,seed=8", 2000);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, other);
    EXPECT_NE(first.size(), 0u);
}

TEST(SimulatedCable, BytesLeaveAtTheBaudRate)
{
    UseBuiltComponent();
    SetEnvironment("DRUMMEL_PORT41", "sim:slow,baud=9600");
    SetEnvironment("DRUMMEL_PORT42", "sim:slow,baud=9600");
    ASSERT_EQ(RS232_Open(41, 96, 8, 'N', 1, 0, 50, 0), 1);
    ASSERT_EQ(RS232_Open(42, 96, 8, 'N', 1, 0, 50, 0), 1);
    Bytes block(4800, 0x41);  // five seconds of line at 9600 baud
    RS232_Send(41, block.data(), static_cast<uint16_t>(block.size()));
    EXPECT_EQ(RS232_IsTransmitted(41), 0);
    EXPECT_LT(RS232_GetRecCount(42), 4800);
    RS232_Close(41);
    RS232_Close(42);
}

struct Mistakes {
    const char *options;
};

class OneMistake : public ::testing::TestWithParam<Mistakes> {};

TEST_P(OneMistake, CostsARetransmissionNotTheSession)
{
    NoisyEcho echo;
    echo.line = std::string("sim:one,baud=0,") + GetParam().options;
    echo.bytes = 20000;
    echo.waitMs = 200;
    NoisyEchoResult r = NoisyEcho_Run(echo, VARNEK_DRUMMEL_PATH, TraceFileOfTest());
    EXPECT_TRUE(r.echoed) << echo.line;
    // One retransmission each, from the end whose frame was damaged; a little room for
    // a busy machine, none for ends that keep sending into each other's noise filter.
    EXPECT_GE(r.retries, 3) << "each mistake was answered by a retransmission";
    EXPECT_LE(r.retries, 6);
    printf("%s: %d retries, %.1f s\n", echo.line.c_str(), r.retries, r.seconds);
}

// Byte numbers count both directions: the open frames come first, then the 20,000
// bytes going out in blocks of about 2 KB, then the same coming back.
INSTANTIATE_TEST_SUITE_P(Offsets, OneMistake,
                         ::testing::Values(Mistakes{"drop=3,flip=2500,insert=9000"},
                                           Mistakes{"drop=30000,flip=3,insert=2200"},
                                           Mistakes{"drop=2140,flip=34000,insert=5"},
                                           Mistakes{"drop=16000,flip=21000,insert=40000"}));

TEST(NoisyLine, AnEchoAtOneErrorInAThousandBytesCompletes)
{
    NoisyEcho echo;
    echo.line = "sim:noisy,baud=0,error=1e-3,seed=3";
    echo.bytes = 8000;
    echo.recordCode = 8738;
    NoisyEchoResult r = NoisyEcho_Run(echo, VARNEK_DRUMMEL_PATH, TraceFileOfTest());
    EXPECT_TRUE(r.echoed);
    printf("%s: %d retries, %.1f s\n", echo.line.c_str(), r.retries, r.seconds);
}

}  // namespace
