// Sessions over serial link ports joined in memory: peer to peer, both sides on their
// own threads, as two stations on a cable.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "session/session.h"
#include "support/link_peer.h"
#include "support/recorders.h"
#include "support/session_wiring.h"

namespace {

void Text(char (&field)[16], const char *text)
{
    memset(field, 0, sizeof field);
    memcpy(field, text, strlen(text));
}

class SerialSessions : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseBuiltComponent();
        SetEnvironment("DRUMMEL_PORT21", "mem:cable");
        SetEnvironment("DRUMMEL_PORT22", "mem:cable");
        Session_Reset();
        display.Install();
        ASSERT_EQ(LINK_Open(21, 96, 8, 'N', 1, 0, 500, 0), 1);
        ASSERT_EQ(LINK_Open(22, 96, 8, 'N', 1, 0, 500, 0), 1);
    }
    void TearDown() override
    {
        ReleaseAllSessions();
        LINK_Close(21);
        LINK_Close(22);
    }
    DisplayRecorder display;
};

TEST_F(SerialSessions, AConversationPeerToPeerEndsWithTheClose)
{
    Bytes big(200000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i % 7 == 0 ? i * 31 : 'r' + i % 5);
    short listener = -1, caller = -1;
    Session_Create(&listener);
    short result = 0;
    Bytes got(big.size());
    std::thread passive([&] {
        SessionOpenParams params{};
        Text(params.localName, "CENTRE");
        Text(params.localAddress, "21");
        SessionPeerInfo peer{};
        if (Session_WaitForOpenP2P(listener, &params, &peer) != VK_DONE) return;
        for (size_t at = 0; at < got.size(); at += 50000) Session_RxStruct(listener, got.data() + at, 50000);
        Session_TxStruct(listener, "ok", 2);
        Session_EOM(listener);
        uint8_t last[3];
        result = Session_RxStruct(listener, last, 3);
    });
    Session_Create(&caller);
    SessionOpenParams params{};
    Text(params.localName, "STATION");
    Text(params.remoteAddress, "22");
    SessionPeerInfo peer{};
    ASSERT_EQ(Session_OpenP2P(caller, &params, &peer), VK_OPENED);
    EXPECT_STREQ(peer.localName, "CENTRE");
    for (size_t at = 0; at < big.size(); at += 50000) ASSERT_EQ(Session_TxStruct(caller, big.data() + at, 50000), VK_DONE);
    ASSERT_EQ(Session_EOM(caller), VK_DONE);
    char answer[2];
    EXPECT_EQ(Session_RxStruct(caller, answer, 2), VK_TURN);
    EXPECT_EQ(std::string(answer, 2), "ok");
    ASSERT_EQ(Session_TxStruct(caller, "bye", 3), VK_DONE);
    EXPECT_EQ(Session_Close(caller), VK_DONE);
    passive.join();
    EXPECT_EQ(result, VK_CLOSED);
    EXPECT_TRUE(got == big) << "200,000 bytes compressed across the link, intact";
}

}  // namespace
