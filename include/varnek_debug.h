/* varnek_debug.h - what a station or a diagnostic program needs beyond the host
 * interface of varnek.h: descriptions of the session frames and link blocks it watches,
 * a session's peer address and compression setting, the serial bridge's progress on a
 * port, the script-record and capture-file formats, byte-order helpers, and the socket
 * calls of the library's own socket layer.
 *
 * These functions belong to the static library (varnek_core) that the project's own
 * programs link; Varnek.dll and libvarnek.so do not export them, so the interface a
 * host sees stays exactly the one of varnek.h.  They start no thread, allocate nothing
 * and, like the rest of the library, never raise an exception.  Text buffers are filled
 * with a terminating NUL and never written past the size given.
 *
 * Compiles as C and C++. */
#ifndef VARNEK_DEBUG_H
#define VARNEK_DEBUG_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------ session frames */

/* The payload size of a frame without a length field: every session announces 256. */
#define VKD_FRAME_PAYLOAD 256

/* How long the session frame that starts at bytes is, as far as its first `have` bytes
 * tell: 1 while have is 0, the header length while the header is incomplete, then
 * header plus payload.  Feed a byte stream to it to cut it into frames. */
size_t VKD_FrameLength(const uint8_t *bytes, size_t have);

/* The header length that a frame's flags byte announces: 1 to 44. */
size_t VKD_FrameHeaderLength(uint8_t flags);

/* The names of the flags of a frame's first byte, "OPEN|END|HOLD|CLOSE|PACKED" in that
 * order, or "-" for none, into text (size bytes).  Returns the full text's length. */
size_t VKD_FrameFlags(uint8_t flags, char *text, size_t size);

/* ------------------------------------------------------------ sessions */

/* 1 when slot id (0 to 499) holds a session, else 0. */
int VKD_SessionExists(short id);

/* The IPv4 address of the peer of a TCP session, into addr: 1, or 0 when the session
 * does not exist, runs over a serial port or has no connected socket. */
int VKD_SessionPeerAddress(short id, uint8_t addr[4]);

/* Sets the compression version that new sessions offer (2 when the library starts; 0
 * sends every message plain).  Affects sessions opened afterwards. */
void VKD_SetOfferedVersion(uint8_t version);

/* ------------------------------------------------------------ serial link */

/* The largest link frame and the largest decoded frame: LINK_Decode's out buffer of this
 * many bytes always suffices. */
#define VKD_LINK_FRAME_MAX 4160

/* The text LINK_FrameDebug writes for a link frame's header byte and n data bytes,
 * "STX , <d:i:r:s> , <Data=n> , <CRC16> , CR", into text (at least 64 bytes). */
void VKD_LinkFrameText(uint8_t header, uint16_t n, char *text);

/* An application block as it travels (code and block number most significant byte
 * first), n bytes, described as the bridge's trace describes it ("Code= 8740 , Bl#=3 ,
 * <Data=100>", "<ACK>" for n of 0 or 1) into text (at least 64 bytes). */
void VKD_BlockText(const uint8_t *block, size_t n, char *text);

/* The code and block number of an application block as it travels: 1 when its n bytes
 * hold both, else 0 (nothing written). */
int VKD_BlockFields(const uint8_t *block, size_t n, uint16_t *code, uint16_t *blockNo);

/* The block number the serial bridge gives the next block it sends on a link port (1
 * after an active start, 2 after a passive one, then one more per block), or 0 for a
 * port outside 1 to 500. */
unsigned VKD_BridgeNextBlock(short port);

/* The size of the log-in record a station sends a centre after the greeting. */
#define VKD_LOGIN_RECORD_SIZE 71

/* The centre port a log-in record of VKD_LOGIN_RECORD_SIZE bytes asks for, in
 * *centrePort: 1 when every other byte is the one the library sends, else 0. */
int VKD_LoginRecordRead(const uint8_t *record, uint16_t *centrePort);

/* The serial-port component's own reason for the last open it refused, or "" when it
 * gives none or was never loaded. */
const char *VKD_SerialOpenError(void);

/* ------------------------------------------------------------ link script files */

/* Record types of a script file: a pause (4 bytes: tenths of a second), a received
 * frame (the raw frame; no bytes: a time-out). */
#define VKD_SCRIPT_PAUSE 1
#define VKD_SCRIPT_FRAME 2
/* Bytes before a record's data: the type, then the data length (4 bytes). */
#define VKD_SCRIPT_RECORD_HEADER 5

