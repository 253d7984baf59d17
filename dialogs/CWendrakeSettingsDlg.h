#pragma once

#include "device/WendrakeTypes.h"

#include <QDialog>
#include <QString>

#include <cstdint>

class CWendrake;
class QCheckBox;
class QComboBox;
class QLineEdit;
class UserPrompts;

// The settings dialog (template 130): UART settings, pin modes and the reset option, edited in
// place in the terminal's settings record. While an adapter is connected it starts from the
// adapter's own configuration and writes the edited one back to it on OK.
class CWendrakeSettingsDlg : public QDialog {
    Q_OBJECT

public:
    CWendrakeSettingsDlg(CWendrake& adapter, UartConfig* uart, PinConfig* pins,
                         std::int32_t* toggleResetOnConnect, UserPrompts& prompts,
                         QWidget* parent = nullptr);

    // Initialises first; a dialog that ends during initialisation is never shown.
    int exec() override;

    // saveAndValidate true: controls into members; false: members into controls.
    virtual void DoDataExchange(bool saveAndValidate);
    // Reads the adapter (when connected) and fills the controls from the record.
    virtual bool OnInitDialog();
    // Button 1 and Enter: writes the controls into the record (and the adapter), ends with OK.
    virtual void OnOK();

    void FillStopBitsList();
    void FillPinModeLists();
    void OnSelchangeDataBits();
    void OnSelchangeFlowControl();

    // Baud text as a signed decimal: leading white space, an optional sign, the digits up to the
    // first other character; no digits give 0. Every unsigned 32-bit rate reads as itself, so a
    // stored rate shown in the box comes back unchanged; beyond that range values saturate.
    static std::uint32_t BaudRateFromText(const QString& text);

    // Exchanged with the controls.
    QString VersionText = QStringLiteral("Not Connected");
    QString BaudText = QStringLiteral("115200");
    std::int32_t ParityIndex = 0;
    std::int32_t FlowControlIndex = 0;
    std::int32_t DataBitsIndex = 3;
    std::int32_t StopBitsIndex = 0;
    std::int32_t Gpio0Index = 0;
    std::int32_t Gpio1Index = 0;
    std::int32_t TxIndex = 1;
    std::int32_t ToggleResetCheck = 0;

public slots:
    void done(int result) override;

private:
    CWendrake& m_adapter;
    UartConfig* m_uart;
    PinConfig* m_pins;
    std::int32_t* m_toggleReset;
    UserPrompts& m_prompts;
    bool m_ended = false;

    QLineEdit* m_versionBox = nullptr;
    QComboBox* m_baudBox = nullptr;
    QComboBox* m_parityList = nullptr;
    QComboBox* m_flowControlList = nullptr;
    QComboBox* m_dataBitsList = nullptr;
    QComboBox* m_stopBitsList = nullptr;
    QComboBox* m_gpio0List = nullptr;
    QComboBox* m_gpio1List = nullptr;
    QComboBox* m_txList = nullptr;
    QCheckBox* m_toggleResetBox = nullptr;
};
