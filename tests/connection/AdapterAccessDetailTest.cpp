#include "connection/AdapterAccessDetail.h"
#include "connection/PlatformNoticeSource.h"
#include "device/platform/HidrawPlatform.h"
#include "dialogs/QtUserPrompts.h"
#include "terminal/CWendrakeTerminalDlg.h"
#include "tests/support/RecordingPrompts.h"
#include "tests/support/UnprivilegedFileAccess.h"
#include "tests/support/WhenModal.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using Reason = HidAccessProblem::Reason;
using Problems = std::vector<HidAccessProblem>;

const QString Rule = "/usr/lib/udev/rules.d/70-wendrake-terminal.rules";
const QString PermissionFixWithRule =
    "The udev rule /usr/lib/udev/rules.d/70-wendrake-terminal.rules gives the user at this "
    "computer's screen, and the members of the group plugdev, access to the adapter. Unplug and "
    "replug the adapter; if it is still refused, log out and in again. Logged in from elsewhere? "
    "Join the group with \"sudo usermod -aG plugdev $USER\" and log in again.";
const QString PermissionFixWithoutRule =
    "No udev rule gives you access to the adapter. Install the wendrake-terminal package, or copy "
    "its rule 70-wendrake-terminal.rules into /etc/udev/rules.d/, then unplug and replug the "
    "adapter.";
const QString InUseFix = "Close the other program (another Wendrake Terminal, for example), then "
                         "unplug and replug the adapter so that it is listed again.";

struct DetailCase {
    const char* name;
    std::optional<Problems> problems;
    QString rule;
    QString expected;
};

class NoDeviceDetailText : public ::testing::TestWithParam<DetailCase> {};

