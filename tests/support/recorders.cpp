#include "support/recorders.h"

#include "platform/platform.h"
#include "varnek.h"

namespace {
std::vector<DisplayLine> lines;
std::vector<BoxMessage> boxes;

int VKAPI RecordLine(uint16_t port, const char *text, uint16_t kind)
{
    lines.push_back({port, text, kind});
    return 0;
}

void RecordBox(const char *caption, const char *text) { boxes.push_back({caption, text}); }
}  // namespace

void DisplayRecorder::Install()
{
    lines.clear();
    SESSION_SetDispFunc(RecordLine);
}
const std::vector<DisplayLine> &DisplayRecorder::Lines() const { return lines; }
void DisplayRecorder::Clear() { lines.clear(); }

BoxRecorder::BoxRecorder()
{
    boxes.clear();
    Platform_SetMessageBox(RecordBox);
}
BoxRecorder::~BoxRecorder() { Platform_SetMessageBox(nullptr); }
const std::vector<BoxMessage> &BoxRecorder::Boxes() const { return boxes; }
