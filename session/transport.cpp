// The session's transport: TCP or the serial bridge, chosen once from the address text,
// and every operation that depends on which one a session runs on.
#include "session/transport.h"

#include "platform/platform.h"
#include "session/session.h"
#include "transport/abort.h"
#include "transport/address.h"
#include "transport/linkapi.h"
#include "transport/tcp_stream.h"
#include "transport/tcpapi.h"

namespace {

constexpr uint8_t TCP_MODE_STREAM = 1;
constexpr int16_t LINK_PORT_FIRST = 1;
constexpr int16_t LINK_PORT_LAST = 500;

// Queued before every TCP open, for the socket that open creates: no delay on, and the
// three unnamed TCP-level entries at 0.
constexpr TcpQueuedOption SESSION_TCP_OPTIONS[] = {
    {TCPOPT_NODELAY, 1}, {TCPOPT_TCP_UNNAMED_1, 0}, {TCPOPT_TCP_UNNAMED_2, 0}, {TCPOPT_TCP_UNNAMED_3, 0}};
constexpr size_t SESSION_TCP_OPTION_COUNT = sizeof SESSION_TCP_OPTIONS / sizeof SESSION_TCP_OPTIONS[0];

int16_t Port(const SessionRecord *rec) { return static_cast<int16_t>(rec->linkPort); }

// Every negative transport result is a failed open (a passive open waits on past a
// would-block first: AcceptCaller).
int32_t AsSocket(int32_t rc) { return rc < 0 ? SESSION_NO_HANDLE : rc; }

short Opened(int16_t rc) { return rc == LINKAPI_DONE ? VK_DONE : VK_FAIL; }

// Records the socket an open gave: 1, or -2 when it gave none.
short KeepSocket(int16_t id, int32_t socket)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    rec->handle = socket;
    return socket == SESSION_NO_HANDLE ? VK_FAIL : VK_DONE;
}

bool AbortRequested() { return ABORT_Check() != 0; }

// A passive TCP open: the accepted socket, or a negative transport result.  An accept
// that would block found no caller after all: where several threads wait on the one
// listening socket, another one's accept can take the caller this one was woken for
// (Wine's WinSock does so).  That is no failure of this open, which waits on, a pass at
// most 10 ms; the transport asks the abort callback at every pass.
int32_t AcceptCaller(SessionRecord *rec)
{
    for (;;) {
        int32_t rc = TCPAPI_WaitForOpenWith(SESSION_TCP_OPTIONS, SESSION_TCP_OPTION_COUNT, rec->localAddress,
                                            rec->service, TCP_MODE_STREAM);
        if (rc != TCPAPI_WOULD_BLOCK) return rc;
        Platform_SleepMs(PLATFORM_POLL_MS);
    }
}

// The transport was stopped by the host's abort callback: abort the session toward the
// peer unless an abort is already under way.
short StoppedByCallback(int16_t id, const SessionRecord *rec, short whileAborting)
{
    if (rec->aborting) return whileAborting;
    Session_SendAbort(id, CLOSE_CALLBACK_ABORT, Session_Text(VK_TEXT_PEER_ABORTED));
    return VK_FAIL;
}

short HardwareFailure(int16_t id)
{
    Session_Fail(id, Session_Text(VK_TEXT_HARDWARE));
    return VK_FAIL;
}

}  // namespace

void Session_TransportReset()
{
    TCPAPI_Init();
    for (int16_t port = LINK_PORT_FIRST; port <= LINK_PORT_LAST; ++port) LINKAPI_Reset(port);
}

uint16_t Session_ParseAddress(const char *text)
{
    return ADDRESS_IsDotted(text) ? 0 : ADDRESS_SerialPort(text);
}

void Session_TransportChoose(SessionRecord *rec, const char *address)
{
    rec->linkPort = Session_ParseAddress(address);
    rec->transport = rec->linkPort != 0 ? SessionTransport::Serial : SessionTransport::Tcp;
    if (rec->transport == SessionTransport::Serial) LINKAPI_SetP2P(Port(rec), rec->viaCentre ? 0 : 1);
}

short Session_TransportCall(int16_t id)
{
    SessionRecord *rec = Session_Record(id);
    switch (rec->transport) {
    case SessionTransport::Tcp:
        Session_BugDebugMsg(id, "SwOpen TCPAPI");
        return KeepSocket(id, AsSocket(TCPAPI_OpenWith(SESSION_TCP_OPTIONS, SESSION_TCP_OPTION_COUNT,
                                                       rec->remoteAddress, rec->service, TCP_MODE_STREAM)));
    case SessionTransport::Serial:
        Session_BugDebugMsg(id, "SwOpen LINKAPI");
        return Opened(LINKAPI_Open(Port(rec), rec->service));
    }
    return VK_FAIL;
}

