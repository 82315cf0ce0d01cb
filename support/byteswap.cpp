// Structure byte-order conversion guided by a type string ("%d%l", "%fb" ...).
#include "varnek.h"
#include "platform/platform.h"

#include <cstdio>

namespace {

constexpr const char *BYTESWAP_CAPTION = "BYTESWAP: Arguments";

uint8_t MirrorBits(uint8_t b)
{
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1u << bit)) out = static_cast<uint8_t>(out | (0x80u >> bit));
    }
    return out;
}

int FieldSize(char letter)
{
    switch (letter) {
    case 'b': return 1;
    case 'd': return 2;
    case 'l': return 4;
    default: return 0;
    }
}

void ConvertField(uint8_t *field, int size, bool mirror)
{
    if (mirror) {
        for (int i = 0; i < size; ++i) field[i] = MirrorBits(field[i]);
        return;
    }
    for (int i = 0, j = size - 1; i < j; ++i, --j) {
        uint8_t t = field[i];
        field[i] = field[j];
        field[j] = t;
    }
}

void ShowError(const char *text)
{
    Platform_MessageBox(BYTESWAP_CAPTION, text);
}

}  // namespace

extern "C" short BYTESWAP_Do(const char *typeString, void *data, int32_t length)
{
    char line[128];
    uint8_t *bytes = static_cast<uint8_t *>(data);
    int32_t total = 0;
    // Without data nothing can be converted: only the length check speaks.
    const char *items = (typeString != nullptr && data != nullptr) ? typeString : "";
    for (const char *p = items; *p != '\0'; ++p) {
        if (*p != '%') continue;
        bool mirror = p[1] == 'f';
        if (mirror) ++p;
        char letter = p[1];
        int size = FieldSize(letter);
        if (size == 0) {
            snprintf(line, sizeof line, "BYTESWAP_Do() : Invalid type %c ", letter);
            ShowError(line);
            return 0;
        }
        ++p;
        ConvertField(bytes + total, size, mirror);
        total += size;
    }
    if (total == length) return 1;
    snprintf(line, sizeof line, "BYTESWAP_Do() : Length error (%hd, %hd) ",
             static_cast<short>(total), static_cast<short>(length));
    ShowError(line);
    return 0;
}
