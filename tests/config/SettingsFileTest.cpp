#include "config/SettingsFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include <optional>
#include <utility>
#include <vector>

void PrintTo(const TerminalSettings& s, std::ostream* os) {
    *os << "{baud " << s.Uart.BaudRate << ", parity " << int(s.Uart.Parity) << ", flow "
        << int(s.Uart.FlowControl) << ", data " << int(s.Uart.DataBits) << ", stop "
        << int(s.Uart.StopBits) << ", gpio0 " << int(s.Pins.Gpio0Mode) << ", gpio1 "
        << int(s.Pins.Gpio1Mode) << ", tx " << int(s.Pins.TxMode) << ", fourth "
        << int(s.Pins.FourthPinMode) << ", reset " << s.ToggleResetOnConnect << ", clear "
        << s.ClearSentTransferData << ", auto " << s.AutoSendTransferText << "}";
}

namespace {

// The file's fields in file order, written out by hand so the reader is checked against the
// layout rather than against our own writer.
struct FileFields {
    std::uint32_t BaudRate = 115200;
    std::uint8_t DataBits = 8;
    std::uint8_t FlowControl = 0;
    std::uint8_t Parity = 0;
    std::uint8_t StopBits = 0;
    std::uint8_t Gpio0Mode = 0;
    std::uint8_t Gpio1Mode = 0;
    std::uint8_t FourthPinMode = 0;
    std::uint8_t TxMode = 0;
    std::int32_t ToggleReset = 1;
    std::int32_t ClearSent = 1;
    std::int32_t AutoSend = 0;
};

void appendLe32(QByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

QByteArray fileBytes(const FileFields& f) {
    QByteArray out;
    appendLe32(out, f.BaudRate);
    for (std::uint8_t b : {f.DataBits, f.FlowControl, f.Parity, f.StopBits, f.Gpio0Mode,
                           f.Gpio1Mode, f.FourthPinMode, f.TxMode})
        out.append(static_cast<char>(b));
    appendLe32(out, static_cast<std::uint32_t>(f.ToggleReset));
    appendLe32(out, static_cast<std::uint32_t>(f.ClearSent));
    appendLe32(out, static_cast<std::uint32_t>(f.AutoSend));
    return out;
}

QByteArray bytesOf(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// Loads through the pure reader.
void readInto(TerminalSettings& settings, const QByteArray& bytes) {
    SettingsFile::SerializeSettings(settings, bytes);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

QString canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_elsewhere.isValid());
        m_savedCwd = QDir::currentPath();
        // Start away from the settings directory, as after a file dialog moved it.
        ASSERT_TRUE(QDir::setCurrent(m_elsewhere.path()));
    }
    void TearDown() override { QDir::setCurrent(m_savedCwd); }

    QString settingsPath() const { return m_dir.filePath(SettingsFile::FileName); }

    QTemporaryDir m_dir;
    QTemporaryDir m_elsewhere;
    QString m_savedCwd;
};

TEST(SettingsFileBytes, DefaultsWriteTheTwentyFourKnownBytes) {
    const QByteArray expected =
        bytesOf({0, 194, 1, 0, 8, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(SettingsFile::SerializeSettings(TerminalSettings{}), expected);
}

TEST(SettingsFileBytes, EveryFieldGoesToItsOwnOffset) {
    TerminalSettings s;
    s.Uart = {0x04030201, 0x11, 0x12, 0x13, 0x14};
    s.Pins = {0x21, 0x22, 0x23, 0x24};
    s.ToggleResetOnConnect = 0x34333231;
    s.ClearSentTransferData = -2;
    s.AutoSendTransferText = 0x54535251;
    // Data bits precede parity and the fourth pin byte precedes TX in the file.
    const QByteArray expected =
        bytesOf({0x01, 0x02, 0x03, 0x04, 0x13, 0x12, 0x11, 0x14, 0x21, 0x22, 0x24, 0x23,
                 0x31, 0x32, 0x33, 0x34, 0xFE, 0xFF, 0xFF, 0xFF, 0x51, 0x52, 0x53, 0x54});
    EXPECT_EQ(SettingsFile::SerializeSettings(s), expected);
}

TEST(SettingsFileBytes, WritingAppliesNoRangeChecks) {
    TerminalSettings s;
    s.Uart.DataBits = 9;
    s.Uart.Parity = 7;
    s.Uart.FlowControl = 3;
    s.Pins.Gpio0Mode = 200;
    s.Pins.TxMode = 2;
    const QByteArray bytes = SettingsFile::SerializeSettings(s);
    ASSERT_EQ(bytes.size(), SettingsFile::FullSize);
    EXPECT_EQ(bytes[4], char(9));
    EXPECT_EQ(bytes[5], char(3));
    EXPECT_EQ(bytes[6], char(7));
    EXPECT_EQ(bytes[8], char(200));
    EXPECT_EQ(bytes[11], char(2));
}

struct RangeCase {
    const char* name;
    FileFields file;
    TerminalSettings expected;
};

TerminalSettings withUart(std::uint32_t baud, std::uint8_t parity, std::uint8_t flow,
                          std::uint8_t data, std::uint8_t stop) {
    TerminalSettings s;
    s.Uart = {baud, parity, flow, data, stop};
    return s;
}

TerminalSettings withPins(std::uint8_t flow, std::uint8_t g0, std::uint8_t g1, std::uint8_t tx,
                          std::uint8_t fourth) {
    TerminalSettings s;
    s.Uart.FlowControl = flow;
    s.Pins = {g0, g1, tx, fourth};
    return s;
}

TEST(SettingsFileRead, RangeChecksOfACompleteFile) {
    auto file = [](auto change) {
        FileFields f;
        change(f);
        return f;
    };
    TerminalSettings resetOff;
    resetOff.ToggleResetOnConnect = -7;

    const std::vector<RangeCase> cases = {
        {"data bits 9", file([](FileFields& f) { f.DataBits = 9; }), withUart(115200, 0, 0, 8, 0)},
        {"data bits 4", file([](FileFields& f) { f.DataBits = 4; }), withUart(115200, 0, 0, 8, 0)},
        {"data bits 0", file([](FileFields& f) { f.DataBits = 0; }), withUart(115200, 0, 0, 8, 0)},
        {"data bits 5 kept", file([](FileFields& f) { f.DataBits = 5; }),
         withUart(115200, 0, 0, 5, 0)},
        {"data bits 7 kept", file([](FileFields& f) { f.DataBits = 7; }),
         withUart(115200, 0, 0, 7, 0)},
        {"parity 7", file([](FileFields& f) { f.Parity = 7; }), withUart(115200, 0, 0, 8, 0)},
        {"parity 5", file([](FileFields& f) { f.Parity = 5; }), withUart(115200, 0, 0, 8, 0)},
        {"parity 4 kept", file([](FileFields& f) { f.Parity = 4; }), withUart(115200, 4, 0, 8, 0)},
        {"flow control 3", file([](FileFields& f) { f.FlowControl = 3; }),
         withUart(115200, 0, 1, 8, 0)},
        {"flow control 2", file([](FileFields& f) { f.FlowControl = 2; }),
         withUart(115200, 0, 0, 8, 0)},
        {"stop bits 3", file([](FileFields& f) { f.StopBits = 3; }), withUart(115200, 0, 0, 8, 1)},
        {"stop bits 2", file([](FileFields& f) { f.StopBits = 2; }), withUart(115200, 0, 0, 8, 0)},
        {"baud 0 kept", file([](FileFields& f) { f.BaudRate = 0; }), withUart(0, 0, 0, 8, 0)},
        {"baud 12345 kept", file([](FileFields& f) { f.BaudRate = 12345; }),
         withUart(12345, 0, 0, 8, 0)},
        {"baud max kept", file([](FileFields& f) { f.BaudRate = 0xFFFFFFFF; }),
         withUart(0xFFFFFFFF, 0, 0, 8, 0)},
        {"gpio modes with flow control 1",
         file([](FileFields& f) { f.FlowControl = 1, f.Gpio0Mode = 200, f.Gpio1Mode = 9; }),
         withPins(1, 3, 3, 0, 0)},
        {"gpio modes with flow control 0",
         file([](FileFields& f) { f.Gpio0Mode = 200, f.Gpio1Mode = 9; }), withPins(0, 0, 0, 0, 0)},
        {"gpio modes follow the reduced flow control 3",
         file([](FileFields& f) { f.FlowControl = 3, f.Gpio0Mode = 5, f.Gpio1Mode = 4; }),
         withPins(1, 3, 3, 0, 0)},
        {"gpio modes follow the reduced flow control 2",
         file([](FileFields& f) { f.FlowControl = 2, f.Gpio0Mode = 5, f.Gpio1Mode = 4; }),
         withPins(0, 0, 0, 0, 0)},
        {"highest gpio modes kept", file([](FileFields& f) { f.Gpio0Mode = 4, f.Gpio1Mode = 3; }),
         withPins(0, 4, 3, 0, 0)},
        {"pin modes need not agree with flow control",
         file([](FileFields& f) { f.FlowControl = 1, f.Gpio0Mode = 1, f.Gpio1Mode = 2; }),
         withPins(1, 1, 2, 0, 0)},
        {"tx mode 2", file([](FileFields& f) { f.TxMode = 2; }), withPins(0, 0, 0, 0, 0)},
        {"tx mode 3", file([](FileFields& f) { f.TxMode = 3; }), withPins(0, 0, 0, 1, 0)},
        {"fourth byte 2", file([](FileFields& f) { f.FourthPinMode = 2; }),
         withPins(0, 0, 0, 0, 0)},
        {"fourth byte 255", file([](FileFields& f) { f.FourthPinMode = 255; }),
         withPins(0, 0, 0, 0, 1)},
        {"fourth byte 1 kept", file([](FileFields& f) { f.FourthPinMode = 1; }),
         withPins(0, 0, 0, 0, 1)},
        {"reset flag not checked", file([](FileFields& f) { f.ToggleReset = -7; }), resetOff},
    };
    for (const RangeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalSettings loaded;
        readInto(loaded, fileBytes(c.file));
        EXPECT_EQ(loaded, c.expected);
    }
}

TEST(SettingsFileRead, CheckMarksFollowTheSendOptionsOfAFullFile) {
    // The window sets the two marks from these values once the record is loaded.
    struct Case {
        std::int32_t clear;
        std::int32_t autoSend;
    };
    const std::vector<Case> cases = {
        {1, 0},
        {0, 1},
        {0, 0},
        // Any nonzero value counts as on and is kept as stored.
        {-5, 0x100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "clear " << c.clear << " auto " << c.autoSend);
        FileFields f;
        f.ClearSent = c.clear;
        f.AutoSend = c.autoSend;
        TerminalSettings loaded;
        readInto(loaded, fileBytes(f));
        EXPECT_EQ(loaded.ClearSentTransferData, c.clear);
        EXPECT_EQ(loaded.AutoSendTransferText, c.autoSend);
    }
}

TEST(SettingsFileRead, NoCheckMarkCallbackIsAllowed) {
    TerminalSettings loaded;
    FileFields f;
    f.AutoSend = 1;
    SettingsFile::SerializeSettings(loaded, fileBytes(f));
    EXPECT_EQ(loaded.AutoSendTransferText, 1);
}

// 30 bytes of out-of-range values: which ones arrive unchecked tells whether checks ran.
QByteArray longSource() {
    FileFields f;
    f.BaudRate = 9600;
    f.DataBits = 9;
    f.FlowControl = 3;
    f.Parity = 7;
    f.StopBits = 2;
    f.Gpio0Mode = 200;
    f.Gpio1Mode = 9;
    f.FourthPinMode = 3;
    f.TxMode = 2;
    f.ToggleReset = 0;
    f.ClearSent = 0;
    f.AutoSend = 1;
    return fileBytes(f) + QByteArray(6, char(0xAA));
}

struct SizeCase {
    int size;
    TerminalSettings expected;
};

std::vector<SizeCase> sizeCases() {
    TerminalSettings tenBytes;
    tenBytes.Uart = {9600, 7, 3, 9, 2};
    tenBytes.Pins.Gpio0Mode = 200;
    tenBytes.Pins.Gpio1Mode = 9;

    TerminalSettings fifteenBytes = tenBytes;
    fifteenBytes.Pins.FourthPinMode = 3;
    fifteenBytes.Pins.TxMode = 2;

    TerminalSettings checked;
    checked.Uart = {9600, 0, 1, 8, 0};
    checked.Pins = {3, 3, 0, 1};
    checked.ToggleResetOnConnect = 0;

    TerminalSettings full = checked;
    full.ClearSentTransferData = 0;
    full.AutoSendTransferText = 1;

    return {
        {0, TerminalSettings{}},
        {1, TerminalSettings{}},
        {3, TerminalSettings{}},
        {10, tenBytes},
        {15, fifteenBytes},
        {16, checked},
        {17, checked},
        {23, checked},
        {24, full},
        {30, full},
    };
}

TEST(SettingsFileRead, FileLengthDecidesWhatIsTakenAndChecked) {
    const QByteArray source = longSource();
    for (const SizeCase& c : sizeCases()) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes");
        TerminalSettings loaded;
        readInto(loaded, source.left(c.size));
        EXPECT_EQ(loaded, c.expected);
    }
}

TEST(SettingsFileRead, SixteenByteFileResetsSendOptionsLongerShortFilesKeepThem) {
    struct Case {
        int size;
        std::int32_t clear;
        std::int32_t autoSend;
    };
    const std::vector<Case> cases = {{15, 0, 1}, {16, 1, 0}, {17, 0, 1}, {23, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes");
        TerminalSettings loaded;
        loaded.ClearSentTransferData = 0;
        loaded.AutoSendTransferText = 1;
        readInto(loaded, fileBytes(FileFields{}).left(c.size));
        EXPECT_EQ(loaded.ClearSentTransferData, c.clear);
        EXPECT_EQ(loaded.AutoSendTransferText, c.autoSend);
    }
}

TEST_F(SettingsFileTest, LoadingRealFilesOfEveryLength) {
    const QByteArray source = longSource();
    SettingsFile file(m_dir.path());
    for (const SizeCase& c : sizeCases()) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes");
        ASSERT_TRUE(writeFile(settingsPath(), source.left(c.size)));
        TerminalSettings loaded;
        file.LoadSettings(loaded);
        EXPECT_EQ(loaded, c.expected);
    }
}

TEST_F(SettingsFileTest, MissingFileKeepsTheRecordAndTheMarks) {
    TerminalSettings loaded;
    loaded.Uart.BaudRate = 4800;
    const TerminalSettings before = loaded;
    SettingsFile(m_dir.path()).LoadSettings(loaded);
    EXPECT_EQ(loaded, before);
    EXPECT_FALSE(QFile::exists(settingsPath()));
}

TEST_F(SettingsFileTest, SettingsFileThatIsADirectoryLoadsNothing) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(SettingsFile::FileName));
    TerminalSettings loaded;
    SettingsFile(m_dir.path()).LoadSettings(loaded);
    EXPECT_EQ(loaded, TerminalSettings{});
}

