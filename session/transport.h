// transport.h - the transport a session runs on, chosen once from its address text.
//
// A session runs over TCP (its socket in the record's `handle`) or over a serial link
// port through the bridge (`linkPort`).  An open reads its address text once
// (Session_TransportChoose) and records the choice in the record's `transport`; every
// operation below then dispatches on it with a switch in transport.cpp, the one file
// that knows both transports.  The rest of the session layer never asks which one a
// session runs on.  A switch over an enum, not a table of function pointers: the library
// holds no pointers to functions besides the host's display and abort callbacks.
//
// A new record runs on TCP without a socket (`transport` 0, `handle` -1, `linkPort` 0).
// A serial session has no socket: its `handle` stays -1.
#pragma once

#include <cstdint>

enum class SessionTransport : uint8_t {
    Tcp = 0,     // a dotted address text
    Serial = 1,  // a serial port number
};

struct SessionRecord;

// Resets both transports (Session_Reset): the TCP transport's state, and the bridge
// state of serial ports 1 to 500.
void Session_TransportReset();

// Reads the address text: the transport and serial port (0 for TCP) go into the record,
// and a serial port is told whether it logs in to a centre (the record's viaCentre).
void Session_TransportChoose(SessionRecord *rec, const char *address);

// The serial port named by an address text, or 0 for TCP (a text with a full stop, or
// no number).  A number above 65535 or below 0 gives 0xFFFF, which no port has.
uint16_t Session_ParseAddress(const char *text);

// The active and passive starts: 1, or -2 (nothing shown) when the transport did not
// open.  The TCP socket is recorded in the record.
short Session_TransportCall(int16_t id);
short Session_TransportListen(int16_t id);

// Whole runs of bytes to and from the transport, with failures mapped onto the session:
// 1 or -2.  A transport failure shows "Hardware Level Failure or T.O." and releases the
// session; the host's abort callback aborts it toward the peer.  A non-blocking receive
// that runs out of time sets wouldBlock and keeps the session.  *got tells how many
// bytes a receive placed, also when it timed out.
short Session_TransportSend(int16_t id, const uint8_t *data, uint16_t length);
short Session_TransportReceive(int16_t id, uint8_t *buffer, uint16_t count, uint16_t *got);

// Whether the peer's input is already waiting (TCP: in the socket or taken from it; a
// serial line never says so).
bool Session_TransportFrameWaiting(const SessionRecord *rec);
// The end of a message: the serial bridge sends its pending block; TCP has nothing to do.
void Session_TransportEndOfMessage(int16_t id);
// Whether the peer still holds the connection (a serial line always does).
bool Session_TransportConnected(const SessionRecord *rec);
// Forgets input taken from the transport but not yet read (a new connection).
void Session_TransportForgetInput(SessionRecord *rec);

// The end of a session's transport at its release: the socket closed, or the bridge's
// pending block sent.
void Session_TransportClose(SessionRecord *rec);
// Drops the transport without a word to the peer: the socket closed (and forgotten);
// nothing for a serial port.
void Session_TransportDrop(SessionRecord *rec);

// The session's TCP socket: -1 for a serial session, for none, or for an empty slot.
int32_t Session_TransportSocket(int16_t id);
