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

    bool Start(const std::vector<std::string> &argv, const std::string &outputFile);
    // The exit code, or -1 when it did not end within the limit (it is then killed).
    int Wait(int seconds);
    // What it wrote to its standard output so far.
    std::string Output() const;

private:
    std::string outputFile_;
    long long pid_ = 0;
    void *handle_ = nullptr;
};
