#include "support/child_process.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

ChildProcess::~ChildProcess() { Wait(0); }

bool ChildProcess::WaitForOutput(const std::string &text, int seconds) const
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the child's output
    }
    return true;
}

std::string ChildProcess::Output() const
{
    std::ifstream in(outputFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef _WIN32

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::string &outputFile, bool withErrors)
{
    outputFile_ = outputFile;
    std::string command;
    for (const std::string &a : argv) command += "\"" + a + "\" ";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = withErrors ? out : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    handle_ = pi.hProcess;
    return true;
}

void ChildProcess::Signal(int)
{
    if (handle_ != nullptr) TerminateProcess(handle_, 99);
}

int ChildProcess::Wait(int seconds)
{
    if (handle_ == nullptr) return -1;
    DWORD code = 0;
    if (WaitForSingleObject(handle_, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(handle_, 99);
        WaitForSingleObject(handle_, INFINITE);
        code = static_cast<DWORD>(-1);
    } else {
        GetExitCodeProcess(handle_, &code);
    }
    CloseHandle(handle_);
    handle_ = nullptr;
    return static_cast<int>(code);
}

#else

bool ChildProcess::Start(const std::vector<std::string> &argv, const std::string &outputFile, bool withErrors)
{
    outputFile_ = outputFile;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (withErrors) posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    pid_ = pid;
    return true;
}

void ChildProcess::Signal(int signal)
{
    if (pid_ != 0) kill(static_cast<pid_t>(pid_), signal);
}

int ChildProcess::Wait(int seconds)
{
    if (pid_ == 0) return -1;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(static_cast<pid_t>(pid_), SIGKILL);
            waitpid(static_cast<pid_t>(pid_), &status, 0);
            pid_ = 0;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polling the child's end
    }
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
