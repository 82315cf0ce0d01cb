// The address text of an open: TCP or serial, the serial port number, the dotted octets.
#include "transport/address.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::array<size_t, 3> ADDRESS_SEPARATORS{3, 7, 11};
constexpr int NUMBER_WRAP = 100000;  // the reader keeps its value below this
constexpr long SERIAL_PORT_MAX = 0xFFFF;

// What atoi reads from text[from .. end): blanks, a sign, then digits.  value wraps
// modulo 100000; large tells whether the digits' true value went above 65535.
struct Number {
    bool negative;
    bool large;
    int value;
};

Number ReadNumber(const char *text, size_t from, size_t end)
{
    Number n{false, false, 0};
    size_t i = from;
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    n.negative = i < end && text[i] == '-';
    if (i < end && (text[i] == '-' || text[i] == '+')) ++i;
    long whole = 0;
    for (; i < end && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        n.value = (n.value * 10 + digit) % NUMBER_WRAP;
        if (!n.large) whole = whole * 10 + digit;
        if (whole > SERIAL_PORT_MAX) n.large = true;
    }
    return n;
}

bool Separator(size_t i)
{
    for (size_t separator : ADDRESS_SEPARATORS) {
        if (i == separator) return true;
    }
    return false;
}

// Where a dotted text ends: at its terminator, except that a NUL at a separator position
// only separates (the text may have been read before), and never past its 16 bytes.
size_t DottedTextEnd(const char *text)
{
    if (text == nullptr) return 0;
    for (size_t i = 0; i < ADDRESS_TEXT_SIZE; ++i) {
        if (text[i] == '\0' && !Separator(i)) return i;
    }
    return ADDRESS_TEXT_SIZE;
}

}  // namespace

bool ADDRESS_IsDotted(const char *text)
{
    return memchr(text, '.', strnlen(text, ADDRESS_TEXT_SIZE)) != nullptr;
}

uint16_t ADDRESS_SerialPort(const char *text)
{
    Number n = ReadNumber(text, 0, strnlen(text, ADDRESS_TEXT_SIZE));
    if (n.large || (n.negative && n.value != 0)) return ADDRESS_NO_PORT;
    return static_cast<uint16_t>(n.value);
}

void TCPAPI_ParseAddress(char *text, uint8_t addr[4])
{
    size_t end = DottedTextEnd(text);
    for (size_t separator : ADDRESS_SEPARATORS) {
        if (separator < end) text[separator] = '\0';
    }
    for (size_t i = 0; i < 4; ++i) {
        Number n = ReadNumber(text, i * 4, end);
        addr[i] = static_cast<uint8_t>(n.negative ? -n.value : n.value);
    }
}
