#include "connection/ReceiveThread.h"

#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

// The receive thread against an emulated adapter: order, the stop while a read is blocked,
// nothing after the stop, retries after failed reads and the empty read of an unplug.

namespace {

using namespace std::chrono_literals;
constexpr auto Generous = 5s;

// Counts the reads that reach the platform.
class CountingPlatform : public EmulatedHidPlatform {
public:
    std::atomic<long> reads{0};

    TransferOutcome readReports(HidHandle handle, std::uint8_t* buffer, std::size_t length,
                                std::uint32_t timeoutMs, std::size_t& bytesRead) override {
        ++reads;
        return EmulatedHidPlatform::readReports(handle, buffer, length, timeoutMs, bytesRead);
    }
};

class ReceiveThreadTest : public ::testing::Test {
protected:
    CountingPlatform platform;
    AdapterFirmware& adapter = platform.AddAdapter("WD000001");
    CWendrake wendrake{platform};
    std::vector<QByteArray> batches;
    std::function<void(const QByteArray&)> onBatch;
    ReceiveThread thread{[this](const QByteArray& bytes, qint64) {
        batches.push_back(bytes);
        if (onBatch)
            onBatch(bytes);
    }};

    void SetUp() override { ASSERT_EQ(wendrake.Connect(0), WendrakeOk); }

    void start() {
        ASSERT_TRUE(thread.start(wendrake, wendrake.GetReceiveBufferSize()));
        ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    }

    QByteArray received() const {
        QByteArray all;
        for (const QByteArray& b : batches)
            all += b;
        return all;
    }

    // Waits without running the event loop, as a busy window's thread would.
    static bool waitWithoutEvents(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + Generous;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    bool waitForReceived(qsizetype size) {
        return QTest::qWaitFor([&] { return received().size() >= size; }, 5000);
    }
};

} // namespace

TEST_F(ReceiveThreadTest, HandsEveryReadOverInOrder) {
    // More than the host queue holds: the adapter waits for room instead of dropping.
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    start();
    QByteArray sent;
    for (int i = 0; i < 40; ++i) {
        const QByteArray piece =
            QByteArray::number(i) + "-" + QByteArray(i * 13, char('a' + i % 26));
        sent += piece;
        adapter.InjectUartInput(std::string_view(piece.constData(), std::size_t(piece.size())));
    }
    ASSERT_TRUE(waitForReceived(sent.size()));
    EXPECT_EQ(received(), sent);
    EXPECT_EQ(platform.DroppedInputReports(0), 0u);
}

TEST_F(ReceiveThreadTest, NoBufferNoThread) {
    // A zero size (an adapter without input reports) starts nothing: connect reports no buffer.
    EXPECT_FALSE(thread.start(wendrake, 0));
    EXPECT_FALSE(thread.isRunning());
}

TEST_F(ReceiveThreadTest, StopWakesABlockedReadAndNothingFollows) {
    start();
    adapter.InjectUartInput("before");
    ASSERT_TRUE(waitForReceived(6));
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));

    auto stopped = std::async(std::launch::async, [this] { thread.stop(); });
    ASSERT_EQ(stopped.wait_for(Generous), std::future_status::ready);
    stopped.get();
    EXPECT_FALSE(thread.isRunning());

    // Joined: no read can start, and a hand-over posted before the stop would come now.
    const long readsAtStop = platform.reads;
    const std::size_t count = batches.size();
    adapter.InjectUartInput("after");
    QCoreApplication::processEvents();
    EXPECT_EQ(platform.reads, readsAtStop);
    EXPECT_EQ(batches.size(), count);
    EXPECT_EQ(received(), "before");
}

