#include "terminal/CWendrakeTerminalDlg.h"

#include "config/CPinTestDlg.h"
#include "config/CWendrakeSettingsDlg.h"
#include "resources/AppIcon.h"
#include "resources/DialogBuilder.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/CProgressDlg.h"
#include "terminal/HexTextParser.h"
#include "terminal/ReceiveView.h"
#include "terminal/TransferBox.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QResizeEvent>
#include <QStyle>
#include <QUrl>

#include <chrono>
#include <new>
#include <thread>

namespace {

// Busy cursor for the length of a connect or disconnect; message boxes get the normal one back.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

void pause(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

QString parityText(std::uint8_t parity) {
    switch (parity) {
    case 0:
        return QStringLiteral("No Parity  -  ");
    case 1:
        return QStringLiteral("Even Parity  -  ");
    case 2:
        return QStringLiteral("Odd Parity  -  ");
    case 3:
        return QStringLiteral("Mark Parity  -  ");
    case 4:
        return QStringLiteral("Space Parity  -  ");
    default:
        return QStringLiteral("<Parity Err>  -  ");
    }
}

QString flowControlText(std::uint8_t flowControl) {
    switch (flowControl) {
    case 0:
        return QStringLiteral("No Flow Control  -  ");
    case 1:
        return QStringLiteral("RTS / CTS Flow Control  -  ");
    default:
        return QStringLiteral("<Flow Control Err>  -  ");
    }
}

QString stopBitsText(const UartConfig& uart) {
    switch (uart.StopBits) {
    case 0:
        return QStringLiteral("1 Stop Bit");
    case 1:
        return uart.DataBits == 5 ? QStringLiteral("1.5 Stop Bits") : QStringLiteral("2 Stop Bits");
    default:
        return QStringLiteral("<Stop Bit Err>");
    }
}

// Pin output modes whose level the terminal may set: GPIO open drain and push-pull.
bool isGpioOutput(std::uint8_t mode) {
    return mode == 1 || mode == 2;
}

void refill(QComboBox* list, const QStringList& entries, int selection) {
    list->clear();
    list->addItems(entries);
    list->setCurrentIndex(selection < list->count() ? selection : -1);
}

} // namespace

// =============================================================================================
// Construction, initialisation, destruction
// =============================================================================================

CWendrakeTerminalDlg::CWendrakeTerminalDlg(HidPlatform& platform, UserPrompts& prompts,
                                           QString settingsDirectory, QWidget* parent)
    : QDialog(parent), m_platform(platform), m_prompts(prompts),
      m_settingsFile(std::move(settingsDirectory)), m_adapter(platform), m_appIcon(AppIcon()) {
    DialogBuilder builder(TerminalDialogTemplate());
    installCustomWidgets(builder);
    m_menuBar = DialogBuilder::buildMenuBar(TerminalMenu(), this);
    builder.build(this, m_menuBar);

    TransferBox = qobject_cast<QPlainTextEdit*>(Control(TerminalControl::TransferBox));
    ReceiveView = qobject_cast<::ReceiveView*>(Control(TerminalControl::ReceiveView));
    if (ReceiveView)
        ReceiveView->setSource(&m_received);
    AdapterList = qobject_cast<QComboBox*>(Control(TerminalControl::AdapterList));
    Gpio0Action = qobject_cast<QComboBox*>(Control(TerminalControl::Gpio0Action));
    Gpio1Action = qobject_cast<QComboBox*>(Control(TerminalControl::Gpio1Action));
    Q3ResetAction = qobject_cast<QComboBox*>(Control(TerminalControl::Q3ResetAction));

    m_pinPollTimer.setInterval(PinPollPeriodMs);
    connect(&m_pinPollTimer, &QTimer::timeout, this, [this] { OnTimer(PinPollTimerId); });
    connectCommands();

    OnInitDialog();
}

CWendrakeTerminalDlg::~CWendrakeTerminalDlg() {
    OnDestroy();
}

// Widgets of our own in place of the template's plain controls.
void CWendrakeTerminalDlg::installCustomWidgets(DialogBuilder& builder) {
    // The receive view: a view over the stored bytes that lays out only the rows on screen.
    builder.setCustomWidget(TerminalControl::ReceiveView,
                            [](const ControlTemplate&, QWidget* parent) -> QWidget* {
                                return new ::ReceiveView(parent);
                            });
    // The transfer box: Enter sends, Ctrl+Enter types CR LF, program-set text is no user change.
    builder.setCustomWidget(TerminalControl::TransferBox,
                            [](const ControlTemplate&, QWidget* parent) -> QWidget* {
                                return new ::TransferBox(parent);
                            });
}

void CWendrakeTerminalDlg::connectCommands() {
    const auto button = [this](int id) { return qobject_cast<QAbstractButton*>(Control(id)); };
    const auto onMenu = [this](int id, void (CWendrakeTerminalDlg::*handler)()) {
        if (QAction* action = MenuAction(id))
            connect(action, &QAction::triggered, this, handler);
    };
    const auto onButton = [&](int id, void (CWendrakeTerminalDlg::*handler)()) {
        if (QAbstractButton* b = button(id))
            connect(b, &QAbstractButton::clicked, this, handler);
    };

    using namespace TerminalControl;
    namespace Menu = TerminalMenuItem;

    onButton(Connect, &CWendrakeTerminalDlg::OnConnect);
    onMenu(Menu::Connect, &CWendrakeTerminalDlg::OnConnect);
    onMenu(Menu::Exit, &CWendrakeTerminalDlg::OnExit);
    onMenu(Menu::Help, &CWendrakeTerminalDlg::OnHelp);
    onMenu(Menu::About, &CWendrakeTerminalDlg::OnAbout);

    onButton(AsciiFormat, &CWendrakeTerminalDlg::OnDataFormat);
    onButton(HexFormat, &CWendrakeTerminalDlg::OnDataFormat);
    onMenu(Menu::Clear, &CWendrakeTerminalDlg::OnClear);
    onButton(ClearReceiveData, &CWendrakeTerminalDlg::OnClear);
    onButton(BrowseReceiveFile, &CWendrakeTerminalDlg::OnBrowseReceiveFile);
    onButton(Capture, &CWendrakeTerminalDlg::OnCapture);
    onMenu(Menu::SaveAsciiData, &CWendrakeTerminalDlg::OnSaveAsciiData);
    onMenu(Menu::SaveHexData, &CWendrakeTerminalDlg::OnSaveHexData);

    onButton(SendData, &CWendrakeTerminalDlg::OnSendData);
    if (::TransferBox* box = transferBox())
        connect(box, &::TransferBox::userTextChanged, this,
                &CWendrakeTerminalDlg::OnTransferTextChange);
    onMenu(Menu::ClearSentTransferData, &CWendrakeTerminalDlg::OnClearSentTransferData);
    onMenu(Menu::AutoSendTransferText, &CWendrakeTerminalDlg::OnAutoSendTransferText);
    onButton(SendFile, &CWendrakeTerminalDlg::OnSendFile);

    onButton(SetPinStates, &CWendrakeTerminalDlg::OnSetPinStates);
    onMenu(Menu::ViewFifoStatus, &CWendrakeTerminalDlg::OnViewFifoStatus);
    onMenu(Menu::PurgeFifo, &CWendrakeTerminalDlg::OnPurgeFifo);
    onMenu(Menu::Settings, &CWendrakeTerminalDlg::OnSettings);
}

bool CWendrakeTerminalDlg::OnInitDialog() {
    // 1. The template filled the pin lists; the bound members go to the controls.
    UpdateData(false);

    // 2. Icons.
    setWindowIcon(m_appIcon);

    // 3. Settings, with the check marks of the two send options.
    m_settingsFile.LoadSettings(m_settings, [this](int itemId, bool checked) {
        DialogBuilder::setMenuChecked(MenuAction(itemId), checked);
    });

    // 4. No buffers yet.
    ReceiveBuffer.reset();
    ReceiveBufferSize = 0;
    m_fileSender.Finish();

    // 5. The fixed-pitch font of the transfer box and the receive view.
    TerminalFont = DialogBuilder::fontFor(QStringLiteral("Courier"), 8);
    TerminalFont.setWeight(QFont::Normal);
    TerminalFont.setItalic(false);
    TerminalFont.setUnderline(false);
    TerminalFont.setStrikeOut(false);
    if (TransferBox)
        TransferBox->setFont(TerminalFont);
    if (ReceiveView)
        ReceiveView->setFont(TerminalFont);

    // 6. Adapter arrival and removal notices.
    RegisterAdapterNotification();

    // 7. ASCII is the starting format.
    if (auto* ascii = qobject_cast<QRadioButton*>(Control(TerminalControl::AsciiFormat)))
        ascii->setChecked(true);

    // 8, 9.
    RefreshDeviceList();
    UpdateConnectionStatus();

    // 10. The transfer box, first Tab stop, takes the focus. No timer and no thread yet.
    if (TransferBox)
        TransferBox->setFocus(Qt::OtherFocusReason);
    return true;
}

void CWendrakeTerminalDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_focusSet && TransferBox) {
        m_focusSet = true;
        TransferBox->setFocus(Qt::OtherFocusReason);
    }
}

