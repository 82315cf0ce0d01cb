// The TCP socket transport: opens, sends, receives, zero-wait tests, the option queue
// and the one listening socket.
#include "transport/tcpapi.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/net.h"
#include "platform/platform.h"
#include "transport/abort.h"

namespace {

constexpr int32_t DEFAULT_RECEIVE_TIMEOUT_MS = 60000;
constexpr int32_t DEFAULT_SEND_TIMEOUT_MS = 5000;
constexpr uint32_t RECEIVE_SLICE_MS = PLATFORM_POLL_MS;  // a pass blocks at most 10 ms
constexpr uint8_t MODE_DATAGRAM = 2;
constexpr int32_t LARGEST_OPEN_HANDLE = 0x7FFF;  // TCPAPI_Open answers in 16 bits

struct TcpOption {
    NetLevel level;
    NetOption name;
    int32_t value;
    int32_t length;
    uint8_t pending;
};

// Code 0 is a table entry that cannot be queued; codes 1 to 10 can.
constexpr int8_t FIRST_QUEUED_CODE = TCPOPT_TCP_UNNAMED_1;
constexpr int8_t LAST_QUEUED_CODE = TCPOPT_BROADCAST;
constexpr size_t OPTION_ENTRIES = LAST_QUEUED_CODE + 1;

constexpr std::array<TcpOption, OPTION_ENTRIES> OPTION_TEMPLATE{{
    {NetLevel::None, NetOption::None, 0, 0, 0},
    {NetLevel::Tcp, NetOption::None, 1, 4, 0},
    {NetLevel::Tcp, NetOption::None, 1, 4, 0},
    {NetLevel::Tcp, NetOption::None, 1, 4, 0},
    {NetLevel::Tcp, NetOption::None, 200, 4, 0},
    {NetLevel::Tcp, NetOption::NoDelay, 0, 4, 0},
    {NetLevel::Socket, NetOption::SendBuffer, 0, 4, 0},
    {NetLevel::Socket, NetOption::ReceiveBuffer, 0, 4, 0},
    {NetLevel::Socket, NetOption::None, 1, 4, 0},
    {NetLevel::Socket, NetOption::KeepAlive, 0, 4, 0},
    {NetLevel::Socket, NetOption::Broadcast, 0, 4, 0},
}};

// Process-wide state.  The option queue changes under its lock, together with the
// creation of the socket that takes the queued options.  The listening socket is
// created, bound, put to listen and closed under its own lock (taken before the option
// lock where both are needed); accepts on it run outside, in parallel.
std::mutex optionLock;
std::array<TcpOption, OPTION_ENTRIES> options = OPTION_TEMPLATE;
std::mutex listenLock;
std::atomic<int32_t> listenSocket{NET_NO_SOCKET};
std::atomic<int32_t> receiveTimeoutMs{DEFAULT_RECEIVE_TIMEOUT_MS};
std::atomic<int32_t> sendTimeoutMs{DEFAULT_SEND_TIMEOUT_MS};

// Under optionLock.
void QueueOption(int8_t code, int32_t value)
{
    options[static_cast<size_t>(code)].value = value;
    options[static_cast<size_t>(code)].pending = 1;
    if (code == TCPOPT_BROADCAST && value >= 1) {
        options[TCPOPT_KEEPALIVE].value = 1;
        options[TCPOPT_KEEPALIVE].pending = 1;
    }
}

bool ValidOption(int8_t code) { return code >= FIRST_QUEUED_CODE && code <= LAST_QUEUED_CODE; }

// Under optionLock: the call's own options join the queue, taken by the socket it creates.
void QueueAll(const TcpQueuedOption *queued, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (ValidOption(queued[i].code)) QueueOption(queued[i].code, queued[i].value);
    }
}

// Under optionLock.
void ApplyOptions(int32_t s)
{
    for (size_t code = 0; code < options.size(); ++code) {
        TcpOption &opt = options[code];
        if (!opt.pending) continue;
        Net_SetOption(s, opt.level, opt.name, opt.value, opt.length);
        opt = OPTION_TEMPLATE[code];
    }
}

int32_t CreateSocket(uint8_t mode)
{
    int32_t s = Net_Socket(mode == MODE_DATAGRAM ? NetType::Datagram : NetType::Stream);
    if (s != NET_NO_SOCKET) ApplyOptions(s);
    return s;
}

// Under listenLock.
void CloseListening()
{
    Net_CloseListening(listenSocket.exchange(NET_NO_SOCKET));
}

