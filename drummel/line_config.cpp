// Reading the description of a port's line, the same on every system.
#include "line.h"

LineSpec Line_ParseSpec(const std::string &spec)
{
    LineSpec out;
    std::string text = spec;
    const std::string modem = ",modem";
    if (text.size() > modem.size() && text.compare(text.size() - modem.size(), modem.size(), modem) == 0) {
        out.modem = true;
        text.resize(text.size() - modem.size());
    }
    if (text.compare(0, 4, "sim:") == 0) {
        out.kind = LineKind::Sim;
        out.target = text.substr(4);
    } else if (text.compare(0, 4, "mem:") == 0) {
        out.kind = LineKind::Memory;
        out.target = text.substr(4);
    } else if (text.compare(0, 11, "tcp-listen:") == 0) {
        out.kind = LineKind::TcpListen;
        out.target = text.substr(11);
    } else if (text.compare(0, 4, "tcp:") == 0) {
        size_t colon = text.rfind(':');
        out.kind = LineKind::Tcp;
        if (colon > 4) {
            out.host = text.substr(4, colon - 4);
            out.port = text.substr(colon + 1);
        }
    } else {
        out.target = text;
    }
    return out;
}