// Escape, the close box and Exit all end here, like the framework's cancel.
void CWendrakeTerminalDlg::done(int result) {
    QDialog::done(result);
    OnDestroy();
}

void CWendrakeTerminalDlg::OnExit() {
    reject();
}

// Runs once, from the end of the modal run or from the destructor, whichever comes first.
void CWendrakeTerminalDlg::OnDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;

    // Nothing may append to the capture file or the buffer after this.
    StopReceiveThread();
    if (CaptureFile.isOpen())
        CaptureFile.close();
    UnregisterAdapterNotification();
    m_pinPollTimer.stop();
    releaseBuffers();
    restoreAndCloseAdapter();
}

// =============================================================================================
// Layout and painting
// =============================================================================================

void CWendrakeTerminalDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    OnSize();
}

// The receive view, the status line and Clear Receive Data follow the outer window edge.
void CWendrakeTerminalDlg::OnSize() {
    if (!ReceiveView)
        return;
    const QRect outer = frameGeometry();
    // Exclusive right and bottom edges in screen pixels, as window rectangles count them.
    const int right = outer.x() + outer.width();
    const int bottom = outer.y() + outer.height();

    const auto place = [this](QWidget* widget, int left, int top, int screenRight,
                              int screenBottom) {
        if (!widget)
            return;
        const QPoint corner = mapFromGlobal(QPoint(screenRight, screenBottom));
        widget->setGeometry(QRect(QPoint(left, top), QPoint(corner.x() - 1, corner.y() - 1)));
    };
    const auto clientX = [this](int screenX) { return mapFromGlobal(QPoint(screenX, 0)).x(); };
    const auto clientY = [this](int screenY) { return mapFromGlobal(QPoint(0, screenY)).y(); };

    const QRect view = ReceiveView->geometry();
    place(ReceiveView, view.left(), view.top(), right - 14, bottom - 42);

    if (QWidget* status = Control(TerminalControl::StatusLine))
        place(status, status->geometry().left(), clientY(bottom - 32), right - 134, bottom - 16);

    if (QWidget* clear = Control(TerminalControl::ClearReceiveData))
        place(clear, clientX(right - 119), clientY(bottom - 35), right - 14, bottom - 15);

    update();
}

