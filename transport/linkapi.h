// linkapi.h - the bridge that carries session frames over a serial link port.
//
// Session frame bytes are gathered into application blocks (a 16-bit code naming the
// sender's record size, a 16-bit block number, then the bytes; the two numbers most
// significant byte first on the line), each block the data of one link frame.  The two
// sides send frames alternately; when this side has nothing to send and needs the
// peer's, it passes the line's turn with an empty frame.  Every port number is checked:
// outside 1 to 500 an operation answers 2 (or does nothing).
//
// Seams.  The bridge calls down into the link layer (LINK_Send, LINK_Receive,
// LINK_SndAck and the traces LINK_FrameDebug and LINK_WriteDebug) and asks ABORT_Check
// (abort.h) before each wait for the peer.  Of the session layer it calls only
// Session_DebugMsg (session/trace_hook.h), for the centre log-in's reports.
#pragma once

#include <cstdint>

// Result codes of the bridge.
enum LinkApiResult : int16_t {
    LINKAPI_DONE = 0,
    LINKAPI_ABORTED = 1,  // the host's abort callback stopped it
    LINKAPI_FAILED = 2,   // a link failure, or a port outside 1 to 500
};

constexpr uint16_t LINKAPI_CODE_520 = 8738;
constexpr uint16_t LINKAPI_CODE_1040 = 8739;
constexpr uint16_t LINKAPI_CODE_2080 = 8740;
constexpr uint16_t LINKAPI_BLOCK_PAYLOAD = 2080;
constexpr uint16_t LINKAPI_BLOCK_HEADER = 4;
constexpr uint16_t LINKAPI_ANY_FRAME = 65535;  // LINKAPI_Read: one byte or an empty frame

// Whose frame the line carries next.
constexpr uint16_t LINKAPI_TURN_NONE = 0;
constexpr uint16_t LINKAPI_TURN_PEER = 1;  // the next frame must come from the peer
constexpr uint16_t LINKAPI_TURN_THIS = 2;  // the next frame is this side's

struct LinkApiPort {
    uint16_t lineTurn;     // LINKAPI_TURN_NONE, _PEER or _THIS
    uint16_t txFill;       // payload bytes waiting in the outgoing block
    uint16_t rxFill;       // received payload bytes not yet read (at the front of `in`)
    uint16_t nextBlockNo;
    uint16_t recLimit;     // LINKAPI_Write keeps every block below it (0: nothing fits)
    uint16_t recSize;      // record size that names the code of outgoing blocks
    uint16_t p2p;          // 1: the active start logs in to no centre
    uint8_t out[LINKAPI_BLOCK_HEADER + LINKAPI_BLOCK_PAYLOAD];
    uint8_t in[LINKAPI_BLOCK_HEADER + LINKAPI_BLOCK_PAYLOAD];
};

// The port's state, or null outside 1 to 500.
LinkApiPort *LINKAPI_Port(int16_t port);

int16_t LINKAPI_Reset(int16_t port);
void LINKAPI_SetP2P(int16_t port, uint16_t flag);
// Passive start: the peer sends first.  0, or 2 outside 1 to 500.
int16_t LINKAPI_WaitForOpen(int16_t port);
// Active start (peer-to-peer, or the log-in to a centre): 0 opened, 2 refused or failed.
// A greeting read that fails is tried again for 10 whole seconds, at most once in each
// second of the clock: a link that fails at once costs no processor time.
int16_t LINKAPI_Open(int16_t port, uint16_t centrePort);
// Adds a piece to the outgoing block, sending the block first when the piece would not
// fit.  A piece that can never fit (not below 2080 and the record limit) is refused with
// 2 and nothing is sent.  0, 1 stopped by the abort callback, 2 link failure.
int16_t LINKAPI_Write(int16_t port, const uint8_t *data, uint16_t n);
int16_t LINKAPI_Flush(int16_t port);
// Sends what waits: 0, always.
int16_t LINKAPI_Push(int16_t port);
// Reads exactly *count bytes (65535: one byte or an empty frame, *count then 1).  A data
// frame shorter than the 4 block header bytes is refused as a link failure.  0, 1, 2.
int16_t LINKAPI_Read(int16_t port, uint8_t *buffer, uint16_t *count);
