#include "support/session_wiring.h"

#include <cstring>

#include "zip/zip.h"

short WireSession(int32_t socket, uint8_t turn, uint8_t zipVersion)
{
    short id = -1;
    if (Session_Create(&id) != VK_DONE) return -1;
    SessionRecord *rec = Session_Record(id);
    ZIP_ZipCreate(static_cast<uint16_t>(id), SESSION_FRAME_PAYLOAD);
    ZIP_UnzipCreate(static_cast<uint16_t>(id), SESSION_FRAME_PAYLOAD);
    ZIP_SetVersion(static_cast<uint16_t>(id), zipVersion);
    rec->zipVersion = zipVersion;
    rec->opened = 1;
    rec->turn = turn;
    rec->handle = socket;
    rec->blocking = 1;
    rec->protocolVersion = SESSION_PROTOCOL_VERSION;
    rec->peerFrameSize = SESSION_FRAME_PAYLOAD;
    rec->peerHold = 5;
    return id;
}

void ReleaseAllSessions()
{
    for (int16_t id = 0; id < SESSION_MAX; ++id) Session_Release(id, ReleasePause::No);
}
