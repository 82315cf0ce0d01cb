/* sessions.c - creates, lists and releases sessions through the public header, and
 * prints every status text the library shows through the display function. */
#include <stdio.h>

#include "varnek.h"

static int VKAPI ShowStatus(uint16_t port, const char *text, uint16_t kind)
{
    printf("  [display] port %u, kind %u: %s\n", (unsigned)port, (unsigned)kind, text);
    return 0;
}

static void ListSessions(void)
{
    int id;
    printf("application port map:\n");
    for (id = 0; id < 500; ++id) {
        uint16_t port = APPCOM_Ses2Port(id);
        if (port != 0) printf("  session %3d on application port %u\n", id, (unsigned)port);
    }
}

int main(void)
{
    short ids[3];
    short chosen = 42;
    short outOfRange = 500;
    int i;

    Session_Reset();
    SESSION_SetDispFunc(ShowStatus);
    APPCOM_Ses2PortReset();

    for (i = 0; i < 3; ++i) {
        short rc;
        ids[i] = -1;
        rc = Session_Create(&ids[i]);
        printf("Session_Create(-1) -> %d, id %d\n", rc, ids[i]);
        APPCOM_SetSes2Port(ids[i], (uint16_t)(100 + i));
    }
    printf("Session_Create(42) -> %d\n", Session_Create(&chosen));
    APPCOM_SetSes2Port(chosen, 142);
    ListSessions();
    printf("APPCOM_Port2Ses(101) -> %d\n", APPCOM_Port2Ses(101));

    printf("Session_Create(500) -> %d (out of range)\n", Session_Create(&outOfRange));

    printf("closing sessions that were never opened (each release pauses 2 s):\n");
    printf("Session_Close(%d) -> %d\n", ids[0], Session_Close(ids[0]));
    Session_NewMessage(VK_TEXT_NOT_OPENED, "session was never opened");
    printf("Session_Close(%d) -> %d\n", ids[1], Session_Close(ids[1]));
    Session_DefaultMessages();
    printf("Session_Close(%d) -> %d\n", ids[2], Session_Close(ids[2]));
    printf("Session_Close(%d) -> %d\n", chosen, Session_Close(chosen));
    printf("Session_Close(%d) -> %d (slot already free)\n", chosen, Session_Close(chosen));
    printf("Session_Close(600) -> %d\n", Session_Close(600));
    return 0;
}
