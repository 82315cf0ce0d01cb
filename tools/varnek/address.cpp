#include "address.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "varnek_debug.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

#ifdef _WIN32
constexpr int ERR_REFUSED = 10061, ERR_TIMEDOUT = 10060, ERR_NETUNREACH = 10051, ERR_HOSTUNREACH = 10065;
constexpr int ERR_INUSE = 10048, ERR_ACCESS = 10013, ERR_NOTAVAIL = 10049;
#else
constexpr int ERR_INUSE = EADDRINUSE, ERR_ACCESS = EACCES, ERR_NOTAVAIL = EADDRNOTAVAIL;
constexpr int ERR_REFUSED = ECONNREFUSED, ERR_TIMEDOUT = ETIMEDOUT, ERR_NETUNREACH = ENETUNREACH,
              ERR_HOSTUNREACH = EHOSTUNREACH;
#endif

bool ParsePort(const std::string &text, uint16_t &port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    long value = atol(text.c_str());
    if (value < 1 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool Resolve(const std::string &host, uint8_t addr[4], std::string &error)
{
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // counted; the library's own start-up follows
#endif
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        error = "host '" + host + "' not found (" + gai_strerror(rc) + "); give a host name or an IPv4 address";
        return false;
    }
    const auto *sa = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
    memcpy(addr, &sa->sin_addr, 4);
    freeaddrinfo(found);
    return true;
}

}  // namespace

bool Address_Parse(const std::string &spec, bool passive, Endpoint &out, std::string &error)
{
    out = Endpoint();
    size_t colon = spec.rfind(':');
    std::string host = colon == std::string::npos ? std::string() : spec.substr(0, colon);
    std::string port = colon == std::string::npos ? spec : spec.substr(colon + 1);
    if (spec.empty()) {
        error = passive ? "no address given: write PORT, :PORT or ADDRESS:PORT (e.g. :5005)"
                        : "no address given: write HOST:PORT (e.g. localhost:5005)";
        return false;
    }
    if (host.find(':') != std::string::npos || spec[0] == '[') {
        error = "'" + spec + "': IPv6 addresses are not supported; give a host name or an IPv4 address";
        return false;
    }
    if (colon == std::string::npos && !passive) {
        error = "'" + spec + "' has no port: write HOST:PORT (e.g. localhost:5005)";
        return false;
    }
    if (!ParsePort(port, out.port)) {
        error = "'" + port + "' in '" + spec + "' is not a port number from 1 to 65535";
        return false;
    }
    if (host.empty()) {
        if (!passive) {
            error = "'" + spec + "' names no host: write HOST:PORT (e.g. localhost:5005)";
            return false;
        }
        return true;  // every local address
    }
    out.host = host;
    return Resolve(host, out.addr, error);
}

void Address_Text(const uint8_t addr[4], char (&text)[16])
{
    snprintf(text, sizeof text, "%3.3u.%3.3u.%3.3u.%3.3u", addr[0], addr[1], addr[2], addr[3]);
}

std::string Address_Dotted(const uint8_t addr[4])
{
    char text[16];
    snprintf(text, sizeof text, "%u.%u.%u.%u", addr[0], addr[1], addr[2], addr[3]);
    return text;
}

Reach Address_Probe(const Endpoint &to, uint32_t waitMs)
{
    int32_t s = VKD_NetSocket();
    if (s == VKD_NO_SOCKET) return Reach::Other;
    int error = VKD_NetConnect(s, to.addr, to.port) == 0 ? 0 : VKD_NetLastError();
    if (error == VKD_NET_EINPROGRESS || error == VKD_NET_EWOULDBLOCK || error == VKD_NET_EALREADY) {
        error = VKD_NetConnectResult(s, waitMs);
    }
    VKD_NetClose(s);
    if (error == 0) return Reach::Connected;
    if (error == ERR_REFUSED) return Reach::Refused;
    if (error == VKD_NET_EINPROGRESS || error == ERR_TIMEDOUT) return Reach::NoAnswer;
    if (error == ERR_NETUNREACH || error == ERR_HOSTUNREACH) return Reach::Unreachable;
    return Reach::Other;
}

std::string Address_CheckBind(const Endpoint &at)
{
    int32_t s = VKD_NetSocket();
    if (s == VKD_NO_SOCKET) return "no socket could be made";
    int error = VKD_NetBind(s, at.addr, at.port) == 0 ? 0 : VKD_NetLastError();
    VKD_NetClose(s);
    std::string where = Address_Dotted(at.addr) + " port " + std::to_string(at.port);
    if (error == 0) return "";
    if (error == ERR_INUSE) return "port " + std::to_string(at.port) + " is in use (another program listens on " + where + ")";
    if (error == ERR_ACCESS) return "permission denied to listen on " + where + " (ports below 1024 need privilege)";
    if (error == ERR_NOTAVAIL) return Address_Dotted(at.addr) + " is not an address of this host";
    return "cannot listen on " + where;
}

bool Address_ParseNetwork(const std::string &text, Network &out)
{
    unsigned a, b, c, d, bits = 32;
    char tail;
    int n = sscanf(text.c_str(), "%3u.%3u.%3u.%3u/%2u%c", &a, &b, &c, &d, &bits, &tail);
    bool plain = n == 4 && text.find('/') == std::string::npos;
    if (!(plain || n == 5) || a > 255 || b > 255 || c > 255 || d > 255 || bits > 32) return false;
    if (text.find_first_not_of("0123456789./") != std::string::npos) return false;
    out.mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
    out.base = (a << 24 | b << 16 | c << 8 | d) & out.mask;
    return true;
}

bool Address_InNetwork(const uint8_t addr[4], const Network &net)
{
    uint32_t value = VKD_GetBE32(addr);
    return (value & net.mask) == net.base;
}
