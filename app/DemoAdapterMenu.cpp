#include "app/DemoAdapterMenu.h"

#include "emulator/EmulatedHidPlatform.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

DemoAdapterMenu::DemoAdapterMenu(EmulatedHidPlatform& platform, QObject* parent)
    : QObject(parent), m_platform(platform), m_first(plugIn(platform, FirstSerial)) {}

AdapterFirmware& DemoAdapterMenu::plugIn(EmulatedHidPlatform& platform, const char* serial) {
    AdapterFirmware& adapter = platform.AddAdapter(std::string(serial));
    adapter.SetRecordUartOutput(false);
    adapter.SetLoopback(true);
    return adapter;
}

QMenu* DemoAdapterMenu::AddTo(QWidget* window) {
    auto* bar = window ? window->findChild<QMenuBar*>() : nullptr;
    if (!bar)
        return nullptr;
    auto* menu = new QMenu(QStringLiteral("&Demo"), bar);
    menu->setObjectName(QStringLiteral("demoMenu"));
    m_firstAction = menu->addAction(QString(), this, &DemoAdapterMenu::ToggleFirst);
    m_secondAction = menu->addAction(QString(), this, &DemoAdapterMenu::ToggleSecond);
    const QList<QAction*> menus = bar->actions();
    bar->insertMenu(menus.isEmpty() ? nullptr : menus.constLast(), menu); // Help stays last
    updateTexts();
    return menu;
}

void DemoAdapterMenu::ToggleFirst() {
    if (m_platform.IsPlugged(m_platform.IdOf(m_first)))
        m_platform.Unplug(m_first);
    else
        m_platform.Plug(m_first);
    updateTexts();
}

void DemoAdapterMenu::ToggleSecond() {
    if (!m_second)
        m_second = &plugIn(m_platform, SecondSerial);
    else if (m_platform.IsPlugged(m_platform.IdOf(*m_second)))
        m_platform.Unplug(*m_second);
    else
        m_platform.Plug(*m_second);
    updateTexts();
}

void DemoAdapterMenu::updateTexts() {
    const auto text = [this](QAction* action, const AdapterFirmware* adapter, const char* plug,
                             const char* unplug, const char* serial) {
        if (!action)
            return;
        const bool plugged = adapter && m_platform.IsPlugged(m_platform.IdOf(*adapter));
        action->setText(QString::fromLatin1(plugged ? unplug : plug) + QLatin1Char(' ') +
                        QString::fromLatin1(serial));
    };
    text(m_firstAction, &m_first, "&Plug In Adapter", "&Unplug Adapter", FirstSerial);
    text(m_secondAction, m_second, "Plug In &Second Adapter", "Unplug &Second Adapter",
         SecondSerial);
}
