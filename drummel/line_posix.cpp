// Lines on Linux: serial devices through termios in full raw mode, TCP connections.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "line.h"

bool Baud_SetAny(int fd, uint32_t baud, uint32_t *actual);  // line_baud_linux.cpp

namespace {

constexpr int CONNECT_WAIT_MS = 5000;
constexpr int WRITE_WAIT_MS = 1000;

std::string Why(const std::string &what)
{
    int e = errno;
    if (e == EBUSY || e == EWOULDBLOCK) return what + ": in use by another program";
    return what + ": " + strerror(e);
}

bool SetRate(int fd, uint32_t baud, const std::string &path, std::string &reason)
{
    uint32_t actual = 0;
    if (!Baud_SetAny(fd, baud, &actual)) {
        reason = Why(path + ": baud rate " + std::to_string(baud) + " cannot be set");
        return false;
    }
    uint32_t off = actual > baud ? actual - baud : baud - actual;
    if (off * 100 > baud * LINE_BAUD_TOLERANCE_PERCENT) {
        reason = path + ": baud rate " + std::to_string(baud) + " cannot be set (the port offers " +
                 std::to_string(actual) + ")";
        return false;
    }
    return true;
}

bool ConfigureDevice(int fd, const LineSettings &s, const std::string &path, std::string &reason)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        reason = Why(path + ": not a serial port");
        return false;
    }
    // Full raw mode: no translation of CR, no software flow control unless asked for,
    // no stripping of bit 7, no echo, no signals.  With parity on, bytes with a parity
    // error are taken out of the stream (INPCK without PARMRK or IGNPAR would pass them
    // on as 0x00): the frame they belonged to then fails its check as a lost byte does.
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                        IXANY | INPCK | IGNPAR);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
    if (s.parity != 'N') t.c_iflag |= INPCK | IGNPAR;
    if (s.parity == 'E') t.c_cflag |= PARENB;
    if (s.parity == 'O') t.c_cflag |= PARENB | PARODD;
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    if (s.flow == 1) t.c_cflag |= CRTSCTS;
    if (s.flow == 2) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &t) != 0) {
        reason = Why(path + ": settings refused");
        return false;
    }
    if (!SetRate(fd, s.baud, path, reason)) return false;
    tcflush(fd, TCIOFLUSH);
    return true;
}

// Opens the device for this program alone (flock, and TIOCEXCL against other opens),
// keeping its settings to put back at the close.
bool OpenDevice(Line &line, const std::string &path, const LineSettings &s, std::string &reason)
{
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = Why(path);
        return false;
    }
    termios before{};
    bool tty = tcgetattr(fd, &before) == 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reason = Why(path);
        close(fd);
        return false;
    }
    if (tty && ioctl(fd, TIOCEXCL) != 0) {
        reason = Why(path);
        close(fd);
        return false;
    }
    if (!ConfigureDevice(fd, s, path, reason)) {
        if (tty) tcsetattr(fd, TCSANOW, &before);
        ioctl(fd, TIOCNXCL);
        close(fd);
        return false;
    }
    line.saved.assign(reinterpret_cast<const char *>(&before), sizeof before);
    line.handle = fd;
    return true;
}

