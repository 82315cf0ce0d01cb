/* call_echo.c - calls a station over TCP, sends one text, prints the answer, closes.
 *
 *   varnek listen 0.0.0.0:5005 --echo &
 *   call_echo 127.000.000.001 5005 "hello"
 *
 * The address is in the library's zero-padded form.  Exit code 0 when the station's
 * answer is the text itself (an echoing station), 1 otherwise. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "varnek.h"

static int VKAPI ShowStatus(uint16_t port, const char *text, uint16_t kind)
{
    (void)kind;
    printf("status: port %u: %s\n", (unsigned)port, text);
    return 0;
}

/* A station message: a 32-bit length, then the bytes; EOM passes the turn. */
static short SendText(short id, const char *text)
{
    uint32_t length = (uint32_t)strlen(text);
    short rc = Session_TxLong(id, length);
    if (rc == VK_DONE && length > 0) rc = Session_TxStruct(id, text, (uint16_t)length);
    return rc == VK_DONE ? Session_EOM(id) : rc;
}

static short ReceiveText(short id, char *buffer, uint16_t room)
{
    uint32_t length = 0;
    short rc = Session_RxLong(id, &length);
    if (rc != VK_DONE) return rc;
    if (length >= room) return VK_FAIL;
    rc = Session_RxStruct(id, buffer, (uint16_t)length);
    buffer[length] = '\0';
    return rc;
}

int main(int argc, char **argv)
{
    SessionOpenParams params;
    SessionPeerInfo peer;
    char answer[256];
    short id = -1;
    short rc;

    if (argc != 4) {
        fprintf(stderr, "usage: call_echo ADDRESS PORT TEXT (ADDRESS like 127.000.000.001)\n");
        return 2;
    }
    Session_Reset();
    SESSION_SetDispFunc(ShowStatus);
    if (PCTCP_Open() != 1 || Session_Create(&id) != VK_DONE) return 1;

    memset(&params, 0, sizeof params);
    strcpy(params.localName, "CALL_ECHO");
    strncpy(params.remoteAddress, argv[1], sizeof params.remoteAddress - 1);
    params.service = (uint16_t)atoi(argv[2]);
    rc = Session_Open(id, &params, &peer);
    if (rc != VK_OPENED) {
        printf("Session_Open -> %d\n", rc);
        return 1;
    }
    printf("session %d open, peer '%.16s'\n", id, peer.localName);

    if (SendText(id, argv[3]) != VK_DONE) return 1;
    rc = ReceiveText(id, answer, sizeof answer);
    if (rc != VK_TURN) {
        printf("receive -> %d\n", rc);
        return 1;
    }
    printf("answer: %s\n", answer);

    /* The last message is empty and carries the close. */
    rc = Session_TxLong(id, 0);
    if (rc == VK_DONE) rc = Session_Close(id);
    printf("Session_Close -> %d\n", rc);
    PCTCP_Close();
    return rc == VK_DONE && strcmp(answer, argv[3]) == 0 ? 0 : 1;
}
