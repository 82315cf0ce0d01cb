// session.h - the session layer's record, constants and internal operations.
//
// A session lives in one of 500 slots.  Its record and its two 320-byte buffers are
// allocated by Session_Create and freed by Session_Release, through which every end of
// a session goes (close, abort, peer close, failure).
//
// Seams.  Downward, the layer drives a session's transport only through transport.h
// (TCP or the serial bridge, chosen once by the open) and its compression through
// zip/zip.h.  Upward, it offers the layers below exactly two headers: frame_io.h (the
// frame send and receive the compressor and decompressor call) and trace_hook.h (the
// status and debug lines the transport and compression layers write).  No layer below
// includes this header.
#pragma once

#include <cstdint>

#include "session/frame_header.h"
#include "session/frame_io.h"
#include "session/trace_hook.h"
#include "session/transport.h"
#include "transport/tcp_stream.h"
#include "varnek.h"

constexpr int SESSION_MAX = 500;
constexpr uint16_t SESSION_BUFFER_SIZE = 320;     // header area (<= 64) + payload (<= 256)
constexpr uint16_t SESSION_FRAME_PAYLOAD = 256;   // payload bytes of a full frame
constexpr uint16_t SESSION_HEADER_MAX = FH_MAX;   // flags, open block, length, hold, close
constexpr uint8_t SESSION_PROTOCOL_VERSION = 4;
constexpr int SESSION_SLOT_HOLD_SECONDS = 30;     // automatic choice skips a stamped slot
constexpr int SESSION_RELEASE_PAUSE_SECONDS = 2;
constexpr int32_t SESSION_NO_HANDLE = -1;         // no transport handle (no socket)

// Close codes carried with SF_CLOSE.
constexpr uint8_t CLOSE_ORDERLY = 0;
constexpr uint8_t CLOSE_CALLBACK_ABORT = 1;  // the host's abort callback stopped a transfer
constexpr uint8_t CLOSE_HOST_ABORT = 2;      // Session_Abort

// turn
constexpr uint8_t TURN_NONE = 0;
constexpr uint8_t TURN_SEND = 1;
constexpr uint8_t TURN_RECEIVE = 2;

struct SessionRecord {
    uint16_t peerHold;          // hold value last received from the peer
    uint8_t opened;             // 1 once the session counts as open
    uint8_t turn;               // TURN_NONE, TURN_SEND, TURN_RECEIVE
    uint8_t txOpen;             // send flags of the next final frame
    uint8_t txEnd;
    uint8_t txHold;
    uint8_t txClose;
    uint8_t txPacked;
    uint8_t zipVersion;         // this side's compression version
    uint8_t protocolVersion;    // sent in the open block
    char localName[16];
    char remoteName[16];
    uint16_t service;
    uint8_t serviceOption;
    uint8_t holdValue;          // byte sent with SF_HOLD
    uint8_t closeCode;          // code sent with SF_CLOSE
    const char *abortText;      // reason sent with an abort; owned by the caller
    uint8_t rxOpen;             // flags of the last frame received
    uint8_t rxEnd;
    uint8_t rxHold;
    uint8_t rxClose;
    uint8_t rxPacked;
    uint8_t peerZipVersion;     // from the peer's open block
    uint8_t peerProtocolVersion;
    char peerLocalName[16];
    char peerRemoteName[16];
    uint16_t peerService;
    uint8_t peerServiceOption;
    uint8_t peerHoldByte;       // hold byte of the last frame that carried one
    uint8_t peerCloseCode;      // close code of the last frame that carried one
    uint8_t passivePrepared;    // the passive open has done its one-time preparation
    uint8_t aborting;           // an abort of this session is under way
    char localAddress[16];      // address text of the passive open
    char remoteAddress[16];     // address text of the active open
    SessionTransport transport; // chosen by the open from its address text
    int32_t handle;             // TCP socket; -1 none (always for a serial session)
    uint16_t blocking;          // 1 blocking, 0 non-blocking
    uint16_t wouldBlock;        // a non-blocking receive ran out of time
    uint16_t linkPort;          // serial port 1..500 of a serial session, 0 for TCP
    uint16_t viaCentre;         // serial: 1 log in to the centre, 0 peer-to-peer
    uint16_t peerFrameSize;     // payload size announced by the peer (256)
    uint16_t txLength;          // bytes held in txBuffer
    uint8_t *txBuffer;          // SESSION_BUFFER_SIZE bytes, tag "SEST"
    uint16_t rxExpected;        // payload length of the frame being received
    uint8_t *rxBuffer;          // SESSION_BUFFER_SIZE bytes, tag "SESR"