TEST_F(ReceiveThreadTest, ReadsTakenBeforeTheStopArriveBeforeItReturns) {
    start();
    adapter.InjectUartInput("queued");
    // The read happened, but the window's thread has not run its event loop since.
    ASSERT_TRUE(QTest::qWaitFor([&] { return platform.QueuedInputReports(0) == 0; }, 5000));
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    thread.stop();
    EXPECT_EQ(received(), "queued");
    QCoreApplication::processEvents();
    EXPECT_EQ(received(), "queued");
}

TEST_F(ReceiveThreadTest, FailedReadsAreRetried) {
    platform.FailNthRead(1);
    platform.FailNthRead(2);
    start();
    adapter.InjectUartInput("survives");
    ASSERT_TRUE(waitForReceived(8));
    EXPECT_EQ(received(), "survives");
    for (const QByteArray& b : batches)
        EXPECT_FALSE(b.isEmpty()) << "a failed read is not handed over";
}

TEST_F(ReceiveThreadTest, UnplugHandsOverAnEmptyReadAndTheStopStillComesAtOnce) {
    start();
    // Only the read waiting at the unplug ends empty; one started after it fails at once.
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    platform.Unplug(adapter);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !batches.empty(); }, 5000));
    EXPECT_TRUE(batches.front().isEmpty());
    // Reads now fail at once, for ever, until the pin poll notices: they must not spin. Without
    // a pause this is hundreds of thousands of reads; with it about twenty.
    const long before = platform.reads;
    QTest::qWait(200);
    EXPECT_LT(platform.reads - before, 1000);
    EXPECT_GT(platform.reads - before, 0) << "failed reads are still retried";
    auto stopped = std::async(std::launch::async, [this] { thread.stop(); });
    ASSERT_EQ(stopped.wait_for(Generous), std::future_status::ready);
}

TEST_F(ReceiveThreadTest, StartsAgainAfterAStop) {
    start();
    thread.stop();
    batches.clear();
    start();
    adapter.InjectUartInput("again");
    ASSERT_TRUE(waitForReceived(5));
    EXPECT_EQ(received(), "again");
}

TEST_F(ReceiveThreadTest, AStopFromInsideTheHandlerHandsOverTheRestAndNothingFollows) {
    start();
    QByteArray atStop;
    onBatch = [&](const QByteArray&) {
        onBatch = nullptr;
        // A second read is taken while the first is still being handled.
        adapter.InjectUartInput("second");
        ASSERT_TRUE(QTest::qWaitFor([&] { return platform.QueuedInputReports(0) == 0; }, 5000));
        ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
        thread.stop();
        atStop = received();
    };
    adapter.InjectUartInput("first");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !atStop.isEmpty(); }, 5000));
    EXPECT_EQ(atStop, "firstsecond") << "the reads before the stop are in place when it returns";
    EXPECT_FALSE(thread.isRunning());
    QCoreApplication::processEvents();
    EXPECT_EQ(received(), "firstsecond") << "nothing after the stop";
}