short Session_TransportListen(int16_t id)
{
    SessionRecord *rec = Session_Record(id);
    switch (rec->transport) {
    case SessionTransport::Tcp:
        Session_BugDebugMsg(id, "SwOpen TCPAPI");
        return KeepSocket(id, AsSocket(AcceptCaller(rec)));
    case SessionTransport::Serial:
        Session_BugDebugMsg(id, "SwOpen LINKAPI");
        return Opened(LINKAPI_WaitForOpen(Port(rec)));
    }
    return VK_FAIL;
}

short Session_TransportSend(int16_t id, const uint8_t *data, uint16_t length)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    bool stopped = false;
    switch (rec->transport) {
    case SessionTransport::Tcp: {
        short rc = TCPAPI_Send(rec->handle, data, length);
        if (rc == TCPAPI_DONE) return VK_DONE;
        if (rc == TCPAPI_FAILED) rec->handle = SESSION_NO_HANDLE;  // the transport closed it
        stopped = rc == TCPAPI_ABORTED;
        break;
    }
    case SessionTransport::Serial: {
        short rc = LINKAPI_Write(Port(rec), data, length);
        if (rc == LINKAPI_DONE) return VK_DONE;
        stopped = rc == LINKAPI_ABORTED || AbortRequested();
        break;
    }
    }
    if (stopped) return StoppedByCallback(id, rec, VK_DONE);
    return HardwareFailure(id);
}

short Session_TransportReceive(int16_t id, uint8_t *buffer, uint16_t count, uint16_t *got)
{
    *got = 0;
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return VK_FAIL;
    rec->wouldBlock = 0;
    *got = count;
    bool stopped = false;
    switch (rec->transport) {
    case SessionTransport::Tcp: {
        short rc = TcpStream_WaitForData(rec->rxStream, rec->handle, buffer, got);
        if (rc == TCPAPI_DONE && *got == count) return VK_DONE;
        // A failure, or the peer's close, has closed the socket in the transport.
        if (rc == TCPAPI_FAILED || rc == TCPAPI_DONE) rec->handle = SESSION_NO_HANDLE;
        if (rc == TCPAPI_TIMEOUT) {
            if (rec->blocking) return HardwareFailure(id);
            rec->wouldBlock = 1;
            return VK_FAIL;
        }
        stopped = rc == TCPAPI_ABORTED;
        break;
    }
    case SessionTransport::Serial: {
        short rc = LINKAPI_Read(Port(rec), buffer, got);
        if (rc == LINKAPI_DONE) return VK_DONE;
        *got = 0;
        stopped = rc == LINKAPI_ABORTED || AbortRequested();
        break;
    }
    }
    if (stopped) return StoppedByCallback(id, rec, VK_FAIL);
    return HardwareFailure(id);
}

bool Session_TransportFrameWaiting(const SessionRecord *rec)
{
    switch (rec->transport) {
    case SessionTransport::Tcp: return TcpStream_IsReceive(rec->rxStream, rec->handle) != 0;
    case SessionTransport::Serial: return false;
    }
    return false;
}

void Session_TransportEndOfMessage(int16_t id)
{
    SessionRecord *rec = Session_Record(id);
    if (rec == nullptr) return;
    switch (rec->transport) {
    case SessionTransport::Tcp: return;
    case SessionTransport::Serial: LINKAPI_Push(Port(rec)); return;
    }
}

bool Session_TransportConnected(const SessionRecord *rec)
{
    switch (rec->transport) {
    case SessionTransport::Tcp: return TCPAPI_IsConnected(rec->handle) != 0;
    case SessionTransport::Serial: return true;
    }
    return false;
}

void Session_TransportForgetInput(SessionRecord *rec) { TcpStream_Reset(rec->rxStream); }

void Session_TransportClose(SessionRecord *rec)
{
    switch (rec->transport) {
    case SessionTransport::Tcp: TCPAPI_Close(rec->handle); return;
    case SessionTransport::Serial: LINKAPI_Push(Port(rec)); return;
    }
}

void Session_TransportDrop(SessionRecord *rec)
{
    switch (rec->transport) {
    case SessionTransport::Tcp:
        TCPAPI_Close(rec->handle);
        rec->handle = SESSION_NO_HANDLE;
        return;
    case SessionTransport::Serial: return;
    }
}

int32_t Session_TransportSocket(int16_t id)
{
    const SessionRecord *rec = Session_Record(id);
    if (rec == nullptr || rec->transport != SessionTransport::Tcp) return SESSION_NO_HANDLE;
    return rec->handle;
}
