#pragma once

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

// Nanoseconds as the benchmarks print them.
inline double ms(qint64 ns) {
    return double(ns) / 1e6;
}

// The application of the window benchmarks: while measuring, times every event the window's
// thread handles, the longest one overall and the longest hand-over of reads from the receive
// thread, in the thread's CPU time and, for comparison, in wall time; and counts them.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool measuring = false;
    qint64 longestEventCpuNs = 0;
    qint64 longestEventWallNs = 0;
    qint64 longestDeliveryCpuNs = 0;
    qint64 longestDeliveryWallNs = 0;
    qint64 events = 0;
    qint64 deliveries = 0;

    void resetFigures() {
        longestEventCpuNs = longestEventWallNs = 0;
        longestDeliveryCpuNs = longestDeliveryWallNs = 0;
        events = deliveries = 0;
    }

    // CPU time of the calling thread: what the window's thread itself spent, whatever else the
    // machine is running meanwhile.
    static qint64 threadCpuNs() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    }

    static qint64 residentBytes() {
        long pages = 0;
        long resident = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
                resident = 0;
            std::fclose(f);
        }
        return qint64(resident) * sysconf(_SC_PAGESIZE);
    }

    // A hand-over is a queued call to the receive thread object or a tick of its frame timer.
    static bool isDelivery(QObject* receiver, QEvent* event) {
        const auto isReceiveThread = [](const QObject* object) {
            return object && std::strcmp(object->metaObject()->className(), "ReceiveThread") == 0;
        };
        if (event->type() == QEvent::MetaCall)
            return isReceiveThread(receiver);
        return event->type() == QEvent::Timer && receiver && isReceiveThread(receiver->parent());
    }

    bool notify(QObject* receiver, QEvent* event) override {
        if (!measuring)
            return QApplication::notify(receiver, event);
        QElapsedTimer wall;
        wall.start();
        const qint64 cpu = threadCpuNs();
        const bool delivery = isDelivery(receiver, event);
        const bool result = QApplication::notify(receiver, event);
        const qint64 cpuNs = threadCpuNs() - cpu;
        const qint64 wallNs = wall.nsecsElapsed();
        ++events;
        longestEventCpuNs = std::max(longestEventCpuNs, cpuNs);
        longestEventWallNs = std::max(longestEventWallNs, wallNs);
        if (delivery) {
            ++deliveries;
            longestDeliveryCpuNs = std::max(longestDeliveryCpuNs, cpuNs);
            longestDeliveryWallNs = std::max(longestDeliveryWallNs, wallNs);
        }
        return result;
    }
};