// A minimised window shows the application icon centred.
void CWendrakeTerminalDlg::paintEvent(QPaintEvent* event) {
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const int size = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    const int x = (width() - size + 1) / 2;
    const int y = (height() - size + 1) / 2;
    m_appIcon.paint(&painter, QRect(x, y, size, size));
}

// =============================================================================================
// Controls, bound members
// =============================================================================================

QWidget* CWendrakeTerminalDlg::Control(int id) const {
    return DialogBuilder::control(this, id);
}

QAction* CWendrakeTerminalDlg::MenuAction(int id) const {
    return DialogBuilder::menuAction(m_menuBar, id);
}

bool CWendrakeTerminalDlg::IsAsciiFormat() const {
    const auto* ascii = qobject_cast<QAbstractButton*>(Control(TerminalControl::AsciiFormat));
    return ascii && ascii->isChecked();
}

void CWendrakeTerminalDlg::UpdateData(bool saveAndValidate) {
    const auto check = [this](int id, int& member, bool save) {
        auto* button = qobject_cast<QAbstractButton*>(Control(id));
        if (!button)
            return;
        if (save)
            member = button->isChecked() ? 1 : 0;
        else
            button->setChecked(member != 0);
    };
    const auto label = [this](int id, QString& member, bool save) {
        auto* text = qobject_cast<QLabel*>(Control(id));
        if (!text)
            return;
        if (save)
            member = text->text();
        else
            text->setText(member);
    };

    using namespace TerminalControl;
    check(Connect, Connected, saveAndValidate);
    label(StatusLine, StatusText, saveAndValidate);
    if (auto* edit = qobject_cast<QLineEdit*>(Control(ReceiveFile))) {
        if (saveAndValidate)
            ReceiveFileName = edit->text();
        else
            edit->setText(ReceiveFileName);
    }
    check(Capture, CaptureActive, saveAndValidate);
    label(TerminalControl::Gpio0Label, Gpio0Label, saveAndValidate);
    label(TerminalControl::Gpio0State, Gpio0State, saveAndValidate);
    label(TerminalControl::Gpio1Label, Gpio1Label, saveAndValidate);
    label(TerminalControl::Gpio1State, Gpio1State, saveAndValidate);
    label(TerminalControl::Q3ResetState, Q3ResetState, saveAndValidate);
}

void CWendrakeTerminalDlg::showError(const QString& text) {
    // The message box gets the normal cursor while it is up.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    m_prompts.Message(this, text, QStringLiteral("Error"), PromptIcon::Error, PromptButtons::Ok);
    if (busy)
        QApplication::restoreOverrideCursor();
}

// =============================================================================================
// Adapter list and device notices
// =============================================================================================

