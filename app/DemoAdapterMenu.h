#pragma once

#include <QObject>
#include <QString>

#include <string>

class AdapterFirmware;
class EmulatedHidPlatform;
class QAction;
class QMenu;
class QWidget;

// The demo's own menu: unplug and replug its adapter and plug in a second one, so that the
// adapter list's notices, unplug handling and automatic reconnect can be tried without hardware.
class DemoAdapterMenu : public QObject {
    Q_OBJECT

public:
    static constexpr const char* FirstSerial = "WDK-DEMO-0001";
    static constexpr const char* SecondSerial = "WDK-DEMO-0002";

    // Plugs the demo's first adapter into platform.
    explicit DemoAdapterMenu(EmulatedHidPlatform& platform, QObject* parent = nullptr);

    AdapterFirmware& First() const { return m_first; }

    // Puts the menu into the window's menu bar, before Help.
    QMenu* AddTo(QWidget* window);

    // Unplugs the adapter when it is plugged in, else plugs it in again.
    void ToggleFirst();
    // Plugs in the second adapter (made at the first use), or unplugs it.
    void ToggleSecond();

    QAction* FirstAction() const { return m_firstAction; }
    QAction* SecondAction() const { return m_secondAction; }

private:
    // An adapter as the demo has them: its UART looped back, its traffic not recorded.
    static AdapterFirmware& plugIn(EmulatedHidPlatform& platform, const char* serial);
    void updateTexts();

    EmulatedHidPlatform& m_platform;
    AdapterFirmware& m_first;
    AdapterFirmware* m_second = nullptr;
    QAction* m_firstAction = nullptr;
    QAction* m_secondAction = nullptr;
};
