// A child process for end-to-end tests: started with its standard output going to a
// file, waited for with a limit, killed if it overstays.
#pragma once

#include <string>
#include <vector>

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // withErrors: standard error goes to the same file.
    bool Start(const std::vector<std::string> &argv, const std::string &outputFile, bool withErrors = false);
    // The exit code, or -1 when it did not end within the limit (it is then killed).
    int Wait(int seconds);
    // Sends a signal (POSIX; where there are none, ends the process).
    void Signal(int signal);
    // True once its output holds text; false when the deadline passed first.
    bool WaitForOutput(const std::string &text, int seconds) const;
    // What it wrote to its standard output so far.
    std::string Output() const;

private:
    std::string outputFile_;
    long long pid_ = 0;
    void *handle_ = nullptr;
};