int32_t FinishConnect(int32_t s, int64_t openStart)
{
    for (;;) {
        if (ABORT_Check()) {
            Net_Close(s);
            return TCPAPI_ABORTED;
        }
        int error = Net_ConnectResult(s, PLATFORM_POLL_MS);
        if (error == 0) return s;
        if (error != NET_EINPROGRESS) {
            Net_Close(s);
            return TCPAPI_FAILED;
        }
        if (TCPAPI_Expired(openStart)) {
            Net_Close(s);
            return TCPAPI_TIMEOUT;
        }
    }
}

enum class ReceiveForm { WholeCount, FirstBytes };

int16_t ReceiveRoutine(int32_t s, void *buffer, uint16_t *count, ReceiveForm form)
{
    uint16_t wanted = *count;
    if (wanted == 0) return TCPAPI_DONE;
    *count = 0;
    int64_t start = Platform_Time();
    auto *bytes = static_cast<uint8_t *>(buffer);
    for (;;) {
        if (ABORT_Check()) return TCPAPI_ABORTED;
        int ready = Net_Wait(s, NetWait::Read, RECEIVE_SLICE_MS);
        if (ready < 0) {
            Net_Close(s);
            return TCPAPI_FAILED;
        }
        if (ready == 0) {
            if (receiveTimeoutMs != 0 && TCPAPI_Expired(start)) return TCPAPI_TIMEOUT;
            continue;
        }
        int n = Net_Recv(s, bytes + *count, static_cast<size_t>(wanted - *count));
        if (n < 0) {
            if (Net_LastError() == NET_EMSGSIZE) return TCPAPI_TOO_BIG;
            Net_Close(s);
            return TCPAPI_FAILED;
        }
        if (n == 0) {
            Net_Close(s);
            return TCPAPI_DONE;
        }
        *count = static_cast<uint16_t>(*count + n);
        if (form == ReceiveForm::FirstBytes || *count == wanted) return TCPAPI_DONE;
    }
}

}  // namespace

// A negative time-out of -1000 ms or less never expires: its quotient, taken unsigned,
// is beyond any elapsed time.
bool TCPAPI_Expired(int64_t start)
{
    auto elapsed = static_cast<uint32_t>(Platform_Time() - start);
    return elapsed > static_cast<uint32_t>(receiveTimeoutMs / 1000);
}

int32_t TCPAPI_OpenWith(const TcpQueuedOption *queued, size_t count, char *address, uint16_t port, uint8_t mode)
{
    int64_t openStart = Platform_Time();
    int32_t s;
    {
        std::lock_guard<std::mutex> guard(optionLock);
        QueueAll(queued, count);
        s = CreateSocket(mode);
        if (s == NET_NO_SOCKET) options = OPTION_TEMPLATE;
    }
    if (s == NET_NO_SOCKET) return TCPAPI_FAILED;
    if (s > LARGEST_OPEN_HANDLE) {
        Net_Close(s);
        return TCPAPI_FAILED;
    }
    uint8_t addr[4];
    TCPAPI_ParseAddress(address, addr);
    if (Net_Connect(s, addr, port) == 0) return s;
    int error = Net_LastError();
    if (error == NET_EINPROGRESS || error == NET_EALREADY || error == NET_EWOULDBLOCK) {
        if (TCPAPI_Expired(openStart)) {
            Net_Close(s);
            return TCPAPI_FAILED;
        }
    } else if (error != NET_EISCONN) {
        Net_Close(s);
        return TCPAPI_FAILED;
    }
    return FinishConnect(s, openStart);
}

namespace {

// The listening socket, created and bound by the first passive open, and (stream) put to
// listen by every one: the socket, or TCPAPI_FAILED.  Under listenLock.
int32_t PrepareListening(const TcpQueuedOption *queued, size_t count, char *address, uint16_t port, uint8_t mode)
{
    {
        std::lock_guard<std::mutex> guard(optionLock);
        QueueAll(queued, count);
        if (listenSocket == NET_NO_SOCKET) {
            int32_t s = CreateSocket(mode);
            if (s == NET_NO_SOCKET) return TCPAPI_FAILED;
            listenSocket = s;
        } else {
            address = nullptr;  // an existing socket keeps the binding of its creator
        }
    }
    if (address != nullptr) {
        uint8_t addr[4];
        TCPAPI_ParseAddress(address, addr);
        if (Net_Bind(listenSocket, addr, port) != 0) {
            CloseListening();
            return TCPAPI_FAILED;
        }
    }
    if (mode == MODE_DATAGRAM) return listenSocket;
    if (Net_Listen(listenSocket, NET_BACKLOG_MAX) != 0) {
        CloseListening();
        return TCPAPI_FAILED;
    }
    return listenSocket;
}

}  // namespace