void CWendrakeTerminalDlg::RefreshDeviceList() {
    const unsigned count = m_adapter.GetDeviceCount();
    AdapterList->clear();
    for (unsigned i = 0; i < count; ++i) {
        // An unreadable serial still gets its entry, so indexes keep matching adapters.
        std::string serial;
        m_adapter.GetSerialString(i, serial);
        AdapterList->addItem(QString::fromLatin1(serial.data(), qsizetype(serial.size())));
    }
    AdapterList->setCurrentIndex(count > 0 ? 0 : -1);
}

bool CWendrakeTerminalDlg::OnDeviceChange(std::uint32_t event, const DeviceNotice& notice) {
    if (event != DeviceArrivalEvent && event != DeviceRemoveCompleteEvent)
        return true;
    if (notice.DeviceType != DeviceTypeInterface)
        return true;
    // The first 25 characters, case-sensitive; a shorter name never matches.
    constexpr std::size_t prefixLength = sizeof(AdapterPathPrefix) - 1;
    if (notice.Name.size() >= prefixLength &&
        notice.Name.compare(0, prefixLength, AdapterPathPrefix) == 0)
        RefreshDeviceList();
    return true;
}

void CWendrakeTerminalDlg::RegisterAdapterNotification() {
    DeviceNotification = m_platform.startNotices(
        [this](const DeviceNotice& notice) { OnDeviceChange(notice.EventCode, notice); });
}

void CWendrakeTerminalDlg::UnregisterAdapterNotification() {
    if (!DeviceNotification)
        return;
    m_platform.stopNotices();
    DeviceNotification = false;
}

// =============================================================================================
// Connection lifecycle
// =============================================================================================

void CWendrakeTerminalDlg::OnConnect() {
    ToggleConnection();
}

void CWendrakeTerminalDlg::ToggleConnection() {
    BusyCursor busy;
    UpdateData(true);
    if (m_adapter.IsConnected() || !connectSequence())
        tearDown();
    UpdateData(false);
}

// Steps up to a running connection; false after an error message, for the tear-down.
bool CWendrakeTerminalDlg::connectSequence() {
    const int selected = AdapterList->currentIndex();
    if (AdapterList->count() == 0 || selected < 0) {
        showError(QStringLiteral("No device selected"));
        return false;
    }
    if (m_adapter.Connect(unsigned(selected)) != WendrakeOk) {
        showError(QStringLiteral("Error connecting to device"));
        return false;
    }

    // The adapter's own configuration comes back at disconnect. Flow control goes off before
    // the UART starts, so a peer that holds CTS cannot stall it.
    SavedUartConfigValid = m_adapter.GetUartConfig(&SavedUartConfig) == WendrakeOk;
    if (SavedUartConfigValid && SavedUartConfig.FlowControl == 1) {
        UartConfig withoutFlowControl = SavedUartConfig;
        withoutFlowControl.FlowControl = 0;
        m_adapter.SetUartConfig(&withoutFlowControl);
    }

    if (m_adapter.EnableUart() != WendrakeOk) {
        showError(QStringLiteral("Error enabling UART, closing device"));
        return false;
    }
    pause(ConnectPauseMs);

    if (m_settings.ToggleResetOnConnect != 0) {
        // Pulse Q3 Reset low; what the target sent while in reset is dropped.
        m_adapter.SetPinLatch(0xFB, PinLatchBit::Q3Reset);
        pause(ConnectPauseMs);
        m_adapter.FlushReceiveReports();
        BlankReceiveView(true);
        m_adapter.SetPinLatch(PinLatchBit::Q3Reset, PinLatchBit::Q3Reset);
        BlankReceiveView(false);
    }

    ReceiveBufferSize = m_adapter.GetReceiveBufferSize();
    if (ReceiveBufferSize > 0)
        ReceiveBuffer.reset(new (std::nothrow) std::uint8_t[ReceiveBufferSize]);
    if (!ReceiveBuffer) {
        showError(QStringLiteral("Error allocating buffers, closing device"));
        return false;
    }

    StartReceiveThread();
    StartPinPollTimer();

    m_adapter.SetPinConfig(&m_settings.Pins);
    m_adapter.SetUartConfig(&m_settings.Uart);

    AdapterList->setEnabled(false);
    DialogBuilder::setMenuChecked(MenuAction(TerminalMenuItem::Connect), true);
    if (auto* button = qobject_cast<QAbstractButton*>(Control(TerminalControl::Connect)))
        button->setText(QStringLiteral("Disconnect"));
    Connected = 1;
    UpdateConnectionStatus();
    return true;
}

void CWendrakeTerminalDlg::tearDown() {
    StopReceiveThread();
    StopPinPollTimer();
    releaseBuffers();
    restoreAndCloseAdapter();

    AdapterList->setEnabled(true);
    DialogBuilder::setMenuChecked(MenuAction(TerminalMenuItem::Connect), false);
    if (auto* button = qobject_cast<QAbstractButton*>(Control(TerminalControl::Connect)))
        button->setText(QStringLiteral("Connect"));
    Connected = 0;
    UpdateConnectionStatus();
}

