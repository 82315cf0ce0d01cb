// zip_internal.h - the records of the compression layer, shared by its files.
#pragma once

#include <cstdint>

#include "zip/lzss.h"
#include "zip/registry.h"
#include "zip/zip.h"

struct ZipDef {
    uint16_t sessionId;
    uint8_t version;
    ZipDef *next;
};

ZipDef *ZIP_FindDef(uint16_t sessionId);
// Creates the session's version record (version 2) unless it has one; false: no memory.
bool ZIP_EnsureDef(uint16_t sessionId);
// Removes the session's version record: 0, or -1 when it had none.
int16_t ZIP_RemoveDef(uint16_t sessionId);

// Pieces and requests are counted in signed 16 bits; longer ones are served in parts.
// A read also counts the 18 primer bytes and one held-back byte on top of its request.
constexpr uint16_t ZIP_LONGEST_PART = 0x7FFF;
constexpr uint16_t ZIP_LONGEST_READ = 0x7FFF - LZ_PRIMER - 1;
