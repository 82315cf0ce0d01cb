// linkapi.h - the bridge that carries session frames over a serial link port.
#pragma once

#include <cstdint>

// Result codes of the bridge.
constexpr int16_t LINKAPI_DONE = 0;
constexpr int16_t LINKAPI_ABORTED = 1;
constexpr int16_t LINKAPI_FAILED = 2;

int16_t LINKAPI_Reset(int16_t port);
int16_t LINKAPI_Push(int16_t port);
int16_t LINKAPI_Write(int16_t port, const uint8_t *data, uint16_t n);
int16_t LINKAPI_Read(int16_t port, uint8_t *buffer, uint16_t *count);
void LINKAPI_SetP2P(int16_t port, uint16_t flag);
int16_t LINKAPI_Open(int16_t port, uint16_t centrePort);
int16_t LINKAPI_WaitForOpen(int16_t port);