void CWendrakeTerminalDlg::releaseBuffers() {
    ReceiveBuffer.reset();
    ReceiveBufferSize = 0;
    // A file send still running is stopped and waited for; that releases its block.
    StopFileSend();
}

// UART off, the adapter's own configuration back, handshake and close; statuses are not tested.
void CWendrakeTerminalDlg::restoreAndCloseAdapter() {
    if (!m_adapter.IsConnected())
        return;
    m_adapter.DisableUart();
    if (SavedUartConfigValid)
        m_adapter.SetUartConfig(&SavedUartConfig);
    m_adapter.Disconnect();
    SavedUartConfigValid = false;
}

bool CWendrakeTerminalDlg::EnsureConnected() {
    if (m_adapter.IsConnected())
        return true;
    const PromptAnswer answer =
        m_prompts.Message(this, QStringLiteral("Not connected, would you like to connect now?"),
                          QStringLiteral("Connect"), PromptIcon::Question, PromptButtons::YesNo);
    if (answer != PromptAnswer::Yes)
        return false;
    ToggleConnection();
    return m_adapter.IsConnected();
}

void CWendrakeTerminalDlg::StartPinPollTimer() {
    m_pinPollTimer.start();
}

void CWendrakeTerminalDlg::StopPinPollTimer() {
    m_pinPollTimer.stop();
}

void CWendrakeTerminalDlg::OnTimer(int id) {
    if (id != PinPollTimerId)
        return;
    if (!m_adapter.IsConnected()) {
        StopPinPollTimer();
        return;
    }
    std::uint8_t latch = 0;
    if (m_adapter.GetPinLatch(&latch) != WendrakeOk) {
        // The adapter is gone or no longer answers: disconnect without a message.
        ToggleConnection();
        return;
    }
    const auto level = [latch](std::uint8_t bit) {
        return (latch & bit) ? QStringLiteral("High") : QStringLiteral("Low");
    };
    Gpio0State = level(PinLatchBit::Gpio0);
    Gpio1State = level(PinLatchBit::Gpio1);
    Q3ResetState = level(PinLatchBit::Q3Reset);
    // Only the three level texts: the other bound controls may be in the user's hands.
    const std::pair<int, const QString*> levels[] = {
        {TerminalControl::Gpio0State, &Gpio0State},
        {TerminalControl::Gpio1State, &Gpio1State},
        {TerminalControl::Q3ResetState, &Q3ResetState},
    };
    for (const auto& [id, text] : levels) {
        if (auto* label = qobject_cast<QLabel*>(Control(id)))
            label->setText(*text);
    }
}

// =============================================================================================
// Status line and pin action lists
// =============================================================================================

void CWendrakeTerminalDlg::UpdateConnectionStatus() {
    if (m_adapter.IsConnected()) {
        StatusText = QStringLiteral("CONNECTED  -  ");
        UartConfig uart;
        const bool uartRead = m_adapter.GetUartConfig(&uart) == WendrakeOk;
        if (uartRead) {
            StatusText += QStringLiteral("%1  -  ").arg(uart.BaudRate);
            StatusText += parityText(uart.Parity);
            StatusText += flowControlText(uart.FlowControl);
            StatusText += QStringLiteral("%1 Data Bits  -  ").arg(unsigned(uart.DataBits));
            StatusText += stopBitsText(uart);
        } else {
            StatusText += QStringLiteral("<UART Settings Err> - ");
        }

        const int gpio0Index = Gpio0Action->currentIndex();
        const int gpio1Index = Gpio1Action->currentIndex();
        Gpio0Action->clear();
        Gpio1Action->clear();
        // An unreadable configuration shows the GPIO names.
        if (uartRead && uart.FlowControl != 0) {
            refill(Gpio0Action, {"Set RTS Logic Low", "Set RTS Logic High", "Do Not Write RTS"}, 2);
            refill(Gpio1Action, {"Set CTS Logic Low", "Set CTS Logic High", "Do Not Write CTS"}, 2);
            Gpio0Label = QStringLiteral("RTS");
            Gpio1Label = QStringLiteral("CTS");
        } else {
            refill(Gpio0Action,
                   {"Set GPIO0 Logic Low", "Set GPIO0 Logic High", "Do Not Write GPIO0"},
                   gpio0Index);
            refill(Gpio1Action,
                   {"Set GPIO1 Logic Low", "Set GPIO1 Logic High", "Do Not Write GPIO1"},
                   gpio1Index);
            Gpio0Label = QStringLiteral("GPIO0");
            Gpio1Label = QStringLiteral("GPIO1");
        }

        PinConfig pins;
        if (m_adapter.GetPinConfig(&pins) == WendrakeOk) {
            Gpio0Action->setEnabled(isGpioOutput(pins.Gpio0Mode));
            Gpio1Action->setEnabled(isGpioOutput(pins.Gpio1Mode));
            Q3ResetAction->setEnabled(true);
        }
    } else {
        StatusText = QStringLiteral("NOT CONNECTED");
        Gpio0Label = QStringLiteral("GPIO0");
        Gpio1Label = QStringLiteral("GPIO1");
        Gpio0State.clear();
        Gpio1State.clear();
        Q3ResetState.clear();
        for (QComboBox* list : {Gpio0Action, Gpio1Action, Q3ResetAction}) {
            list->setCurrentIndex(2 < list->count() ? 2 : -1);
            list->setEnabled(false);
        }
    }
    UpdateData(false);
}

