#include "support/tcp_peer.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <fcntl.h>
#endif

#include "platform/net.h"
#include "platform/platform.h"
#include "varnek.h"

namespace {
const uint8_t LOOPBACK[4] = {127, 0, 0, 1};

bool Connect(int32_t s, uint16_t port)
{
    if (Net_Connect(s, LOOPBACK, port) == 0) return true;
    return Net_ConnectResult(s, 3000) == 0;
}
}  // namespace

int32_t ListeningSocketOn(uint16_t port)
{
#ifdef _WIN32
    constexpr int32_t FIRST = 4, LAST = 1 << 16, STEP = 4;  // socket handles are multiples of 4
#else
    constexpr int32_t FIRST = 3, LAST = 4096, STEP = 1;
#endif
    for (int32_t s = FIRST; s < LAST; s += STEP) {
        uint8_t peer[4];
        if (Net_LocalPort(s) == port && !Net_PeerAddress(s, peer)) return s;
    }
    return NET_NO_SOCKET;
}

void MakeNonBlocking(int32_t s)
{
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on);
#else
    fcntl(s, F_SETFL, fcntl(s, F_GETFL, 0) | O_NONBLOCK);
#endif
}

SocketService::SocketService() { PCTCP_Open(); }
SocketService::~SocketService() { PCTCP_Close(); }

uint16_t FreeLoopbackPort()
{
    int32_t s = Net_Socket(NetType::Stream);
    Net_Bind(s, LOOPBACK, 0);
    uint16_t port = Net_LocalPort(s);
    Net_Close(s);
    return port;
}

TcpPeer::~TcpPeer()
{
    if (connector_.joinable()) connector_.join();
    Close();
    Net_Close(listen_);
    for (int32_t s : pending_) Net_Close(s);
}

uint16_t TcpPeer::Listen(uint16_t port, int backlog)
{
    listen_ = Net_Socket(NetType::Stream);
    if (Net_Bind(listen_, LOOPBACK, port) != 0 || Net_Listen(listen_, backlog) != 0) return 0;
    return Net_LocalPort(listen_);
}

bool TcpPeer::Accept()
{
    conn_ = Net_Accept(listen_);
    return conn_ != NET_NO_SOCKET;
}

int32_t TcpPeer::ConnectLibrary()
{
    uint16_t port = Listen();
    AddressText addr;
    int32_t s = TCPAPI_Open(addr.text, port, 1);
    if (s < 0 || !Accept()) return -1;
    return s;
}

void TcpPeer::ConnectSoon(uint16_t port)
{
    connector_ = std::thread([this, port] {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            int32_t s = Net_Socket(NetType::Stream);
            if (Connect(s, port)) {
                conn_ = s;
                connected_ = true;
                return;
            }
            Net_Close(s);
            Platform_RealSleepMs(5);  // the library has bound but not yet listened
        }
    });
}

bool TcpPeer::Join()
{
    if (connector_.joinable()) connector_.join();
    return connected_;
}

int32_t TcpPeer::ConnectPending(uint16_t port)
{
    int32_t s = Net_Socket(NetType::Stream);
    Net_Connect(s, LOOPBACK, port);
    pending_.push_back(s);
    return s;
}

bool TcpPeer::Send(const Bytes &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        if (Net_Wait(conn_, NetWait::Write, 3000) != 1) return false;
        int n = Net_Send(conn_, data.data() + sent, data.size() - sent);
        if (n < 0 && Net_LastError() != NET_EWOULDBLOCK) return false;
        if (n > 0) sent += static_cast<size_t>(n);
    }
    return true;
}

bool TcpPeer::Send(const std::string &text) { return Send(Bytes(text.begin(), text.end())); }

Bytes TcpPeer::Receive(size_t n, uint32_t timeoutMs)
{
    Bytes out(n);
    size_t got = 0;
    while (got < n && Net_Wait(conn_, NetWait::Read, timeoutMs) == 1) {
        int k = Net_Recv(conn_, out.data() + got, n - got);
        if (k <= 0) break;
        got += static_cast<size_t>(k);
    }
    out.resize(got);
    return out;
}

void TcpPeer::Close()
{
    Net_Close(conn_);
    conn_ = NET_NO_SOCKET;
}

int32_t TcpPeer::TakeConnection()
{
    int32_t s = conn_;
    conn_ = NET_NO_SOCKET;
    return s;
}
