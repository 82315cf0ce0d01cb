// The session frame exchange.  So far only the abort exists, and with no transport to
// carry its frame it ends the session at once.
#include "session/session.h"

short Session_SendAbort(int16_t id, uint8_t code, const char *text)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (rec->aborting) return VK_DONE;
    rec->turn = TURN_SEND;
    rec->aborting = 1;
    rec->txClose = 1;
    rec->txEnd = 1;
    rec->closeCode = code;
    rec->abortText = text;
    Session_DebugMsg(id, "Tx Session Aborting...");
    Session_Fail(id, code == CLOSE_HOST_ABORT ? text : Session_Text(VK_TEXT_ABORTED));
    return VK_DONE;
}
