// line.h - the lines a DRUMMEL port can be: a serial device, a TCP connection, or one
// end of a pipe in memory.  Reads never block; Line_Wait waits for input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LineSettings {
    uint32_t baud = 9600;
    int dataBits = 8;
    char parity = 'N';
    int stopBits = 1;
    int flow = 0;  // 0 none, 1 RTS/CTS, 2 XON/XOFF
};

enum class LineKind { None, Device, Tcp, TcpListen, Memory, Sim };

struct MemoryPipe;
struct SimCable;

struct Line {
    LineKind kind = LineKind::None;
    intptr_t handle = -1;        // device or connected socket
    intptr_t listenHandle = -1;  // tcp-listen: the socket waiting for the other end
    MemoryPipe *pipe = nullptr;
    SimCable *sim = nullptr;
    int end = 0;                 // which end of the pipe or cable
    bool modem = false;          // carrier counts
    bool hungUp = false;         // a wait saw the device hang up
    std::string saved;           // a device's settings before the open, put back at the close
};

// What the description of a port's line names: the kind, and its device path, host and
// port, memory pipe name or listening port; ",modem" at the end marks a modem line.
struct LineSpec {
    LineKind kind = LineKind::Device;
    std::string target;  // device path, pipe name, or the port to listen on
    std::string host;    // tcp: the host
    std::string port;    // tcp: the port
    bool modem = false;
};
LineSpec Line_ParseSpec(const std::string &spec);

// Opens the line that spec names; false when it cannot be had, with the reason.
bool Line_Open(Line &line, const char *spec, const LineSettings &settings, std::string &reason);
void Line_Close(Line &line);
// Bytes read into buffer, 0 when none is waiting, -1 when the line is gone (a device
// hung up or unplugged, the other end of a connection closed; a listening line then
// waits for the next caller).
int Line_Read(Line &line, uint8_t *buffer, size_t max);
// Waits up to ms for input (or a connection, for tcp-listen).
void Line_Wait(Line &line, uint32_t ms);
// True when all bytes were taken.
bool Line_Write(Line &line, const uint8_t *data, size_t length);
// True once every byte written has left.
bool Line_Drained(Line &line);
// 1 carrier, 0 none (modem lines only; other lines always answer 1).
int Line_Carrier(Line &line);
// Discards input the system holds.
void Line_Flush(Line &line);

// The largest rate difference a UART tolerates: a driver that rounds further refuses.
constexpr uint32_t LINE_BAUD_TOLERANCE_PERCENT = 2;

// Memory pipes (line_memory.cpp), used by Line_Open for "mem:NAME".
bool Memory_Open(Line &line, const char *name);
void Memory_Close(Line &line);
int Memory_Read(Line &line, uint8_t *buffer, size_t max);
void Memory_Wait(Line &line, uint32_t ms);
bool Memory_Write(Line &line, const uint8_t *data, size_t length);
void Memory_Flush(Line &line);

// Simulated lines (line_sim.cpp), used by Line_Open for "sim:NAME,OPTIONS": a cable
// between two ports of one process with a speed and seeded mistakes.
bool Sim_Open(Line &line, const std::string &target, const LineSettings &settings, std::string &reason);
void Sim_Close(Line &line);
int Sim_Read(Line &line, uint8_t *buffer, size_t max);
void Sim_Wait(Line &line, uint32_t ms);
bool Sim_Write(Line &line, const uint8_t *data, size_t length);
bool Sim_Drained(Line &line);
void Sim_Flush(Line &line);
