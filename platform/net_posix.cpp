// BSD sockets for the TCP transport, with errno mapped onto WinSock codes.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local int lastError = 0;

int MapErrno(int e)
{
    switch (e) {
    case 0: return 0;
    case EINPROGRESS: return NET_EINPROGRESS;
    case EALREADY: return NET_EALREADY;
    case EWOULDBLOCK: return NET_EWOULDBLOCK;
    case EISCONN: return NET_EISCONN;
    case EMSGSIZE: return NET_EMSGSIZE;
    default: return e;
    }
}

int Fail()
{
    lastError = MapErrno(errno);
    return -1;
}

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

sockaddr_in MakeAddress(const uint8_t addr[4], uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    memcpy(&sa.sin_addr, addr, 4);
    return sa;
}

void SetNonBlocking(int s)
{
    int flags = fcntl(s, F_GETFL, 0);
    fcntl(s, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

int Net_Startup(uint16_t requested, uint16_t *granted)
{
    *granted = requested;
    return 0;
}

int Net_Cleanup() { return 0; }

int Net_LastError() { return lastError; }

int32_t Net_Socket(NetType type)
{
    int s = type == NetType::Datagram ? socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)
                                      : socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (s < 0) return Fail();
    return s;
}

void Net_Close(int32_t s)
{
    if (s >= 0) close(s);
}

int Net_SetOption(int32_t s, NetLevel level, NetOption name, int32_t value, int32_t length)
{
    int v = value;
    if (setsockopt(s, NativeLevel(level), NativeOption(name), &v, static_cast<socklen_t>(length)) != 0) return Fail();
    return 0;
}

int Net_GetOption(int32_t s, NetLevel level, NetOption name, int32_t *value)
{
    int v = 0;
    socklen_t len = sizeof v;
    if (getsockopt(s, NativeLevel(level), NativeOption(name), &v, &len) != 0) return Fail();
    *value = v;
    return 0;
}

int Net_Connect(int32_t s, const uint8_t addr[4], uint16_t port)
{
    SetNonBlocking(s);
    sockaddr_in sa = MakeAddress(addr, port);
    if (connect(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int Net_ConnectResult(int32_t s, uint32_t waitMs)
{
    int ready = Net_Wait(s, NetWait::Write, waitMs);
    if (ready < 0) return lastError;
    if (ready == 0) return NET_EINPROGRESS;
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return MapErrno(errno);
    return MapErrno(error);
}

int Net_Bind(int32_t s, const uint8_t addr[4], uint16_t port)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) == 0 && type == SOCK_STREAM) {
        int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in sa = MakeAddress(addr, port);
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) return Fail();
    return 0;
}

int Net_Listen(int32_t s, int backlog)
{
    if (listen(s, backlog) != 0) return Fail();
    return 0;
}

int32_t Net_Accept(int32_t s)
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int a;
    do {
        a = accept(s, reinterpret_cast<sockaddr *>(&peer), &len);
    } while (a < 0 && errno == EINTR);
    if (a < 0) return Fail();
    SetNonBlocking(a);
    return a;
}

void Net_CloseListening(int32_t s)
{
    if (s < 0) return;
    shutdown(s, SHUT_RDWR);  // close() alone leaves a blocked accept() waiting
    close(s);
}

uint16_t Net_LocalPort(int32_t s)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool Net_PeerAddress(int32_t s, uint8_t addr[4])
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (s < 0 || getpeername(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0) return false;
    if (sa.sin_family != AF_INET) return false;
    memcpy(addr, &sa.sin_addr, 4);
    return true;
}

int Net_Wait(int32_t s, NetWait what, uint32_t timeoutMs)
{
    if (s < 0) {  // poll would ignore it; select fails on it
        lastError = EBADF;
        return -1;
    }
    pollfd p{s, static_cast<short>(what == NetWait::Read ? POLLIN : POLLOUT), 0};
    int n = poll(&p, 1, static_cast<int>(timeoutMs));
    if (n < 0) {
        if (errno == EINTR) return 0;
        return Fail();
    }
    if (n == 0) return 0;
    if (p.revents & POLLNVAL) {
        lastError = EBADF;
        return -1;
    }
    return 1;
}

int Net_Send(int32_t s, const void *data, size_t length)
{
    ssize_t n = send(s, data, length, MSG_NOSIGNAL);
    if (n < 0) return Fail();
    return static_cast<int>(n);
}

int Net_Recv(int32_t s, void *buffer, size_t length)
{
    iovec part{buffer, length};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(s, &msg, 0);
    if (n < 0) return Fail();
    if (msg.msg_flags & MSG_TRUNC) {
        lastError = NET_EMSGSIZE;
        return -1;
    }
    return static_cast<int>(n);
}

int Net_HostName(char *name, size_t size)
{
    if (gethostname(name, size) != 0) return Fail();
    return 0;
}

int Net_HostAddresses(const char *name, uint8_t (*addrs)[4], int max)
{
    hostent *entry = gethostbyname(name);
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4) return 0;
    int n = 0;
    for (char **a = entry->h_addr_list; *a != nullptr && n < max; ++a, ++n) memcpy(addrs[n], *a, 4);
    return n;
}