/* Reads the record header at bytes (size bytes left in the file): 1 with its type and
 * data length, 0 when fewer than VKD_SCRIPT_RECORD_HEADER bytes are left.  The data may
 * still be cut short: compare length with what is left. */
int VKD_ScriptRecord(const uint8_t *bytes, size_t size, uint8_t *type, uint32_t *length);

/* The tenths of a second of a pause record's data (n bytes; 0 unless n is 4). */
uint32_t VKD_ScriptPause(const uint8_t *data, size_t n);

/* ------------------------------------------------------------ capture files (pcap) */

#define VKD_PCAP_ETHERNET 1   /* a TCP conversation with Ethernet, IPv4 and TCP headers */
#define VKD_PCAP_USER0 147    /* one bare link frame, 0x12 ... 0x0D */
#define VKD_PCAP_FILE_HEADER 24
#define VKD_PCAP_RECORD_HEADER 16

/* The file header of a classic pcap file (microsecond times, snapshot length 65535). */
void VKD_PcapFileHeader(uint8_t out[VKD_PCAP_FILE_HEADER], uint32_t linkType);

/* A record header for length bytes at microseconds since 1970; returns how many bytes
 * to write after it (length cut to the snapshot length). */
uint32_t VKD_PcapRecordHeader(uint8_t out[VKD_PCAP_RECORD_HEADER], uint64_t microseconds, size_t length);

/* ------------------------------------------------------------ byte order */

/* 16- and 32-bit numbers most significant byte first (BE) or least first (LE); the
 * pointers need no alignment. */
uint16_t VKD_GetBE16(const uint8_t *p);
uint32_t VKD_GetBE32(const uint8_t *p);
void VKD_PutBE16(uint8_t *p, uint16_t v);
void VKD_PutBE32(uint8_t *p, uint32_t v);
uint32_t VKD_GetLE32(const uint8_t *p);

/* ------------------------------------------------------------ sockets */

/* TCP sockets of the library's socket layer (WinSock on Windows, BSD sockets
 * elsewhere), for a program's own connections beside its sessions.  A socket is a
 * 32-bit number, VKD_NO_SOCKET for none.  Sockets are non-blocking for connect, send
 * and receive; VKD_NetAccept blocks until a peer connects.  Failures answer -1 and
 * leave a WinSock error code for VKD_NetLastError (on Linux an errno value, except the
 * four below, which keep their WinSock numbers).  The socket service must be started
 * (PCTCP_Open) on Windows. */
#define VKD_NO_SOCKET (-1)
#define VKD_NET_EWOULDBLOCK 10035
#define VKD_NET_EINPROGRESS 10036
#define VKD_NET_EALREADY 10037
#define VKD_NET_EISCONN 10056

/* A stream socket, or VKD_NO_SOCKET. */
int32_t VKD_NetSocket(void);
void VKD_NetClose(int32_t s);
/* Binds to addr (0.0.0.0: every local address) and port (0: any free one): 0 or -1. */
int VKD_NetBind(int32_t s, const uint8_t addr[4], uint16_t port);
int VKD_NetListen(int32_t s, int backlog);
/* The connected socket of the next caller, or VKD_NO_SOCKET. */
int32_t VKD_NetAccept(int32_t s);
/* The local port a socket is bound to, or 0. */
uint16_t VKD_NetLocalPort(int32_t s);
/* Starts a connect: 0 connected, -1 failed or in progress (see VKD_NetLastError). */
int VKD_NetConnect(int32_t s, const uint8_t addr[4], uint16_t port);
/* Waits up to waitMs for a connect in progress: 0 connected, VKD_NET_EINPROGRESS still
 * going, or the error that ended it. */
int VKD_NetConnectResult(int32_t s, uint32_t waitMs);
/* Waits up to waitMs until s is readable (forWrite 0; a peer's close counts) or
 * writable (forWrite 1): 1 ready, 0 not, -1 the wait failed. */
int VKD_NetWait(int32_t s, int forWrite, uint32_t waitMs);
/* Bytes sent, or -1; never raises a signal when the peer has gone. */
int VKD_NetSend(int32_t s, const void *data, size_t length);
/* Bytes received, 0 when the peer closed, or -1. */
int VKD_NetRecv(int32_t s, void *buffer, size_t length);
/* The error code of the last failed socket call on this thread. */
int VKD_NetLastError(void);

#ifdef __cplusplus
}
#endif

#endif
