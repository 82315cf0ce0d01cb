/*
 * varnek.h - the Varnek communication library, as a host application sees it.
 *
 * Varnek gives a host numbered, half-duplex conversations ("sessions") with a remote
 * station or a central system, over TCP or over a serial line with its own link
 * protocol, every message LZSS-compressed.  This header compiles as C and as C++.
 *
 * Conventions
 *   - Every function uses the C calling convention (cdecl) and is exported undecorated.
 *   - A session id (VK_ID) is passed as a machine word of which the low 16 bits count;
 *     valid ids are 0 to 499.
 *   - Results written `short` are signed 16-bit codes.  The session operations answer
 *     with the VK_ codes below; -2 (VK_FAIL) means that the operation has already shown
 *     a status text through the display function and released the session, unless the
 *     function's comment says otherwise.
 *   - Status texts reach the host only through the display function it installs with
 *     SESSION_SetDispFunc; the library never writes to standard output.
 *
 * Threads
 *   The library starts no threads; every call runs on its caller's thread.  Every wait
 *   is a polling loop on that thread that asks the host's abort callback once per pass
 *   and never keeps a processor core busy: a pass blocks for at most 10 ms.
 *
 *   May run at the same time, on any threads:
 *   - Calls on different sessions: each session is driven by one thread at a time (its
 *     opens, data calls, Session_EOM, Session_Hold, Session_Close, Session_Abort,
 *     Session_BlockingMode, ZIP_GetVersion and APPCOM_SetSes2Port of its id), and any
 *     number of sessions, up to all 500, may each be driven by its own thread.  A
 *     session's state, its compression contexts included, belongs to its slot alone.
 *   - Session_Create.  The automatic choice (id -1) never hands one slot to two
 *     threads; an explicit id must name a slot no other thread is using.
 *   - Opens.  Several threads may wait in the passive TCP opens (Session_WaitForOpen
 *     and its Nbm and P2P forms) on the same service at once: the first creates and
 *     binds the one listening socket, every caller that connects is taken by exactly one
 *     waiting thread (a thread whose accept finds the caller gone to another waits on,
 *     never fails for it), and each exchanges its open frames on its own, so a caller that
 *     connects and says nothing holds only the thread that took it, until the receive
 *     time-out.  Active opens may run at once too; the socket options an open queues go
 *     to the socket it creates.  A host that opens one at a time sees no difference.
 *   - The process-wide settings, set from one thread while sessions run on others:
 *     SESSION_SetTimeout and the TCPAPI_ time-outs (a wait sees a new value at its next
 *     check), TCPAPI_SetSockOpt (its queue goes with the next socket created, whichever
 *     thread creates it), ABORT_SetFunc, SESSION_SetDispFunc, Session_NewMessage (the
 *     text must stay valid), LINK_SetNoSEQ, LINK_SetLongBuffer and the APPCOM_ map.
 *   - TCPAPI_ calls on different sockets, LINK_ calls on different ports.
 *   - TCPAPI_End: passive opens waiting for a caller then fail (-2, their session stays
 *     created).
 *   The display function and the abort callback are called on the thread of the session
 *   that shows a text or waits, so from several threads at once when several sessions
 *   run: they must be safe to call that way.
 *
 *   Must run while no other call of the library runs: Session_Reset, Session_CloseAll,
 *   TCPAPI_Init, PCTCP_Open, PCTCP_Close, Mem_Init, Mem_PwrDown and LINK_ScriptInit.
 *   Must not run while its port is in use: LINK_Open and LINK_Close.  A serial port
 *   carries one session and is driven by one thread at a time; after LINK_SetLongBuffer
 *   all ports share one buffer, so only one port may then be driven at a time.
 *
 * Time
 *   Time limits count whole seconds of the calendar clock (time()).  A limit given in
 *   milliseconds is divided by 1000, and the wait ends once the elapsed whole seconds
 *   exceed the quotient.
 */
#ifndef VARNEK_H
#define VARNEK_H

#include <stdint.h>

