// Lines on Windows: COM ports through the Win32 communications API, TCP connections
// through WinSock.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "line.h"

namespace {

constexpr int CONNECT_WAIT_MS = 5000;

HANDLE Device(const Line &line) { return reinterpret_cast<HANDLE>(line.handle); }
SOCKET Socket(intptr_t h) { return static_cast<SOCKET>(h); }

void StartSockets()
{
    static bool started = false;
    if (started) return;
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

constexpr DWORD WRITE_WAIT_MS = 1000;         // a write that cannot leave (CTS low, XOFF) fails after
constexpr DWORD WRITE_WAIT_PER_BYTE_MS = 2;    // this, plus this much per byte

std::string Why(const std::string &what, DWORD code = GetLastError())
{
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) return what + ": in use by another program";
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return what + ": no such device";
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, sizeof text, nullptr);
    std::string out = what + ": " + text;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

// Every field of the DCB from the seven settings: nothing is inherited from the program
// that used the port before.
DCB MakeDcb(const LineSettings &s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = s.baud;
    dcb.fBinary = TRUE;
    dcb.fParity = s.parity != 'N';
    dcb.fOutxCtsFlow = s.flow == 1;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = s.flow == 2;
    dcb.fInX = s.flow == 2;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = s.flow == 1 ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = static_cast<BYTE>(s.dataBits);
    dcb.Parity = s.parity == 'E' ? EVENPARITY : s.parity == 'O' ? ODDPARITY : NOPARITY;
    dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.ErrorChar = 0;
    dcb.EofChar = 0;
    dcb.EvtChar = 0;
    return dcb;
}

bool OpenDevice(Line &line, const std::string &name, const LineSettings &s, std::string &reason)
{
    std::string path = name.compare(0, 4, "\\\\.\\") == 0 ? name : "\\\\.\\" + name;
    // Share mode 0: no other program can open the port while this one holds it.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        reason = Why(name);
        return false;
    }
    DCB before{};
    before.DCBlength = sizeof before;
    bool saved = GetCommState(h, &before) != 0;
    DCB dcb = MakeDcb(s);
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;  // reads return at once with what is there
    t.WriteTotalTimeoutConstant = WRITE_WAIT_MS;
    t.WriteTotalTimeoutMultiplier = WRITE_WAIT_PER_BYTE_MS + 20000 / (s.baud != 0 ? s.baud : 9600);
    if (!SetCommState(h, &dcb)) {
        reason = Why(name + ": baud rate " + std::to_string(s.baud) + " or another setting cannot be set");
        CloseHandle(h);
        return false;
    }
    DCB now{};
    now.DCBlength = sizeof now;
    if (GetCommState(h, &now) && now.BaudRate != s.baud) {
        reason = name + ": baud rate " + std::to_string(s.baud) + " cannot be set (the port offers " +
                 std::to_string(now.BaudRate) + ")";
        if (saved) SetCommState(h, &before);
        CloseHandle(h);
        return false;
    }
    if (!SetCommTimeouts(h, &t)) {
        reason = Why(name + ": time-outs refused");
        CloseHandle(h);
        return false;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    if (saved) line.saved.assign(reinterpret_cast<const char *>(&before), sizeof before);
    line.handle = reinterpret_cast<intptr_t>(h);
    return true;
}

SOCKET ConnectTcp(const std::string &host, const std::string &port)
{
    StartSockets();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return INVALID_SOCKET;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    int rc = s == INVALID_SOCKET ? -1 : connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen));
    freeaddrinfo(found);
    if (rc != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return INVALID_SOCKET;
    }
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    BOOL nodelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&nodelay), sizeof nodelay);
    return s;
}