    // A frame whose receipt a non-blocking time-out interrupted, continued next call.
    uint8_t rxResuming;
    uint8_t rxHeaderDone;
    uint16_t rxHeaderHave;
    uint16_t rxPayloadHave;
    uint8_t rxHeaderBytes[SESSION_HEADER_MAX];
    // A host read that a non-blocking time-out interrupted after some bytes: the same
    // read called again completes it.
    uint8_t readPending;
    const void *readBuffer;
    uint16_t readLength;
    uint16_t readDone;
    // What the TCP socket has delivered beyond the frame being read.
    TcpStream rxStream;
};

// The session id carried in the low 16 bits of a machine word.
inline int16_t Session_IdFromWord(VK_ID word) { return static_cast<int16_t>(word); }
inline bool Session_IdInRange(int16_t id) { return id >= 0 && id < SESSION_MAX; }

// The record of a slot; null for an id out of range or an empty slot.
SessionRecord *Session_Record(int16_t id);

enum class ReleasePause { No, Yes };

// Ends a session's life: compression contexts, transport, buffers and record go; with
// ReleasePause::Yes it then waits 2 seconds.  Nothing happens for an empty slot.
void Session_Release(int16_t id, ReleasePause pause);

// Session_Release, then stamps the slot with the time of the end of the release.
void Session_ReleaseAndStamp(int16_t id, ReleasePause pause);

// Session_Release without pause, then stamps the slot; returns -2.
short Session_ReleaseStamped(int16_t id);

// Stamps a slot with the current time, so that automatic choice skips it for 30 s.
void Session_StampSlot(int16_t id);

// The guard of the data, close and abort operations: 1, or -2 (shown and released when
// the session exists but is not open).
short Session_CheckOpened(int16_t id);

// Shows a failure text and ends the session (pause, stamp) in one step.
void Session_Fail(int16_t id, const char *text);

// The status text at an index of the table (may be null).
const char *Session_Text(int index);

// Waits until the clock has moved on by more than `seconds`, sleeping between reads.
void Session_PauseSeconds(int seconds);

// Forgets any frame or host read left unfinished by a time-out (a new transport).
void Session_ForgetPartial(SessionRecord *rec);

// Receives what Session_DebugMsg is given (session progress, the centre log-in's
// reports, compression diagnostics); for tests and this project's programs, not hosts.
using SessionDebugSink = void (*)(short id, const char *text);
void Session_SetDebugSink(SessionDebugSink sink);

// Forgets the display function (Session_Reset).
void Session_ForgetDisplay();

// ------------------------------------------------------------ opening

// One-time preparation of an open: flags cleared, compression contexts made, this
// side's compression version read.  1, or -2 (shown and released).
short Session_Prepare(int16_t id);
short Session_OpenActive(int16_t id, const SessionOpenParams *params, SessionPeerInfo *peer);
short Session_OpenPassive(int16_t id, SessionOpenParams *params, SessionPeerInfo *peer);

// ------------------------------------------------------------ frame exchange
//
// A frame is a header of 1 to 44 bytes (flags; the 39-byte open block with SF_OPEN; the
// payload length with SF_END; the hold byte with SF_HOLD; the close code with SF_CLOSE)
// and a payload of at most 256 bytes, multi-byte numbers most significant byte first.
// A frame without SF_END carries exactly the payload size the peer announced (256).
// A frame that announces more than 256 payload bytes is refused as a transport failure
// ("Hardware Level Failure or T.O.", session released).  An open block must announce a
// frame size from 1 to 256: any other value is refused like a protocol version below 4
// (nothing shown, the frame receive fails without releasing the session), and the peer
// values of that block are not taken.  When the transport closes the socket itself (a
// failure, the peer's close), the record forgets it, so that every socket is closed
// exactly once.

// Session_SendFrame and Session_ReceiveFrame: frame_io.h.  A received payload lies in
// rxBuffer; a non-blocking time-out of a receive sets wouldBlock.
// Waits up to 10 s (whole seconds) for the peer to drop the connection.
void Session_AwaitDisconnect(int16_t id);
// Sends an abort frame with code 1 or 2 and text, waits for the disconnect, shows the
// text (code 2) or "Session Aborted" (code 1) and releases the session: 1, or -2 when the
// frame could not be sent.  1 at once while an abort is already under way.
short Session_SendAbort(int16_t id, uint8_t code, const char *text);