#if defined(_WIN32)
#define VKAPI __cdecl
#define VK_EXPORT
#elif defined(__GNUC__)
#define VKAPI
#define VK_EXPORT __attribute__((visibility("default")))
#else
#define VKAPI
#define VK_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ types */

typedef int VK_ID; /* a session id; the low 16 bits count */

/* The host's display function: one status line for an application port.  kind is 1. */
typedef int (VKAPI *VK_DISPFUNC)(uint16_t port, const char *text, uint16_t kind);
/* The host's abort callback: nonzero asks the waiting operation to stop. */
typedef int (VKAPI *VK_ABORTFUNC)(void);

#pragma pack(push, 1)
/* Open parameters (67 bytes, byte-packed).  Address texts are 16 bytes, NUL-terminated:
 * the zero-padded dotted form "%3.3d.%3.3d.%3.3d.%3.3d" selects TCP, a decimal number
 * selects that serial port. */
typedef struct {
    char localName[16];      /* sent to the peer in the open block            */
    char localAddress[16];   /* address used by the passive opens             */
    char remoteName[16];     /* sent to the peer in the open block            */
    char remoteAddress[16];  /* address used by the active opens              */
    uint16_t service;        /* TCP port to connect to or listen on           */
    uint8_t serviceOption;   /* carried with the service number               */
} SessionOpenParams;
#pragma pack(pop)

/* What an open reports of the peer: same layout; the open writes localName, remoteName,
 * service and serviceOption and leaves the two address fields as the host gave them. */
typedef SessionOpenParams SessionPeerInfo;

/* Session result codes. */
enum {
    VK_FAIL = -2,   /* failure; the session has been released (see above)            */
    VK_NODATA = 0,  /* non-blocking receive: nothing arrived in time; session kept     */
    VK_DONE = 1,    /* success                                                         */
    VK_OPENED = 2,  /* success of an active open                                       */
    VK_CLOSED = 3,  /* receive: message ended and the peer closed; session released    */
    VK_TURN = 4     /* receive: message ended; this side now has the turn to send      */
};

/* Indexes of the status-text table (Session_NewMessage).  Default texts in quotes. */
enum {
    VK_TEXT_ALREADY_OPENED = 0,  /* "Session already opened!"           */
    VK_TEXT_NOT_OPENED = 1,      /* "Session Not opened!"               */
    VK_TEXT_WRONG_INDEX = 2,     /* "Wrong Session Index!"              */
    VK_TEXT_OUT_OF_TURN = 3,     /* "Out of Rx-Tx synchronization!"     */
    VK_TEXT_OUT_OF_STRUCT = 4,   /* "Out of Structure synchronization!" */
    VK_TEXT_ABORTED = 6,         /* "Session Aborted"                   */
    VK_TEXT_UNEXPECTED = 7,      /* "Unexpected Frame"                  */
    VK_TEXT_ZIP_SETUP = 8,       /* "Error setting Zip"                 */
    VK_TEXT_UNZIP_SETUP = 9,     /* "Error setting UnZip"               */
    VK_TEXT_PEER_ABORTED = 11,   /* "Session Aborted by other side"     */
    VK_TEXT_HARDWARE = 13,       /* "Hardware Level Failure or T.O."    */
    VK_TEXT_ZIP_FAILURE = 15,    /* "ZIP Level Failure"                 */
    VK_TEXT_COUNT = 16
};

/* ------------------------------------------------------ session lifecycle */

/* Resets the library: drops every session still in the table without closing it (no
 * frame is sent; its memory, compression contexts and socket are freed), loads the
 * default status texts, resets compression, the TCP transport and the serial bridge
 * state of ports 1 to 500, and forgets the display function.  Call it first. */
VK_EXPORT void VKAPI Session_Reset(void);

/* Takes a session slot.  *id = -1 chooses the lowest free slot that was not stamped by
 * a failure release in the last 30 seconds (see below); any other id 0..499 takes that
 * slot, and a slot already holding a session keeps it untouched.  Returns 1 with *id set,
 * or -2 (id out of range, no free slot, no memory; nothing is shown, *id unchanged).
 *
 * Slot stamps: every release that reports a failure through the display function
 * (transport failure or time-out, the peer's abort, an out-of-turn call, the host's own
 * Session_Abort ...) stamps its slot with the time of release; Session_Close, the peer's
 * orderly close and a failed open do not.  Automatic choice skips a slot while the clock
 * has not passed stamp + 30 s, so a host still holding a failed id never meets a new
 * session under it.  An explicit id ignores stamps.
 * Session_Create after Session_CloseAll needs a new Session_Reset: until then it
 * returns -2. */
