#include "bridge/PtyFace.h"

#include "bridge/AdapterPort.h"
#include "bridge/Bridge.h"
#include "bridge/BridgeLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

// termios2 and BOTHER: any rate, which the glibc termios cannot read back.
#include <asm/termbits.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Status bytes of a packet-mode read (the first byte; 0 means data follows).
constexpr unsigned char PacketFlushRead = 0x01;
constexpr unsigned char PacketFlushWrite = 0x02;
constexpr unsigned char PacketNoStop = 0x10;
constexpr unsigned char PacketDoStop = 0x20;
constexpr unsigned char PacketIoctl = 0x40;
constexpr char Xon = 0x11;
constexpr char Xoff = 0x13;
constexpr int ReadSize = 4096;
// Reads per readable notice, so a flooding client leaves room for the other direction.
constexpr int ReadsPerNotice = 16;

QString systemError(const char* call, int error) {
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(strerror(error)));
}

bool readTermios(int fd, termios2* t) {
    return ::ioctl(fd, TCGETS2, t) == 0;
}

// The classic code of a rate that has one, else BOTHER. A client that saves the line with the
// classic calls and puts it back at its exit sees no rate in BOTHER and would leave its own.
tcflag_t rateCode(std::uint32_t rate) {
    static constexpr struct {
        std::uint32_t rate;
        tcflag_t code;
    } Codes[] = {{50, B50},           {75, B75},           {110, B110},         {134, B134},
                 {150, B150},         {200, B200},         {300, B300},         {600, B600},
                 {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
                 {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
                 {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
                 {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
                 {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
                 {3500000, B3500000}, {4000000, B4000000}};
    for (const auto& c : Codes) {
        if (c.rate == rate)
            return c.code;
    }
    return BOTHER;
}
} // namespace

PtyFace::PtyFace(Bridge& bridge, QObject* parent) : BridgeFace(parent), m_bridge(bridge) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettingsSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &PtyFace::readSettings);
    m_recheck.setSingleShot(true);
    m_recheck.setInterval(RecheckMs);
    connect(&m_recheck, &QTimer::timeout, this, &PtyFace::onRecheck);
}

PtyFace::~PtyFace() {
    if (m_holding)
        m_bridge.release(this);
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_nodeNotifier.reset();
    // Only our own link goes: a newer bridge may have put its link there since.
    if (!m_linkPath.isEmpty() && QFile::symLinkTarget(m_linkPath) == m_nodePath)
        QFile::remove(m_linkPath);
    if (m_inotify >= 0)
        ::close(m_inotify);
    if (m_master >= 0)
        ::close(m_master);
}

QString PtyFace::defaultLinkPath(const QString& serial) {
    QString base = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/wendrake/tty-") + serial;
}

bool PtyFace::open(const QString& linkPath, QString* error) {
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0)
        return fail(systemError("posix_openpt", errno));
    char name[128];
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 ||
        ::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(systemError("unlockpt", errno));
    m_nodePath = QString::fromLocal8Bit(name);
    // The node carries everything the adapter receives: for this user only.
    if (::chmod(name, 0600) != 0)
        return fail(systemError("chmod", errno));
    int on = 1;
    if (::ioctl(m_master, TIOCPKT, &on) != 0)
        return fail(systemError("TIOCPKT", errno));

    // Raw, at the adapter's rate, so a client that sets nothing gets the bytes unchanged and
    // stty shows the adapter's settings.
    termios2 t{};
    if (!readTermios(m_master, &t))
        return fail(systemError("TCGETS2", errno));
    const UartConfig line = m_bridge.port().line();
    t.c_iflag = 0;
    t.c_oflag = 0;
    t.c_lflag = EXTPROC;
    t.c_cflag &= ~(CBAUD | CIBAUD | CSTOPB | CRTSCTS);
    t.c_cflag |= rateCode(line.BaudRate) | CLOCAL | CREAD | (line.StopBits ? CSTOPB : 0) |
                 (line.FlowControl ? CRTSCTS : 0);
    t.c_ispeed = t.c_ospeed = line.BaudRate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::ioctl(m_master, TCSETS2, &t) != 0)
        return fail(systemError("TCSETS2", errno));
    // A pty that was never opened reports no hang-up; after one open and close it does, which
    // is how the master tells whether a client has the node open.
    const int probe = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (probe < 0)
        return fail(systemError("open", errno));
    ::close(probe);
    // The status bytes of our own set-up are not the client's.
    char discard[64];
    while (::read(m_master, discard, sizeof discard) > 0) {
    }

    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0 || ::inotify_add_watch(m_inotify, name, IN_OPEN | IN_CLOSE) < 0)
        return fail(systemError("inotify", errno));

    const QFileInfo link(linkPath);
    if (!QDir().mkpath(link.absolutePath()))
        return fail(QStringLiteral("cannot make the folder %1").arg(link.absolutePath()));
    if (link.exists() || link.isSymLink()) {
        if (!link.isSymLink())
            return fail(QStringLiteral("%1 exists and is not a link").arg(linkPath));
    }
    // A new link beside the old one, then renamed over it: the path never dangles.
    const QByteArray target = QFile::encodeName(linkPath);
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    if (::symlink(name, temporary.constData()) != 0)
        return fail(systemError("symlink", errno));
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int e = errno;
        ::unlink(temporary.constData());
        return fail(systemError("rename", e));
    }
    m_linkPath = linkPath;

    m_readNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    m_readNotifier->setEnabled(false);
    connect(m_readNotifier.get(), &QSocketNotifier::activated, this, &PtyFace::onMasterReadable);
    m_writeNotifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, &PtyFace::onMasterWritable);
    m_nodeNotifier = std::make_unique<QSocketNotifier>(m_inotify, QSocketNotifier::Read);
    connect(m_nodeNotifier.get(), &QSocketNotifier::activated, this, &PtyFace::onNodeEvent);
    return true;
}

