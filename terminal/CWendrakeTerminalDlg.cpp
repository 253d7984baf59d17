#include "terminal/CWendrakeTerminalDlg.h"

#include "connection/ConnectionStatusText.h"
#include "connection/PinActionLists.h"
#include "connection/ReceiveDataFile.h"
#include "dialogs/DialogBuilder.h"
#include "receiveview/ReceiveFindBar.h"
#include "receiveview/ReceiveView.h"
#include "resources/AppIcon.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/BusyCursor.h"
#include "terminal/HelpOpener.h"
#include "terminal/TerminalWindowLayout.h"
#include "terminal/TransferBox.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QResizeEvent>
#include <QStyle>

namespace {

// A position past the end selects nothing.
void selectEntry(QComboBox* list, int position) {
    list->setCurrentIndex(position < list->count() ? position : -1);
}

void refill(QComboBox* list, const QStringList& entries, int selection) {
    list->clear();
    list->addItems(entries);
    selectEntry(list, selection);
}

} // namespace

// ---- Construction, initialisation, destruction ----

CWendrakeTerminalDlg::CWendrakeTerminalDlg(CWendrake& adapter, AdapterNoticeSource& notices,
                                           UserPrompts& prompts, SettingsFolder settings,
                                           QWidget* parent)
    : QDialog(parent), m_notices(notices), m_prompts(prompts, this), m_adapter(adapter),
      m_session(m_adapter, std::move(settings)), m_appIcon(AppIcon()) {
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
    if (ReceiveView) {
        m_findBar = new ReceiveFindBar(ReceiveView, this);
        placeFindBar();
    }

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
    using Handler = void (CWendrakeTerminalDlg::*)();
    using Dlg = CWendrakeTerminalDlg;
    using namespace TerminalControl;
    namespace Menu = TerminalMenuItem;
    const std::pair<int, Handler> buttons[] = {{Connect, &Dlg::OnConnect},
                                               {AsciiFormat, &Dlg::OnDataFormat},
                                               {HexFormat, &Dlg::OnDataFormat},
                                               {ClearReceiveData, &Dlg::OnClear},
                                               {BrowseReceiveFile, &Dlg::OnBrowseReceiveFile},
                                               {Capture, &Dlg::OnCapture},
                                               {SendData, &Dlg::OnSendData},
                                               {SendFile, &Dlg::OnSendFile},
                                               {SetPinStates, &Dlg::OnSetPinStates}};
    const std::pair<int, Handler> menus[] = {
        {Menu::Connect, &Dlg::OnConnect},
        {Menu::Exit, &Dlg::OnExit},
        {Menu::Help, &Dlg::OnHelp},
        {Menu::About, &Dlg::OnAbout},
        {Menu::Clear, &Dlg::OnClear},
        {Menu::SaveAsciiData, &Dlg::OnSaveAsciiData},
        {Menu::SaveHexData, &Dlg::OnSaveHexData},
        {Menu::ClearSentTransferData, &Dlg::OnClearSentTransferData},
        {Menu::AutoSendTransferText, &Dlg::OnAutoSendTransferText},
        {Menu::ViewFifoStatus, &Dlg::OnViewFifoStatus},
        {Menu::PurgeFifo, &Dlg::OnPurgeFifo},
        {Menu::Settings, &Dlg::OnSettings},
        {Menu::Find, &Dlg::OnFind},
        {Menu::FindNext, &Dlg::OnFindNext},
        {Menu::FindPrevious, &Dlg::OnFindPrevious},
        {Menu::FollowNewData, &Dlg::OnFollowNewData},
        {Menu::HoldWhileReading, &Dlg::OnHoldWhileReading},
        {Menu::ShowTimestamps, &Dlg::OnShowTimestamps},
        {Menu::HexDumpLayout, &Dlg::OnHexDumpLayout},
        {Menu::AutoReconnect, &Dlg::OnAutoReconnect}};
    const std::pair<int, QKeySequence> shortcuts[] = {
        {Menu::Find, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {Menu::FindNext, QKeySequence(Qt::Key_F3)},
        {Menu::FindPrevious, QKeySequence(Qt::SHIFT | Qt::Key_F3)}};
    const std::pair<int, LineEnding> endings[] = {{Menu::LineEndingNone, LineEnding::None},
                                                  {Menu::LineEndingCr, LineEnding::Cr},
                                                  {Menu::LineEndingLf, LineEnding::Lf},
                                                  {Menu::LineEndingCrLf, LineEnding::CrLf}};
    for (const auto& [id, handler] : buttons)
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id)))
            connect(button, &QAbstractButton::clicked, this, handler);
    for (const auto& [id, handler] : menus)
        if (QAction* action = MenuAction(id))
            connect(action, &QAction::triggered, this, handler);
    for (const auto& [id, shortcut] : shortcuts)
        if (QAction* action = MenuAction(id))
            action->setShortcut(shortcut);
    for (const auto& [id, ending] : endings)
        if (QAction* action = MenuAction(id))
            connect(action, &QAction::triggered, this, [this, e = ending] { OnLineEnding(e); });
    if (::TransferBox* box = Transfer())
        connect(box, &::TransferBox::userTextChanged, this, &Dlg::OnTransferTextChange);
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
        m_prompts.FileError(QStringLiteral("Error during file capture, closing file"));
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
    m_options.Apply(ReceiveView);

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

