// The session table: slot choice, the 30-second rule, close and release.
#include <gtest/gtest.h>

#include "session/session.h"
#include "support/fake_platform.h"
#include "support/recorders.h"

namespace {

class SessionTable : public ::testing::Test {
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
    short CreateAuto()
    {
        short id = -1;
        EXPECT_EQ(Session_Create(&id), VK_DONE);
        return id;
    }
    FakeClock clock;
    DisplayRecorder display;
};

TEST_F(SessionTable, AutomaticChoiceTakesTheLowestFreeSlot)
{
    EXPECT_EQ(CreateAuto(), 0);
    EXPECT_EQ(CreateAuto(), 1);
    EXPECT_EQ(CreateAuto(), 2);
    Session_Release(1, ReleasePause::No);
    EXPECT_EQ(CreateAuto(), 1);
    short chosen = 7;
    EXPECT_EQ(Session_Create(&chosen), VK_DONE);
    EXPECT_EQ(chosen, 7);
    EXPECT_EQ(CreateAuto(), 3);
}

TEST_F(SessionTable, StampedSlotIsHeldBackThirtySeconds)
{
    CreateAuto();
    CreateAuto();
    Session_ReleaseStamped(0);
    clock.Advance(30);
    EXPECT_EQ(CreateAuto(), 2) << "a slot stamped 30 s ago is skipped";
    Session_Release(2, ReleasePause::No);
    clock.Advance(1);
    EXPECT_EQ(CreateAuto(), 0) << "a slot stamped 31 s ago is taken";
}

TEST_F(SessionTable, FailureReleaseStampsItsSlot)
{
    short failed = CreateAuto();
    Session_Close(failed);  // never opened: a failure, shown and released
    EXPECT_EQ(CreateAuto(), 1);
    clock.Advance(SESSION_SLOT_HOLD_SECONDS + 1);
    EXPECT_EQ(CreateAuto(), 0);
    Session_Close(0);
    short explicitId = 0;
    EXPECT_EQ(Session_Create(&explicitId), VK_DONE) << "an explicit id ignores the stamp";
}

TEST_F(SessionTable, RefusesBadIdsAndAFullTable)
{
    for (short bad : {short(-2), short(500), short(-32768)}) {
        short id = bad;
        EXPECT_EQ(Session_Create(&id), VK_FAIL);
        EXPECT_EQ(id, bad);
    }
    EXPECT_EQ(Session_Create(nullptr), VK_FAIL);

    for (int i = 0; i < SESSION_MAX; ++i) CreateAuto();
    short id = -1;
    EXPECT_EQ(Session_Create(&id), VK_FAIL);
    EXPECT_EQ(id, -1);
    EXPECT_TRUE(display.Lines().empty()) << "creation failures show nothing";
}

TEST_F(SessionTable, ExplicitIdOfAnOccupiedSlotKeepsItsSession)
{
    short id = 5;
    ASSERT_EQ(Session_Create(&id), VK_DONE);
    SessionRecord *rec = Session_Record(5);
    rec->opened = 1;
    rec->turn = TURN_RECEIVE;
    rec->service = 1234;
    EXPECT_EQ(Session_Create(&id), VK_DONE);
    EXPECT_EQ(Session_Record(5), rec);
    EXPECT_EQ(rec->opened, 1);
    EXPECT_EQ(rec->turn, TURN_RECEIVE);
    EXPECT_EQ(rec->service, 1234);
}

TEST_F(SessionTable, NewRecordStartsClearedWithoutSocket)
{
    SessionRecord *rec = Session_Record(CreateAuto());
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->handle, -1);
    EXPECT_EQ(rec->opened, 0);
    EXPECT_EQ(rec->linkPort, 0);
    EXPECT_NE(rec->txBuffer, nullptr);
    EXPECT_NE(rec->rxBuffer, nullptr);
}

TEST_F(SessionTable, CloseOfANeverOpenedSessionShowsTextAndPausesWithoutSpinning)
{
    short id = CreateAuto();
    int64_t before = clock.Now();
    EXPECT_EQ(Session_Close(id), VK_FAIL);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Session Not opened!", 1}}));
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_GT(clock.Now() - before, 2) << "released after the 2-second pause";
    EXPECT_LE(clock.LongestSleepMs(), 10u);
    EXPECT_LE(clock.Reads(), clock.Sleeps() + 4) << "every clock read of the pause is followed by a sleep";
}

TEST_F(SessionTable, CloseOutOfTurnShowsTheCurrentText)
{
    short id = CreateAuto();
    Session_Record(id)->opened = 1;
    Session_Record(id)->turn = TURN_RECEIVE;
    EXPECT_EQ(Session_Close(id), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);

    static const char custom[] = "not your turn";
    Session_NewMessage(VK_TEXT_OUT_OF_TURN, custom);
    id = CreateAuto();
    Session_Record(id)->opened = 1;
    Session_Record(id)->turn = TURN_RECEIVE;
    EXPECT_EQ(Session_Close(id), VK_FAIL);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Out of Rx-Tx synchronization!", 1},
                                                         {1, "not your turn", 1}}));
}

TEST_F(SessionTable, OperationsOnEmptyOrBadSlotsTouchNothing)
{
    EXPECT_EQ(Session_Close(3), VK_FAIL);
    EXPECT_EQ(Session_Abort(3, "x"), VK_FAIL);
    EXPECT_TRUE(display.Lines().empty());
    EXPECT_EQ(Session_Close(500), VK_FAIL);
    EXPECT_EQ(Session_Close(0x10000 + 600), VK_FAIL) << "only the low 16 bits count";
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Wrong Session Index!", 1},
                                                         {1, "Wrong Session Index!", 1}}));
    short id = 2;
    Session_Create(&id);
    Session_BlockingMode(0x10000 + 2, 0);
    EXPECT_EQ(Session_Record(2)->blocking, 0);
    Session_BlockingMode(2, 1);
    EXPECT_EQ(Session_Record(2)->blocking, 1);
}

TEST_F(SessionTable, AbortWithoutATransportIsAHardwareFailure)
{
    short id = CreateAuto();
    Session_Record(id)->opened = 1;
    EXPECT_EQ(Session_Abort(id, "operator stop"), VK_FAIL);
    EXPECT_EQ(Session_Record(id), nullptr);
    EXPECT_EQ(display.Lines(), (std::vector<DisplayLine>{{1, "Hardware Level Failure or T.O.", 1}}));
}

TEST_F(SessionTable, CreateAfterCloseAllNeedsAReset)
{
    CreateAuto();
    Session_CloseAll();
    short id = -1;
    EXPECT_EQ(Session_Create(&id), VK_FAIL);
    Session_Reset();
    EXPECT_EQ(Session_Create(&id), VK_DONE);
}

}  // namespace
