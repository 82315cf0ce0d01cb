#include "reasons.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "varnek_debug.h"

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

struct LibraryText {
    const char *text;
    const char *reason;
};

// The library's default status texts and what each means for an operator.
const LibraryText LIBRARY_TEXTS[] = {
    {"Session already opened!", "the session was opened twice"},
    {"Session Not opened!", "the session was not open"},
    {"Wrong Session Index!", "no such session"},
    {"Out of Rx-Tx synchronization!", "a message came out of turn"},
    {"Out of Structure synchronization!", "the message did not have the form of a station message"},
    {"Session Aborted", "this station stopped the session"},
    {"Unexpected Frame", "the caller's first frame carried no open block: not a station of this protocol"},
    {"Error setting Zip", "compression could not be set up"},
    {"Error setting UnZip", "decompression could not be set up"},
    {"Hardware Level Failure or T.O.", "the line failed, the peer dropped it, or the time-out passed"},
    {"ZIP Level Failure", "the compressed data could not be handled"},
};

const char *HARDWARE = "Hardware Level Failure or T.O.";

std::string Quoted(const std::string &text) { return " (\"" + text + "\")"; }

std::string Where(const Endpoint &to)
{
    std::string dotted = Address_Dotted(to.addr);
    std::string host = to.host.empty() || to.host == dotted ? dotted : to.host + " (" + dotted + ")";
    return host + " port " + std::to_string(to.port);
}

std::string LineOf(short port)
{
    std::string name = "DRUMMEL_PORT" + std::to_string(port);
    const char *spec = getenv(name.c_str());
    if (spec != nullptr && *spec != '\0') return spec;
#ifdef _WIN32
    return "\\\\.\\COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

// Why the device itself cannot be had, or "" when it looks fine (then the component
// refused its settings, or cannot tell).
std::string DeviceReason(const std::string &path)
{
#ifdef _WIN32
    (void)path;
    return "";
#else
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int e = errno;
        if (e == ENOENT || e == ENXIO || e == ENODEV) return "the device " + path + " does not exist";
        if (e == EACCES || e == EPERM)
            return "permission denied on " + path + " (the user needs the group that owns it, usually dialout)";
        if (e == EBUSY) return "the device " + path + " is busy (another program holds it)";
        return "the device " + path + " cannot be opened: " + strerror(e);
    }
    termios t{};
    bool tty = tcgetattr(fd, &t) == 0;
    close(fd);
    if (!tty) return path + " is not a serial device";
    return "";
#endif
}

}  // namespace

bool Reason_IsLibraryText(const std::string &text)
{
    for (const LibraryText &t : LIBRARY_TEXTS) {
        if (text == t.text) return true;
    }
    return false;
}

std::string Reason_ForStatus(const std::string &text)
{
    for (const LibraryText &t : LIBRARY_TEXTS) {
        if (text == t.text) return t.reason + Quoted(text);
    }
    if (text.empty()) return "the session ended without a status text";
    return "the peer aborted the session: " + text;
}

std::string Reason_CallOpen(const Endpoint &to, const std::string &status, long seconds, long timeoutMs)
{
    std::string where = Where(to);
    if (status == HARDWARE) {
        if (timeoutMs > 0 && seconds * 1000 >= timeoutMs)
            return where + " accepted the connection but sent no open frame within the time-out: not a station of "
                           "this protocol" + Quoted(status);
        return where + " accepted the connection, then dropped it or answered with no open frame: not a station of "
                       "this protocol" + Quoted(status);
    }
    if (!status.empty()) return Reason_ForStatus(status);
    if (timeoutMs > 0 && seconds * 1000 >= timeoutMs)
        return "nothing answered at " + where + " within " + std::to_string(seconds) + " s";
    switch (Address_Probe(to, 3000)) {
    case Reach::Refused: return "the connection was refused: nothing listens at " + where;
    case Reach::NoAnswer: return "nothing answered at " + where;
    case Reach::Unreachable: return "no route to " + where;
    case Reach::Connected:
        return where + " accepted the connection but its answer was not an open frame of protocol version 4 or "
                       "later: not a station of this protocol";
    case Reach::Other: break;
    }
    return "the connection to " + where + " failed";
}

std::string Reason_SerialOpen(short port, const std::string &componentReason)
{
    const char *component = getenv("VARNEK_DRUMMEL");
    if (component == nullptr) return "the serial-port component was not found beside the program (VARNEK_DRUMMEL names it)";
    if (strchr(component, '/') != nullptr && !std::ifstream(component).good())
        return std::string("the serial-port component ") + component + " does not exist";
    std::string line = LineOf(port);
    size_t comma = line.find(',');
    if (comma != std::string::npos) line.resize(comma);
    std::string prefix = "serial port " + std::to_string(port) + " (" + line + "): ";
    if (line.rfind("tcp:", 0) == 0) return prefix + "nothing accepted the raw TCP line at " + line.substr(4);
    if (line.rfind("tcp-listen:", 0) == 0) return prefix + "TCP port " + line.substr(11) + " cannot be listened on";
    if (line.rfind("mem:", 0) == 0) return prefix + "the memory line cannot be opened";
    std::string device = DeviceReason(line);
    if (!device.empty()) return prefix + device;
    if (!componentReason.empty()) return prefix + componentReason;
    return prefix + "the device " + line + " cannot be opened (missing, held by another program, or its settings refused)";
}

std::string Reason_SerialCall(short port, bool p2p, long seconds, const std::string &status)
{
    if (!status.empty()) return Reason_ForStatus(status);
    std::string on = "on serial port " + std::to_string(port);
    if (p2p) return "the peer to peer start failed " + on + " (the station there did not answer)";
    // The bridge's block counter tells whether the log-in record went out: the centre's
    // greeting came and was read when it did, or when the refusal came within the
    // log-in's 10 seconds.
    if (VKD_BridgeNextBlock(port) >= 2) return "the centre did not answer the log-in record " + on;
    if (seconds <= 10) return "the centre refused the log-in " + on + " (its greeting said no)";
    return "no centre greeted " + on + " within 10 s (for a station without a centre use --p2p)";
}