// ---- Layout and painting ----

void CWendrakeTerminalDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    OnSize();
}

// The receive view, the status line and Clear Receive Data follow the outer window edge.
void CWendrakeTerminalDlg::OnSize() {
    if (!ReceiveView)
        return;
    TerminalWindowLayout::FollowOuterEdge(
        this, ReceiveView, Control(TerminalControl::StatusLine),
        qobject_cast<QAbstractButton*>(Control(TerminalControl::ClearReceiveData)));
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

// ---- Controls, bound members ----

QWidget* CWendrakeTerminalDlg::Control(int id) const {
    return DialogBuilder::control(this, id);
}

QAction* CWendrakeTerminalDlg::MenuAction(int id) const {
    return DialogBuilder::menuAction(m_menuBar, id);
}

::TransferBox* CWendrakeTerminalDlg::Transfer() const {
    return qobject_cast<::TransferBox*>(Control(TerminalControl::TransferBox));
}

bool CWendrakeTerminalDlg::IsAsciiFormat() const {
    const auto* ascii = qobject_cast<QAbstractButton*>(Control(TerminalControl::AsciiFormat));
    return ascii && ascii->isChecked();
}

void CWendrakeTerminalDlg::UpdateData(bool saveAndValidate) {
    const bool save = saveAndValidate;
    const auto check = [this, save](int id, int& member) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id)); button && save)
            member = button->isChecked() ? 1 : 0;
        else if (button)
            button->setChecked(member != 0);
    };
    const auto label = [this, save](int id, QString& member) {
        if (auto* text = qobject_cast<QLabel*>(Control(id)); text && save)
            member = text->text();
        else if (text)
            text->setText(member);
    };

    using namespace TerminalControl;
    check(Connect, Connected);
    label(StatusLine, StatusText);
    if (auto* edit = qobject_cast<QLineEdit*>(Control(ReceiveFile)); edit && save)
        ReceiveFileName = edit->text();
    else if (edit)
        edit->setText(ReceiveFileName);
    check(Capture, CaptureActive);
    label(TerminalControl::Gpio0Label, Gpio0Label);
    label(TerminalControl::Gpio0State, Gpio0State);
    label(TerminalControl::Gpio1Label, Gpio1Label);
    label(TerminalControl::Gpio1State, Gpio1State);
    label(TerminalControl::Q3ResetState, Q3ResetState);
}

// ---- Adapter list and device notices ----

void CWendrakeTerminalDlg::RefreshDeviceList() {
    refill(AdapterList, m_session.AdapterSerials(), 0);
    m_listBuiltWhileConnected = m_session.IsConnected();
}

bool CWendrakeTerminalDlg::OnDeviceChange(std::uint32_t event, const DeviceNotice& notice) {
    if (AdapterNoticeSource::IsAdapterNotice(event, notice)) {
        RefreshDeviceList();
        if (event == DeviceArrivalEvent)
            reconnectIfBack();
    }
    return true;
}

void CWendrakeTerminalDlg::RegisterAdapterNotification() {
    DeviceNotification = m_notices.startNotices(
        [this](const DeviceNotice& notice) { OnDeviceChange(notice.EventCode, notice); });
}

void CWendrakeTerminalDlg::UnregisterAdapterNotification() {
    if (!DeviceNotification)
        return;
    m_notices.stopNotices();
    DeviceNotification = false;
}

// ---- Connection lifecycle ----

