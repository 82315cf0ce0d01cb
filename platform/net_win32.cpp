// WinSock for the TCP transport.
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <cstring>

namespace {

int Fail() { return -1; }

int NativeLevel(NetLevel level)
{
    switch (level) {
    case NetLevel::Tcp: return IPPROTO_TCP;
    case NetLevel::Socket: return SOL_SOCKET;
    case NetLevel::None: break;
    }
    return 0;
}

int NativeOption(NetOption name)
{
    switch (name) {
    case NetOption::NoDelay: return TCP_NODELAY;
    case NetOption::SendBuffer: return SO_SNDBUF;
    case NetOption::ReceiveBuffer: return SO_RCVBUF;
    case NetOption::KeepAlive: return SO_KEEPALIVE;
    case NetOption::Broadcast: return SO_BROADCAST;
    case NetOption::None: break;
    }
    return 0;
}

SOCKET Native(int32_t s) { return static_cast<SOCKET>(s); }

sockaddr_in MakeAddress(const uint8_t addr[4], uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    memcpy(&sa.sin_addr, addr, 4);
    return sa;
}

void SetNonBlocking(SOCKET s)
{
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
}

timeval Span(uint32_t ms)
{
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    return tv;
}

}  // namespace

int Net_Startup(uint16_t requested, uint16_t *granted)
{
    WSADATA data;
    int rc = WSAStartup(requested, &data);
    *granted = rc == 0 ? data.wVersion : 0;
    return rc;
}

int Net_Cleanup() { return WSACleanup(); }

int Net_LastError() { return WSAGetLastError(); }

int32_t Net_Socket(NetType type)
{
    SOCKET s = type == NetType::Datagram ? socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)
                                         : socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NET_NO_SOCKET;
    return static_cast<int32_t>(s);
}

void Net_Close(int32_t s)
{
    if (s != NET_NO_SOCKET) closesocket(Native(s));
}

int Net_SetOption(int32_t s, NetLevel level, NetOption name, int32_t value, int32_t length)
{
    int v = value;
    if (setsockopt(Native(s), NativeLevel(level), NativeOption(name), reinterpret_cast<const char *>(&v), length) != 0) {
        return Fail();
    }
    return 0;
}

int Net_GetOption(int32_t s, NetLevel level, NetOption name, int32_t *value)
{
    int v = 0;
    int len = sizeof v;
    if (getsockopt(Native(s), NativeLevel(level), NativeOption(name), reinterpret_cast<char *>(&v), &len) != 0) {
        return Fail();
    }
    *value = v;
    return 0;
}

int Net_Connect(int32_t s, const uint8_t addr[4], uint16_t port)
{
    SetNonBlocking(Native(s));
    sockaddr_in sa = MakeAddress(addr, port);
    if (connect(Native(s), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int Net_ConnectResult(int32_t s, uint32_t waitMs)
{
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(s), &writable);
    FD_SET(Native(s), &failed);
    timeval tv = Span(waitMs);
    int n = select(0, nullptr, &writable, &failed, &tv);
    if (n == SOCKET_ERROR) return WSAGetLastError();
    if (n == 0) return NET_EINPROGRESS;
    int error = 0;
    int len = sizeof error;
    if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &len) != 0) {
        return WSAGetLastError();
    }
    if (error == 0 && FD_ISSET(Native(s), &failed)) return WSAECONNREFUSED;
    return error;
}

int Net_Bind(int32_t s, const uint8_t addr[4], uint16_t port)
{
    sockaddr_in sa = MakeAddress(addr, port);
    if (bind(Native(s), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int Net_Listen(int32_t s, int backlog)
{
    if (listen(Native(s), backlog) != 0) return Fail();
    return 0;
}

int32_t Net_Accept(int32_t s)
{
    sockaddr_in peer{};
    int len = sizeof peer;
    SOCKET a = accept(Native(s), reinterpret_cast<sockaddr *>(&peer), &len);
    if (a == INVALID_SOCKET) return NET_NO_SOCKET;
    SetNonBlocking(a);
    return static_cast<int32_t>(a);
}

// closesocket itself ends every accept blocked on the socket (WSAEINTR).
void Net_CloseListening(int32_t s) { Net_Close(s); }

uint16_t Net_LocalPort(int32_t s)
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(Native(s), reinterpret_cast<sockaddr *>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool Net_PeerAddress(int32_t s, uint8_t addr[4])
{
    sockaddr_in sa{};
    int len = sizeof sa;
    if (s < 0 || getpeername(Native(s), reinterpret_cast<sockaddr *>(&sa), &len) != 0) return false;
    if (sa.sin_family != AF_INET) return false;
    memcpy(addr, &sa.sin_addr, 4);
    return true;
}

int Net_Wait(int32_t s, NetWait what, uint32_t timeoutMs)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Native(s), &set);
    timeval tv = Span(timeoutMs);
    int n = what == NetWait::Read ? select(0, &set, nullptr, nullptr, &tv) : select(0, nullptr, &set, nullptr, &tv);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

int Net_Send(int32_t s, const void *data, size_t length)
{
    int n = send(Native(s), static_cast<const char *>(data), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Net_Recv(int32_t s, void *buffer, size_t length)
{
    int n = recv(Native(s), static_cast<char *>(buffer), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Net_HostName(char *name, size_t size)
{
    return gethostname(name, static_cast<int>(size)) == 0 ? 0 : -1;
}

int Net_HostAddresses(const char *name, uint8_t (*addrs)[4], int max)
{
    hostent *entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4) return 0;
    int n = 0;
    for (char **a = entry->h_addr_list; *a != nullptr && n < max; ++a, ++n) memcpy(addrs[n], *a, 4);
    return n;
}