VK_EXPORT short VKAPI Session_Create(short *id);

/* Ends the last message with a close mark and releases the session (1), or -2: not
 * open ("Session Not opened!"), peer's turn ("Out of Rx-Tx synchronization!"),
 * compression failure ("ZIP Level Failure").  Every release except that of a failed
 * open pauses 2 seconds (without using the processor). */
VK_EXPORT short VKAPI Session_Close(VK_ID id);

/* Session_Close for ids 0 to 499, then deletes the table lock. */
VK_EXPORT void VKAPI Session_CloseAll(void);

/* Sends an abort carrying text (at most 64 bytes reach the peer), waits up to 10 s for
 * the peer to drop the connection, shows text and releases the session: 1, or -2.
 * The library keeps the text pointer until the release. */
VK_EXPORT short VKAPI Session_Abort(VK_ID id, const char *text);

/* 1 blocking, 0 non-blocking receives.  Every open sets this itself. */
VK_EXPORT void VKAPI Session_BlockingMode(VK_ID id, uint16_t mode);

/* Receive and connect time-out of all TCP sessions in ms (60000 after reset). */
VK_EXPORT void VKAPI SESSION_SetTimeout(uint32_t milliseconds);

/* ------------------------------------------------------------- opening
 *
 * The active opens call the peer and send first; the passive opens wait to be called
 * and answer.  The address text selects the transport: remoteAddress for the active
 * opens, localAddress for the passive ones; a dotted text is TCP (port `service`), a
 * decimal number a serial port (1-500).  Both sides exchange one open frame carrying
 * their names, service and compression version, report the peer's in *peer (offsets
 * 0, 32, 64, 66; the address fields are left as the host gave them), and settle on the
 * lower compression version.  Nbm: non-blocking receives (a receive that runs out of
 * the TCP time-out returns 0 and keeps the session).  P2P: a serial line without a
 * log-in to a centre.
 *
 * Active: 2, or -2 (a failed transport open, open frame or answer releases the session
 * without the 2-second pause).  Passive: 1, or -2; when the wait or the caller's first
 * frame fails the session stays created and prepared, so the call can be repeated (a
 * connection accepted by the earlier call is closed first).  A passive side whose
 * params->service is 0 adopts the caller's service and option and writes them into
 * *params.  Every negative result of the TCP transport is a failed open, except an
 * accept that would block in a passive open: no caller was there after all (another
 * waiting thread's accept took it), so the open waits on.
 * "Session already opened!" releases a session that is open; an id out of range shows
 * "Wrong Session Index!". */
VK_EXPORT short VKAPI Session_Open(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);
VK_EXPORT short VKAPI Session_OpenNbm(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);
VK_EXPORT short VKAPI Session_OpenP2P(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);
VK_EXPORT short VKAPI Session_WaitForOpen(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);
VK_EXPORT short VKAPI Session_WaitForOpenNbm(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);
VK_EXPORT short VKAPI Session_WaitForOpenP2P(VK_ID id, SessionOpenParams *params, SessionPeerInfo *peer);

