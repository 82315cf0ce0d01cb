// environment.h - setting an environment variable the same way on every system, for the
// programs that point the serial-port component at a line (the station, the tests).
#pragma once

#include <string>

// Sets name to value for this process and the components it loads afterwards.
void SetEnvironment(const std::string &name, const std::string &value);
