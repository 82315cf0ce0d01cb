// events.h - what the station reports: one human line per event, or with --json one
// JSON object per line on standard output (the README lists the events and fields).
#pragma once

#include <cstdint>
#include <string>

// Switches every later event to JSON lines.
void Events_SetJson(bool on);
bool Events_Json();

// One event: its fields, then Emit with the human line (nothing is printed in human
// mode when the line is empty).  Every event carries "event" and "time".
class Event {
public:
    explicit Event(const char *name);
    Event &Int(const char *key, long long value);
    Event &Str(const char *key, const std::string &value);
    void Emit(const std::string &human);

private:
    std::string json_;
};

// A status line of the library's display function: the "status" event, remembered as
// the last status text of this thread (what a failure showed).
void Events_Status(const char *who, unsigned port, const char *text);
std::string Events_LastStatus();
void Events_ClearStatus();

// The text as a JSON string, quotes included; bytes that are not UTF-8 become \u00XX.
std::string Events_Quote(const std::string &text);
