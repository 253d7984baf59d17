#include "terminal/CWendrakeTerminalDlg.h"

#include "config/CPinTestDlg.h"
#include "config/CWendrakeSettingsDlg.h"
#include "resources/AppIcon.h"
#include "resources/DialogBuilder.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/AdapterAccessDetail.h"
#include "terminal/CProgressDlg.h"
#include "terminal/ConnectionStatusText.h"
#include "terminal/HelpOpener.h"
#include "terminal/ReceiveFindBar.h"
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

namespace {

// Busy cursor for the length of a connect or disconnect; message boxes get the normal one back.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Pin output modes whose level the terminal may set: GPIO open drain and push-pull.
bool isGpioOutput(std::uint8_t mode) {
    return mode == 1 || mode == 2;
}

QString connectErrorText(TerminalSession::ConnectResult result) {
    switch (result) {
    case TerminalSession::ConnectResult::NoDeviceSelected:
        return QStringLiteral("No device selected");
    case TerminalSession::ConnectResult::ConnectFailed:
        return QStringLiteral("Error connecting to device");
    case TerminalSession::ConnectResult::UartNotEnabled:
        return QStringLiteral("Error enabling UART, closing device");
    case TerminalSession::ConnectResult::NoBuffer:
        return QStringLiteral("Error allocating buffers, closing device");
    case TerminalSession::ConnectResult::Connected:
        break;
    }
    return {};
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
    : QDialog(parent), m_platform(platform), m_prompts(prompts), m_adapter(platform),
      m_session(m_adapter, std::move(settingsDirectory)), m_appIcon(AppIcon()) {
    DialogBuilder builder(TerminalDialogTemplate());
    installCustomWidgets(builder);
    m_menuBar = DialogBuilder::buildMenuBar(TerminalMenu(), this);
    builder.build(this, m_menuBar);

    TransferBox = qobject_cast<QPlainTextEdit*>(Control(TerminalControl::TransferBox));
    ReceiveView = qobject_cast<::ReceiveView*>(Control(TerminalControl::ReceiveView));
    if (ReceiveView) {
        ReceiveView->setSource(&m_session.Received());
        ReceiveView->setAccessibleName(QStringLiteral("Receive Data"));
    }
    if (TransferBox)
        TransferBox->setAccessibleName(QStringLiteral("Transfer Data"));
    AdapterList = qobject_cast<QComboBox*>(Control(TerminalControl::AdapterList));
    Gpio0Action = qobject_cast<QComboBox*>(Control(TerminalControl::Gpio0Action));
    Gpio1Action = qobject_cast<QComboBox*>(Control(TerminalControl::Gpio1Action));
    Q3ResetAction = qobject_cast<QComboBox*>(Control(TerminalControl::Q3ResetAction));

    connectCommands();
    connectSession();
    connectOptionCommands();

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

// What the session reports, shown in the widgets. Every signal comes on this thread, directly.
void CWendrakeTerminalDlg::connectSession() {
    connect(&m_session, &TerminalSession::connectionChanged, this,
            &CWendrakeTerminalDlg::showConnectionState);
    connect(&m_session, &TerminalSession::receiveBlanked, this,
            &CWendrakeTerminalDlg::BlankReceiveView);
    connect(&m_session, &TerminalSession::receivedAppended, this, [this] {
        // The view follows the end; the focus stays where it is.
        if (ReceiveView)
            ReceiveView->contentAppended();
    });
    connect(&m_session, &TerminalSession::captureWriteFailed, this, [this] {
        // The capture ends before the box opens: later reads arrive while it is up.
        ToggleCapture();
        showFileError(QStringLiteral("Error during file capture, closing file"));
    });
    connect(&m_session, &TerminalSession::pinLevelsRead, this,
            &CWendrakeTerminalDlg::showPinLevels);
    // The adapter is gone or no longer answers: disconnect without a message.
    connect(&m_session, &TerminalSession::pinPollFailed, this,
            &CWendrakeTerminalDlg::onAdapterLost);
}

bool CWendrakeTerminalDlg::OnInitDialog() {
    // 1. The template filled the pin lists; the bound members go to the controls.
    UpdateData(false);

    // 2. Icons.
    setWindowIcon(m_appIcon);

    // 3. Settings, with the check marks of the two send options.
    m_session.LoadSettings([this](int itemId, bool checked) {
        DialogBuilder::setMenuChecked(MenuAction(itemId), checked);
    });
    // The options kept beside the settings file.
    m_session.LoadOptions();
    applyOptions();

    // 4. No buffers yet (the session starts without them).

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

    // Nothing may append to the capture file or the texts after this.
    m_session.StopReceiving();
    UnregisterAdapterNotification();
    m_session.Close();
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

    if (QWidget* clear = Control(TerminalControl::ClearReceiveData)) {
        place(clear, clientX(right - 119), clientY(bottom - 35), right - 14, bottom - 15);
        DialogBuilder::fitCaption(qobject_cast<QAbstractButton*>(clear));
    }

    placeFindBar();
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

QString CWendrakeTerminalDlg::connectErrorDetail(TerminalSession::ConnectResult result) {
    if (result == TerminalSession::ConnectResult::NoDeviceSelected)
        return AdapterAccessDetail::NoDeviceDetail(m_platform);
    if (result == TerminalSession::ConnectResult::ConnectFailed)
        return AdapterAccessDetail::ConnectFailedDetail(m_platform, m_session.LastConnectStatus());
    return {};
}

void CWendrakeTerminalDlg::showError(const QString& text, const QString& detail) {
    // The message box gets the normal cursor while it is up.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    if (detail.isEmpty())
        m_prompts.Message(this, text, QStringLiteral("Error"), PromptIcon::Error,
                          PromptButtons::Ok);
    else
        m_prompts.DetailedMessage(this, text, QStringLiteral("Error"), PromptIcon::Error,
                                  PromptButtons::Ok, detail);
    if (busy)
        QApplication::restoreOverrideCursor();
}

// =============================================================================================
// Adapter list and device notices
// =============================================================================================

void CWendrakeTerminalDlg::RefreshDeviceList() {
    const QStringList serials = m_session.AdapterSerials();
    AdapterList->clear();
    AdapterList->addItems(serials);
    AdapterList->setCurrentIndex(serials.isEmpty() ? -1 : 0);
    m_listBuiltWhileConnected = m_session.IsConnected();
}

bool CWendrakeTerminalDlg::OnDeviceChange(std::uint32_t event, const DeviceNotice& notice) {
    if (event != DeviceArrivalEvent && event != DeviceRemoveCompleteEvent)
        return true;
    if (notice.DeviceType != DeviceTypeInterface)
        return true;
    // The first 25 characters, case-sensitive; a shorter name never matches.
    constexpr std::size_t prefixLength = sizeof(AdapterPathPrefix) - 1;
    if (notice.Name.size() >= prefixLength &&
        notice.Name.compare(0, prefixLength, AdapterPathPrefix) == 0) {
        RefreshDeviceList();
        if (event == DeviceArrivalEvent)
            reconnectIfBack();
    }
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
    // The user's own connect or disconnect ends any wait for a lost adapter.
    m_reconnectSerial.clear();
    ToggleConnection();
}

void CWendrakeTerminalDlg::ToggleConnection() {
    BusyCursor busy;
    UpdateData(true);
    if (m_session.IsConnected()) {
        m_session.Disconnect();
    } else {
        const int selected = AdapterList->count() == 0 ? -1 : AdapterList->currentIndex();
        int adapterIndex = selected;
        if (m_listBuiltWhileConnected && selected >= 0) {
            // The adapter opened is the one whose serial was picked.
            QStringList listed;
            for (int i = 0; i < AdapterList->count(); ++i)
                listed << AdapterList->itemText(i);
            adapterIndex = m_session.CurrentAdapterIndex(listed, selected);
        }
        const TerminalSession::ConnectResult result = m_session.Connect(adapterIndex);
        if (result != TerminalSession::ConnectResult::Connected) {
            showError(connectErrorText(result), connectErrorDetail(result));
            m_session.Disconnect();
            if (adapterIndex != selected)
                RefreshDeviceList(); // the picked adapter is gone: show what is there now
        } else {
            m_connectedSerial = AdapterList->itemText(selected);
        }
    }
    UpdateData(false);
}

// The controls of the two connection states; the session has started or stopped everything.
void CWendrakeTerminalDlg::showConnectionState(bool connected) {
    AdapterList->setEnabled(!connected);
    DialogBuilder::setMenuChecked(MenuAction(TerminalMenuItem::Connect), connected);
    if (auto* button = qobject_cast<QAbstractButton*>(Control(TerminalControl::Connect)))
        button->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    Connected = connected ? 1 : 0;
    UpdateConnectionStatus();
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

void CWendrakeTerminalDlg::OnTimer(int id) {
    if (id == PinPollTimerId)
        m_session.PollPins();
}

// Only the three level texts: the other bound controls may be in the user's hands.
void CWendrakeTerminalDlg::showPinLevels(std::uint8_t latch) {
    const auto level = [latch](std::uint8_t bit) {
        return (latch & bit) ? QStringLiteral("High") : QStringLiteral("Low");
    };
    Gpio0State = level(PinLatchBit::Gpio0);
    Gpio1State = level(PinLatchBit::Gpio1);
    Q3ResetState = level(PinLatchBit::Q3Reset);
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
    if (m_session.IsConnected()) {
        const std::optional<UartConfig> uart = m_session.ReadUartConfig();
        StatusText = ConnectionStatusText(uart);

        const int gpio0Index = Gpio0Action->currentIndex();
        const int gpio1Index = Gpio1Action->currentIndex();
        Gpio0Action->clear();
        Gpio1Action->clear();
        // An unreadable configuration shows the GPIO names.
        if (uart && uart->FlowControl != 0) {
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

        if (const std::optional<PinConfig> pins = m_session.ReadPinConfig()) {
            Gpio0Action->setEnabled(isGpioOutput(pins->Gpio0Mode));
            Gpio1Action->setEnabled(isGpioOutput(pins->Gpio1Mode));
            Q3ResetAction->setEnabled(true);
        }
    } else {
        StatusText = QStringLiteral("NOT CONNECTED");
        if (!m_reconnectSerial.isEmpty())
            StatusText += QStringLiteral("  -  Waiting for %1 to reconnect").arg(m_reconnectSerial);
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

void CWendrakeTerminalDlg::OnHelp() {
    HelpOpener(m_prompts).Open(this);
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

void CWendrakeTerminalDlg::AppendReceivedText(const QByteArray& bytes, qint64 arrivalMs) {
    m_session.AppendReceived(bytes, arrivalMs);
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
    if (m_findBar)
        m_findBar->cancel();
    m_session.ClearReceived();
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
        if (!m_session.StartCapture(ReceiveFileName, !IsAsciiFormat())) {
            showFileError(QStringLiteral("Error opening file ") + ReceiveFileName);
            return;
        }
        // The format cannot change while capturing: the file holds one form only.
        setCaptureControlsEnabled(false);
        if (captureButton)
            captureButton->setText(QStringLiteral("Stop Capture and Save File"));
        CaptureActive = 1;
    } else {
        m_session.StopCapture();
        setCaptureControlsEnabled(true);
        if (captureButton)
            captureButton->setText(QStringLiteral("Capture Receive Data to File"));
        CaptureActive = 0;
    }
    UpdateData(false);
}

// The texts are taken here, before the dialog opens: what arrives meanwhile is not saved.
void CWendrakeTerminalDlg::OnSaveAsciiData() {
    SaveTextToFile(QStringLiteral("ascii_data.txt"), m_session.Received().asciiSnapshot());
}

void CWendrakeTerminalDlg::OnSaveHexData() {
    SaveTextToFile(QStringLiteral("hex_data.txt"), m_session.Received().hexSnapshot());
}

void CWendrakeTerminalDlg::SaveTextToFile(const QString& defaultFileName,
                                          const ReceivedText::Snapshot& text) {
    const std::optional<QString> path =
        m_prompts.FileName(this, saveDialogRequest(defaultFileName));
    if (!path)
        return;
    switch (TerminalSession::SaveText(*path, text)) {
    case TerminalSession::SaveResult::Saved:
        break;
    case TerminalSession::SaveResult::CreateFailed:
        showFileError(QStringLiteral("Error creating file ") + *path);
        break;
    case TerminalSession::SaveResult::WriteFailed:
        showFileError(QStringLiteral("Error during saving file to disk"));
        break;
    }
}

// =============================================================================================
// Sending typed data and files
// =============================================================================================

::TransferBox* CWendrakeTerminalDlg::transferBox() const {
    return qobject_cast<::TransferBox*>(Control(TerminalControl::TransferBox));
}

void CWendrakeTerminalDlg::OnSendData() {
    if (!EnsureConnected())
        return;
    ::TransferBox* box = transferBox();
    {
        BusyCursor busy;
        SendText = box ? box->text() : QString();
        // A failed send says nothing and keeps the text, so it can be sent again.
        const LineEnding ending = IsAsciiFormat() && !m_sendingAutomatically
                                      ? m_session.Options().SendLineEnding
                                      : LineEnding::None;
        const bool sent = m_session.SendText(SendText, !IsAsciiFormat(), ending);
        if (sent && Settings().ClearSentTransferData != 0) {
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
    if (Settings().AutoSendTransferText == 0)
        return;
    ::TransferBox* box = transferBox();
    if (!box)
        return;
    ChangeText = box->text();
    if (!ChangeText.isEmpty()) {
        m_sendingAutomatically = true;
        OnSendData();
        m_sendingAutomatically = false;
    }
    box->setText(QString());
}

void CWendrakeTerminalDlg::OnClearSentTransferData() {
    toggleSendOption(Settings().ClearSentTransferData, TerminalMenuItem::ClearSentTransferData);
}

void CWendrakeTerminalDlg::OnAutoSendTransferText() {
    toggleSendOption(Settings().AutoSendTransferText, TerminalMenuItem::AutoSendTransferText);
}

// The menu's own check toggle is overruled: the mark always shows the flag.
void CWendrakeTerminalDlg::toggleSendOption(std::int32_t& flag, int menuItemId) {
    // Any nonzero value is on, as the settings file reads it.
    flag = flag != 0 ? 0 : 1;
    DialogBuilder::setMenuChecked(MenuAction(menuItemId), flag != 0);
    m_session.SaveSettings();
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

    switch (FileTransfer().Open(*path)) {
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
        CProgressDlg progress(&FileTransfer().Progress(), FileTransfer().Length(), m_prompts, this);
        // A worker that cannot start leaves the window at 0% until Cancel.
        FileTransfer().Start();
        if (progress.exec() != QDialog::Accepted)
            FileTransfer().Stop();
    }
    // Counter back to 0, worker joined, block released, file closed.
    FileTransfer().Finish();
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
    if (!m_session.SetPinStates(values, mask))
        showError(QStringLiteral("Pin states could not be set"));
}

void CWendrakeTerminalDlg::OnViewFifoStatus() {
    if (!EnsureConnected())
        return;
    const std::optional<FifoStatus> fifo = m_session.ReadFifoStatus();
    if (!fifo) {
        showError(QStringLiteral("FIFO status could not be retrieved"));
        return;
    }
    const QString text =
        QStringLiteral("FIFO Status:\n\n %1 Bytes in TX Buffer\n %2 Bytes in RX Buffer")
            .arg(fifo->TxCount)
            .arg(fifo->RxCount);
    m_prompts.Message(this, text, QStringLiteral("FIFO Status"), PromptIcon::Information,
                      PromptButtons::Ok);
}

void CWendrakeTerminalDlg::OnPurgeFifo() {
    if (!EnsureConnected())
        return;
    // The counts after the purge follow at once.
    if (!m_session.PurgeFifo()) {
        showError(QStringLiteral("FIFO could not be purged"));
        return;
    }
    OnViewFifoStatus();
}

void CWendrakeTerminalDlg::OnSettings() {
    {
        // The pin poll keeps running on this thread while the dialog is open.
        TerminalSettings& settings = Settings();
        // Owned by the window: window managers then give it a dialog's frame over the window.
        CWendrakeSettingsDlg dialog(m_adapter, &settings.Uart, &settings.Pins,
                                    &settings.ToggleResetOnConnect, m_prompts, this);
        if (dialog.exec() != QDialog::Accepted)
            return;
    }
    UpdateConnectionStatus();
    m_session.StoreAdapterSettings();
}

void CWendrakeTerminalDlg::OnPinTest() {
    // The key watch calls this from any dialog, the pin test itself included.
    if (!m_adapter.IsConnected() || m_pinTestOpen)
        return;
    CPinTestDlg dialog(m_adapter, m_prompts, this);
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

// =============================================================================================
// Find, view and send options, automatic reconnect
// =============================================================================================

void CWendrakeTerminalDlg::connectOptionCommands() {
    namespace Menu = TerminalMenuItem;
    if (ReceiveView) {
        m_findBar = new ReceiveFindBar(ReceiveView, this);
        placeFindBar();
    }
    const auto onMenu = [this](int id, auto handler, const QKeySequence& shortcut = {}) {
        if (QAction* action = MenuAction(id)) {
            connect(action, &QAction::triggered, this, handler);
            if (!shortcut.isEmpty())
                action->setShortcut(shortcut);
        }
    };
    onMenu(Menu::Find, &CWendrakeTerminalDlg::OnFind, QKeySequence(Qt::CTRL | Qt::Key_F));
    onMenu(Menu::FindNext, &CWendrakeTerminalDlg::OnFindNext, QKeySequence(Qt::Key_F3));
    onMenu(Menu::FindPrevious, &CWendrakeTerminalDlg::OnFindPrevious,
           QKeySequence(Qt::SHIFT | Qt::Key_F3));
    onMenu(Menu::FollowNewData, &CWendrakeTerminalDlg::OnFollowNewData);
    onMenu(Menu::HoldWhileReading, &CWendrakeTerminalDlg::OnHoldWhileReading);
    onMenu(Menu::ShowTimestamps, &CWendrakeTerminalDlg::OnShowTimestamps);
    onMenu(Menu::HexDumpLayout, &CWendrakeTerminalDlg::OnHexDumpLayout);
    onMenu(Menu::AutoReconnect, &CWendrakeTerminalDlg::OnAutoReconnect);
    const std::pair<int, LineEnding> endings[] = {
        {Menu::LineEndingNone, LineEnding::None},
        {Menu::LineEndingCr, LineEnding::Cr},
        {Menu::LineEndingLf, LineEnding::Lf},
        {Menu::LineEndingCrLf, LineEnding::CrLf},
    };
    for (const auto& [id, ending] : endings)
        if (QAction* action = MenuAction(id))
            connect(action, &QAction::triggered, this, [this, e = ending] { OnLineEnding(e); });
}

// Check marks and the view follow the options record.
void CWendrakeTerminalDlg::applyOptions() {
    namespace Menu = TerminalMenuItem;
    const TerminalOptions& o = m_session.Options();
    const auto mark = [this](int id, bool on) {
        DialogBuilder::setMenuChecked(MenuAction(id), on);
    };
    mark(Menu::FollowNewData, o.FollowNewData);
    mark(Menu::HoldWhileReading, o.HoldWhileReading);
    mark(Menu::ShowTimestamps, o.ShowTimestamps);
    mark(Menu::HexDumpLayout, o.HexDumpLayout);
    mark(Menu::AutoReconnect, o.AutoReconnect);
    mark(Menu::LineEndingNone, o.SendLineEnding == LineEnding::None);
    mark(Menu::LineEndingCr, o.SendLineEnding == LineEnding::Cr);
    mark(Menu::LineEndingLf, o.SendLineEnding == LineEnding::Lf);
    mark(Menu::LineEndingCrLf, o.SendLineEnding == LineEnding::CrLf);
    if (ReceiveView) {
        ReceiveView->setFollow(o.FollowNewData, o.HoldWhileReading);
        ReceiveView->setTimestamps(o.ShowTimestamps);
        ReceiveView->setHexDump(o.HexDumpLayout);
    }
    if (!o.AutoReconnect && !m_reconnectSerial.isEmpty()) {
        m_reconnectSerial.clear();
        UpdateConnectionStatus();
    }
}

// Every change is kept at once; a file that cannot be written is silent, like the settings.
void CWendrakeTerminalDlg::toggleOption(bool& option) {
    option = !option;
    applyOptions();
    m_session.SaveOptions();
}

void CWendrakeTerminalDlg::OnFollowNewData() {
    toggleOption(m_session.Options().FollowNewData);
}

void CWendrakeTerminalDlg::OnHoldWhileReading() {
    toggleOption(m_session.Options().HoldWhileReading);
}

void CWendrakeTerminalDlg::OnShowTimestamps() {
    toggleOption(m_session.Options().ShowTimestamps);
}

void CWendrakeTerminalDlg::OnHexDumpLayout() {
    toggleOption(m_session.Options().HexDumpLayout);
}

void CWendrakeTerminalDlg::OnAutoReconnect() {
    toggleOption(m_session.Options().AutoReconnect);
}

void CWendrakeTerminalDlg::OnLineEnding(LineEnding ending) {
    m_session.Options().SendLineEnding = ending;
    applyOptions();
    m_session.SaveOptions();
}

void CWendrakeTerminalDlg::OnFind() {
    if (m_findBar)
        m_findBar->open();
}

void CWendrakeTerminalDlg::OnFindNext() {
    if (m_findBar)
        m_findBar->findNext();
}

void CWendrakeTerminalDlg::OnFindPrevious() {
    if (m_findBar)
        m_findBar->findPrevious();
}

// Over the top right corner of the receive view.
void CWendrakeTerminalDlg::placeFindBar() {
    if (!m_findBar || !ReceiveView)
        return;
    const QRect view = ReceiveView->geometry();
    const QSize size = m_findBar->sizeHint();
    const int width = std::min(size.width(), view.width());
    m_findBar->setGeometry(view.right() - width - 16, view.top() + 1, width, size.height());
    m_findBar->raise();
}

void CWendrakeTerminalDlg::onAdapterLost() {
    const QString serial = m_connectedSerial;
    if (m_session.Options().AutoReconnect && !serial.isEmpty())
        m_reconnectSerial = serial;
    ToggleConnection();
}

// An adapter arrived: if it is the one that was lost, connect to it again, the whole sequence.
void CWendrakeTerminalDlg::reconnectIfBack() {
    if (m_reconnectSerial.isEmpty() || m_session.IsConnected())
        return;
    const int index = AdapterList->findText(m_reconnectSerial, Qt::MatchExactly);
    if (index < 0)
        return;
    const QString serial = m_reconnectSerial;
    m_reconnectSerial.clear();
    AdapterList->setCurrentIndex(index);
    ToggleConnection();
    if (!m_session.IsConnected() && m_session.Options().AutoReconnect) {
        // Not this time (the error was shown): wait for its next arrival.
        m_reconnectSerial = serial;
        UpdateConnectionStatus();
    }
}
