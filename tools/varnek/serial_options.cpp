#include "serial_options.h"

#include <cstdio>
#include <cstdlib>

const char *SERIAL_OPTIONS_HELP =
    "serial line settings (serial ports only; 'varnek ports' lists the ports):\n"
    "  --baud B            line speed, a multiple of 100 (default 9600); any rate the\n"
    "                      adapter can make, 14400 or 250000 as well as 115200\n"
    "  --data-bits D       5 to 8 (default 8)\n"
    "  --parity P          none, even or odd (N, E, O; default none)\n"
    "  --stop-bits S       1 or 2 (default 1)\n"
    "  --flow F            none, rts (RTS/CTS) or xon (XON/XOFF) (default none)\n"
    "  --char-wait MS      how long the link waits for a byte (default 1000)\n";

namespace {

bool Number(const std::string &text, unsigned long low, unsigned long high, unsigned long &out)
{
    char *end = nullptr;
    out = strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && out >= low && out <= high;
}

bool Refuse(const std::string &word, const std::string &value, const char *allowed)
{
    fprintf(stderr, "varnek: %s %s: %s\n", word.c_str(), value.c_str(), allowed);
    return false;
}

}  // namespace

bool Serial_IsOption(const std::string &w)
{
    return w == "--baud" || w == "--data-bits" || w == "--parity" || w == "--stop-bits" || w == "--flow" ||
           w == "--char-wait";
}

bool Serial_SetOption(SerialSettings &s, const std::string &w, const std::string &v)
{
    unsigned long n = 0;
    if (w == "--baud") {
        if (!Number(v, 100, 6553500, n) || n % 100 != 0) return Refuse(w, v, "a multiple of 100, up to 6553500");
        s.baud = static_cast<uint32_t>(n);
    } else if (w == "--data-bits") {
        if (!Number(v, 5, 8, n)) return Refuse(w, v, "5, 6, 7 or 8");
        s.dataBits = static_cast<uint16_t>(n);
    } else if (w == "--parity") {
        char c = v.empty() ? '?' : static_cast<char>(v[0] & ~0x20);
        bool word = v.size() == 1 || v == "none" || v == "even" || v == "odd";
        if (!word || (c != 'N' && c != 'E' && c != 'O')) return Refuse(w, v, "none, even or odd");
        s.parity = c;
    } else if (w == "--stop-bits") {
        if (!Number(v, 1, 2, n)) return Refuse(w, v, "1 or 2");
        s.stopBits = static_cast<uint16_t>(n);
    } else if (w == "--flow") {
        if (v == "none") s.flow = 0;
        else if (v == "rts" || v == "rtscts") s.flow = 1;
        else if (v == "xon" || v == "xonxoff") s.flow = 2;
        else return Refuse(w, v, "none, rts or xon");
    } else if (w == "--char-wait") {
        if (!Number(v, 1, 65535, n)) return Refuse(w, v, "1 to 65535 milliseconds");
        s.waitMs = static_cast<uint16_t>(n);
    } else {
        return false;
    }
    return true;
}
