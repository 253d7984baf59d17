#include "terminal/CWendrakeTerminalDlg.h"

#include "connection/ConnectionStatusText.h"
#include "dialogs/DialogBuilder.h"
#include "receiveview/ReceiveFindBar.h"
#include "receiveview/ReceiveView.h"
#include "resources/AppIcon.h"
#include "resources/TerminalDialogTemplate.h"
#include "resources/TerminalMenu.h"
#include "terminal/AdapterChooser.h"
#include "terminal/BusyCursor.h"
#include "terminal/HelpOpener.h"
#include "terminal/PinPanel.h"
#include "terminal/TerminalWindowLayout.h"
#include "terminal/TransferBox.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QResizeEvent>

// ---- Construction, initialisation, destruction ----

CWendrakeTerminalDlg::CWendrakeTerminalDlg(CWendrake& adapter, AdapterNoticeSource& notices,
                                           const AccessExplanation& access, UserPrompts& prompts,
                                           SettingsFolder settings, QWidget* parent)
    : QDialog(parent), m_notices(notices), m_access(access), m_prompts(prompts, this),
      m_adapter(adapter), m_session(m_adapter, std::move(settings)), m_appIcon(AppIcon()) {
    DialogBuilder builder(TerminalDialogTemplate());
    installCustomWidgets(builder);
    m_menuBar = DialogBuilder::buildMenuBar(TerminalMenu(), this);
    builder.build(this, m_menuBar);

    m_transferBox = qobject_cast<TransferBox*>(Control(TerminalControl::TransferBox));
    if (m_transferBox)
        m_transferBox->setAccessibleName(QStringLiteral("Transfer Data"));
    m_adapters = std::make_unique<AdapterChooser>(
        qobject_cast<QComboBox*>(Control(TerminalControl::AdapterList)), m_session);
    m_pinPanel = std::make_unique<PinPanel>(this);

    m_receive = std::make_unique<ReceivePanel>(
        qobject_cast<ReceiveView*>(Control(TerminalControl::ReceiveView)), m_session.Received(),
        this);
    connectCommands();
    connectSession();

    OnInitDialog();
    applyMinimumSize();
}

CWendrakeTerminalDlg::~CWendrakeTerminalDlg() {
    OnDestroy();
}

// Widgets of our own in place of the template's plain controls.
void CWendrakeTerminalDlg::installCustomWidgets(DialogBuilder& builder) {
    // The receive view: a view over the stored bytes that lays out only the rows on screen.
    builder.setCustomWidget(TerminalControl::ReceiveView,
                            [](const ControlTemplate&, QWidget* parent) -> QWidget* {
                                return new ReceiveView(parent);
                            });
    // The transfer box: Enter sends, Ctrl+Enter types CR LF, program-set text is no user change.
    builder.setCustomWidget(TerminalControl::TransferBox,
                            [](const ControlTemplate&, QWidget* parent) -> QWidget* {
                                return new TransferBox(parent);
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
    if (m_transferBox)
        connect(m_transferBox, &TransferBox::userTextChanged, this, &Dlg::OnTransferTextChange);
}

// What the session reports, shown in the widgets. Every signal comes on this thread, directly.
void CWendrakeTerminalDlg::connectSession() {
    connect(&m_session, &TerminalSession::connectionChanged, this,
            &CWendrakeTerminalDlg::showConnectionState);
    connect(&m_session, &TerminalSession::receiveBlanked, this,
            [this](bool blank) { m_receive->setBlank(blank); });
    connect(&m_session, &TerminalSession::receivedAppended, this,
            [this] { m_receive->appended(); });
    connect(&m_session, &TerminalSession::captureWriteFailed, this, [this] {
        // The capture ends before the box opens: later reads arrive while it is up.
        ToggleCapture();
        m_prompts.FileError(QStringLiteral("Error during file capture, closing file"));
    });
    connect(&m_session, &TerminalSession::pinLevelsRead, this,
            [this](std::uint8_t latch) { m_pinPanel->showLevels(latch); });
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
    m_session.LoadSettings();
    SetMenuMark(TerminalMenuItem::ClearSentTransferData, Settings().ClearSentTransferData != 0);
    SetMenuMark(TerminalMenuItem::AutoSendTransferText, Settings().AutoSendTransferText != 0);
    // The options kept beside the settings file.
    m_session.LoadOptions();
    m_options.Apply(m_receive->view());

    // 4. No buffers yet (the session starts without them).

    // 5. The fixed-pitch font of the transfer box and the receive view.
    TerminalFont = TerminalWindowLayout::TerminalFont();
    if (m_transferBox)
        m_transferBox->setFont(TerminalFont);
    m_receive->setFont(TerminalFont);

    // 6. Adapter arrival and removal notices.
    RegisterAdapterNotification();

    // 7. ASCII is the starting format.
    if (auto* ascii = qobject_cast<QRadioButton*>(Control(TerminalControl::AsciiFormat)))
        ascii->setChecked(true);

    // 8, 9.
    RefreshDeviceList();
    UpdateConnectionStatus();

    // 10. The transfer box, first Tab stop, takes the focus. No timer and no thread yet.
    if (m_transferBox)
        m_transferBox->setFocus(Qt::OtherFocusReason);
    return true;
}

void CWendrakeTerminalDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_focusSet && m_transferBox) {
        m_focusSet = true;
        m_transferBox->setFocus(Qt::OtherFocusReason);
    }
}