TEST_F(SettingsFileTest, SaveThenLoadRoundTrip) {
    TerminalSettings saved;
    saved.Uart = {921600, 2, 1, 7, 1};
    saved.Pins = {4, 3, 1, 1};
    saved.ToggleResetOnConnect = 0;
    saved.ClearSentTransferData = 0;
    saved.AutoSendTransferText = 1;
    SettingsFile file(m_dir.path());
    file.SaveSettings(saved);
    EXPECT_EQ(readFile(settingsPath()), SettingsFile::SerializeSettings(saved));

    TerminalSettings loaded;
    file.LoadSettings(loaded);
    EXPECT_EQ(loaded, saved);
}

TEST_F(SettingsFileTest, SaveReplacesLongerAndShorterFilesWithTwentyFourBytes) {
    for (int oldSize : {16, 30}) {
        SCOPED_TRACE(oldSize);
        // A new window, which has loaded nothing, writes every field.
        SettingsFile file(m_dir.path());
        ASSERT_TRUE(writeFile(settingsPath(), QByteArray(oldSize, char(0x55))));
        file.SaveSettings(TerminalSettings{});
        EXPECT_EQ(readFile(settingsPath()), SettingsFile::SerializeSettings(TerminalSettings{}));
    }
}

TEST_F(SettingsFileTest, SixteenByteFileIsSavedBackWhole) {
    ASSERT_TRUE(writeFile(settingsPath(), fileBytes(FileFields{}).left(16)));
    SettingsFile file(m_dir.path());
    TerminalSettings loaded;
    loaded.ClearSentTransferData = 0;
    file.LoadSettings(loaded);
    file.SaveSettings(loaded);
    EXPECT_EQ(readFile(settingsPath()), fileBytes(FileFields{}));
}

