// Link frames: encoding with byte stuffing, decoding with the CRC check, CRC-16/ARC,
// the frame and block descriptions, and the 8-to-7-bit Hebrew conversion.
#include "link/frame.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> CRC_TABLE = MakeCrcTable();
static_assert(CRC_TABLE[1] == 0xC0C1 && CRC_TABLE[128] == 0xA001, "CRC-16/ARC table");

inline uint16_t CrcStep(uint16_t crc, uint8_t b) { return static_cast<uint16_t>(CRC_TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8)); }

inline bool Special(uint8_t b) { return (b & 0xFC) == 0x10 || b == LINK_CR; }

inline uint8_t *Put(uint8_t *out, uint8_t b)
{
    if (Special(b)) {
        *out++ = LINK_DLE;
        *out++ = static_cast<uint8_t>(b | 0x80);
        return out;
    }
    *out++ = b;
    return out;
}

}  // namespace

uint16_t LINK_DecodeFrame(uint8_t *out, uint8_t *raw, uint16_t rawLength, uint16_t *length, uint16_t *header,
                          bool *tooBig)
{
    uint16_t cap = *length;
    *length = 0;
    *tooBig = false;
    uint16_t i = 0;
    while (i < rawLength && raw[i] != LINK_STX) ++i;
    if (i >= rawLength) return LINK_NO_START;
    ++i;
    if (i + 1 < rawLength && raw[i] == LINK_DLE) {
        ++i;
        raw[i] &= 0x7F;
    }
    uint8_t h = i < rawLength ? raw[i] : 0;
    *header = h;
    uint16_t crc = CRC_TABLE[h];
    uint16_t count = 0;
    for (++i; i + 1 < rawLength; ++i) {  // up to, not including, the last raw byte
        if (raw[i] == LINK_DLE) {
            ++i;
            raw[i] &= 0x7F;
            if (i + 1 >= rawLength) break;  // an escape before the end byte escapes nothing
        }
        crc = CrcStep(crc, raw[i]);
        if (count < cap) out[count] = raw[i];
        ++count;
    }
    if (crc != 0) {
        *length = count;  // the CRC bytes included, as the trace shows it
        return crc;
    }
    if (count < 2) return LINK_NOT_A_FRAME;
    count = static_cast<uint16_t>(count - 2);
    if (count > cap) {
        *tooBig = true;
        *length = cap;
        return LINK_TOO_BIG;
    }
    *length = count;
    return 0;
}

void LINK_FrameText(uint8_t header, uint16_t n, char *text)
{
    int dir = header >> 7 & 1, data = header >> 6 & 1, req = header >> 3 & 7, send = header & 7;
    if (n != 0) {
        snprintf(text, 64, "STX , <%d:%d:%d:%d> , <Data=%d> , <CRC16> , CR", dir, data, req, send, n);
    } else {
        snprintf(text, 64, "STX , <%d:%d:%d:%d> , <CRC16> , CR", dir, data, req, send);
    }
}

extern "C" {

uint16_t crc16_CalcNext(uint16_t crc, const void *data, uint16_t n)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    for (uint16_t i = 0; i < n; ++i) crc = CrcStep(crc, bytes[i]);
    return crc;
}

uint16_t crc16_CalcStart(const void *data, uint16_t n) { return crc16_CalcNext(0, data, n); }

uint16_t LINK_Encode(uint8_t *out, uint8_t header, const void *data, uint16_t n)
{
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint8_t *p = out;
    *p++ = LINK_STX;
    p = Put(p, header);
    uint16_t crc = CRC_TABLE[header];
    for (uint16_t i = 0; i < n; ++i) {
        crc = CrcStep(crc, bytes[i]);
        p = Put(p, bytes[i]);
    }
    p = Put(p, static_cast<uint8_t>(crc & 0xFF));
    p = Put(p, static_cast<uint8_t>(crc >> 8));
    *p++ = LINK_CR;
    return static_cast<uint16_t>(p - out);
}

uint16_t LINK_Decode(uint8_t *out, uint8_t *raw, uint16_t rawLength, uint16_t *length, uint16_t *header)
{
    bool tooBig = false;
    return LINK_DecodeFrame(out, raw, rawLength, length, header, &tooBig);
}

short LINK_FrameDebug(char *text, const void *block, short n)
{
    const auto *b = static_cast<const uint8_t *>(block);
    if (n <= 1) {
        snprintf(text, 64, "<ACK>");
        return 1;
    }
    int16_t code;
    memcpy(&code, b, 2);  // host order
    char sign = code < 0 ? '-' : ' ';
    int magnitude = code < 0 ? -code : code;
    if (n == 2) {
        snprintf(text, 64, "Code=%c%d", sign, magnitude);
        return 1;
    }
    if (n == 3) {
        snprintf(text, 64, "Code=%c%d , <Data=1>", sign, magnitude);
        return 1;
    }
    uint16_t blockNo;
    memcpy(&blockNo, b + 2, 2);
    bool lastBlock = (blockNo & 0x8000) != 0;
    blockNo &= 0x7FFF;
    snprintf(text, 64, "Code=%c%d , Bl#=%d %s, <Data=%d>", sign, magnitude, blockNo, lastBlock ? "LAST" : "", n - 4);
    return 1;
}

void LINK_Conv8to7(char *text, uint16_t n)
{
    auto *p = reinterpret_cast<uint8_t *>(text);
    for (uint16_t i = 0; n != 0 ? i < n : p[i] != 0; ++i) {
        if (p[i] >= 0x80 && p[i] <= 0x9A) p[i] = static_cast<uint8_t>(p[i] - 0x20);
    }
}

}  // extern "C"
