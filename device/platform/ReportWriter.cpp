#include "device/platform/ReportWriter.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

struct ReportWriter::State {
    std::mutex mutex;
    std::condition_variable cv;
    bool quit = false;
    bool cancelled = false;
    bool threadStarted = false;
    // A job is waiting for the thread or running on it.
    bool busy = false;
    std::uint64_t submitted = 0;
    std::uint64_t finished = 0;
    // Outcomes of the last writes by sequence number, so a caller woken late still finds its own.
    std::array<TransferOutcome, 4> outcomes{};
    BlockingWrite job;
    std::vector<std::uint8_t> data;
    std::shared_ptr<void> keepAlive;

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            cv.wait(lock, [this] { return quit || (busy && job); });
            if (!job)
                return; // quit while idle
            BlockingWrite write = std::move(job);
            job = nullptr;
            std::vector<std::uint8_t> report = std::move(data);
            std::shared_ptr<void> alive = std::move(keepAlive);
            const std::uint64_t sequence = submitted;
            lock.unlock();

            const TransferOutcome outcome = write(report.data(), report.size());
            // The write may hold raw pointers into what keepAlive keeps: it goes first.
            write = nullptr;

            lock.lock();
            outcomes[sequence % outcomes.size()] = outcome;
            finished = sequence;
            busy = false;
            cv.notify_all();
            lock.unlock();
            // Possibly the last owner of the device, whose destructor asks this thread to quit.
            alive.reset();
            lock.lock();
        }
    }
};

namespace {

template <class Done>
bool waitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
               std::uint32_t timeoutMs, std::chrono::steady_clock::time_point deadline, Done done) {
    if (timeoutMs == HidInfiniteTimeout) {
        cv.wait(lock, done);
        return true;
    }
    return cv.wait_until(lock, deadline, done);
}

} // namespace

ReportWriter::ReportWriter() : m_state(std::make_shared<State>()) {}

ReportWriter::~ReportWriter() {
    std::lock_guard lock(m_state->mutex);
    m_state->quit = true;
    m_state->cv.notify_all();
}

TransferOutcome ReportWriter::write(std::shared_ptr<void> keepAlive, BlockingWrite blockingWrite,
                                    const std::uint8_t* data, std::size_t length,
                                    std::uint32_t timeoutMs) {
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(timeoutMs == HidInfiniteTimeout ? 0 : timeoutMs);
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    // A write given up on earlier may still be in the driver: reports go out one at a time.
    if (!waitUntil(lock, s.cv, timeoutMs, deadline, [&] { return s.cancelled || !s.busy; }))
        return TransferOutcome::TimedOut;
    if (s.cancelled)
        return TransferOutcome::Completed;
    if (!s.threadStarted) {
        try {
            // The thread owns the state, not this object: it may outlive it by one write.
            std::thread([state = m_state] { state->run(); }).detach();
        } catch (const std::system_error&) {
            return TransferOutcome::Failed;
        }
        s.threadStarted = true;
    }
    s.job = std::move(blockingWrite);
    s.data.assign(data, data + length);
    s.keepAlive = std::move(keepAlive);
    s.busy = true;
    const std::uint64_t sequence = ++s.submitted;
    s.cv.notify_all();

    const bool ended = waitUntil(lock, s.cv, timeoutMs, deadline,
                                 [&] { return s.cancelled || s.finished >= sequence; });
    if (s.finished >= sequence)
        return s.outcomes[sequence % s.outcomes.size()];
    return ended ? TransferOutcome::Completed : TransferOutcome::TimedOut;
}

void ReportWriter::cancel() {
    std::lock_guard lock(m_state->mutex);
    m_state->cancelled = true;
    m_state->cv.notify_all();
}

void ReportWriter::resetCancel() {
    std::lock_guard lock(m_state->mutex);
    m_state->cancelled = false;
}

bool ReportWriter::busy() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->busy;
}