int ConnectTcp(const std::string &host, const std::string &port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return -1;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    int rc = fd < 0 ? -1 : connect(fd, found->ai_addr, found->ai_addrlen);
    freeaddrinfo(found);
    if (fd < 0) return -1;
    if (rc != 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        if (poll(&p, 1, CONNECT_WAIT_MS) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) {
            rc = 0;
        }
    }
    if (rc != 0) {
        close(fd);
        return -1;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

int ListenTcp(const std::string &port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(atoi(port.c_str())));
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(fd, 1) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// tcp-listen: takes the other end's connection once it has come.
void AcceptIfWaiting(Line &line)
{
    if (line.kind != LineKind::TcpListen || line.handle >= 0) return;
    int fd = accept4(static_cast<int>(line.listenHandle), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    line.handle = fd;
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
    case LineKind::TcpListen:
        line.listenHandle = ListenTcp(s.target);
        line.handle = -1;
        if (line.listenHandle < 0) reason = Why("cannot listen on port " + s.target);
        return line.listenHandle >= 0;
    case LineKind::Tcp:
        line.handle = s.host.empty() ? -1 : ConnectTcp(s.host, s.port);
        if (line.handle < 0) reason = Why("cannot connect to " + s.host + ":" + s.port);
        return line.handle >= 0;
    default: return OpenDevice(line, s.target, settings, reason);
    }
}

void Line_Close(Line &line)
{
    if (line.kind == LineKind::Memory) Memory_Close(line);
    if (line.kind == LineKind::Sim) Sim_Close(line);
    if (line.kind == LineKind::Device && line.handle >= 0 && line.saved.size() == sizeof(termios)) {
        termios before{};
        memcpy(&before, line.saved.data(), sizeof before);
        tcsetattr(static_cast<int>(line.handle), TCSANOW, &before);
        ioctl(static_cast<int>(line.handle), TIOCNXCL);
    }
    if (line.handle >= 0) close(static_cast<int>(line.handle));
    if (line.listenHandle >= 0) close(static_cast<int>(line.listenHandle));
    line = Line{};
}

int Line_Read(Line &line, uint8_t *buffer, size_t max)
{
    if (line.kind == LineKind::Memory) return Memory_Read(line, buffer, max);
    if (line.kind == LineKind::Sim) return Sim_Read(line, buffer, max);
    AcceptIfWaiting(line);
    if (line.handle < 0) return 0;
    ssize_t n = read(static_cast<int>(line.handle), buffer, max);
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    // A raw device answers 0 when nothing is waiting: only a hang-up that a wait saw
    // says it has gone.
    if (n == 0 && line.kind == LineKind::Device && !line.hungUp) return 0;
    // Hung up, unplugged (0 bytes or EIO from a non-blocking device), or the other end
    // of the connection closed.  A listening line lets the next caller in.
    if (line.kind == LineKind::TcpListen) {
        close(static_cast<int>(line.handle));
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
    intptr_t fd = line.handle >= 0 ? line.handle : line.listenHandle;
    if (fd < 0) {
        usleep(ms * 1000);
        return;
    }
    pollfd p{static_cast<int>(fd), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(ms)) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) &&
        line.kind == LineKind::Device) {
        line.hungUp = true;
    }
}

bool Line_Write(Line &line, const uint8_t *data, size_t length)
{
    if (line.kind == LineKind::Memory) return Memory_Write(line, data, length);
    if (line.kind == LineKind::Sim) return Sim_Write(line, data, length);
    AcceptIfWaiting(line);
    if (line.handle < 0) return false;
    int fd = static_cast<int>(line.handle);
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = line.kind == LineKind::Device ? write(fd, data + sent, length - sent)
                                                  : send(fd, data + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, WRITE_WAIT_MS) <= 0 || (p.revents & (POLLHUP | POLLERR))) return false;
    }
    return true;
}

bool Line_Drained(Line &line)
{
    if (line.kind == LineKind::Sim) return Sim_Drained(line);
    if (line.kind != LineKind::Device) return true;
    int pending = 0;
    if (ioctl(static_cast<int>(line.handle), TIOCOUTQ, &pending) != 0) return true;
    return pending == 0;
}

int Line_Carrier(Line &line)
{
    if (!line.modem || line.kind != LineKind::Device) return 1;
    int status = 0;
    if (ioctl(static_cast<int>(line.handle), TIOCMGET, &status) != 0) return 1;  // no modem lines: direct
    return (status & TIOCM_CAR) ? 1 : 0;
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
    if (line.kind == LineKind::Device && line.handle >= 0) tcflush(static_cast<int>(line.handle), TCIFLUSH);
}
