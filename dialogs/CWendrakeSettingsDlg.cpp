#include "dialogs/CWendrakeSettingsDlg.h"

#include "device/CWendrake.h"
#include "dialogs/DialogBuilder.h"
#include "dialogs/UserPrompts.h"
#include "resources/SettingsDialogTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <limits>

namespace {

// The first entry whose text begins with the given text, ignoring case, or -1.
int firstEntryBeginningWith(const QComboBox* box, const QString& text) {
    if (text.isEmpty())
        return -1;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i).startsWith(text, Qt::CaseInsensitive))
            return i;
    }
    return -1;
}

void selectIndex(QComboBox* box, std::int32_t index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

bool isSpace(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

} // namespace

CWendrakeSettingsDlg::CWendrakeSettingsDlg(CWendrake& adapter, UartConfig* uart, PinConfig* pins,
                                           std::int32_t* toggleResetOnConnect, UserPrompts& prompts,
                                           QWidget* parent)
    : QDialog(parent), m_adapter(adapter), m_uart(uart), m_pins(pins),
      m_toggleReset(toggleResetOnConnect), m_prompts(prompts) {
    DialogBuilder(SettingsDialogTemplate()).build(this);

    const auto combo = [this](int id) {
        return qobject_cast<QComboBox*>(DialogBuilder::control(this, id));
    };
    m_versionBox = qobject_cast<QLineEdit*>(DialogBuilder::control(this, SettingsControl::Version));
    m_baudBox = combo(SettingsControl::BaudRate);
    m_parityList = combo(SettingsControl::Parity);
    m_flowControlList = combo(SettingsControl::FlowControl);
    m_dataBitsList = combo(SettingsControl::DataBits);
    m_stopBitsList = combo(SettingsControl::StopBits);
    m_gpio0List = combo(SettingsControl::Gpio0Mode);
    m_gpio1List = combo(SettingsControl::Gpio1Mode);
    m_txList = combo(SettingsControl::TxMode);
    m_toggleResetBox =
        qobject_cast<QCheckBox*>(DialogBuilder::control(this, SettingsControl::ToggleReset));

    // Only the user's choices count as a selection change, not the dialog's own updates.
    connect(m_dataBitsList, &QComboBox::activated, this,
            &CWendrakeSettingsDlg::OnSelchangeDataBits);
    connect(m_flowControlList, &QComboBox::activated, this,
            &CWendrakeSettingsDlg::OnSelchangeFlowControl);
    if (auto* ok = qobject_cast<QPushButton*>(DialogBuilder::control(this, IdOk)))
        connect(ok, &QPushButton::clicked, this, &CWendrakeSettingsDlg::OnOK);
    if (auto* cancel = qobject_cast<QPushButton*>(DialogBuilder::control(this, IdCancel)))
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

int CWendrakeSettingsDlg::exec() {
    m_ended = false;
    OnInitDialog();
    if (m_ended)
        return result();
    return QDialog::exec();
}

void CWendrakeSettingsDlg::done(int result) {
    m_ended = true;
    QDialog::done(result);
}

void CWendrakeSettingsDlg::DoDataExchange(bool saveAndValidate) {
    if (saveAndValidate) {
        VersionText = m_versionBox->text();
        BaudText = m_baudBox->currentText();
        ParityIndex = m_parityList->currentIndex();
        FlowControlIndex = m_flowControlList->currentIndex();
        DataBitsIndex = m_dataBitsList->currentIndex();
        StopBitsIndex = m_stopBitsList->currentIndex();
        Gpio0Index = m_gpio0List->currentIndex();
        Gpio1Index = m_gpio1List->currentIndex();
        TxIndex = m_txList->currentIndex();
        ToggleResetCheck = m_toggleResetBox->isChecked() ? 1 : 0;
        return;
    }
    m_versionBox->setText(VersionText);
    const int baudEntry = firstEntryBeginningWith(m_baudBox, BaudText);
    if (baudEntry >= 0) {
        m_baudBox->setCurrentIndex(baudEntry);
    } else {
        m_baudBox->setCurrentIndex(-1);
        m_baudBox->setEditText(BaudText);
    }
    selectIndex(m_parityList, ParityIndex);
    selectIndex(m_flowControlList, FlowControlIndex);
    selectIndex(m_dataBitsList, DataBitsIndex);
    selectIndex(m_stopBitsList, StopBitsIndex);
    selectIndex(m_gpio0List, Gpio0Index);
    selectIndex(m_gpio1List, Gpio1Index);
    selectIndex(m_txList, TxIndex);
    m_toggleResetBox->setChecked(ToggleResetCheck != 0);
}

bool CWendrakeSettingsDlg::OnInitDialog() {
    if (m_adapter.IsConnected()) {
        std::uint8_t minor = 0;
        std::uint8_t major = 0;
        if (m_adapter.GetDeviceVersionMinor(&minor) == WendrakeOk &&
            m_adapter.GetDeviceVersionMajor(&major) == WendrakeOk)
            VersionText = QStringLiteral("%1.%2").arg(major).arg(minor);
        else
            VersionText = QStringLiteral("Err");

        // Straight into the terminal's record: a successful read stays even if the other fails.
        const WendrakeStatus uartStatus = m_adapter.GetUartConfig(m_uart);
        const WendrakeStatus pinStatus = m_adapter.GetPinConfig(m_pins);
        if (uartStatus != WendrakeOk || pinStatus != WendrakeOk) {
            m_prompts.Message(this, QStringLiteral("Error getting data from device"),
                              QStringLiteral("Error"), PromptIcon::Error, PromptButtons::Ok);
            reject();
            return false;
        }
    }

    BaudText = QString::number(m_uart->BaudRate);
    ParityIndex = m_uart->Parity;
    FlowControlIndex = m_uart->FlowControl;
    DataBitsIndex = m_uart->DataBits - 5;

    FillStopBitsList();
    StopBitsIndex = m_uart->StopBits;

    FillPinModeLists();
    const int pinOffset = FlowControlIndex != 0 ? 3 : 0;
    Gpio0Index = m_pins->Gpio0Mode - pinOffset;
    Gpio1Index = m_pins->Gpio1Mode - pinOffset;
    TxIndex = m_pins->TxMode;
    ToggleResetCheck = *m_toggleReset;

    DoDataExchange(false);
    if (QWidget* ok = DialogBuilder::control(this, IdOk))
        ok->setFocus();
    return false;
}

void CWendrakeSettingsDlg::FillStopBitsList() {
    m_stopBitsList->clear();
    m_stopBitsList->addItem(QStringLiteral("1"));
    m_stopBitsList->addItem(DataBitsIndex != 0 ? QStringLiteral("2") : QStringLiteral("1.5"));
}

void CWendrakeSettingsDlg::FillPinModeLists() {
    m_gpio0List->clear();
    m_gpio1List->clear();
    if (FlowControlIndex == 0) {
        const QStringList gpioModes{QStringLiteral("GPIO Input Pin"),
                                    QStringLiteral("GPIO Output - Open Drain"),
                                    QStringLiteral("GPIO Output - Push-Pull")};
        m_gpio0List->addItems(gpioModes);
        m_gpio1List->addItems(gpioModes);
    } else {
        m_gpio0List->addItems(
            {QStringLiteral("RTS - Push-Pull"), QStringLiteral("RTS - Open Drain")});
        m_gpio1List->addItem(QStringLiteral("CTS Input Pin"));
    }
}

void CWendrakeSettingsDlg::OnSelchangeDataBits() {
    DoDataExchange(true);
    const std::int32_t stopBits = StopBitsIndex;
    FillStopBitsList();
    StopBitsIndex = stopBits;
    DoDataExchange(false);
}

void CWendrakeSettingsDlg::OnSelchangeFlowControl() {
    DoDataExchange(true);
    FillPinModeLists();
    Gpio0Index = 0;
    Gpio1Index = 0;
    DoDataExchange(false);
}

void CWendrakeSettingsDlg::OnOK() {
    DoDataExchange(true);

    // No range checks: the byte fields take the low 8 bits, so no selection (-1) shows through.
    const auto byte = [](std::int32_t value) { return static_cast<std::uint8_t>(value); };
    const std::int32_t pinOffset = FlowControlIndex != 0 ? 3 : 0;
    m_uart->BaudRate = BaudRateFromText(BaudText);
    m_uart->Parity = byte(ParityIndex);
    m_uart->FlowControl = byte(FlowControlIndex);
    m_uart->DataBits = byte(DataBitsIndex + 5);
    m_uart->StopBits = byte(StopBitsIndex);
    m_pins->Gpio0Mode = byte(Gpio0Index + pinOffset);
    m_pins->Gpio1Mode = byte(Gpio1Index + pinOffset);
    m_pins->TxMode = byte(TxIndex);
    *m_toggleReset = ToggleResetCheck;

    if (m_adapter.IsConnected()) {
        // The pin write goes out even when the UART write failed.
        const WendrakeStatus uartStatus = m_adapter.SetUartConfig(m_uart);
        const WendrakeStatus pinStatus = m_adapter.SetPinConfig(m_pins);
        if (uartStatus != WendrakeOk || pinStatus != WendrakeOk)
            m_prompts.Message(this, QStringLiteral("Error saving settings to the Wendrake"),
                              QStringLiteral("Error"), PromptIcon::Error, PromptButtons::Ok);
    }
    accept();
}

std::uint32_t CWendrakeSettingsDlg::BaudRateFromText(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    // The record holds rates up to 2^32 - 1 (the dialog shows them so); negative ones keep
    // their 32-bit pattern, down to -2^31.
    constexpr std::int64_t high = std::numeric_limits<std::uint32_t>::max();
    constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > high)
            value = high + 1; // keep saturating, never overflow
    }
    if (negative)
        value = std::max(-value, low);
    else
        value = std::min(value, high);
    return static_cast<std::uint32_t>(value);
}