/* ------------------------------------------------------------- messages
 *
 * Messages alternate: the side with the turn writes one message (byte runs, words and
 * long words; words and long words travel most significant byte first) and ends it;
 * the peer reads it piece by piece and gets the turn with its last byte.  Every
 * message is compressed unless the session's version is 0.  Sending while it is the
 * peer's turn, or reading while it is this side's, shows "Out of Rx-Tx
 * synchronization!" and releases the session; a compression failure shows "ZIP Level
 * Failure".
 *
 * Results of the reads: 1 the bytes were read and the message goes on; 4 they ended
 * the message and the turn is now this side's; 3 they ended the peer's last message
 * (Session_Close) and the session is released; 0 (non-blocking only) nothing arrived in
 * time and the session stays open; -2 failure.  A read asking for more than the message
 * has left shows "Out of Structure synchronization!".
 *
 * A non-blocking read that returns 0 may already have placed some of its bytes: calling
 * the same read again (same buffer, same length) completes it, without losing or
 * repeating a byte; the same read with another length shows "Out of Structure
 * synchronization!".
 *
 * Whatever the peer sends, no read writes past the length it was given.  A read that
 * returns -2 has always shown a text and released the session: a compressed message
 * that cannot be decoded, or whose frames are not all compressed or all plain, shows
 * "ZIP Level Failure"; a frame announcing more than 256 payload bytes, or a peer frame
 * refused for its open block, "Hardware Level Failure or T.O.".  An empty message
 * ends at once: a read of 0 bytes returns 4, a longer one shows "Out of Structure
 * synchronization!", and the peer's empty last message (Session_Close right after
 * reading) ends the read with 3.  The frame size in the peer's open block is the payload
 * its frames carry before the last one of a message: 256 from every station of this
 * library, any size from 1 to 256 is read as announced, and any other value makes the
 * open fail as a peer of an older protocol does (nothing shown).
 *
 * Null pointers: a null run of 0 bytes is no bytes (Session_TxStruct(id, NULL, 0) sends
 * nothing and leaves the message open; Session_RxStruct(id, NULL, 0) reads nothing); a
 * null run of more bytes is refused with -2, nothing shown and the session untouched. */
VK_EXPORT short VKAPI Session_TxStruct(VK_ID id, const void *data, uint16_t length);
VK_EXPORT short VKAPI Session_TxWord(VK_ID id, uint16_t value);
VK_EXPORT short VKAPI Session_TxLong(VK_ID id, uint32_t value);
/* A length word, the bytes, the end of message. */
VK_EXPORT short VKAPI Session_TxMsg(VK_ID id, const void *data, uint16_t length);
/* Ends the message; the turn passes to the peer. */
VK_EXPORT short VKAPI Session_EOM(VK_ID id);
/* A hold: every frame from here to the end of the message carries the hold byte, and
 * the message goes on (compressed: the same stream).  A full 256-byte frame of a
 * compressed message goes out at once; a plain message's bytes wait for the next frame
 * or the end.  The peer reads the held part and its continuation as one message; the
 * turn stays with this side.  No short frame without the end mark, and no empty last
 * frame, ever goes out. */
VK_EXPORT short VKAPI Session_Hold(VK_ID id, uint8_t value);
VK_EXPORT short VKAPI Session_RxStruct(VK_ID id, void *buffer, uint16_t length);
VK_EXPORT short VKAPI Session_RxWord(VK_ID id, uint16_t *value);
VK_EXPORT short VKAPI Session_RxLong(VK_ID id, uint32_t *value);
/* A length word and that many bytes that must end the message: 1 (the turn is now
 * this side's), 3, 0, or -2 ("Out of Structure synchronization!" when bytes follow). */
VK_EXPORT short VKAPI Session_RxMsg(VK_ID id, void *buffer, uint16_t *length);

/* ------------------------------------------------------- status and trace */

/* Installs the display function (after every Session_Reset). */
VK_EXPORT void VKAPI SESSION_SetDispFunc(VK_DISPFUNC fn);

/* Calls the display function with the three values, if one is installed. */
VK_EXPORT void VKAPI SESSION_Disp(uint16_t port, const char *text, uint16_t kind);

/* Shows a status line for a session: at most 80 characters of text, its first carriage
 * return turned into a semicolon, on the session's application port (port 1 when it
 * has none, and for id -1), with kind 1.  A null text shows an empty line. */
VK_EXPORT void VKAPI Session_OutputMsg(short id, const char *text);

/* Loads the 12 default status texts (indexes 0-4, 6-9, 11, 13, 15). */
VK_EXPORT void VKAPI Session_DefaultMessages(void);

/* Replaces status text `index` (0..15; larger indexes are ignored).  The library keeps
 * the pointer: the text must stay valid while it may be shown. */
