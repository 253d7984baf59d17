#include "cli/DemoAdapter.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

DemoAdapter::DemoAdapter(int feedFd) : m_platform(std::make_unique<EmulatedHidPlatform>()) {
    // Runs may be long: no record of the traffic.
    m_platform->SetWireRecording(false);
    // A run that cannot open the adapter says why, as it would on real nodes.
    m_platform->SetAccessProblemsReported(true);
    m_firmware = &m_platform->AddAdapter(Serial);
    m_firmware->SetRecordUartOutput(false);
    m_firmware->SetLoopback(true);
    if (feedFd >= 0 && ::pipe2(m_wake, O_CLOEXEC) == 0) {
        // The feed waits in the adapter rather than be dropped while the reader is busy.
        m_platform->SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
        m_feeder = std::thread([this, feedFd] { feed(feedFd); });
    }
}

DemoAdapter::~DemoAdapter() {
    if (m_feeder.joinable()) {
        m_stop = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake[1], &byte, 1);
        m_feeder.join();
    }
    for (int fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
    }
}

void DemoAdapter::feed(int fd) {
    // Not before the receiver reads: the look for adapters opens and closes the adapter, and
    // what reached the host meanwhile would go with that handle.
    while (!m_stop && !m_platform->WaitForPendingReads(1, std::chrono::milliseconds(100))) {
    }
    char buffer[4096];
    while (!m_stop) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (m_stop)
            return;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return;
        m_firmware->InjectUartInput(std::string_view(buffer, std::size_t(got)));
        // Memory stays bounded however fast the feed is.
        while (!m_stop && m_firmware->PendingInputReports() > FeedBacklogReports)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
