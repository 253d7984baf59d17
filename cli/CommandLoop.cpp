#include "cli/CommandLoop.h"

#include <QEventLoop>

int CommandLoop::Run() {
    if (!m_finished) {
        QEventLoop loop;
        m_running = &loop;
        loop.exec();
        m_running = nullptr;
    }
    return m_status;
}

void CommandLoop::Finish(int status) {
    if (m_finished)
        return;
    m_finished = true;
    m_status = status;
    if (m_running)
        m_running->quit();
}
