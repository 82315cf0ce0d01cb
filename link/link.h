// link.h - the stop-and-wait engine's state: per-port tables for ports 1 to 500, the
// statistics of port 1, and the internal steps of sending and receiving.
//
// A data frame is sent and the next good frame from the peer, data or ACK, answers
// it; while none comes the receiver drains the line and sends the last frame again, up
// to the port's retry limit.  Each port keeps two 3-bit sequence counters.
//
// Seams.  The engine calls down into the serial-port component (rs232.h) and into the
// script code (script.h), which records and replays frames and reports back by result,
// calling nothing of the engine.  The link layer calls nothing above it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "varnek.h"

constexpr short LINK_PORT_FIRST = 1;
constexpr short LINK_PORT_LAST = 500;
constexpr uint16_t LINK_BUFFER_SIZE = 4160;
constexpr uint16_t LINK_DEFAULT_RETRIES = 25;
constexpr int LINK_RETRY_SLOTS = 2048;

struct LinkPort {
    uint8_t txHeader;
    uint8_t rxHeader;
    uint8_t seq;            // nextSendSeq in bits 2-0, expectSeq in bits 5-3
    uint16_t dir;           // bit 0 becomes header bit 7
    uint16_t maxRetry;
    uint16_t lastTxLength;
    int32_t byteCount;      // bytes sent and received since the last reset
    int64_t countStart;     // when byteCount was reset (seconds)
    uint8_t rxBuffer[LINK_BUFFER_SIZE];
    uint8_t txBuffer[LINK_BUFFER_SIZE];
};

// Statistics of port 1.  events counts exchanges that needed a retry; retries[e] the
// retries taken while events was e, counted only while e is below 2048.
struct LinkStats {
    uint32_t frames;
    int16_t events;
    uint16_t retries[LINK_RETRY_SLOTS];
};

// The port's state, or null outside 1 to 500.
LinkPort *LINK_Port(short port);
LinkStats &LINK_Stats();

uint8_t LINK_NextSendSeq(const LinkPort &p);
uint8_t LINK_ExpectSeq(const LinkPort &p);
void LINK_ResetSeq(LinkPort &p);

// The port's receive and transmit buffers (port 1's when the buffers are shared).
uint8_t *BUFFERS_GetRx(short port);
uint8_t *BUFFERS_GetTx(short port);

short LINK_Transmit(short port, const uint8_t *frame, uint16_t length);
// One raw frame from 0x12 to 0x0D: its length, 0 for none, capacity + 1 when cut.  It
// takes at most 8320 characters: after that many without a whole frame it answers 0,
// as a character wait that ended without one does.
uint16_t LINK_ReadRaw(short port, uint8_t *buffer, uint16_t capacity);
// One checked frame: 0 nothing came, -1 bad, k + 1 data of k bytes, 1 an ACK.
short LINK_RcvFrame(short port, uint8_t *buffer, uint16_t capacity);
short LINK_NoiseFilter(short port);
void LINK_Trace(short port, const char *format, ...);

// Scripts (record and replay of received frames): script.h.