QString PtyFace::clientDescription() const {
    return QStringLiteral("a program on %1").arg(m_linkPath);
}

void PtyFace::onNodeEvent() {
    alignas(inotify_event) char events[1024];
    bool closed = false;
    for (ssize_t n; (n = ::read(m_inotify, events, sizeof events)) > 0;) {
        for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            closed |= (event->mask & IN_CLOSE) != 0;
            at += sizeof(inotify_event) + event->len;
        }
    }
    checkClient();
    // The close is announced just before the node is released: look again shortly.
    m_recheckTries = 0;
    if (closed && m_clientOpen)
        m_recheck.start();
}

void PtyFace::onRecheck() {
    checkClient();
    if (m_clientOpen && ++m_recheckTries < RecheckTries)
        m_recheck.start();
}

void PtyFace::checkClient() {
    pollfd p{m_master, POLLIN, 0};
    ::poll(&p, 1, 0);
    const bool hungUp = p.revents & POLLHUP;
    if (m_clientOpen) {
        if (hungUp) {
            clientClosed();
        } else if (!m_holding) {
            // Refused before, and the adapter may be free now: a new opener (or the refused
            // one still holding the node) gets it.
            m_holding = true;
            if (m_bridge.claim(this)) {
                m_refusal.clear();
                readSettings();
                readWaiting();
                updateReading();
            } else {
                m_holding = false;
            }
        }
        return;
    }
    // A quick client (stty, echo > link) may have come and gone since the last look: what it
    // left in the master still counts.
    if (hungUp && !(p.revents & POLLIN))
        return;
    m_clientOpen = true;
    m_holding = true; // deliver() may be called from inside claim()
    if (!m_bridge.claim(this)) {
        m_holding = false;
        ++m_refusedOpens;
        // What it did so far (most programs flush their input at open) comes before the message.
        readWaiting();
        m_refusal = QStringLiteral("wendrake: the adapter is in use by %1\r\n")
                        .arg(m_bridge.holderDescription())
                        .toUtf8();
        qCInfo(lcBridge).noquote() << "refused a program on" << m_linkPath << "- the adapter is"
                                   << "in use by" << m_bridge.holderDescription();
        writeToMaster(m_refusal.constData(), m_refusal.size());
    } else if (!hungUp) {
        readSettings();
        readWaiting();
    }
    emit clientChanged(true);
    if (hungUp)
        clientClosed();
    else
        updateReading();
}

void PtyFace::clientClosed() {
    if (m_holding) {
        // What the client wrote and set before it closed still goes to the adapter.
        char buffer[ReadSize];
        for (;;) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            handlePacket(buffer, n);
        }
        if (m_settle.isActive()) {
            m_settle.stop();
            readSettings();
        }
        // Nobody holds bytes for this client any more: the far end may send again.
        sendXonIfStopped();
        m_bridge.release(this);
    }
    m_holding = false;
    m_refusal.clear();
    m_clientOpen = false;
    m_stoppedByFarEnd = false;
    m_sentXoff = false;
    m_settle.stop();
    m_writeNotifier->setEnabled(false);
    // Bytes the client left unread (or the refusal) would greet the next client.
    if (!m_bridge.keepUnread())
        ::ioctl(m_master, TCFLSH, TCIOFLUSH);
    char discard[64];
    while (::read(m_master, discard, sizeof discard) > 0) {
    }
    updateReading();
    emit clientChanged(false);
}

