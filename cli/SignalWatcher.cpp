#include "cli/SignalWatcher.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

int SignalWatcher::s_pipe[2] = {-1, -1};

SignalWatcher::SignalWatcher(QObject* parent) : QObject(parent) {
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatcher::readPending);
    struct sigaction action = {};
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

SignalWatcher::~SignalWatcher() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    m_notifier.reset();
    for (int& fd : s_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void SignalWatcher::handle(int signalNumber) {
    // Only what is safe in a handler: one write.
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t ignored = ::write(s_pipe[1], &byte, 1);
}

void SignalWatcher::readPending() {
    char byte = 0;
    while (::read(s_pipe[0], &byte, 1) == 1)
        emit signalled(int(byte));
}
