// reasons.h - why something failed, in words, from the library's results and the status
// texts it showed, and from what the station can check itself.
#pragma once

#include <string>

#include "address.h"

// The reason behind a status text the library showed when a session ended: one of its
// own texts (quoted as it stands), or otherwise the peer's abort reason.
std::string Reason_ForStatus(const std::string &text);

// True when text is one of the library's own status texts (not a peer's reason).
bool Reason_IsLibraryText(const std::string &text);

// Why an active open to a TCP station failed: status is what the library showed during
// the open ("" for nothing), seconds how long it took, timeoutMs the receive time-out.
// Where nothing was shown the station tries one plain connect of its own to tell a
// refused connection from a silent address and from a peer of another protocol.
std::string Reason_CallOpen(const Endpoint &to, const std::string &status, long seconds, long timeoutMs);

// Why serial port N could not be opened: the component, then the line it names.
std::string Reason_SerialOpen(short port, const std::string &componentReason);

// Why the start of a serial session failed (the centre log-in, or a peer to peer start).
std::string Reason_SerialCall(short port, bool p2p, long seconds, const std::string &status);