TEST_F(ReceiveThreadTest, AFloodWaitsForTheWindowWithinTheBoundAndLosesNothing) {
    // A source as fast as the host takes it; the window's thread does not run its event loop
    // until the reader waits, then takes everything.
    struct Case {
        const char* name;
        qint64 limit;
    };
    const Case cases[] = {
        {"a bound below one read", 1},
        {"a bound of a few reads", 20000},
        {"a bound of many reads", 300000},
    };
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    constexpr qint64 Total = 1200000;
    std::atomic<qint64> produced{0};
    std::atomic<bool> running{false};
    adapter.SetUartSource([&](std::uint8_t* out, std::size_t capacity) {
        std::size_t n = 0;
        for (; running && n < capacity && produced < Total; ++n)
            out[n] = std::uint8_t(produced++ % 251);
        return n;
    });
    // What the host's report queue and the adapter's one waiting report can hold besides.
    const qint64 inFlight = qint64(EmulatedHidPlatform::DefaultInputBufferCount + 1) * 64;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        thread.stop();
        batches.clear();
        produced = 0;
        thread.setQueueLimit(c.limit);
        start();
        // At most one read beyond the bound is queued.
        const qint64 bound = c.limit - 1 + qint64(thread.bufferSize());
        qint64 mostQueued = 0;
        onBatch = [&](const QByteArray&) {
            mostQueued = std::max(mostQueued, thread.queuedBytes());
        };
        running = true;
        adapter.InjectUartInput(std::string_view());

        ASSERT_TRUE(waitWithoutEvents([&] { return thread.isWaitingForRoom(); }));
        const qint64 queued = thread.queuedBytes();
        EXPECT_GE(queued, std::min(c.limit, Total));
        EXPECT_LE(queued, bound);
        // The reader really stopped: no read is under way, the adapter keeps the rest.
        EXPECT_EQ(platform.PendingReads(), 0u);
        EXPECT_LE(produced - queued, inFlight);
        EXPECT_EQ(thread.queuedBytes(), queued);

        ASSERT_TRUE(QTest::qWaitFor([&] { return received().size() >= Total; }, 20000));
        EXPECT_LE(mostQueued, bound);
        const QByteArray all = received();
        ASSERT_EQ(all.size(), Total);
        qint64 firstWrong = -1;
        for (qint64 i = 0; i < Total && firstWrong < 0; ++i)
            if (std::uint8_t(all[i]) != i % 251)
                firstWrong = i;
        EXPECT_EQ(firstWrong, -1) << "every byte, in order";
        EXPECT_EQ(platform.DroppedInputReports(0), 0u);
        running = false;
        onBatch = nullptr;
    }
}

TEST_F(ReceiveThreadTest, TrickledReportsAreHandedOverAtMostOnceAFrame) {
    struct Case {
        const char* name;
        std::chrono::microseconds interval;
        int reports;
    };
    const Case cases[] = {
        {"a report a millisecond (a real adapter's full rate)", 1000us, 400},
        {"a report every 5 ms", 5000us, 80},
    };
    // A busy machine may keep the reader from the host's queue for a while: the reports wait
    // in the adapter instead of being dropped.
    platform.SetInputPacing(EmulatedHidPlatform::InputPacing::FlowControlled);
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        batches.clear();
        QByteArray sent;
        for (int i = 0; i < c.reports; ++i)
            sent += QByteArray(63, char('A' + i % 26)) + char(i % 10 + '0');
        const std::uint64_t before = thread.deliveryCount();
        QElapsedTimer clock;
        clock.start();
        std::thread feeder([&] {
            auto next = std::chrono::steady_clock::now();
            for (int i = 0; i < c.reports; ++i) {
                next += c.interval;
                std::this_thread::sleep_until(next);
                adapter.InjectUartInput(std::string_view(sent.constData() + i * 64, 64));
            }
        });
        const bool all = waitForReceived(sent.size());
        feeder.join();
        ASSERT_TRUE(all);
        const std::uint64_t wakes = thread.deliveryCount() - before;
        // Qt may fire a timer up to 5 % early; one more for the first report and for the empty
        // look that ends a frame.
        const double frames = double(clock.elapsed()) / (ReceiveThread::FrameIntervalMs * 0.95);
        EXPECT_LE(double(wakes), frames + 2) << wakes << " wakes in " << clock.elapsed() << " ms";
        EXPECT_LT(wakes, std::uint64_t(c.reports)) << "not one per report";
        EXPECT_EQ(received(), sent);
        // Quiet for a while: the next report comes at the first turn of the event loop.
        QTest::qWait(3 * ReceiveThread::FrameIntervalMs);
        batches.clear();
        adapter.InjectUartInput("quiet");
        // Read and queued, the reader back in its next read: nothing waits for a frame.
        ASSERT_TRUE(waitWithoutEvents([&] { return platform.QueuedInputReports(0) == 0; }));
        ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
        QCoreApplication::processEvents();
        EXPECT_EQ(received(), "quiet");
    }
}
