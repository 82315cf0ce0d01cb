// Status lines, the status-text table and the application port map.
#include <gtest/gtest.h>

#include <string>

#include "session/session.h"
#include "support/fake_platform.h"
#include "support/recorders.h"

namespace {

class SessionMessages : public ::testing::Test {
protected:
    void SetUp() override
    {
        Session_Reset();
        APPCOM_Ses2PortReset();
        display.Install();
    }
    void TearDown() override
    {
        for (int16_t id = 0; id < SESSION_MAX; ++id) Session_Release(id, ReleasePause::No);
    }
    FakeClock clock;
    DisplayRecorder display;
};

TEST_F(SessionMessages, LineIsCutAt80AndOnlyItsFirstCarriageReturnBecomesASemicolon)
{
    std::string text = "ab\rcd\ref" + std::string(100, 'x');
    Session_OutputMsg(-1, text.c_str());
    ASSERT_EQ(display.Lines().size(), 1u);
    const DisplayLine &line = display.Lines()[0];
    EXPECT_EQ(line.text, "ab;cd\ref" + std::string(72, 'x'));
    EXPECT_EQ(line.port, 1);
    EXPECT_EQ(line.kind, 1);

    display.Clear();
    Session_OutputMsg(0, nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "", 1}})) << "a null text shows an empty line";
}

TEST_F(SessionMessages, LinesGoToTheSessionsApplicationPort)
{
    short id = 4;
    Session_Create(&id);
    APPCOM_SetSes2Port(id, 77);
    Session_OutputMsg(id, "hello");
    Session_Close(id);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{77, "hello", 1}, {77, "Session Not opened!", 1}}));
}

TEST_F(SessionMessages, ResetForgetsTheDisplayAndRestoresDefaultTexts)
{
    static const char custom[] = "custom";
    Session_NewMessage(VK_TEXT_WRONG_INDEX, custom);
    Session_NewMessage(VK_TEXT_COUNT, custom);  // ignored
    Session_NewMessage(5, custom);
    EXPECT_STREQ(Session_Text(VK_TEXT_WRONG_INDEX), "custom");
    EXPECT_EQ(Session_Text(VK_TEXT_COUNT), nullptr);

    Session_Reset();
    Session_OutputMsg(-1, "dropped");
    Session_Close(700);
    EXPECT_TRUE(display.Lines().empty()) << "no display function after a reset";
    EXPECT_STREQ(Session_Text(VK_TEXT_WRONG_INDEX), "Wrong Session Index!");
    EXPECT_STREQ(Session_Text(5), "custom") << "unused entries keep what the host put there";

    display.Install();
    Session_Close(700);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Wrong Session Index!", 1}}));
}

TEST_F(SessionMessages, DefaultTextsAreTheSystemsOwn)
{
    const std::vector<std::pair<int, std::string>> expected = {
        {0, "Session already opened!"}, {1, "Session Not opened!"}, {2, "Wrong Session Index!"},
        {3, "Out of Rx-Tx synchronization!"}, {4, "Out of Structure synchronization!"},
        {6, "Session Aborted"}, {7, "Unexpected Frame"}, {8, "Error setting Zip"},
        {9, "Error setting UnZip"}, {11, "Session Aborted by other side"},
        {13, "Hardware Level Failure or T.O."}, {15, "ZIP Level Failure"}};
    for (const auto &[index, text] : expected) EXPECT_STREQ(Session_Text(index), text.c_str()) << index;
}

TEST_F(SessionMessages, PortMap)
{
    EXPECT_EQ(APPCOM_Port2Ses(0), 0) << "right after a reset every entry is 0";
    EXPECT_EQ(APPCOM_Port2Ses(9), 0) << "no match gives 0";

    EXPECT_EQ(APPCOM_SetSes2Port(30, 9), VK_FAIL) << "empty slot";
    EXPECT_EQ(APPCOM_Ses2Port(30), 9) << "stored all the same";
    short id = 12;
    Session_Create(&id);
    EXPECT_EQ(APPCOM_SetSes2Port(12, 9), VK_DONE);
    EXPECT_EQ(APPCOM_Port2Ses(9), 12) << "two sessions on one port: the lower id";

    EXPECT_EQ(APPCOM_SetSes2Port(500, 3), VK_FAIL);
    EXPECT_EQ(APPCOM_SetSes2Port(-1, 3), VK_FAIL);
    EXPECT_EQ(APPCOM_Port2Ses(3), 0) << "an id out of range stores nothing";
    EXPECT_EQ(APPCOM_Ses2Port(500), 0);

    Session_Release(12, ReleasePause::No);
    Session_Reset();
    EXPECT_EQ(APPCOM_Ses2Port(12), 9) << "the map outlives a reset";
    EXPECT_EQ(APPCOM_Ses2PortReset(), 1);
    EXPECT_EQ(APPCOM_Ses2Port(12), 0);
}

}  // namespace
