// allow.h - who may open a session with a listener or a centre (--allow FILE).
//
// The file holds one entry a line; '#' starts a comment.  A line that reads as an IPv4
// address or a network in CIDR form ("10.1.0.0/16") is a source network; any other line
// is a station name, compared exactly with the name in the caller's open frame.  A
// caller comes in when its name is listed (or the file lists no names) and its source
// address lies in a listed network (or the file lists none).  Callers on a serial line
// have no source address: only names apply to them.  A file without entries lets
// nobody in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "address.h"

struct AllowList {
    bool active = false;
    std::vector<std::string> names;
    std::vector<Network> networks;
};

// False with a one-line reason (file unreadable) in error.
bool Allow_Load(const std::string &path, AllowList &out, std::string &error);

// "" when the caller may come in, otherwise the reason text sent to it (at most 64
// bytes).  addr is null for a caller without a source address (a serial line).
std::string Allow_Check(const AllowList &list, const std::string &name, const uint8_t *addr);