// =============================================================================================
// Help and About
// =============================================================================================

// The help file is looked for in the working directory; the outcome is not checked.
void CWendrakeTerminalDlg::OnHelp() {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QDir::current().absoluteFilePath(QString::fromLatin1(HelpFileName))));
}

void CWendrakeTerminalDlg::OnAbout() {
    if (m_runAboutBox)
        m_runAboutBox();
}

// =============================================================================================
// Receive view, receive thread and capture
// =============================================================================================

namespace {

// Every save dialog of the receive work: one "*.txt" filter, "txt" added to a bare name, and the
// dialog's own question before an existing file is replaced.
FileDialogRequest saveDialogRequest(const QString& initialName) {
    FileDialogRequest request;
    request.Save = true;
    request.InitialName = initialName;
    request.DefaultSuffix = QStringLiteral("txt");
    request.Filter = QStringLiteral("*.txt (*.txt)");
    request.ConfirmOverwrite = true;
    return request;
}

} // namespace

void CWendrakeTerminalDlg::BlankReceiveView(bool blank) {
    if (ReceiveView)
        ReceiveView->setBlank(blank);
}

void CWendrakeTerminalDlg::StartReceiveThread() {
    m_receiveThread.start(m_adapter, ReceiveBuffer.get(), ReceiveBufferSize);
}

// Also hands over the reads taken before the stop, so nothing is appended after it returns.
void CWendrakeTerminalDlg::StopReceiveThread() {
    m_receiveThread.stop();
}

void CWendrakeTerminalDlg::AppendReceivedText(const QByteArray& bytes) {
    const bool ascii = IsAsciiFormat();

    // 1. Capture first, in the form on screen; a failed write ends the capture, the data stays.
    if (CaptureActive && CaptureFile.isOpen()) {
        const QByteArray chunk = ascii ? bytes : ReceivedText::hexChunk(bytes);
        if (!CaptureFile.write(chunk.constData(), chunk.size())) {
            showFileError(QStringLiteral("Error during file capture, closing file"));
            ToggleCapture();
        }
    }

    // 2, 3. Both stored texts; a form feed anywhere in the read starts AsciiText afresh.
    m_received.append(bytes);

    // 4 to 7. The view follows the end; the focus stays where it is.
    if (ReceiveView)
        ReceiveView->contentAppended();
}

void CWendrakeTerminalDlg::OnDataFormat() {
    if (!ReceiveView)
        return;
    ReceiveView->setFocus(Qt::OtherFocusReason);
    ReceiveView->setFormat(IsAsciiFormat() ? ::ReceiveView::Format::Ascii
                                           : ::ReceiveView::Format::Hex);
    ReceiveView->setCaretPosition(FormatSwitchCaret);
}

void CWendrakeTerminalDlg::OnClear() {
    m_received.clear();
    if (ReceiveView)
        ReceiveView->contentReset();
}

void CWendrakeTerminalDlg::OnBrowseReceiveFile() {
    const std::optional<QString> path =
        m_prompts.FileName(this, saveDialogRequest(QStringLiteral("receive_data.txt")));
    if (!path)
        return;
    ReceiveFileName = *path;
    UpdateData(false);
}

void CWendrakeTerminalDlg::OnCapture() {
    ToggleCapture();
}

