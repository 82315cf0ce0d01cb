#include "events.h"
#include "reasons.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

bool jsonMode = false;
thread_local std::string lastStatus;

std::string Now()
{
    using namespace std::chrono;
    auto now = system_clock::now();
    time_t seconds = system_clock::to_time_t(now);
    long millis = static_cast<long>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    tm utc{};
#ifdef _WIN32
    utc = *gmtime(&seconds);  // the Windows runtime keeps its result per thread
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[40];
    size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    snprintf(text + n, sizeof text - n, ".%03ldZ", millis);
    return text;
}

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t Utf8Length(const std::string &s, size_t i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = byte(i);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    }
    return n;
}

}  // namespace

void Events_SetJson(bool on) { jsonMode = on; }
bool Events_Json() { return jsonMode; }

std::string Events_Quote(const std::string &text)
{
    std::string out = "\"";
    char cell[8];
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            snprintf(cell, sizeof cell, "\\u%04x", c);
            out += cell;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (size_t n = Utf8Length(text, i)) {
            out.append(text, i, n);
            i += n - 1;
        } else {
            snprintf(cell, sizeof cell, "\\u%04x", c);  // a byte of another code page
            out += cell;
        }
    }
    return out + "\"";
}

Event::Event(const char *name) { json_ = "{\"event\":" + Events_Quote(name) + ",\"time\":" + Events_Quote(Now()); }

Event &Event::Int(const char *key, long long value)
{
    json_ += "," + Events_Quote(key) + ":" + std::to_string(value);
    return *this;
}

Event &Event::Str(const char *key, const std::string &value)
{
    json_ += "," + Events_Quote(key) + ":" + Events_Quote(value);
    return *this;
}

void Event::Emit(const std::string &human)
{
    if (jsonMode) {
        printf("%s}\n", json_.c_str());
    } else if (!human.empty()) {
        printf("%s\n", human.c_str());
    } else {
        return;
    }
    fflush(stdout);
}

void Events_Status(const char *who, unsigned port, const char *text)
{
    std::string shown = text == nullptr ? "" : text;
    // A send that meets the peer's abort shows the peer's text and then the library's
    // "ZIP Level Failure": the peer's text stays the reason.
    bool peerReasonFirst = !lastStatus.empty() && !Reason_IsLibraryText(lastStatus) && Reason_IsLibraryText(shown);
    if (!peerReasonFirst) lastStatus = shown;
    Event("status").Int("port", port).Str("text", shown).Emit(std::string(who) + "status: port " +
                                                              std::to_string(port) + ": " + shown);
}

std::string Events_LastStatus() { return lastStatus; }
void Events_ClearStatus() { lastStatus.clear(); }
