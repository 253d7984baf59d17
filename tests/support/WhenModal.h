#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

// Calls act with the next modal widget once it is up, polled from the event loop that the
// modal run turns; for tests that drive the real boxes and dialogs.
inline void whenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act = std::move(act)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}