// Escape with received data that is neither saved nor being captured asks first; No keeps the
// window. Exit and the close box end it as they always did.
void CWendrakeTerminalDlg::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel) && m_session.HasUnsavedReceived() &&
        !m_prompts.MayDiscardReceived()) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
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
    // Resizes may come while the template is built, before the panel is there.
    if (!m_receive || !m_receive->view())
        return;
    applyMinimumSize(); // the frame's size is known once the window is shown
    TerminalWindowLayout::FollowOuterEdge(
        this, m_receive->view(), Control(TerminalControl::StatusLine),
        qobject_cast<QAbstractButton*>(Control(TerminalControl::ClearReceiveData)));
    m_receive->placeFindBar();
    update();
}

// No smaller than the size at which every control shows.
void CWendrakeTerminalDlg::applyMinimumSize() {
    if (!m_receive || !m_receive->view())
        return;
    const QSize smallest = TerminalWindowLayout::MinimumSize(
        this, m_receive->view(), Control(TerminalControl::StatusLine),
        qobject_cast<QAbstractButton*>(Control(TerminalControl::ClearReceiveData)),
        m_receive->findBar());
    if (smallest != minimumSize())
        setMinimumSize(smallest);
}

void CWendrakeTerminalDlg::paintEvent(QPaintEvent* event) {
    if (isMinimized())
        TerminalWindowLayout::PaintMinimised(this, m_appIcon);
    else
        QDialog::paintEvent(event);
}

// ---- Controls, bound members ----

QWidget* CWendrakeTerminalDlg::Control(int id) const {
    return DialogBuilder::control(this, id);
}

QAction* CWendrakeTerminalDlg::MenuAction(int id) const {
    return DialogBuilder::menuAction(m_menuBar, id);
}

void CWendrakeTerminalDlg::SetMenuMark(int itemId, bool checked) {
    DialogBuilder::setMenuChecked(MenuAction(itemId), checked);
}

int CWendrakeTerminalDlg::ListPosition(int controlId) const {
    // A list counts whether enabled or not.
    const auto* list = qobject_cast<const QComboBox*>(Control(controlId));
    return list ? list->currentIndex() : -1;
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
}

// ---- Adapter list and device notices ----

void CWendrakeTerminalDlg::RefreshDeviceList() {
    m_adapters->refresh();
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
        const AdapterChooser::Choice choice = m_adapters->choice();
        const TerminalSession::ConnectResult result = m_session.Connect(choice.adapterIndex);
        if (result != TerminalSession::ConnectResult::Connected) {
            m_prompts.ConnectFailed(result, m_access, m_session.LastConnectStatus());
            m_session.Disconnect();
            if (choice.adapterIndex != choice.entry)
                RefreshDeviceList(); // the picked adapter is gone: show what is there now
        } else {
            m_session.SetConnectedSerial(m_adapters->serialOf(choice.entry));
        }
    }
    UpdateData(false);
}

// The controls of the two connection states; the session has started or stopped everything.
void CWendrakeTerminalDlg::showConnectionState(bool connected) {
    m_adapters->setEnabled(!connected);
    SetMenuMark(TerminalMenuItem::Connect, connected);
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
    if (!m_adapters->select(serial))
        return;
    m_session.StopWaitingForReconnect();
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
        m_pinPanel->showConnected(uart, m_session.ReadPinConfig());
    } else {
        StatusText = NotConnectedStatusText(m_session.ReconnectSerial());
        m_pinPanel->showDisconnected();
    }
    UpdateData(false);
}

// ---- Help and About ----

void CWendrakeTerminalDlg::OnHelp() {
    HelpOpener(m_prompts.Prompts()).Open(this);
}

// ---- Receive view ----

void CWendrakeTerminalDlg::OnDataFormat() {
    m_receive->showFormat(IsAsciiFormat(), FormatSwitchCaret);
}

void CWendrakeTerminalDlg::OnClear() {
    m_receive->endFind();
    m_session.ClearReceived();
    m_receive->reset();
}