TEST_F(SettingsFileTest, SaveOntoADirectoryFailsSilentlyAndLeavesNoLitter) {
    ASSERT_TRUE(QDir(m_dir.path()).mkdir(SettingsFile::FileName));
    SettingsFile(m_dir.path()).SaveSettings(TerminalSettings{});
    EXPECT_TRUE(QFileInfo(settingsPath()).isDir());
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{SettingsFile::FileName});
}

TEST_F(SettingsFileTest, UnreachableDirectoryStoresNothingAnywhere) {
    const QString blocker = m_dir.filePath("plain-file");
    ASSERT_TRUE(writeFile(blocker, "x"));
    const QString below = blocker + "/settings";
    SettingsFile(below).SaveSettings(TerminalSettings{});
    // The directory could not be entered; the save must not land where the process happens to be.
    EXPECT_EQ(canonical(QDir::currentPath()), canonical(m_elsewhere.path()));
    EXPECT_FALSE(QFile::exists(m_elsewhere.filePath(SettingsFile::FileName)));
    EXPECT_EQ(readFile(blocker), QByteArray("x"));
}

// A write that fails half-way, even for root: the file size limit stops the temporary copy.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_ok = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_ok = m_ok && setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

TEST_F(SettingsFileTest, SaveFailingHalfWayKeepsThePreviousFile) {
    FileFields old;
    old.BaudRate = 57600;
    old.AutoSend = 1;
    const QByteArray oldBytes = fileBytes(old);
    ASSERT_TRUE(writeFile(settingsPath(), oldBytes));

    TerminalSettings changed;
    changed.Uart.BaudRate = 9600;
    {
        FileSizeLimit limit(10);
        ASSERT_TRUE(limit.ok());
        SettingsFile(m_dir.path()).SaveSettings(changed);
    }
    EXPECT_EQ(readFile(settingsPath()), oldBytes);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{SettingsFile::FileName});

    // And the next save, with room again, goes through.
    SettingsFile(m_dir.path()).SaveSettings(changed);
    EXPECT_EQ(readFile(settingsPath()), SettingsFile::SerializeSettings(changed));
}

