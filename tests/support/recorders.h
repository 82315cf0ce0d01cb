// Recorders for what the library shows: display lines and message boxes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DisplayLine {
    uint16_t port;
    std::string text;
    uint16_t kind;
    bool operator==(const DisplayLine &o) const { return port == o.port && text == o.text && kind == o.kind; }
};

// Installs itself as the display function (call Install after every Session_Reset).
class DisplayRecorder {
public:
    void Install();
    const std::vector<DisplayLine> &Lines() const;
    void Clear();
};

struct BoxMessage {
    std::string caption;
    std::string text;
    bool operator==(const BoxMessage &o) const { return caption == o.caption && text == o.text; }
};

// Captures message boxes while alive.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    const std::vector<BoxMessage> &Boxes() const;
};