VK_EXPORT void VKAPI Session_NewMessage(uint16_t index, const char *text);

/* Debug hooks: accept a session id (or -1, or a link port) and a text; show nothing. */
VK_EXPORT void VKAPI Session_DebugMsg(short id, const char *text);
VK_EXPORT void VKAPI Session_DebugErr(short id, const char *text);
VK_EXPORT void VKAPI Session_BugDebugMsg(short id, const char *text);

/* ------------------------------------------------------- application ports */

/* Ties a session to an application port (used for its status lines).  1, or -2 when
 * the slot holds no session (the port is stored all the same) or the id is out of
 * range (nothing stored).  Mappings outlive sessions and Session_Reset. */
VK_EXPORT short VKAPI APPCOM_SetSes2Port(VK_ID id, uint16_t port);
/* The port stored for the id; 0 for none or an id out of range. */
VK_EXPORT uint16_t VKAPI APPCOM_Ses2Port(VK_ID id);
/* Clears every mapping; 1. */
VK_EXPORT short VKAPI APPCOM_Ses2PortReset(void);
/* The lowest id mapped to the port; 0 when none is (the same as a match at id 0). */
VK_EXPORT short VKAPI APPCOM_Port2Ses(uint16_t port);

/* ------------------------------------------------------------ TCP transport
 *
 * A thin, blocking layer over sockets.  Address texts are read at the fixed positions
 * of the form "%3.3d.%3.3d.%3.3d.%3.3d" (0, 4, 8 and 12; the characters at 3, 7 and 11
 * end the first three numbers whatever they are, and are overwritten with NUL while the
 * text is read), so "192.168.1.1" does not designate 192.168.1.1; "000.000.000.000" is
 * any local interface.  mode 2 makes a datagram socket, any other value a stream.
 *
 * Results: 0 done; -1 socket failure (the socket concerned has been closed); -2 stopped
 * by the abort callback; -3 time-out; -4 nothing to read (TCPAPI_GetStatus); -5 a
 * datagram longer than the space offered; -6 accept would block.
 *
 * Waits: every pass asks the abort callback once and blocks at most 10 ms (receives,
 * the connect check and the send's writability check alike), so a stop request is seen
 * within 10 ms and a wait never keeps a processor busy.  The
 * receive time-out (60000 ms after TCPAPI_Init) limits the connect and the receives in
 * whole seconds; 0 means no limit for the receives, while a connect in progress then
 * gives up once the clock has moved on a second; -1000 ms or less never expires.
 * Sending has no time limit.
 */

/* Initial state: no listening socket (an open one is forgotten), time-outs 60000 and
 * 5000 ms, no queued options.  PCTCP_Open and Session_Reset call it. */
VK_EXPORT void VKAPI TCPAPI_Init(void);
/* Connects: the socket (it fits in 15 bits; a larger handle is closed and refused
 * with -1), or -1, -2, -3. */
VK_EXPORT int32_t VKAPI TCPAPI_Open(char *address, uint16_t port, uint8_t mode);
/* Waits for a caller on the one listening socket, made and bound by the first call
 * (later calls use it whatever their address and port, until TCPAPI_End).  The accept
 * blocks until a peer connects; the abort callback is asked only before it.  The
 * accepted socket, the listening socket itself in mode 2 once it is readable, or -1,
 * -2 (the listening socket of a stream wait is closed), -6. */
VK_EXPORT int32_t VKAPI TCPAPI_WaitForOpen(char *address, uint16_t port, uint8_t mode);
/* Sends all count bytes: 0, -1, -2 (the socket stays open). */
VK_EXPORT short VKAPI TCPAPI_Send(int32_t socket, const void *data, uint16_t count);
/* Receives exactly *count bytes: 0 with the full count, or 0 with a short count when
 * the peer closed (the socket is then closed); -1, -2, -3 (*count: bytes so far), -5. */
