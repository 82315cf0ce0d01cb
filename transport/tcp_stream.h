// tcp_stream.h - a receive buffer in front of one connected TCP socket.
//
// A session reads each frame as several exact counts (the flags byte, the rest of the
// header, the payload).  Read straight from the socket, each count costs a readiness
// wait and a receive.  A TcpStream takes whatever the socket holds in one receive and
// serves the counts from it by memcpy; the socket is asked again only when the buffer
// is empty, and waited on only when the receive would block.
//
// Results and waits are those of TCPAPI_WaitForData: 0 with the full count (or with a
// short count after the peer closed, the socket then closed), -1 failure (socket
// closed), -2 stopped by the abort callback, -3 the receive time-out ran out with the
// count holding what arrived.  Each call asks the abort callback once per pass, as the
// plain receive does, also when the buffer answers at once.
//
// Bytes taken from the socket but not yet read stay in the buffer: they count as
// waiting input (TcpStream_IsReceive) and belong to the stream, so a stream serves one
// socket for its whole life and is reset whenever its socket changes.
#pragma once

#include <cstdint>

constexpr uint16_t TCP_STREAM_BUFFER = 8192;

struct TcpStream {
    uint16_t start;  // next byte not yet read
    uint16_t end;    // end of the bytes held
    uint8_t bytes[TCP_STREAM_BUFFER];
};

// Forgets what the stream holds (a new socket, or a closed one).
void TcpStream_Reset(TcpStream &stream);

// TCPAPI_WaitForData through the stream: count in: bytes wanted; out: bytes delivered.
short TcpStream_WaitForData(TcpStream &stream, int32_t s, void *buffer, uint16_t *count);

// TCPAPI_IsReceive that counts the bytes held as waiting: 1 or 0.  Asks the socket only
// when the stream holds nothing.
short TcpStream_IsReceive(const TcpStream &stream, int32_t s);
