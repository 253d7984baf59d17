#pragma once

#include <map>
#include <string>
#include <sys/types.h>

// Runs the uhid adapter program as a child process and talks to it line by line: each command
// waits for the program's "ok"/"error" answer, so the kernel has seen the change when it returns.
class UhidAdapterProcess {
public:
    explicit UhidAdapterProcess(const std::string& program);
    ~UhidAdapterProcess();

    UhidAdapterProcess(const UhidAdapterProcess&) = delete;
    UhidAdapterProcess& operator=(const UhidAdapterProcess&) = delete;

    bool running() const { return m_pid > 0; }
    // The answer line, or "error ..." when the program did not answer within timeoutMs.
    std::string command(const std::string& line, int timeoutMs = 10000);
    // "state NAME" parsed into its key=value pairs; empty when the answer was not "ok".
    std::map<std::string, std::string> state(const std::string& name);

private:
    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::string m_pending;
};
