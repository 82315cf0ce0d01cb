/*
 * drummel.h - DRUMMEL, the serial-port component that the Varnek link drives.
 *
 * A separate shared library (DRUMMEL.DLL on Windows, libdrummel.so elsewhere) for hosts
 * that have no DRUMMEL.DLL of their own, and for Linux.  Ports are numbered 1 to 500.
 *
 * Which line a port is: the environment variable DRUMMEL_PORT<n> names it, read when
 * the port is opened:
 *   /dev/ttyUSB0, /dev/pts/5, COM3 ...  a serial device (termios in full raw mode on
 *                                       Linux, the Win32 communications API on Windows)
 *   tcp:HOST:PORT                       a raw TCP line, as serial device servers offer
 *   tcp-listen:PORT                     the same, waiting for the other end to connect
 *   mem:NAME                            two ports of one process with the same NAME are
 *                                       joined in memory
 *   sim:NAME,OPTIONS                    the same, through a simulated cable with a speed
 *                                       and seeded mistakes: baud=B (0: no pacing;
 *                                       without it the port's rate), error=P (a byte in
 *                                       1/P dropped, changed or doubled), seed=S, and
 *                                       drop=N, flip=N, insert=N for the N-th byte
 * Without it, port n is /dev/ttyS<n-1> on Linux and \\.\COM<n> on Windows.  USB adapters
 * are /dev/ttyUSB<k> (FTDI, CP210x, CH34x, PL2303) or /dev/ttyACM<k> (CDC-ACM modems and
 * boards) on Linux, numbered in the order they were plugged in: name them through
 * DRUMMEL_PORT<n> (or varnek's --line), best by their stable names under
 * /dev/serial/by-id, which `varnek ports` shows beside the USB identity.  A spec
 * ending in ",modem" marks a modem line: only then does the carrier (DCD) count, and a
 * port without carrier is reported as such; every other line is a direct line that
 * always has carrier (pseudo-terminals, which have no modem lines, are direct lines).
 *
 * The seven settings of RS232_Open:
 *   s1 baud rate / 100 (96 = 9600 baud; 0: 9600); any rate the device takes to within
 *      2 %, non-standard ones included; a rate it cannot make refuses the open
 *   s2 data bits (5-8; 0: 8)                 s3 parity 'N', 'E' or 'O', any case (0: 'N')
 *   s4 stop bits (1 or 2; 0: 1)              s5 flow control: 0 none, 1 RTS/CTS, 2 XON/XOFF
 *   s6 character wait in ms (0: 1000): how long RS232_ReceiveCharWait waits for a byte
 *   s7 receive buffer in bytes (0: 8192; at most 1 MiB): bytes beyond it wait in the line
 * A setting outside these ranges refuses the open.  With parity on, bytes that arrive
 * with a parity error are dropped.  A device is opened for this program alone (flock
 * and TIOCEXCL on Linux) and gets its former settings back at the close.
 * Network and memory lines take the settings but have no baud rate.
 *
 * Bytes pass untouched: no translation of 0x0D, no software flow control unless asked
 * for, all eight bits.  Every wait asks the abort flag (DRUMMEL_SetAbort) between slices
 * of at most 10 ms.
 *
 * Timing.  A wait for a byte never ends before the port's own bytes have left and one
 * whole wait has passed since, so a slow line never times out the answer to a long
 * frame.  RS232_ReceiveCharWait waits between one and one and a half character waits,
 * drawn afresh each time, or between two and two and a half when bytes have come in
 * since the port last sent: after a damaged frame its sender, which heard nothing, sends
 * again while the receiver still listens, and two ends in the same state drift apart
 * instead of each sending while the other clears its line.  RS232_ReceiveChar, which the link uses
 * to wait for a quiet line, waits for a gap of 20 character times (at least 20 ms, at
 * most the character wait).  A line that has gone away ends every wait at once.
 *
 * RS232_WriteDebug appends "channel text" lines to the file that DRUMMEL_DEBUG names,
 * and writes nothing when it is not set.
 *
 * DRUMMEL_PCAP<n> names a pcap file, created anew when port n opens, that records the
 * port's link frames of both directions as they complete: one record per frame, link
 * type USER1 (148), a direction byte (0 received, 1 sent) before the bytes from 0x12 to
 * 0x0D.  Wireshark reads it with tools/wireshark/varnek_link.lua.
 */
#ifndef DRUMMEL_H
#define DRUMMEL_H

#include <stdint.h>

#if defined(_WIN32)
#define DRUMMEL_API __cdecl
#define DRUMMEL_EXPORT
#elif defined(__GNUC__)
#define DRUMMEL_API
#define DRUMMEL_EXPORT __attribute__((visibility("default")))
#else
#define DRUMMEL_API
#define DRUMMEL_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the port's line with the seven settings, for this program alone: 1, or 0 (no
 * such line, in use, a setting the line cannot take; DRUMMEL_LastError says which). */
DRUMMEL_EXPORT short DRUMMEL_API RS232_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4,
                                            uint16_t s5, uint16_t s6, uint32_t s7);
/* Closes it: 1, or 0 when it was not open. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_Close(short port);
/* Stores the end-of-record characters (kept for the host's information): 1. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_SetEorChar(const char *chars);
/* Discards everything waiting, in the component and in the line: 1 (0: not open). */
DRUMMEL_EXPORT short DRUMMEL_API RS232_InitCbuf(short port);
/* Sends the bytes: 1 when all were taken, else 0. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_Send(short port, const void *bytes, uint16_t length);
/* Nonzero once every byte handed over has left the port. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_IsTransmitted(short port);
/* Waits the (spread) character wait for one byte: 1 with *c set, or -1. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_ReceiveCharWait(short port, uint8_t *c);
/* Waits for one byte as long as a quiet-line gap: 1 (taken) or 0. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_ReceiveChar(short port, uint8_t *c);
/* Copies the waiting byte at `place` (0 the first) without taking it: 1, or 0. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_ShowRcvChar(short port, short place, uint8_t *c);
/* Bytes waiting (at most 32767). */
DRUMMEL_EXPORT short DRUMMEL_API RS232_GetRecCount(short port);
/* Discards the waiting bytes: 1 (0: not open). */
DRUMMEL_EXPORT short DRUMMEL_API RS232_ReceiveClear(short port);
/* 1 while the host asks to abort (DRUMMEL_SetAbort), else 0. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_IsAbort(void);
/* 1 for a modem line (",modem"), else 0. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_IsModem(short port);
/* 1 while the line has carrier (always, for a line without modem lines). */
DRUMMEL_EXPORT short DRUMMEL_API RS232_IsCd(short port);
/* Appends "channel text" to the DRUMMEL_DEBUG file: 1 written, 0 not. */
DRUMMEL_EXPORT short DRUMMEL_API RS232_WriteDebug(short channel, const char *text, short number);

/* Why the last RS232_Open that failed was refused ("" when none has failed).  The same
 * text goes to the debug output on channel 1. */
DRUMMEL_EXPORT const char *DRUMMEL_API DRUMMEL_LastError(void);

/* The host's abort request: nonzero asks every wait of the component to stop. */
DRUMMEL_EXPORT void DRUMMEL_API DRUMMEL_SetAbort(int on);

#ifdef __cplusplus
}
#endif

#endif /* DRUMMEL_H */
