#include "terminal/ReceiveThread.h"

#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
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
    std::vector<std::uint8_t> buffer;
    std::vector<QByteArray> batches;
    std::function<void(const QByteArray&)> onBatch;
    ReceiveThread thread{[this](const QByteArray& bytes, qint64) {
        batches.push_back(bytes);
        if (onBatch)
            onBatch(bytes);
    }};

    void SetUp() override {
        ASSERT_EQ(wendrake.Connect(0), WendrakeOk);
        buffer.resize(wendrake.GetReceiveBufferSize());
    }

    void start() {
        thread.start(wendrake, buffer.data(), std::uint32_t(buffer.size()));
        ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));
    }

    QByteArray received() const {
        QByteArray all;
        for (const QByteArray& b : batches)
            all += b;
        return all;
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

TEST_F(ReceiveThreadTest, StopWakesABlockedReadAndNothingFollows) {
    start();
    adapter.InjectUartInput("before");
    ASSERT_TRUE(waitForReceived(6));
    ASSERT_TRUE(platform.WaitForPendingReads(1, Generous));

    auto stopped = std::async(std::launch::async, [this] { thread.stop(); });
    ASSERT_EQ(stopped.wait_for(100ms), std::future_status::ready);
    stopped.get();
    EXPECT_FALSE(thread.isRunning());

    const std::size_t count = batches.size();
    adapter.InjectUartInput("after");
    QTest::qWait(100);
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
    QTest::qWait(50);
    EXPECT_EQ(received(), "firstsecond") << "nothing after the stop";
}
