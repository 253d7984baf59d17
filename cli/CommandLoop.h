#pragma once

class QEventLoop;

// The event loop a command of wendrake runs until it ends. The first status it is finished with
// is the one it ends with, also when that came before the loop ran; later ones change nothing.
class CommandLoop {
public:
    // Runs the loop unless it is finished already; the status it was finished with.
    int Run();
    void Finish(int status);
    bool Finished() const { return m_finished; }

private:
    QEventLoop* m_running = nullptr;
    bool m_finished = false;
    int m_status = 0;
};
