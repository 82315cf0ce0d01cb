// rs232.h - the serial-port component's functions, as the link calls them.
//
// The component (DRUMMEL.DLL on Windows, libdrummel.so elsewhere; the environment
// variable VARNEK_DRUMMEL names another file) is loaded on the first call of any of
// these.  When it cannot be loaded, or lacks a function, one line saying why goes to
// standard error and every call answers as a port that fails would: the open 0, a send
// 0, a wait -1 (nothing came), the others 0 (the transmission and carrier tests 1).
#pragma once

#include <cstdint>

short RS232_Open(short port, uint16_t s1, uint16_t s2, uint8_t s3, uint16_t s4, uint16_t s5, uint16_t s6,
                 uint32_t s7);
short RS232_Close(short port);
short RS232_SetEorChar(const char *chars);
short RS232_InitCbuf(short port);
short RS232_Send(short port, const void *bytes, uint16_t length);
short RS232_IsTransmitted(short port);
short RS232_ReceiveCharWait(short port, uint8_t *c);
short RS232_ReceiveChar(short port, uint8_t *c);
short RS232_ShowRcvChar(short port, short place, uint8_t *c);
short RS232_GetRecCount(short port);
short RS232_ReceiveClear(short port);
short RS232_IsAbort();
short RS232_IsModem(short port);
short RS232_IsCd(short port);
short RS232_WriteDebug(short channel, const char *text, short number);
// The component's own reason for the last open it refused (DRUMMEL_LastError), or ""
// when it gives none or was never loaded.
const char *RS232_LastError();
