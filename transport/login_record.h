// login_record.h - the 71-byte log-in record a station sends a centre after its
// greeting: fixed numbers and digit strings, and the centre port the station asks for,
// numbers most significant byte first.  The bridge builds it; the station's centre reads
// it (through varnek_debug.h).
#pragma once

#include <cstdint>

constexpr uint16_t LOGIN_RECORD_SIZE = 71;

// The record asking for centrePort.
void LOGIN_Build(uint8_t (&record)[LOGIN_RECORD_SIZE], uint16_t centrePort);

// The centre port a record asks for, in *centrePort; true when every other byte is the
// fixed one.
bool LOGIN_Read(const uint8_t *record, uint16_t *centrePort);