VK_EXPORT short VKAPI TCPAPI_WaitForData(int32_t socket, void *buffer, uint16_t *count);
/* As TCPAPI_WaitForData, but returns 0 as soon as the first bytes arrive. */
VK_EXPORT short VKAPI TCPAPI_Receive(int32_t socket, void *buffer, uint16_t *count);
/* 1 when the socket is readable now, else 0. */
VK_EXPORT short VKAPI TCPAPI_IsReceive(int32_t socket);
/* 1 while the system accepts the socket (a peer's close is not seen), else 0. */
VK_EXPORT short VKAPI TCPAPI_IsConnected(int32_t socket);
/* 0 readable, -4 not readable, -1 the test failed. */
VK_EXPORT int32_t VKAPI TCPAPI_GetStatus(int32_t socket);
/* Closes the socket unless it is -1. */
VK_EXPORT void VKAPI TCPAPI_Close(int32_t socket);
/* Closes the listening socket, if any. */
VK_EXPORT void VKAPI TCPAPI_End(void);
/* Queues an option for the next socket created (codes 1-10; 5 TCP no-delay, 6 send
 * buffer, 7 receive buffer, 9 keep-alive, 10 broadcast, which with a value of 1 or more
 * also queues keep-alive): 0, or -1 for another code (nothing queued). */
VK_EXPORT int32_t VKAPI TCPAPI_SetSockOpt(int32_t ignored, int8_t code, int32_t value);
VK_EXPORT int32_t VKAPI TCPAPI_GetTimeout(void);
VK_EXPORT void VKAPI TCPAPI_SetTimeout(int32_t milliseconds);
/* Stores and returns the send time-out; nothing consults it. */
VK_EXPORT int32_t VKAPI TCPAPI_SetTxTimeout(int32_t milliseconds);
/* Installs the abort callback (null removes it); returns fn. */
VK_EXPORT VK_ABORTFUNC VKAPI ABORT_SetFunc(VK_ABORTFUNC fn);

/* Starts the socket service (WinSock 2.0 exactly) and initialises the TCP transport:
 * 1, or 0 with "[ ] Can't find a usable WinSock DLL" and "[ ] Error code %d", or
 * "[ ] We couldn't find a usable WinSock DLL", shown for id -1.  On Linux there is no
 * service to start: it initialises the transport and returns 1. */
VK_EXPORT short VKAPI PCTCP_Open(void);
/* Closes the listening socket and stops the service: 0 or -1 (Linux: 0). */
VK_EXPORT int32_t VKAPI PCTCP_Close(void);
/* PCTCP_IpConfig with mode 0. */
VK_EXPORT short VKAPI PCTCP_GetIpConfig(char *address, char *hostName);
/* Host name (hostName: 256 bytes, may be null; empty when the name cannot be read) and
 * the host's first six IPv4 addresses as zero-padded texts (address: 16 bytes, may be
 * null).  Mode 1: 1 when address equals one of them exactly, else 0.  Other modes:
 * writes each in turn to address, leaving the last, and returns gethostname's 0 or -1.
 * A host name that resolves to no IPv4 address (as on minimal systems whose name is in
 * neither the hosts file nor DNS) is not an error: mode 1 gives 0, other modes give 0 and
 * leave address exactly as it was, so a host that fills it first sees its own text. */
VK_EXPORT short VKAPI PCTCP_IpConfig(char *address, char *hostName, uint16_t mode);

/* Sets the record limit of a serial port's session blocks from a record size code:
 * 8738 (0x2222) 520 bytes, 8739 1040, 8740 2080; every block then carries fewer payload
 * bytes than the limit.  0, or 2 for another code (the limit stays) or a port outside
 * 1 to 500.  A passive open on a port outside peer-to-peer mode needs it first; an
 * active open sets the limit anew (to 2080). */
VK_EXPORT short VKAPI LINKAPI_NuRecSize(short port, uint16_t code);

/* ------------------------------------------------------------ serial link frames
 *
 * A frame is 0x12, a header byte, the data, the CRC-16/ARC of header and data (low
 * byte first), and 0x0D; inside the frame 0x0D and 0x10-0x13 are sent as 0x10 followed
 * by the byte OR 0x80.  A frame of n data bytes takes at most 2n + 8 bytes. */

