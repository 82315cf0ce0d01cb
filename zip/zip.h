// zip.h - per-session compression: version records, compressor and decompressor
// contexts.
#pragma once

#include <cstdint>

void ZIP_ZipReset();
void ZIP_UnzipReset();
void ZIP_DefReset();
int16_t ZIP_ZipDelete(uint16_t sessionId);
int16_t ZIP_UnzipDelete(uint16_t sessionId);
int16_t ZIP_ZipFlush(uint16_t sessionId, uint8_t *frameBuffer);