void CWendrakeTerminalDlg::ToggleCapture() {
    const auto setCaptureControlsEnabled = [this](bool enabled) {
        for (int id : {TerminalControl::ReceiveFile, TerminalControl::AsciiFormat,
                       TerminalControl::HexFormat})
            if (QWidget* control = Control(id))
                control->setEnabled(enabled);
    };
    auto* captureButton = qobject_cast<QAbstractButton*>(Control(TerminalControl::Capture));

    if (!CaptureActive) {
        if (ReceiveDataFile::existsForReading(ReceiveFileName) &&
            m_prompts.Message(
                this,
                ReceiveFileName +
                    QStringLiteral(" already exists, are you sure you want to overwrite?"),
                QStringLiteral("Notice"), PromptIcon::Question,
                PromptButtons::YesNo) != PromptAnswer::Yes)
            return;
        if (!CaptureFile.open(ReceiveFileName)) {
            showFileError(QStringLiteral("Error opening file ") + ReceiveFileName);
            return;
        }
        // The format cannot change while capturing: the file holds one form only.
        setCaptureControlsEnabled(false);
        if (captureButton)
            captureButton->setText(QStringLiteral("Stop Capture and Save File"));
        CaptureActive = 1;
    } else {
        CaptureFile.close();
        setCaptureControlsEnabled(true);
        if (captureButton)
            captureButton->setText(QStringLiteral("Capture Receive Data to File"));
        CaptureActive = 0;
    }
    UpdateData(false);
}

// The texts are taken here, before the dialog opens: what arrives meanwhile is not saved.
void CWendrakeTerminalDlg::OnSaveAsciiData() {
    SaveTextToFile(QStringLiteral("ascii_data.txt"), m_received.asciiSnapshot());
}

void CWendrakeTerminalDlg::OnSaveHexData() {
    SaveTextToFile(QStringLiteral("hex_data.txt"), m_received.hexSnapshot());
}

void CWendrakeTerminalDlg::SaveTextToFile(const QString& defaultFileName,
                                          const ReceivedText::Snapshot& text) {
    const std::optional<QString> path =
        m_prompts.FileName(this, saveDialogRequest(defaultFileName));
    if (!path)
        return;
    ReceiveDataFile file;
    if (!file.open(*path)) {
        showFileError(QStringLiteral("Error creating file ") + *path);
        return;
    }
    const bool written = text.forEachPiece(
        [&file](const char* data, qint64 size) { return file.write(data, size); });
    if (!written)
        showFileError(QStringLiteral("Error during saving file to disk"));
    file.close();
}

// =============================================================================================
// Sending typed data and files
// =============================================================================================

::TransferBox* CWendrakeTerminalDlg::transferBox() const {
    return qobject_cast<::TransferBox*>(Control(TerminalControl::TransferBox));
}

void CWendrakeTerminalDlg::StopFileSend() {
    m_fileSender.Stop();
}

void CWendrakeTerminalDlg::OnSendData() {
    if (!EnsureConnected())
        return;
    ::TransferBox* box = transferBox();
    {
        BusyCursor busy;
        SendText = box ? box->text() : QString();

        bool sent = false;
        try {
            QByteArray bytes = HexTextParser::TextToLatin1(SendText);
            if (!IsAsciiFormat())
                bytes = HexTextParser::ParseHexText(std::move(bytes));
            // Each report waits a bounded time; a stalled adapter fails the send instead of
            // holding the window.
            sent = bytes.size() <= qsizetype(UINT32_MAX) &&
                   m_adapter.WriteUart(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       std::uint32_t(bytes.size()), nullptr,
                                       TypedSendReportTimeoutMs) == WendrakeOk;
        } catch (const std::bad_alloc&) {
            // No room for the bytes: nothing is sent and nothing is said.
        }

        // A failed send keeps the text, so it can be sent again.
        if (sent && m_settings.ClearSentTransferData == 1) {
            SendText.clear();
            if (box)
                box->setText(QString());
        }
    }
    if (box)
        box->setFocus(Qt::OtherFocusReason);
}

// Every user change of the box, with automatic send on, goes out at once and empties the box.
void CWendrakeTerminalDlg::OnTransferTextChange() {
    if (m_settings.AutoSendTransferText == 0)
        return;
    ::TransferBox* box = transferBox();
    if (!box)
        return;
    ChangeText = box->text();
    if (!ChangeText.isEmpty())
        OnSendData();
    box->setText(QString());
}

void CWendrakeTerminalDlg::OnClearSentTransferData() {
    toggleSendOption(m_settings.ClearSentTransferData, MenuClearSentTransferData);
}

void CWendrakeTerminalDlg::OnAutoSendTransferText() {
    toggleSendOption(m_settings.AutoSendTransferText, MenuAutoSendTransferText);
}

// The menu's own check toggle is overruled: the mark always shows the flag.
void CWendrakeTerminalDlg::toggleSendOption(std::int32_t& flag, int menuItemId) {
    flag = flag == 1 ? 0 : 1;
    DialogBuilder::setMenuChecked(MenuAction(menuItemId), flag == 1);
    m_settingsFile.SaveSettings(m_settings);
}

void CWendrakeTerminalDlg::showFileError(const QString& text) {
    m_prompts.Message(this, text, QStringLiteral("Error"), PromptIcon::Exclamation,
                      PromptButtons::Ok);
}

