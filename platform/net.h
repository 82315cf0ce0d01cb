// net.h - sockets for the TCP transport: WinSock on Windows, BSD sockets elsewhere.
//
// Socket handles are 32-bit integers, NET_NO_SOCKET for none.  Failures are reported
// with WinSock error codes on every system (Net_LastError); on Linux errno values are
// mapped onto them.  Sockets made by Net_Socket are non-blocking for connect, send and
// receive; only Net_Accept blocks, until a peer connects.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int32_t NET_NO_SOCKET = -1;

constexpr int NET_EWOULDBLOCK = 10035;
constexpr int NET_EINPROGRESS = 10036;
constexpr int NET_EALREADY = 10037;
constexpr int NET_EMSGSIZE = 10040;
constexpr int NET_EISCONN = 10056;

enum class NetType { Stream, Datagram };
enum class NetLevel { None, Tcp, Socket };
enum class NetOption { None, NoDelay, SendBuffer, ReceiveBuffer, KeepAlive, Broadcast };
enum class NetWait { Read, Write };

// Starts the socket service (WSAStartup); 0 or its error code, with the version granted.
// Where there is no service to start it answers 0 and grants the version asked for.
int Net_Startup(uint16_t requested, uint16_t *granted);
// Stops it (WSACleanup): 0 or -1.
int Net_Cleanup();

// The WinSock error code of the last failed call on this thread.
int Net_LastError();

int32_t Net_Socket(NetType type);
void Net_Close(int32_t s);
int Net_SetOption(int32_t s, NetLevel level, NetOption name, int32_t value, int32_t length);
int Net_GetOption(int32_t s, NetLevel level, NetOption name, int32_t *value);

// Starts a connect to addr:port: 0 connected, -1 failed or in progress (Net_LastError).
int Net_Connect(int32_t s, const uint8_t addr[4], uint16_t port);
// Waits up to waitMs for a connect in progress: 0 connected, NET_EINPROGRESS still
// going, or the error that ended it.
int Net_ConnectResult(int32_t s, uint32_t waitMs);

// Binds (stream sockets may rebind a port whose old connections linger, as WinSock
// allows); 0 or -1.
int Net_Bind(int32_t s, const uint8_t addr[4], uint16_t port);
// Listens with a backlog (NET_BACKLOG_MAX: as long as the system allows); 0 or -1.
constexpr int NET_BACKLOG_MAX = 0x7FFFFFFF;
int Net_Listen(int32_t s, int backlog);
int32_t Net_Accept(int32_t s);
// Closes a listening socket and wakes every thread blocked in Net_Accept on it (they
// fail), so no accept goes on on a socket that is gone.
void Net_CloseListening(int32_t s);
// The local port a socket is bound to, or 0.
uint16_t Net_LocalPort(int32_t s);

// The IPv4 address of a connected socket's peer: false when it has none.
bool Net_PeerAddress(int32_t s, uint8_t addr[4]);

// Waits up to timeoutMs for the socket to become readable (a waiting connection and a
// peer's close count) or writable: 1 ready, 0 not, -1 the wait itself failed.
int Net_Wait(int32_t s, NetWait what, uint32_t timeoutMs);

// Bytes sent, or -1.  Never raises a signal when the peer has gone.
int Net_Send(int32_t s, const void *data, size_t length);
// Bytes received, 0 when the peer closed, or -1 (NET_EMSGSIZE: a datagram longer than
// the space offered).
int Net_Recv(int32_t s, void *buffer, size_t length);

// gethostname into name (size bytes): 0 or -1.
int Net_HostName(char *name, size_t size);
// The host's IPv4 addresses in the order the resolver lists them, at most max.
int Net_HostAddresses(const char *name, uint8_t (*addrs)[4], int max);