void PtyFace::updateReading() {
    if (m_readNotifier)
        m_readNotifier->setEnabled(
            m_clientOpen &&
            ((m_holding && !m_readingPaused && !m_stoppedByFarEnd) || !m_refusal.isEmpty()));
}

void PtyFace::setReadingPaused(bool paused) {
    m_readingPaused = paused;
    updateReading();
}

void PtyFace::onMasterReadable() {
    char buffer[ReadSize];
    for (int i = 0; i < ReadsPerNotice && m_readNotifier->isEnabled(); ++i) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EIO)
                clientClosed();
            return;
        }
        if (n == 0)
            return;
        handlePacket(buffer, n);
    }
}

void PtyFace::readWaiting() {
    char buffer[ReadSize];
    for (int i = 0; i < ReadsPerNotice; ++i) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        handlePacket(buffer, n);
    }
}

void PtyFace::handlePacket(const char* packet, qint64 size) {
    const auto status = static_cast<unsigned char>(packet[0]);
    if (!m_holding) {
        // A refused client's bytes go nowhere; a flush of its input took the message with it.
        if ((status & PacketFlushRead) && !m_refusal.isEmpty())
            writeToMaster(m_refusal.constData(), m_refusal.size());
        return;
    }
    if (status == 0) {
        // The client set the line before it sent these: the adapter must have it first.
        if (m_settle.isActive()) {
            m_settle.stop();
            readSettings();
        }
        if (size > 1)
            m_bridge.fromClient(this, QByteArray(packet + 1, size - 1));
        return;
    }
    if (status & (PacketFlushRead | PacketFlushWrite))
        m_bridge.purge(status & PacketFlushRead, status & PacketFlushWrite);
    if (status & (PacketIoctl | PacketDoStop | PacketNoStop))
        m_settle.start();
}

void PtyFace::readSettings() {
    termios2 t{};
    if (!readTermios(m_master, &t))
        return;
    if (!(t.c_lflag & EXTPROC)) {
        // Some clients clear it with the rest of the local flags; without it no further
        // settings change would be announced.
        t.c_lflag |= EXTPROC;
        ::ioctl(m_master, TCSETS2, &t);
    }
    m_ixon = t.c_iflag & IXON;
    m_ixoff = t.c_iflag & IXOFF;
    if (!m_ixon && m_stoppedByFarEnd) {
        m_stoppedByFarEnd = false;
        updateReading();
    }
    // Data bits and parity cannot pass a pty (the kernel keeps 8N1): the adapter keeps its own.
    UartConfig line = m_bridge.port().line();
    UartConfig wanted = line;
    if (t.c_ospeed > 0) // rate 0 is a hang-up request, not a rate
        wanted.BaudRate = t.c_ospeed;
    wanted.StopBits = (t.c_cflag & CSTOPB) ? 1 : 0;
    wanted.FlowControl = (t.c_cflag & CRTSCTS) ? 1 : 0;
    if (!(wanted == line))
        m_bridge.port().applyLine(wanted);
}

qint64 PtyFace::writeToMaster(const char* data, qint64 size) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_master, data + done, size - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Full: the client is not reading. Wait for room.
        m_writeNotifier->setEnabled(m_clientOpen);
        if (m_ixoff && !m_sentXoff && m_holding) {
            m_sentXoff = true;
            m_bridge.port().writeBytes(QByteArray(1, Xoff));
        }
        break;
    }
    return done;
}

qint64 PtyFace::deliver(const char* data, qint64 size) {
    if (!m_clientOpen || !m_holding)
        return 0;
    if (!m_ixon)
        return writeToMaster(data, size);
    // The far end's XON and XOFF start and stop what the client sends and are not passed on.
    qint64 done = 0;
    while (done < size) {
        const char* start = data + done;
        const char* end = data + size;
        const char* flow = start;
        while (flow < end && *flow != Xon && *flow != Xoff)
            ++flow;
        const qint64 plain = flow - start;
        const qint64 written = plain ? writeToMaster(start, plain) : 0;
        done += written;
        if (written < plain || flow == end)
            break;
        m_stoppedByFarEnd = *flow == Xoff;
        updateReading();
        ++done;
    }
    return done;
}

void PtyFace::onMasterWritable() {
    m_writeNotifier->setEnabled(false);
    emit readyForMore();
    // Only once the bridge has handed over all it held: on the first room in the pty the far
    // end would start again while the client is still behind, and be stopped again at once.
    if (m_holding && m_bridge.heldBytes() == 0)
        sendXonIfStopped();
}

void PtyFace::sendXonIfStopped() {
    if (!m_sentXoff)
        return;
    m_sentXoff = false;
    m_bridge.port().writeBytes(QByteArray(1, Xon));
}
