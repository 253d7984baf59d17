#include "tests/kernel/UhidAdapterProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

UhidAdapterProcess::UhidAdapterProcess(const std::string& program) {
    int down[2];
    int up[2];
    if (::pipe2(down, O_CLOEXEC) != 0)
        return;
    if (::pipe2(up, O_CLOEXEC) != 0) {
        ::close(down[0]);
        ::close(down[1]);
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(down[0], STDIN_FILENO);
        ::dup2(up[1], STDOUT_FILENO);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(down[0]);
    ::close(up[1]);
    m_toChild = down[1];
    m_fromChild = up[0];
    if (m_pid < 0) {
        ::close(m_toChild);
        ::close(m_fromChild);
        m_toChild = m_fromChild = -1;
    }
}

UhidAdapterProcess::~UhidAdapterProcess() {
    if (m_pid <= 0)
        return;
    // End of input makes the program unplug everything and leave.
    ::close(m_toChild);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            break;
        }
        ::usleep(10000);
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &status, 0);
    }
    ::close(m_fromChild);
}

std::string UhidAdapterProcess::command(const std::string& line, int timeoutMs) {
    if (m_pid <= 0)
        return "error adapter program not running";
    const std::string out = line + '\n';
    if (::write(m_toChild, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
        return "error adapter program gone";
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t eol = m_pending.find('\n');
        if (eol != std::string::npos) {
            std::string answer = m_pending.substr(0, eol);
            m_pending.erase(0, eol + 1);
            return answer;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            return "error no answer to " + line;
        pollfd p{m_fromChild, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buffer[1024];
        const ssize_t n = ::read(m_fromChild, buffer, sizeof buffer);
        if (n <= 0)
            return "error adapter program gone";
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::map<std::string, std::string> UhidAdapterProcess::state(const std::string& name) {
    std::map<std::string, std::string> values;
    std::istringstream in(command("state " + name));
    std::string word;
    in >> word;
    if (word != "ok")
        return values;
    while (in >> word) {
        const std::size_t eq = word.find('=');
        if (eq != std::string::npos)
            values[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return values;
}