void CWendrakeTerminalDlg::OnConnect() {
    // The user's own connect or disconnect ends any wait for a lost adapter.
    m_session.StopWaitingForReconnect();
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
            m_prompts.ConnectFailed(result, m_notices, m_session.LastConnectStatus());
            m_session.Disconnect();
            if (adapterIndex != selected)
                RefreshDeviceList(); // the picked adapter is gone: show what is there now
        } else {
            m_session.SetConnectedSerial(AdapterList->itemText(selected));
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
    if (!m_prompts.AskToConnect())
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

// The pin poll found the adapter gone: disconnect, and wait for it when asked to.
void CWendrakeTerminalDlg::onAdapterLost() {
    m_session.NoteAdapterLost();
    ToggleConnection();
}

// An adapter arrived: if it is the one that was lost, connect to it again, the whole sequence.
void CWendrakeTerminalDlg::reconnectIfBack() {
    const QString serial = m_session.ReconnectSerial();
    if (serial.isEmpty() || m_session.IsConnected())
        return;
    const int index = AdapterList->findText(serial, Qt::MatchExactly);
    if (index < 0)
        return;
    m_session.StopWaitingForReconnect();
    AdapterList->setCurrentIndex(index);
    ToggleConnection();
    if (!m_session.IsConnected() && m_session.Options().AutoReconnect) {
        // Not this time (the error was shown): wait for its next arrival.
        m_session.WaitForReconnect(serial);
        UpdateConnectionStatus();
    }
}

// ---- Status line and pin action lists ----

void CWendrakeTerminalDlg::UpdateConnectionStatus() {
    if (m_session.IsConnected()) {
        const std::optional<UartConfig> uart = m_session.ReadUartConfig();
        StatusText = ConnectionStatusText(uart);
        showPinActionLists(uart);
        if (const std::optional<PinConfig> pins = m_session.ReadPinConfig()) {
            Gpio0Action->setEnabled(PinActionLists::IsGpioOutput(pins->Gpio0Mode));
            Gpio1Action->setEnabled(PinActionLists::IsGpioOutput(pins->Gpio1Mode));
            Q3ResetAction->setEnabled(true);
        }
    } else {
        StatusText = NotConnectedStatusText(m_session.ReconnectSerial());
        Gpio0Label = QStringLiteral("GPIO0");
        Gpio1Label = QStringLiteral("GPIO1");
        Gpio0State.clear();
        Gpio1State.clear();
        Q3ResetState.clear();
        for (QComboBox* list : {Gpio0Action, Gpio1Action, Q3ResetAction}) {
            selectEntry(list, PinActionLists::DoNotWrite);
            list->setEnabled(false);
        }
    }
    UpdateData(false);
}

// The GPIO lists of a connected adapter; an unreadable configuration shows the GPIO names.
void CWendrakeTerminalDlg::showPinActionLists(const std::optional<UartConfig>& uart) {
    // Flow control's names start at "Do Not Write"; the GPIO lists keep their positions.
    const bool flowControl = PinActionLists::UsesFlowControlNames(uart);
    const int gpio0Index = flowControl ? PinActionLists::DoNotWrite : Gpio0Action->currentIndex();
    const int gpio1Index = flowControl ? PinActionLists::DoNotWrite : Gpio1Action->currentIndex();
    const PinActionLists::Pin gpio0 = PinActionLists::Gpio(0, uart);
    const PinActionLists::Pin gpio1 = PinActionLists::Gpio(1, uart);
    refill(Gpio0Action, gpio0.entries, gpio0Index);
    refill(Gpio1Action, gpio1.entries, gpio1Index);
    Gpio0Label = gpio0.label;
    Gpio1Label = gpio1.label;
}

// ---- Help and About ----

void CWendrakeTerminalDlg::OnHelp() {
    HelpOpener(m_prompts.Prompts()).Open(this);
}

// ---- Receive view and capture ----

void CWendrakeTerminalDlg::BlankReceiveView(bool blank) {
    if (ReceiveView)
        ReceiveView->setBlank(blank);
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
    const std::optional<QString> path = m_prompts.SaveFileName(QStringLiteral("receive_data.txt"));
    if (!path)
        return;
    ReceiveFileName = *path;
    UpdateData(false);
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
            !m_prompts.MayOverwrite(ReceiveFileName))
            return;
        if (!m_session.StartCapture(ReceiveFileName, !IsAsciiFormat())) {
            m_prompts.FileError(QStringLiteral("Error opening file ") + ReceiveFileName);
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
    if (const std::optional<QString> path = m_prompts.SaveFileName(defaultFileName))
        m_prompts.SaveFailed(TerminalSession::SaveText(*path, text), *path);
}

// ---- Find and options ----

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

void CWendrakeTerminalDlg::placeFindBar() {
    TerminalWindowLayout::PlaceFindBar(m_findBar, ReceiveView);
}
