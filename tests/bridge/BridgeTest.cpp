#include "bridge/Bridge.h"
#include "bridge/BridgeFace.h"
#include "tests/support/FakeAdapterPort.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

namespace {

// A client that takes what it is offered while open and nothing while closed.
class FakeFace : public BridgeFace {
public:
    bool open = true;
    bool paused = false;
    QByteArray got;

    qint64 deliver(const char* data, qint64 size) override {
        if (!open)
            return 0;
        got.append(data, size);
        return size;
    }
    void setReadingPaused(bool p) override { paused = p; }
    QString clientDescription() const override { return "the fake client"; }
    void reopen() {
        open = true;
        emit readyForMore();
    }
};

// A client that stops reading: the bridge holds up to its bound, then leaves the rest with
// the adapter port; when the client reads again every byte arrives once, in order.
TEST(BridgeTest, HeldBoundThenEveryByteInOrder) {
    FakeAdapterPort port;
    Bridge bridge(port);
    FakeFace face;
    ASSERT_TRUE(bridge.claim(&face));
    face.open = false;
    const QByteArray data = pattern(1 << 20);
    for (qsizetype at = 0; at < data.size(); at += 4096)
        port.inject(data.mid(at, 4096));
    EXPECT_EQ(bridge.heldBytes(), Bridge::HeldBound);
    EXPECT_EQ(port.received.size(), data.size() - Bridge::HeldBound);
    EXPECT_EQ(bridge.receiveStops(), 1);
    face.reopen();
    EXPECT_EQ(face.got.size(), data.size());
    EXPECT_TRUE(face.got == data);
    EXPECT_EQ(bridge.heldBytes(), 0);
    EXPECT_EQ(bridge.heldPeak(), Bridge::HeldBound);
}

// One client at a time; bytes from before a client and the last client's leftovers are dropped
// and counted, unless kept for the next client.
TEST(BridgeTest, OneClientAtATimeAndNothingStaleUnlessKept) {
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept" : "dropped");
        FakeAdapterPort port;
        Bridge bridge(port);
        bridge.setKeepUnread(keep);
        FakeFace first, second;
        ASSERT_TRUE(bridge.claim(&first));
        EXPECT_FALSE(bridge.claim(&second));
        EXPECT_EQ(bridge.holderDescription(), "the fake client");
        first.open = false;
        port.inject("left");
        bridge.release(&first);
        port.inject("-idle");
        ASSERT_TRUE(bridge.claim(&second));
        port.inject("-new");
        EXPECT_EQ(second.got, keep ? "left-idle-new" : "-new");
        EXPECT_EQ(bridge.droppedUnread(), keep ? 0 : 5);
        // Bytes of a client that is not the holder never reach the adapter.
        bridge.fromClient(&first, "x");
        bridge.fromClient(&second, "y");
        EXPECT_EQ(port.written, "y");
    }
}

TEST(BridgeTest, WriteBoundPausesTheClientUntilTheAdapterTakesIt) {
    FakeAdapterPort port;
    port.holdWrites = true;
    Bridge bridge(port);
    FakeFace face;
    ASSERT_TRUE(bridge.claim(&face));
    bridge.fromClient(&face, QByteArray(Bridge::WriteBound, 'a'));
    EXPECT_FALSE(face.paused);
    bridge.fromClient(&face, "b");
    EXPECT_TRUE(face.paused);
    port.drainWrites();
    EXPECT_FALSE(face.paused);
    EXPECT_EQ(port.written.size(), Bridge::WriteBound + 1);
}

} // namespace
