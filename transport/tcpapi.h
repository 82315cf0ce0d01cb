// tcpapi.h - the TCP socket transport.
#pragma once

#include <cstdint>

extern "C" {
void TCPAPI_Init(void);
void TCPAPI_Close(int32_t socket);
int32_t TCPAPI_GetTimeout(void);
void TCPAPI_SetTimeout(int32_t milliseconds);
}
