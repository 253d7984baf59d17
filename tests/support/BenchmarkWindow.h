#pragma once

#include "connection/AccessExplanation.h"
#include "connection/PlatformNoticeSource.h"
#include "device/CWendrake.h"
#include "emulator/EmulatedHidPlatform.h"
#include "receiveview/ReceiveView.h"
#include "resources/TerminalDialogTemplate.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "tests/support/RecordingPrompts.h"

#include <QAbstractButton>
#include <QTemporaryDir>

// The terminal window as the benchmarks run it: its settings in a folder of its own, the size
// of a window someone reads data in, shown (offscreen unless QT_QPA_PLATFORM says otherwise).
class BenchmarkWindow {
public:
    // Before the application is made.
    static void useOffscreenUnlessTold() {
        if (qgetenv("QT_QPA_PLATFORM").isEmpty())
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    // The benchmarks' adapter, keeping no record of the wire or of its UART output: those grow
    // with every byte moved and would be counted as the window's memory and time.
    static AdapterFirmware& addQuietAdapter(EmulatedHidPlatform& platform) {
        platform.SetWireRecording(false);
        AdapterFirmware& adapter = platform.AddAdapter("WDBENCH1");
        adapter.SetRecordUartOutput(false);
        return adapter;
    }

    explicit BenchmarkWindow(HidPlatform& platform)
        : wendrake(platform), notices(platform), access(platform),
          window(wendrake, notices, access, prompts, settings.path()) {
        window.resize(1000, 800);
        window.show();
    }

    QAbstractButton* button(int id) const {
        return qobject_cast<QAbstractButton*>(window.Control(id));
    }
    ReceiveView* view() const {
        return qobject_cast<ReceiveView*>(window.Control(TerminalControl::ReceiveView));
    }
    // Clicks Connect; false if the adapter could not be opened.
    bool connect() {
        button(TerminalControl::Connect)->click();
        return window.Adapter().IsConnected();
    }
    // The frame and paint of the receive view that would come next, now.
    void paintNow() const {
        view()->flushFrame();
        view()->viewport()->repaint();
    }

    QTemporaryDir settings;
    RecordingPrompts prompts;
    CWendrake wendrake;
    PlatformNoticeSource notices;
    AccessExplanation access;
    CWendrakeTerminalDlg window;
};
