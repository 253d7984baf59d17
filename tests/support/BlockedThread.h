#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

// Knows a thread by its kernel id and waits until the kernel has put it to sleep: a call made on
// it is then blocked for real, not merely about to start.
class BlockedThread {
public:
    // Called on the thread that is about to block.
    void markSelf() { m_tid = ::gettid(); }

    bool waitUntilAsleep(std::chrono::milliseconds bound) const {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < end) {
            if (const pid_t tid = m_tid.load(); tid != 0 && state(tid) == 'S')
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

private:
    static char state(pid_t tid) {
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // The state follows the command name, which is in parentheses and may hold spaces.
        const auto close = line.rfind(')');
        return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
    }

    std::atomic<pid_t> m_tid{0};
};