void CWendrakeTerminalDlg::OnSendFile() {
    FileDialogRequest request;
    request.Save = false;
    request.Filter = QStringLiteral("All Files (*.*)");
    request.ConfirmOverwrite = false;

    if (!EnsureConnected())
        return;
    const std::optional<QString> path = m_prompts.FileName(this, request);
    if (!path)
        return;

    switch (m_fileSender.Open(*path)) {
    case FileSender::OpenResult::Ok:
        break;
    case FileSender::OpenResult::OpenFailed:
        showFileError(QStringLiteral("Error opening file ") + *path);
        return;
    case FileSender::OpenResult::TooLarge:
        showFileError(QStringLiteral("File too large to send ") + *path);
        return;
    case FileSender::OpenResult::ReadFailed:
        showFileError(QStringLiteral("Error reading file ") + *path);
        return;
    }

    {
        CProgressDlg progress(&m_fileSender.Progress(), m_fileSender.Length(), m_prompts, this);
        // A worker that cannot start leaves the window at 0% until Cancel.
        m_fileSender.Start();
        if (progress.exec() != QDialog::Accepted)
            StopFileSend();
    }
    // Counter back to 0, worker joined, block released, file closed.
    m_fileSender.Finish();
}

// =============================================================================================
// Pins, FIFO and settings
// =============================================================================================

void CWendrakeTerminalDlg::OnSetPinStates() {
    if (!EnsureConnected())
        return;
    // Position 1 drives the pin high, 2 leaves it alone; 0 or no selection drives it low. The
    // lists count whether enabled or not.
    std::uint8_t values = 0;
    std::uint8_t mask = PinLatchBit::Gpio0 | PinLatchBit::Gpio1 | PinLatchBit::Q3Reset;
    const std::pair<const QComboBox*, std::uint8_t> pins[] = {
        {Gpio0Action, PinLatchBit::Gpio0},
        {Gpio1Action, PinLatchBit::Gpio1},
        {Q3ResetAction, PinLatchBit::Q3Reset},
    };
    for (const auto& [list, bit] : pins) {
        const int position = list->currentIndex();
        if (position == 1)
            values |= bit;
        else if (position == 2)
            mask &= static_cast<std::uint8_t>(~bit);
    }
    // Sent even with an empty mask; the next poll shows the new levels.
    if (m_adapter.SetPinLatch(values, mask) != WendrakeOk)
        showError(QStringLiteral("Pin states could not be set"));
}

void CWendrakeTerminalDlg::OnViewFifoStatus() {
    if (!EnsureConnected())
        return;
    FifoStatus fifo;
    if (m_adapter.GetFifoStatus(&fifo) != WendrakeOk) {
        showError(QStringLiteral("FIFO status could not be retrieved"));
        return;
    }
    const QString text =
        QStringLiteral("FIFO Status:\n\n %1 Bytes in TX Buffer\n %2 Bytes in RX Buffer")
            .arg(fifo.TxCount)
            .arg(fifo.RxCount);
    m_prompts.Message(this, text, QStringLiteral("FIFO Status"), PromptIcon::Information,
                      PromptButtons::Ok);
}

void CWendrakeTerminalDlg::OnPurgeFifo() {
    if (!EnsureConnected())
        return;
    // Both FIFOs, no confirmation; the counts after the purge follow at once.
    if (m_adapter.PurgeFifo(true, true) != WendrakeOk) {
        showError(QStringLiteral("FIFO could not be purged"));
        return;
    }
    OnViewFifoStatus();
}

void CWendrakeTerminalDlg::OnSettings() {
    {
        // The pin poll keeps running on this thread while the dialog is open.
        CWendrakeSettingsDlg dialog(m_adapter, &m_settings.Uart, &m_settings.Pins,
                                    &m_settings.ToggleResetOnConnect, m_prompts);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    UpdateConnectionStatus();
    if (m_adapter.IsConnected()) {
        // Store what the adapter really took; a failed read leaves the dialog's values.
        m_adapter.GetUartConfig(&m_settings.Uart);
        m_adapter.GetPinConfig(&m_settings.Pins);
    }
    m_settingsFile.SaveSettings(m_settings);
}

void CWendrakeTerminalDlg::OnPinTest() {
    // The key watch calls this from any dialog, the pin test itself included.
    if (!m_adapter.IsConnected() || m_pinTestOpen)
        return;
    CPinTestDlg dialog(m_adapter, m_prompts);
    StopPinPollTimer();
    m_pinTestOpen = true;
    const int result = dialog.exec();
    m_pinTestOpen = false;
    if (result == QDialog::Accepted) {
        // OK or a failed poll: disconnect, which leaves the poll stopped.
        if (m_adapter.IsConnected())
            ToggleConnection();
        return;
    }
    StartPinPollTimer();
}