/* CRC-16/ARC of n bytes from 0, and continued from crc. */
VK_EXPORT uint16_t VKAPI crc16_CalcStart(const void *data, uint16_t n);
VK_EXPORT uint16_t VKAPI crc16_CalcNext(uint16_t crc, const void *data, uint16_t n);
/* Writes the frame to out (room for 2n + 8 bytes); returns its length. */
VK_EXPORT uint16_t VKAPI LINK_Encode(uint8_t *out, uint8_t header, const void *data, uint16_t n);
/* Decodes the frame in raw (unstuffed in place) into out, whose room *length gives;
 * *length becomes the data bytes, *header the header.  0 good; 0x7FFF no 0x12 found;
 * any other value a failure: the CRC remainder, 0xFFFE a good frame with more data than
 * the room (never more than the room is stored or counted), 0xFFFF too short. */
VK_EXPORT uint16_t VKAPI LINK_Decode(uint8_t *out, uint8_t *raw, uint16_t rawLength, uint16_t *length,
                                     uint16_t *header);
/* Describes an application block of n bytes ("Code= 8740 , Bl#=3 , <Data=100>",
 * "<ACK>" ...) into text (64 bytes); 1. */
VK_EXPORT short VKAPI LINK_FrameDebug(char *text, const void *block, short n);
/* Lowers the Hebrew letters 0x80-0x9A of code page 862 by 0x20 (SI 960), in place, over
 * n bytes, or up to the NUL when n is 0. */
VK_EXPORT void VKAPI LINK_Conv8to7(char *text, uint16_t n);

/* ------------------------------------------------------------ serial link
 *
 * Ports 1 to 500 of the serial-port component (DRUMMEL.DLL, libdrummel.so; see
 * drummel.h), each carrying frames stop-and-wait: a data frame goes out, and the next
 * good frame from the peer, data or acknowledgement, answers it.  While no good answer
 * comes, the receiver drains the line and sends the last frame again, up to the port's
 * retry limit (25 after LINK_Open).  Traces go to the component's debug output, channel
 * port + 100.  The link has no time limit of its own: it waits in the component's
 * character wait.  Calls for one port must not overlap.
 *
 * A block whose stuffed frame would not fit the 4160-byte frame buffer (more than 2076
 * data bytes, or fewer when many need stuffing) is refused by LINK_Send with 0.  A good
 * frame with more data than the receiving caller's room is refused like a bad one
 * ("Receive buffer size error ( > %d)") and the answer is asked for again.  The
 * statistics of port 1 count retries only for the first 2048 retried exchanges. */

/* Sends a data frame of n bytes (n = 0: an acknowledgement): 1 when the component took
 * it, else 0. */
VK_EXPORT short VKAPI LINK_Send(short port, const void *data, uint16_t n);
VK_EXPORT short VKAPI LINK_SndAck(short port);
/* Waits for the answer: 0 failure, 1 an acknowledgement, k + 1 a data frame of k bytes
 * placed in buffer. */
VK_EXPORT short VKAPI LINK_Receive(short port, void *buffer, uint16_t capacity);
VK_EXPORT short VKAPI LINK_SndRcv(short port, const void *data, uint16_t n, void *buffer, uint16_t capacity);
/* 1 when 0x12 is the next waiting character (other characters are taken away). */
VK_EXPORT short VKAPI LINK_Stx(short port);
/* 1 when at least 5 characters wait. */
VK_EXPORT short VKAPI LINK_IsRcv(short port);
/* 0 for a modem line without carrier, else 1. */
VK_EXPORT short VKAPI LINK_IsCd(short port);
/* Discards the waiting characters. */
VK_EXPORT short VKAPI LINK_RxClr(short port);
VK_EXPORT void VKAPI LINK_SetDir(short port, uint16_t dir);
VK_EXPORT uint16_t VKAPI LINK_SetMaxRetry(short port, uint16_t limit);
/* Switches the sequence checks off for every port (for good). */
VK_EXPORT void VKAPI LINK_SetNoSEQ(void);
/* Makes every port use port 1's frame buffers (for good). */
VK_EXPORT void VKAPI LINK_SetLongBuffer(void);
/* One trace line on the component's debug output, channel port + 100. */
VK_EXPORT short VKAPI LINK_WriteDebug(short port, const char *text, short flag);
/* Adds count bytes to the port's byte counter; -1 resets it and starts counting now. */
VK_EXPORT void VKAPI LINK_PutDiag(short port, short count);
/* Opens the port in the component with its seven settings, resets its link state (and,
 * for port 1, the statistics): 1, or 0 ("RS232_Open Error"). */
