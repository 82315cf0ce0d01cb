// service.h - the station as a service: a clean end on SIGINT and SIGTERM, and the abort
// callback through which a stop reaches the library's waits.
//
// No work is done in a signal handler: a thread of its own waits for the two signals
// (they are blocked everywhere else), sets the stop and, when a listener sits in its
// blocking accept, wakes it with a connection of its own.  The library asks the abort
// callback once per pass of every wait: a thread waiting for a caller is stopped at
// once; a thread in a session is stopped once, and its waits then go on for a grace
// second, so that the abort frame carrying the shutdown text (status text 11, which the
// library sends when its callback stops a session) goes out and the peer can read it
// before the line is dropped.
#pragma once

#include <cstdint>
#include <string>

// Starts watching the signals and installs the abort callback; the shutdown text is
// what stations in a session are shown when it stops.
void Service_Start(const std::string &shutdownText);
const std::string &Service_ShutdownText();

// True once SIGINT or SIGTERM came; the signal's name.
bool Service_Stopping();
const char *Service_Signal();

// A TCP listener's address, so that a stop can wake its blocking accept.
void Service_SetWakeTarget(const uint8_t addr[4], uint16_t port);

// Marks this thread as waiting for a caller (a stop ends that wait at once) or not.
void Service_Waiting(bool on);

// True while this thread waits for a caller.
bool Service_IsWaiting();

// Starts a new session on this thread: the next stop is delivered to it once.
void Service_NewSession();

// Session_Abort that gives the peer a grace second to read the text, not ten.
short Service_Abort(short id, const char *text);

// Sleeps up to ms milliseconds; returns early (false) when a stop comes.
bool Service_Sleep(long ms);
