// frame.h - the serial link frame: 0x12, header, data, CRC-16/ARC (low byte first),
// 0x0D, with 0x0D and 0x10-0x13 stuffed as 0x10, b | 0x80 inside the frame.
//
// The exported operations are declared in varnek.h; this header adds the frame
// description that the engine traces.
#pragma once

#include <cstdint>

#include "varnek.h"

constexpr uint8_t LINK_STX = 0x12;
constexpr uint8_t LINK_CR = 0x0D;
constexpr uint8_t LINK_DLE = 0x10;
// LINK_Decode results besides 0 (good) and a CRC remainder.
constexpr uint16_t LINK_NO_START = 0x7FFF;     // no 0x12 in the raw bytes
constexpr uint16_t LINK_TOO_BIG = 0xFFFE;      // good, but more data than the room given
constexpr uint16_t LINK_NOT_A_FRAME = 0xFFFF;  // too short to hold a CRC

// LinkHeader bits.
constexpr uint8_t LINK_DIR = 0x80;
constexpr uint8_t LINK_DATA = 0x40;

// Largest frame for n data bytes.
constexpr unsigned LinkFrameMax(unsigned n) { return 2 * n + 8; }

// LINK_Decode that also tells when a good frame was refused for want of room.
uint16_t LINK_DecodeFrame(uint8_t *out, uint8_t *raw, uint16_t rawLength, uint16_t *length, uint16_t *header,
                          bool *tooBig);

// "STX , <d:i:r:s> , <Data=n> , <CRC16> , CR", or without the data part when n is 0.
// text holds at least 64 bytes.
void LINK_FrameText(uint8_t header, uint16_t n, char *text);