int32_t TCPAPI_WaitForOpenWith(const TcpQueuedOption *queued, size_t count, char *address, uint16_t port,
                               uint8_t mode)
{
    int32_t listening;
    {
        std::lock_guard<std::mutex> guard(listenLock);
        listening = PrepareListening(queued, count, address, port, mode);
    }
    if (listening < 0) return listening;
    if (mode != MODE_DATAGRAM && ABORT_Check()) {  // asked outside the lock: it is the host's code
        std::lock_guard<std::mutex> guard(listenLock);
        if (listenSocket == listening) CloseListening();
        return TCPAPI_ABORTED;
    }
    if (mode == MODE_DATAGRAM) {
        for (;;) {
            if (Net_Wait(listening, NetWait::Read, PLATFORM_POLL_MS) > 0) return listening;
            if (ABORT_Check()) return TCPAPI_ABORTED;
        }
    }
    int32_t accepted = Net_Accept(listening);
    if (accepted != NET_NO_SOCKET) return accepted;
    return Net_LastError() == NET_EWOULDBLOCK ? TCPAPI_WOULD_BLOCK : TCPAPI_FAILED;
}

extern "C" {

void TCPAPI_Init(void)
{
    listenSocket = NET_NO_SOCKET;
    receiveTimeoutMs = DEFAULT_RECEIVE_TIMEOUT_MS;
    sendTimeoutMs = DEFAULT_SEND_TIMEOUT_MS;
    std::lock_guard<std::mutex> guard(optionLock);
    options = OPTION_TEMPLATE;
}

int32_t TCPAPI_Open(char *address, uint16_t port, uint8_t mode)
{
    return TCPAPI_OpenWith(nullptr, 0, address, port, mode);
}

int32_t TCPAPI_WaitForOpen(char *address, uint16_t port, uint8_t mode)
{
    return TCPAPI_WaitForOpenWith(nullptr, 0, address, port, mode);
}

short TCPAPI_Send(int32_t s, const void *data, uint16_t count)
{
    if (count == 0) return TCPAPI_DONE;
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint16_t sent = 0;
    for (;;) {
        if (ABORT_Check()) return TCPAPI_ABORTED;
        // Send first; wait for room only when the socket has none.
        int n = Net_Send(s, bytes + sent, static_cast<size_t>(count - sent));
        if (n < 0) {
            if (Net_LastError() != NET_EWOULDBLOCK || Net_Wait(s, NetWait::Write, PLATFORM_POLL_MS) < 0) {
                Net_Close(s);
                return TCPAPI_FAILED;
            }
            continue;
        }
        sent = static_cast<uint16_t>(sent + n);
        if (sent == count) return TCPAPI_DONE;
    }
}

short TCPAPI_WaitForData(int32_t s, void *buffer, uint16_t *count)
{
    return ReceiveRoutine(s, buffer, count, ReceiveForm::WholeCount);
}

short TCPAPI_Receive(int32_t s, void *buffer, uint16_t *count)
{
    return ReceiveRoutine(s, buffer, count, ReceiveForm::FirstBytes);
}

short TCPAPI_IsReceive(int32_t s) { return Net_Wait(s, NetWait::Read, 0) == 1 ? 1 : 0; }

short TCPAPI_IsConnected(int32_t s) { return Net_Wait(s, NetWait::Read, 0) < 0 ? 0 : 1; }

int32_t TCPAPI_GetStatus(int32_t s)
{
    int ready = Net_Wait(s, NetWait::Read, 0);
    if (ready < 0) return TCPAPI_FAILED;
    return ready == 1 ? TCPAPI_DONE : TCPAPI_NOTHING;
}

void TCPAPI_Close(int32_t s)
{
    if (s != NET_NO_SOCKET) Net_Close(s);
}

void TCPAPI_End(void)
{
    std::lock_guard<std::mutex> guard(listenLock);
    if (listenSocket != NET_NO_SOCKET) CloseListening();
}

int32_t TCPAPI_SetSockOpt(int32_t, int8_t code, int32_t value)
{
    if (!ValidOption(code)) return TCPAPI_FAILED;
    std::lock_guard<std::mutex> guard(optionLock);
    QueueOption(code, value);
    return TCPAPI_DONE;
}

int32_t TCPAPI_GetTimeout(void) { return receiveTimeoutMs; }

void TCPAPI_SetTimeout(int32_t milliseconds) { receiveTimeoutMs = milliseconds; }

int32_t TCPAPI_SetTxTimeout(int32_t milliseconds)
{
    sendTimeoutMs = milliseconds;
    return sendTimeoutMs;
}

}  // extern "C"
