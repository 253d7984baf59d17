#pragma once

#include "emulator/EmulatedHidPlatform.h"

#include <QString>

#include <atomic>
#include <memory>
#include <thread>

// The adapter of --demo: one emulated adapter, serial WDK-DEMO-0001, whose UART is looped back
// as in the demo window. Every run of wendrake has its own, so for recv the bytes of a feed (its
// standard input) are what the adapter receives, as if a board sent them.
class DemoAdapter {
public:
    static constexpr const char* Serial = "WDK-DEMO-0001";
    // Feed bytes waiting in the adapter before the feed waits for the reader.
    static constexpr std::size_t FeedBacklogReports = 64;

    // feedFd: read until its end and handed to the adapter's UART input; -1 for none.
    explicit DemoAdapter(int feedFd = -1);
    // Stops the feed before the platform goes.
    ~DemoAdapter();

    DemoAdapter(const DemoAdapter&) = delete;
    DemoAdapter& operator=(const DemoAdapter&) = delete;

    EmulatedHidPlatform& Platform() { return *m_platform; }

private:
    void feed(int fd);

    std::unique_ptr<EmulatedHidPlatform> m_platform;
    AdapterFirmware* m_firmware = nullptr;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::thread m_feeder;
};
