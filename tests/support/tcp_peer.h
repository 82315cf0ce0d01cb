// A loopback station for transport and session tests.  It listens or connects, sends
// in chosen pieces, receives, stays silent or closes, on the test's command.  It uses
// the library's platform sockets, so it runs natively and under wine alike.
#pragma once

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The loopback address in the library's zero-padded form, in a 16-byte field.
struct AddressText {
    char text[16] = "127.000.000.001";
};

// A port on 127.0.0.1 that nothing listens on right now.
uint16_t FreeLoopbackPort();

// The library's listening socket on `port` (bound there, with no peer), found among the
// process's sockets; -1 when there is none.
int32_t ListeningSocketOn(uint16_t port);
// Makes an accept on s answer "would block" while no caller waits: what an accept meets
// whose caller another waiting thread took.
void MakeNonBlocking(int32_t s);

// Sockets need the socket service started (WSAStartup on Windows) for the test's life.
class SocketService {
public:
    SocketService();
    ~SocketService();
};

class TcpPeer {
public:
    TcpPeer() = default;
    ~TcpPeer();
    TcpPeer(const TcpPeer &) = delete;
    TcpPeer &operator=(const TcpPeer &) = delete;

    // Listens on 127.0.0.1 (any free port when port is 0) and returns the port.
    uint16_t Listen(uint16_t port = 0, int backlog = 8);
    // Accepts one connection on the listening socket; false on failure.
    bool Accept();
    // Listens, connects a socket of the library to itself (TCPAPI_Open, stream) and
    // accepts it: the library's socket, or -1.
    int32_t ConnectLibrary();
    // Connects from a background thread, retrying until the port listens (at most 5 s);
    // Join waits for it and tells whether it connected.
    void ConnectSoon(uint16_t port);
    bool Join();
    // Starts a connect that stays pending (for a full backlog); the socket is kept.
    int32_t ConnectPending(uint16_t port);

    bool Send(const Bytes &data);
    bool Send(const std::string &text);
    // Receives exactly n bytes, or fewer if nothing more comes within timeoutMs.
    Bytes Receive(size_t n, uint32_t timeoutMs = 3000);
    void Close();

    int32_t Connection() const { return conn_; }
    // Hands the connection over to the caller, who closes it.
    int32_t TakeConnection();

private:
    int32_t listen_ = -1;
    int32_t conn_ = -1;
    std::vector<int32_t> pending_;
    std::thread connector_;
    bool connected_ = false;
};