SOCKET ListenTcp(const std::string &port)
{
    StartSockets();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return s;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(atoi(port.c_str())));
    u_long on = 1;
    if (bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(s, 1) != 0 || ioctlsocket(s, FIONBIO, &on) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void AcceptIfWaiting(Line &line)
{
    if (line.kind != LineKind::TcpListen || line.handle != -1) return;
    SOCKET s = accept(Socket(line.listenHandle), nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    line.handle = static_cast<intptr_t>(s);
}

bool WaitSocket(intptr_t h, bool write, uint32_t ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(Socket(h), &set);
    timeval tv{static_cast<long>(ms / 1000), static_cast<long>(ms % 1000) * 1000};
    int n = write ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
    return n > 0;
}

}  // namespace

bool Line_Open(Line &line, const char *spec, const LineSettings &settings, std::string &reason)
{
    LineSpec s = Line_ParseSpec(spec);
    line.kind = s.kind;
    line.modem = s.modem;
    switch (s.kind) {
    case LineKind::Memory:
        if (Memory_Open(line, s.target.c_str())) return true;
        reason = "both ends of " + s.target + " are taken";
        return false;
    case LineKind::Sim: return Sim_Open(line, s.target, settings, reason);
    case LineKind::TcpListen: {
        SOCKET sock = ListenTcp(s.target);
        line.listenHandle = sock == INVALID_SOCKET ? -1 : static_cast<intptr_t>(sock);
        line.handle = -1;
        if (line.listenHandle == -1) reason = Why("cannot listen on port " + s.target, WSAGetLastError());
        return line.listenHandle != -1;
    }
    case LineKind::Tcp: {
        SOCKET sock = s.host.empty() ? INVALID_SOCKET : ConnectTcp(s.host, s.port);
        line.handle = sock == INVALID_SOCKET ? -1 : static_cast<intptr_t>(sock);
        if (line.handle == -1) reason = Why("cannot connect to " + s.host + ":" + s.port, WSAGetLastError());
        return line.handle != -1;
    }
    default: return OpenDevice(line, s.target, settings, reason);
    }
}

void Line_Close(Line &line)
{
    if (line.kind == LineKind::Memory) Memory_Close(line);
    if (line.kind == LineKind::Sim) Sim_Close(line);
    if (line.kind == LineKind::Device && line.handle != -1) {
        if (line.saved.size() == sizeof(DCB)) {
            DCB before{};
            memcpy(&before, line.saved.data(), sizeof before);
            SetCommState(Device(line), &before);
        }
        CloseHandle(Device(line));
    }
    if ((line.kind == LineKind::Tcp || line.kind == LineKind::TcpListen) && line.handle != -1) {
        closesocket(Socket(line.handle));
    }
    if (line.listenHandle != -1) closesocket(Socket(line.listenHandle));
    line = Line{};
}

int Line_Read(Line &line, uint8_t *buffer, size_t max)
{
    if (line.kind == LineKind::Memory) return Memory_Read(line, buffer, max);
    if (line.kind == LineKind::Sim) return Sim_Read(line, buffer, max);
    AcceptIfWaiting(line);
    if (line.handle == -1) return 0;
    if (line.kind == LineKind::Device) {
        DWORD got = 0;
        if (!ReadFile(Device(line), buffer, static_cast<DWORD>(max), &got, nullptr)) return -1;
        return static_cast<int>(got);
    }
    int n = recv(Socket(line.handle), reinterpret_cast<char *>(buffer), static_cast<int>(max), 0);
    if (n > 0) return n;
    if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return 0;
    if (line.kind == LineKind::TcpListen) {  // the caller left: the next one may come
        closesocket(Socket(line.handle));
        line.handle = -1;
    }
    return -1;
}

void Line_Wait(Line &line, uint32_t ms)
{
    if (line.kind == LineKind::Memory) {
        Memory_Wait(line, ms);
        return;
    }
    if (line.kind == LineKind::Sim) {
        Sim_Wait(line, ms);
        return;
    }
    AcceptIfWaiting(line);
    if (line.kind == LineKind::Device || line.handle == -1) {
        if (line.kind == LineKind::TcpListen && line.listenHandle != -1) {
            WaitSocket(line.listenHandle, false, ms);
            return;
        }
        COMSTAT stat{};
        DWORD errors = 0;
        if (line.kind == LineKind::Device && ClearCommError(Device(line), &errors, &stat) && stat.cbInQue > 0) return;
        Sleep(ms);
        return;
    }
    WaitSocket(line.handle, false, ms);
}

bool Line_Write(Line &line, const uint8_t *data, size_t length)
{
    if (line.kind == LineKind::Memory) return Memory_Write(line, data, length);
    if (line.kind == LineKind::Sim) return Sim_Write(line, data, length);
    AcceptIfWaiting(line);
    if (line.handle == -1) return false;
    if (line.kind == LineKind::Device) {
        DWORD written = 0;
        return WriteFile(Device(line), data, static_cast<DWORD>(length), &written, nullptr) && written == length;
    }
    size_t sent = 0;
    while (sent < length) {
        int n = send(Socket(line.handle), reinterpret_cast<const char *>(data + sent), static_cast<int>(length - sent), 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitSocket(line.handle, true, 1000)) return false;
    }
    return true;
}

bool Line_Drained(Line &line)
{
    if (line.kind == LineKind::Sim) return Sim_Drained(line);
    if (line.kind != LineKind::Device) return true;
    COMSTAT stat{};
    DWORD errors = 0;
    if (!ClearCommError(Device(line), &errors, &stat)) return true;
    return stat.cbOutQue == 0;
}

int Line_Carrier(Line &line)
{
    if (!line.modem || line.kind != LineKind::Device) return 1;
    DWORD status = 0;
    if (!GetCommModemStatus(Device(line), &status)) return 1;
    return (status & MS_RLSD_ON) ? 1 : 0;
}

void Line_Flush(Line &line)
{
    if (line.kind == LineKind::Memory) {
        Memory_Flush(line);
        return;
    }
    if (line.kind == LineKind::Sim) {
        Sim_Flush(line);
        return;
    }
    if (line.kind == LineKind::Device && line.handle != -1) PurgeComm(Device(line), PURGE_RXCLEAR);
}
