// Opening a session: the transport chosen from the address text, the open frames
// exchanged, the peer's names and service reported, the lower compression version kept.
#include <cstring>

#include "session/session.h"
#include "zip/zip.h"

namespace {

constexpr size_t TEXT_FIELD = 16;
constexpr uint16_t PEER_HOLD_DEFAULT = 5;

enum class Role { Active, Passive };

struct OpenKind {
    uint16_t blocking;
    uint16_t viaCentre;
    Role role;
};

// Field offsets of SessionOpenParams / SessionPeerInfo.
constexpr size_t P_LOCAL_NAME = 0;
constexpr size_t P_LOCAL_ADDRESS = 16;
constexpr size_t P_REMOTE_NAME = 32;
constexpr size_t P_REMOTE_ADDRESS = 48;

const uint8_t *Field(const SessionOpenParams *p, size_t offset) { return reinterpret_cast<const uint8_t *>(p) + offset; }
uint8_t *Field(SessionOpenParams *p, size_t offset) { return reinterpret_cast<uint8_t *>(p) + offset; }

void CopyParams(SessionRecord *rec, const SessionOpenParams *params)
{
    memcpy(rec->localAddress, Field(params, P_LOCAL_ADDRESS), TEXT_FIELD);
    memcpy(rec->remoteAddress, Field(params, P_REMOTE_ADDRESS), TEXT_FIELD);
    memcpy(rec->localName, Field(params, P_LOCAL_NAME), TEXT_FIELD);
    memcpy(rec->remoteName, Field(params, P_REMOTE_NAME), TEXT_FIELD);
    rec->service = params->service;
    rec->serviceOption = params->serviceOption;
    rec->txOpen = 1;
    rec->txEnd = 1;
    rec->protocolVersion = SESSION_PROTOCOL_VERSION;
}

void ReportPeer(const SessionRecord *rec, SessionPeerInfo *peer)
{
    if (peer == nullptr) return;
    memcpy(Field(peer, P_LOCAL_NAME), rec->peerLocalName, TEXT_FIELD);
    memcpy(Field(peer, P_REMOTE_NAME), rec->peerRemoteName, TEXT_FIELD);
    peer->service = rec->peerService;
    peer->serviceOption = rec->peerServiceOption;
}

short FailQuietly(int16_t id)
{
    Session_Release(id, ReleasePause::No);
    return VK_FAIL;
}

short ExchangeFrame(int16_t id, bool send)
{
    if (send) return Session_SendFrame(id, 0, 1, 0);
    SessionFrame frame;
    return Session_ReceiveFrame(id, &frame);
}

short Open(VK_ID word, SessionOpenParams *params, SessionPeerInfo *peer, OpenKind kind)
{
    int16_t id = Session_IdFromWord(word);
    if (!Session_IdInRange(id)) {
        Session_OutputMsg(-1, Session_Text(VK_TEXT_WRONG_INDEX));
        return VK_FAIL;
    }
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr || params == nullptr) return VK_FAIL;
    rec->blocking = kind.blocking;
    rec->viaCentre = kind.viaCentre;
    rec->wouldBlock = 0;
    if (kind.role == Role::Active) return Session_OpenActive(id, params, peer);
    return Session_OpenPassive(id, params, peer);
}

}  // namespace

short Session_OpenActive(int16_t id, const SessionOpenParams *params, SessionPeerInfo *peer)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    Session_BugDebugMsg(id, "Session before open");
    if (Session_Prepare(id) != VK_DONE) return VK_FAIL;
    rec->opened = 1;
    rec->turn = TURN_SEND;
    CopyParams(rec, params);
    Session_TransportChoose(rec, rec->remoteAddress);
    if (Session_TransportCall(id) != VK_DONE) return FailQuietly(id);
    Session_BugDebugMsg(id, "Snd empty frame");
    if (ExchangeFrame(id, true) != VK_DONE) return FailQuietly(id);
    Session_BugDebugMsg(id, "Rcv empty frame");
    if (ExchangeFrame(id, false) != VK_DONE) return FailQuietly(id);
    rec = Session_Record(id);
    rec->turn = TURN_SEND;
    ReportPeer(rec, peer);
    if (rec->peerZipVersion < rec->zipVersion) {
        rec->zipVersion = rec->peerZipVersion;
        ZIP_SetVersion(static_cast<uint16_t>(id), rec->peerZipVersion);
    }
    Session_DebugMsg(id, "Session opened O.K.");
    return VK_OPENED;
}