TEST_F(SettingsFileTest, LoadAndSaveEnterTheSettingsDirectory) {
    SettingsFile file(m_dir.path());
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"load without file",
         [&] {
             TerminalSettings s;
             file.LoadSettings(s);
         }},
        {"save", [&] { file.SaveSettings(TerminalSettings{}); }},
        {"load with file",
         [&] {
             TerminalSettings s;
             file.LoadSettings(s);
         }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(QDir::setCurrent(m_elsewhere.path()));
        step();
        EXPECT_EQ(canonical(QDir::currentPath()), canonical(m_dir.path()));
    }
    // Bare names now resolve next to the settings.
    EXPECT_TRUE(QFile::exists(SettingsFile::FileName));
}

// Two windows on one file: each save takes from its record only what that window changed since
// it last loaded or saved; every other field keeps the file's bytes, even one out of range.
TEST_F(SettingsFileTest, TwoWindowsKeepEachOthersChanges) {
    FileFields start;
    start.FourthPinMode = 5; // as another program left it; loads as 1
    ASSERT_TRUE(writeFile(settingsPath(), fileBytes(start)));
    SettingsFile fileA(m_dir.path());
    SettingsFile fileB(m_dir.path());
    TerminalSettings a;
    TerminalSettings b;
    fileA.LoadSettings(a);
    fileB.LoadSettings(b);

    struct Step {
        const char* name;
        bool byA;
        std::function<void(TerminalSettings&)> change;
        FileFields expected;
    };
    FileFields afterA = start;
    afterA.BaudRate = 9600;
    FileFields afterB = afterA;
    afterB.AutoSend = 1;
    FileFields afterA2 = afterB;
    afterA2.ClearSent = 0;
    FileFields afterB2 = afterA2;
    afterB2.BaudRate = 300;
    afterB2.Parity = 2;
    const Step steps[] = {
        {"A sets 9600 baud", true, [](TerminalSettings& s) { s.Uart.BaudRate = 9600; }, afterA},
        {"B turns automatic send on", false,
         [](TerminalSettings& s) { s.AutoSendTransferText = 1; }, afterB},
        {"A turns clearing off", true, [](TerminalSettings& s) { s.ClearSentTransferData = 0; },
         afterA2},
        {"B sets 300 baud, even parity", false,
         [](TerminalSettings& s) {
             s.Uart.BaudRate = 300;
             s.Uart.Parity = 2;
         },
         afterB2},
        {"A saves with nothing changed", true, [](TerminalSettings&) {}, afterB2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        TerminalSettings& record = step.byA ? a : b;
        step.change(record);
        EXPECT_TRUE((step.byA ? fileA : fileB).SaveSettings(record));
        EXPECT_EQ(readFile(settingsPath()), fileBytes(step.expected));
    }
    // What a third window starts with.
    TerminalSettings fresh;
    SettingsFile(m_dir.path()).LoadSettings(fresh);
    EXPECT_EQ(fresh.Uart.BaudRate, 300u);
    EXPECT_EQ(fresh.AutoSendTransferText, 1);
    EXPECT_EQ(fresh.ClearSentTransferData, 0);
}

TEST(SettingsFileLocation, DefaultDirectoryIsTheExecutables) {
    EXPECT_EQ(SettingsFile().Directory(), QCoreApplication::applicationDirPath());
    EXPECT_EQ(SettingsFile("/some/where").Directory(), QString("/some/where"));
}

} // namespace
