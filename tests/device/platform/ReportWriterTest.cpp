#include "device/platform/ReportWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The hand-off of report writes a driver holds: the caller is given back on its time-out or a
// cancel while the write is still inside, writes stay in order, and what the write uses stays
// alive until it left.

namespace {

using namespace std::chrono_literals;

// A blocking write that stays "in the driver" until released, recording what it wrote.
class HeldDriver {
public:
    ReportWriter::BlockingWrite write(TransferOutcome outcome = TransferOutcome::Completed) {
        return [this, outcome](const std::uint8_t* data, std::size_t length) {
            std::unique_lock lock(m_mutex);
            ++m_inside;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return !m_held; });
            m_written.emplace_back(reinterpret_cast<const char*>(data), length);
            --m_inside;
            m_cv.notify_all();
            return outcome;
        };
    }
    void hold(bool held) {
        std::lock_guard lock(m_mutex);
        m_held = held;
        m_cv.notify_all();
    }
    bool waitInside(int n) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, 5s, [&] { return m_inside == n; });
    }
    std::vector<std::string> written() {
        std::lock_guard lock(m_mutex);
        return m_written;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    int m_inside = 0;
    std::vector<std::string> m_written;
};

TransferOutcome writeText(ReportWriter& writer, const ReportWriter::BlockingWrite& w,
                          const std::string& text, std::uint32_t timeoutMs,
                          std::shared_ptr<void> keepAlive = nullptr) {
    return writer.write(std::move(keepAlive), w, reinterpret_cast<const std::uint8_t*>(text.data()),
                        text.size(), timeoutMs);
}

TEST(ReportWriterTest, OutcomesOfWritesThatEndInTime) {
    ReportWriter writer;
    HeldDriver driver;
    const struct {
        TransferOutcome outcome;
        std::uint32_t timeoutMs;
    } cases[] = {
        {TransferOutcome::Completed, HidInfiniteTimeout},
        {TransferOutcome::Failed, HidInfiniteTimeout},
        {TransferOutcome::Completed, 5000},
        {TransferOutcome::Failed, 5000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(writeText(writer, driver.write(c.outcome), "r", c.timeoutMs), c.outcome);
    EXPECT_EQ(driver.written().size(), 4u);
}

TEST(ReportWriterTest, TimeOutAndCancelGiveTheCallerBackWhileTheWriteIsInside) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancel" : "time-out");
        ReportWriter writer;
        HeldDriver driver;
        driver.hold(true);
        std::thread canceller;
        if (cancel)
            canceller = std::thread([&] {
                driver.waitInside(1);
                writer.cancel();
            });
        const TransferOutcome outcome =
            writeText(writer, driver.write(), "first", cancel ? HidInfiniteTimeout : 50);
        if (canceller.joinable())
            canceller.join();
        EXPECT_EQ(outcome, cancel ? TransferOutcome::Completed : TransferOutcome::TimedOut);
        EXPECT_TRUE(writer.busy()) << "the caller is back, the write still inside";
        EXPECT_TRUE(driver.written().empty());

        // The next write waits for the one still inside; a bound ends that wait too.
        writer.resetCancel();
        EXPECT_EQ(writeText(writer, driver.write(), "second", 30), TransferOutcome::TimedOut);
        EXPECT_TRUE(driver.written().empty()) << "no report overtakes the held one";
        driver.hold(false);
        EXPECT_EQ(writeText(writer, driver.write(), "third", HidInfiniteTimeout),
                  TransferOutcome::Completed);
        EXPECT_EQ(driver.written(), (std::vector<std::string>{"first", "third"}));
    }
}

TEST(ReportWriterTest, CancelHoldsUntilResetAndNothingIsWritten) {
    ReportWriter writer;
    HeldDriver driver;
    writer.cancel();
    EXPECT_EQ(writeText(writer, driver.write(), "a", HidInfiniteTimeout),
              TransferOutcome::Completed);
    EXPECT_EQ(writeText(writer, driver.write(), "b", 100), TransferOutcome::Completed);
    EXPECT_TRUE(driver.written().empty());
    writer.resetCancel();
    EXPECT_EQ(writeText(writer, driver.write(), "c", HidInfiniteTimeout),
              TransferOutcome::Completed);
    EXPECT_EQ(driver.written(), (std::vector<std::string>{"c"}));
}

TEST(ReportWriterTest, WhatTheWriteUsesLivesUntilItLeftEvenPastTheWriter) {
    HeldDriver driver;
    driver.hold(true);
    auto device = std::make_shared<int>(7);
    std::weak_ptr<int> watch = device;
    auto writer = std::make_unique<ReportWriter>();
    EXPECT_EQ(writeText(*writer, driver.write(), "late", 20, std::move(device)),
              TransferOutcome::TimedOut);
    // The owner goes away while the driver still holds the write.
    writer.reset();
    EXPECT_FALSE(watch.expired());
    driver.hold(false);
    ASSERT_TRUE(driver.waitInside(0));
    for (int i = 0; i < 500 && !watch.expired(); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(driver.written(), (std::vector<std::string>{"late"}));
}

} // namespace