short Session_OpenPassive(int16_t id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (!rec->passivePrepared) {
        if (Session_Prepare(id) != VK_DONE) return VK_FAIL;
        rec->passivePrepared = 1;
        rec->turn = TURN_RECEIVE;
    }
    CopyParams(rec, params);
    Session_DebugMsg(id, "Session is waiting ...");
    Session_TransportDrop(rec);  // a socket accepted by an earlier call that ran out of time
    Session_TransportChoose(rec, rec->localAddress);
    Session_ForgetPartial(rec);
    if (Session_TransportListen(id) != VK_DONE) return VK_FAIL;
    if (ExchangeFrame(id, false) != VK_DONE) return VK_FAIL;
    rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (!rec->rxOpen) {
        Session_Fail(id, Session_Text(VK_TEXT_UNEXPECTED));
        return VK_FAIL;
    }
    ReportPeer(rec, peer);
    if (params->service == 0) {
        params->service = rec->peerService;
        params->serviceOption = rec->peerServiceOption;
    }
    rec->service = params->service;
    rec->serviceOption = params->serviceOption;
    if (rec->peerZipVersion < rec->zipVersion) rec->zipVersion = rec->peerZipVersion;
    ZIP_SetVersion(static_cast<uint16_t>(id), rec->zipVersion);
    rec->opened = 1;
    if (ExchangeFrame(id, true) != VK_DONE) return VK_FAIL;
    rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    rec->turn = TURN_RECEIVE;
    return VK_DONE;
}

short Session_Prepare(int16_t id)
{
    if (!Session_IdInRange(id)) {
        Session_OutputMsg(-1, Session_Text(VK_TEXT_WRONG_INDEX));
        return VK_FAIL;
    }
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    if (rec->opened) {
        Session_Fail(id, Session_Text(VK_TEXT_ALREADY_OPENED));
        return VK_FAIL;
    }
    rec->txOpen = rec->txEnd = rec->txHold = rec->txClose = rec->txPacked = 0;
    rec->rxOpen = rec->rxEnd = rec->rxHold = rec->rxClose = rec->rxPacked = 0;
    // Contexts left by an earlier open of this slot would shadow the new ones.
    ZIP_ZipDelete(static_cast<uint16_t>(id));
    ZIP_UnzipDelete(static_cast<uint16_t>(id));
    if (ZIP_ZipCreate(static_cast<uint16_t>(id), SESSION_FRAME_PAYLOAD) != ZIP_OK) {
        Session_Fail(id, Session_Text(VK_TEXT_ZIP_SETUP));
        return VK_FAIL;
    }
    if (ZIP_UnzipCreate(static_cast<uint16_t>(id), SESSION_FRAME_PAYLOAD) != ZIP_OK) {
        Session_Fail(id, Session_Text(VK_TEXT_UNZIP_SETUP));
        return VK_FAIL;
    }
    if (ZIP_GetVersion(static_cast<uint16_t>(id), &rec->zipVersion) != ZIP_OK) {
        Session_Fail(id, Session_Text(VK_TEXT_ZIP_SETUP));
        return VK_FAIL;
    }
    rec->peerHold = PEER_HOLD_DEFAULT;
    Session_ForgetPartial(rec);
    return VK_DONE;
}

extern "C" {

short Session_Open(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {1, 1, Role::Active});
}

short Session_OpenNbm(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {0, 1, Role::Active});
}

short Session_OpenP2P(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {1, 0, Role::Active});
}

short Session_WaitForOpen(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {1, 1, Role::Passive});
}

short Session_WaitForOpenNbm(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {0, 1, Role::Passive});
}

short Session_WaitForOpenP2P(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer)
{
    return Open(id, params, peer, {1, 0, Role::Passive});
}

}  // extern "C"