TEST_P(NoDeviceDetailText, Exact) {
    const DetailCase& c = GetParam();
    EXPECT_EQ(AdapterAccessDetail::NoDeviceDetail(c.problems, c.rule), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, NoDeviceDetailText,
    ::testing::Values(
        DetailCase{"PlatformCannotTell", std::nullopt, Rule, ""},
        DetailCase{"NoAdapter", Problems{}, Rule,
                   "No Wendrake adapter (USB e7a2:4d15) is plugged in."},
        DetailCase{"NotAllowedWithRule", Problems{{"/dev/hidraw3", Reason::Permission, EACCES}},
                   Rule,
                   "Adapters are plugged in, but none can be opened:\n\n"
                   "/dev/hidraw3: you may not open this adapter (Permission denied).\n\n" +
                       PermissionFixWithRule},
        DetailCase{"NotAllowedWithoutRule", Problems{{"/dev/hidraw0", Reason::Permission, EPERM}},
                   "",
                   "Adapters are plugged in, but none can be opened:\n\n"
                   "/dev/hidraw0: you may not open this adapter (Operation not permitted).\n\n" +
                       PermissionFixWithoutRule},
        DetailCase{"HeldElsewhere", Problems{{"/dev/hidraw5", Reason::InUse, EWOULDBLOCK}}, "",
                   "Adapters are plugged in, but none can be opened:\n\n"
                   "/dev/hidraw5: another program has this adapter open.\n\n" +
                       InUseFix},
        DetailCase{"AllThreeKindsEachFixOnce",
                   Problems{{"/dev/hidraw1", Reason::InUse, EWOULDBLOCK},
                            {"/dev/hidraw2", Reason::Permission, EACCES},
                            {"/dev/hidraw4", Reason::Other, ENOENT},
                            {"/dev/hidraw7", Reason::Permission, EACCES}},
                   Rule,
                   "Adapters are plugged in, but none can be opened:\n\n"
                   "/dev/hidraw1: another program has this adapter open.\n"
                   "/dev/hidraw2: you may not open this adapter (Permission denied).\n"
                   "/dev/hidraw4: this adapter cannot be opened (No such file or directory).\n"
                   "/dev/hidraw7: you may not open this adapter (Permission denied).\n\n" +
                       PermissionFixWithRule + "\n\n" + InUseFix}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConnectCase {
    const char* name;
    WendrakeStatus status;
    std::optional<Problems> problems;
    std::string systemError;
    QString expected;
};

class ConnectFailedDetailText : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectFailedDetailText, Exact) {
    const ConnectCase& c = GetParam();
    EXPECT_EQ(AdapterAccessDetail::ConnectFailedDetail(c.status, c.problems, c.systemError, ""),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ConnectFailedDetailText,
    ::testing::Values(
        ConnectCase{"HandshakeWithSystemReason", WendrakeCommandFailed, std::nullopt,
                    "HIDIOCSFEATURE /dev/hidraw3: Broken pipe",
                    "The adapter did not answer the connect handshake.\n\n"
                    "System error: HIDIOCSFEATURE /dev/hidraw3: Broken pipe"},
        ConnectCase{"RefusedWithoutSystemReason", WendrakeModeRefused, std::nullopt, "",
                    "The adapter refused the connection."},
        ConnectCase{"Unsupported", WendrakeUnsupportedDevice, std::nullopt, "",
                    "The device's report sizes do not fit the adapter's commands and data "
                    "reports."},
        // The open walked over other devices: their failures are no reason, the nodes are.
        ConnectCase{"OpenTakenMeanwhile", WendrakeOpenFailed,
                    Problems{{"/dev/hidraw2", Reason::InUse, EWOULDBLOCK}},
                    "open /dev/hidraw0: Permission denied",
                    "The adapter could not be opened.\n\n"
                    "/dev/hidraw2: another program has this adapter open.\n\n" +
                        InUseFix},
        ConnectCase{"OpenAndGone", WendrakeOpenFailed, Problems{}, "x",
                    "The adapter could not be opened. It may have been unplugged."},
        ConnectCase{"UnknownStatus", WendrakeStatus(42), std::nullopt, "",
                    "The connection failed with status 42."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AdapterRule, FirstFolderHoldingTheRuleWins) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList folders = {dir.filePath("etc"), dir.filePath("usr")};
    EXPECT_EQ(AdapterAccessDetail::InstalledRule(folders), QString());
    ASSERT_TRUE(QDir().mkpath(folders[1]));
    QFile rule(folders[1] + "/70-wendrake-terminal.rules");
    ASSERT_TRUE(rule.open(QIODevice::WriteOnly));
    EXPECT_EQ(AdapterAccessDetail::InstalledRule(folders), rule.fileName());
}

// ---------------------------------------------------------------- real nodes, ordinary user

// A sysfs and /dev of our own: node N is an adapter or another device, its /dev entry a file.
class AdapterNodes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(UnprivilegedFileAccess::Share(m_dir.path(), 0755));
        ASSERT_TRUE(QDir().mkpath(m_dir.filePath("dev")));
        ASSERT_TRUE(UnprivilegedFileAccess::Share(m_dir.filePath("dev"), 0755));
    }
    void TearDown() override {
        for (int fd : m_held)
            ::close(fd);
    }

    QString node(unsigned n) const { return m_dir.filePath("dev/hidraw" + QString::number(n)); }
    std::string sys() const { return m_dir.filePath("sys").toStdString(); }
    std::string dev() const { return m_dir.filePath("dev").toStdString(); }

    // mode: the node's permission bits for the test user (root's own node when not shared).
    void addNode(unsigned n, bool adapter, mode_t mode, bool shared) {
        const QString device =
            m_dir.filePath("sys/class/hidraw/hidraw" + QString::number(n) + "/device");
        ASSERT_TRUE(QDir().mkpath(device));
        QFile uevent(device + "/uevent");
        ASSERT_TRUE(uevent.open(QIODevice::WriteOnly));
        uevent.write(adapter ? "HID_ID=0003:0000E7A2:00004D15\nHID_UNIQ=WDK1\n"
                             : "HID_ID=0003:0000046D:0000C077\n");
        uevent.close();
        QFile file(node(n));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        ASSERT_TRUE(shared ? UnprivilegedFileAccess::Share(node(n), mode)
                           : UnprivilegedFileAccess::Restrict(node(n), mode));
    }
    // Another program's lock on the node.
    void holdElsewhere(unsigned n) {
        const int fd = ::open(QFile::encodeName(node(n)).constData(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        m_held.push_back(fd);
    }

    QTemporaryDir m_dir;
    std::vector<int> m_held;
};

TEST_F(AdapterNodes, ProbeNamesNodesNotAllowedAndHeldElsewhereOnly) {
    addNode(0, false, 0600, false); // not an adapter: never mentioned, even though refused
    addNode(1, true, 0600, false);  // an adapter of root's
    addNode(2, true, 0666, true);   // an adapter that another program holds
    addNode(3, true, 0666, true);   // a free adapter: no problem
    holdElsewhere(2);
    HidrawPlatform platform(sys(), dev());
    std::optional<Problems> problems;
    {
        UnprivilegedFileAccess user;
        ASSERT_TRUE(user.active());
        problems = platform.inaccessibleInterfaces(WendrakeVendorId, WendrakeProductId);
    }
    ASSERT_TRUE(problems);
    EXPECT_EQ(*problems, (Problems{{node(1).toStdString(), Reason::Permission, EACCES},
                                   {node(2).toStdString(), Reason::InUse, EWOULDBLOCK}}));
    // The free adapter was given back: it can be opened for good.
    const HidHandle handle = platform.openExclusive(node(3).toStdString());
    EXPECT_NE(handle, InvalidHidHandle);
    platform.close(handle);
}

TEST_F(AdapterNodes, ConnectWithNoAdapterListedExplainsTheNodeNotAllowed) {
    addNode(0, true, 0600, false);
    HidrawPlatform platform(sys(), dev());
    RecordingPrompts prompts;
    QTemporaryDir settings;
    CWendrake wendrake(platform);
    PlatformNoticeSource notices(platform);
    AccessExplanation access(platform);
    CWendrakeTerminalDlg window(wendrake, notices, access, prompts, settings.path());
    {
        UnprivilegedFileAccess user;
        ASSERT_TRUE(user.active());
        window.RefreshDeviceList();
        window.ToggleConnection();
    }
    ASSERT_EQ(prompts.Prompts.size(), 1u);
    EXPECT_EQ(prompts.Prompts[0].Text, "No device selected");
    EXPECT_EQ(prompts.Prompts[0].Caption, "Error");
    const QString rule = AdapterAccessDetail::InstalledRule();
    EXPECT_EQ(prompts.Prompts[0].Explanation,
              AdapterAccessDetail::NoDeviceDetail(
                  Problems{{node(0).toStdString(), Reason::Permission, EACCES}}, rule));
    EXPECT_EQ(prompts.Prompts[0].Detail, "");
    EXPECT_TRUE(prompts.Prompts[0].Explanation.startsWith(
        "Adapters are plugged in, but none can be opened:\n\n" + node(0) +
        ": you may not open this adapter (Permission denied).\n\n"));
}

// The real box of "No device selected": the message as it always read, and the reason under it
// in view at once, not behind "Show Details...".
class NoDeviceBox : public AdapterNodes, public ::testing::WithParamInterface<bool> {};

TEST_P(NoDeviceBox, ShowsTheReasonUnderTheMessage) {
    const bool heldElsewhere = GetParam();
    if (heldElsewhere) {
        addNode(0, true, 0666, true);
        holdElsewhere(0);
    }
    HidrawPlatform platform(sys(), dev());
    QtUserPrompts prompts;
    QTemporaryDir settings;
    CWendrake wendrake(platform);
    PlatformNoticeSource notices(platform);
    AccessExplanation access(platform);
    CWendrakeTerminalDlg window(wendrake, notices, access, prompts, settings.path());
    window.show();
    window.RefreshDeviceList();
    QString text, explanation, detail;
    bool explanationShown = false;
    whenModal([&](QWidget* modal) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            text = box->text();
            explanation = box->informativeText();
            detail = box->detailedText();
            for (const QLabel* label : box->findChildren<QLabel*>())
                explanationShown |= label->isVisible() && label->text() == explanation;
        }
        modal->close();
    });
    window.ToggleConnection();
    EXPECT_EQ(text, "No device selected");
    EXPECT_EQ(explanation, heldElsewhere
                               ? "Adapters are plugged in, but none can be opened:\n\n" + node(0) +
                                     ": another program has this adapter open.\n\n" + InUseFix
                               : QString("No Wendrake adapter (USB e7a2:4d15) is plugged in."));
    EXPECT_TRUE(explanationShown);
    EXPECT_EQ(detail, "");
    EXPECT_FALSE(window.Adapter().IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Adapters, NoDeviceBox, ::testing::Bool(), [](const auto& info) {
    return std::string(info.param ? "OneHeldElsewhere" : "NonePlugged");
});

} // namespace