VK_EXPORT short VKAPI LINK_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5,
                                uint16_t s6, uint32_t s7);
/* Traces port 1's statistics (four lines) and closes the port: the component's result. */
VK_EXPORT short VKAPI LINK_Close(short port);
/* 1 when the peer is there (carrier on a modem line, a waiting 0x12 on a direct line),
 * and then the link state starts afresh; 0 otherwise.  Does not wait. */
VK_EXPORT short VKAPI LINK_Connect(short port);
/* Starts the port's link state afresh: 1. */
VK_EXPORT short VKAPI LINK_Init(short port);
/* Bytes per second since the counter's reset, as text ("0" within its first second);
 * returns the characters written (out: 12 bytes). */
VK_EXPORT short VKAPI LINK_GetDiag(short port, char *out);
/* printf-style line, cut at 502 characters, on the component's general debug channel 1. */
VK_EXPORT short VKAPI LINK_Diag(const char *format, ...);
/* Reads, once per process, which ports record and which replay their received frames:
 * LINKSCRIPT.INI in the current directory, entries "port = N mode = WRITE|READ" (any
 * case; other words and ports outside 1-500 change nothing).  Script files are
 * LINKSCRIPT.NN in C:\YOLM\SCRIPT on Windows, $HOME/YOLM/SCRIPT elsewhere, or the
 * directory VARNEK_SCRIPT_DIR names; the directory is created where missing.  A
 * recording appends to the file; a replay delivers its frames in place of the line and
 * starts again from the first after its end.  Records that cannot be used (a frame
 * longer than 4160 bytes, a pause whose length is not 4, an unknown type) are skipped.
 * 1 when it had already run, -1 without LINKSCRIPT.INI, 0 otherwise. */
VK_EXPORT short VKAPI LINK_ScriptInit(void);
/* 1 when the port replays a script, else 0. */
VK_EXPORT short VKAPI LINK_IsScriptRead(short port);

/* ------------------------------------------------------------ compression */

/* The session's compression version: 0 uncompressed, otherwise LZSS (a new session
 * offers 2; an open lowers both sides to the lower of the two).  0 with *version set,
 * or -1 (and *version 0) when the session has no compression set up. */
VK_EXPORT short VKAPI ZIP_GetVersion(uint16_t sessionId, uint8_t *version);

/* ------------------------------------------------------------ support */

/* Tagged block manager over malloc/free; the tag names the owner and changes nothing. */
VK_EXPORT short VKAPI Mem_Init(void);                                 /* 1 */
VK_EXPORT short VKAPI Mem_PwrDown(void);                              /* 1 */
VK_EXPORT void *VKAPI Mem_Malloc(const char *tag, uint32_t size);     /* block, or null */
VK_EXPORT void *VKAPI Mem_Alloc(uint32_t size);                       /* Mem_Malloc("LOCAL", size) */
VK_EXPORT void VKAPI Mem_Free(const char *tag, void *block);

/* Converts a structure in place between byte orders, field by field: "%b" 1 byte
 * (unchanged), "%d" 2 bytes (exchanged), "%l" 4 bytes (reversed); "%f" before the
 * letter mirrors the bits of each byte instead.  Other characters are skipped.
 * 1 when the fields add up to length; 0 after an error, shown in a message box captioned
 * "BYTESWAP: Arguments" (one line on standard error where there are no boxes, or when
 * VARNEK_NO_MSGBOX is set). */
VK_EXPORT short VKAPI BYTESWAP_Do(const char *typeString, void *data, int32_t length);

#ifdef __cplusplus
}
#endif

#endif /* VARNEK_H */
