// address.h - addresses as operators write them, and what the station can learn about
// a peer's address on its own.
#pragma once

#include <cstdint>
#include <string>

struct Endpoint {
    uint8_t addr[4] = {0, 0, 0, 0};
    uint16_t port = 0;
    std::string host;  // as written ("" for every local address)
};

// "HOST:PORT" (a name or a dotted IPv4 address); for a listener also ":PORT" and "PORT",
// which mean every local address.  Host names resolve to their first IPv4 address.
// False with a one-line reason in error.
bool Address_Parse(const std::string &spec, bool passive, Endpoint &out, std::string &error);

// The library's zero-padded address text ("127.000.000.001"), 16 bytes with the NUL.
void Address_Text(const uint8_t addr[4], char (&text)[16]);

// "127.0.0.1".
std::string Address_Dotted(const uint8_t addr[4]);

// Why a plain TCP connect to the endpoint does or does not get through, within waitMs.
enum class Reach { Connected, Refused, NoAnswer, Unreachable, Other };
Reach Address_Probe(const Endpoint &to, uint32_t waitMs);

// "" when a listener can bind the endpoint, otherwise why not (in use, permission,
// not an address of this host).
std::string Address_CheckBind(const Endpoint &at);

// A network in CIDR form ("10.1.0.0/16"; a bare address is /32).
struct Network {
    uint32_t base = 0;
    uint32_t mask = 0;
};
bool Address_ParseNetwork(const std::string &text, Network &out);
bool Address_InNetwork(const uint8_t addr[4], const Network &net);
