// station.h - what a varnek station does with a session, on the public API only.
//
// A station message is a 32-bit length (most significant byte first) followed by that
// many bytes, ended with Session_EOM; the caller's last message, sent with
// Session_Close, is an empty one, so the listener's read of it ends with 3.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "varnek.h"

using Bytes = std::vector<uint8_t>;

// Exit codes of the varnek program.
enum ExitCode { EXIT_OK = 0, EXIT_USAGE = 1, EXIT_OPEN = 2, EXIT_SESSION = 3, EXIT_FILE = 4 };

struct StationOptions {
    bool verbose = false;
    bool quiet = false;       // no message lines (the demo prints its own)
    uint16_t maxPiece = 60000;  // largest piece handed to one Session_TxStruct / RxStruct
    unsigned seed = 0;        // nonzero: pieces of random sizes up to maxPiece
};

// Puts text into a 16-byte field of the open parameters, zero-padded, cut at 16.
void SetField(char (&field)[16], const std::string &text);

// Installs the display function that prints status lines ("status: port 1: text").
void InstallStatusDisplay(const char *who);

// Writes one station message and ends it (or, with close, closes the session with it).
short SendMessage(short id, const Bytes &body, const StationOptions &opt, bool close = false);

// Reads one station message: VK_TURN, VK_CLOSED (peer closed), VK_NODATA, VK_FAIL.
short ReceiveMessage(short id, Bytes &body, const StationOptions &opt);

// One line: length, first bytes in hex and as text.
std::string Describe(const Bytes &body);

// Progress on standard error for large messages.
void Progress(const char *what, uint64_t done, uint64_t total, double seconds);

bool ReadFile(const std::string &path, Bytes &out);
bool WriteFile(const std::string &path, const Bytes &data);
void Trace(const StationOptions &opt, const char *format, ...);
