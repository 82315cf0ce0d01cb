// script.h - recording of received frames to script files, and their replay.
//
// The engine calls down into these; the script code calls nothing of the engine.  A
// failure comes back as a result whose trace line (SCRIPT_TraceText) the engine writes
// to the port's debug output, so the script code needs no trace path of its own.
// LINK_ScriptInit restarts them and reads LINKSCRIPT.INI's entries ("port = %hd mode =
// %s ", at most 500; ports outside 1-500 and mode words other than READ and WRITE in
// any case change nothing).
#pragma once

#include <cstdint>
#include <cstdio>

enum ScriptResult : int16_t {
    SCRIPT_DONE = 1,        // a record written, or a frame (or an empty wait) replayed
    SCRIPT_OFF = 0,         // the port neither records nor replays
    SCRIPT_CANT_OPEN = -1,  // recording: the script file cannot be opened
    SCRIPT_CANT_WRITE = -2,
    SCRIPT_NOT_FOUND = -3,  // replay: no script file; the next read tries again
    SCRIPT_READ_END = -4,   // replay: the file ended; the next read starts it again
    SCRIPT_SEEK_END = -5,
};

// The trace line of a result, or null for SCRIPT_DONE and SCRIPT_OFF.
const char *SCRIPT_TraceText(ScriptResult result);

void SCRIPT_Restart();
void SCRIPT_ReadSettings(FILE *settings);
// Appends a frame record (n = 0: a wait that ended without a frame).
ScriptResult SCRIPT_Write(short port, const uint8_t *frame, uint16_t n);
// Replays the next frame record into buffer (LINK_BUFFER_SIZE bytes), sleeping through the
// pause records before it and 200 ms after it.
ScriptResult SCRIPT_Read(short port, uint8_t *buffer, uint16_t *length);
bool SCRIPT_Recording(short port);
// Sleeps value tenths of a second for 0, 1 and 2, and 200 ms for any larger value.
void SCRIPT_Pause(uint32_t value);
