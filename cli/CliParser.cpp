#include "cli/CliParser.h"

#include "cli/ExitStatus.h"
#include "cli/PinNames.h"
#include "cli/UartSettingNames.h"

#include <QHash>
#include <QHostAddress>

#ifndef WT_VERSION
#error "WT_VERSION is set by the build from the project version"
#endif

namespace {

// One option: its names, whether it takes a value, and the commands that take it ("*": all).
struct Option {
    const char* Long;
    char Short;
    bool TakesValue;
    const char* Commands;
};

constexpr Option Options[] = {
    {"help", 'h', false, "*"},
    {"version", 'V', false, "*"},
    {"demo", 0, false, "*"},
    {"serial", 's', true, "config pins fifo send recv bridge"},
    {"json", 'j', false, "list config pins fifo"},
    {"keep", 0, false, "send recv bridge"},
    {"baud", 'b', true, "config send recv bridge"},
    {"parity", 'p', true, "config send recv bridge"},
    {"data", 'd', true, "config send recv bridge"},
    {"stop", 0, true, "config send recv bridge"},
    {"flow", 'f', true, "config send recv bridge"},
    {"set", 0, true, "pins"},
    {"purge", 0, true, "fifo"},
    {"timeout", 't', true, "recv"},
    {"count", 'n', true, "recv"},
    {"output", 'o', true, "recv"},
    {"link", 'l', true, "bridge"},
    {"rfc2217", 0, true, "bridge"},
    {"keep-unread", 0, false, "bridge"},
    {"once", 0, false, "bridge"},
    {"rts", 0, true, "bridge"},
    {"dtr", 0, true, "bridge"},
};

const Option* findLong(const QString& name) {
    for (const Option& option : Options) {
        if (name == QLatin1String(option.Long))
            return &option;
    }
    return nullptr;
}

const Option* findShort(QChar name) {
    for (const Option& option : Options) {
        if (option.Short != 0 && name == QLatin1Char(option.Short))
            return &option;
    }
    return nullptr;
}

bool appliesTo(const Option& option, const QString& command) {
    const QString commands = QString::fromLatin1(option.Commands);
    return commands == QLatin1String("*") || command.isEmpty() ||
           commands.split(QLatin1Char(' ')).contains(command);
}

// Control characters are shown as \xNN, so a refusal stays one line in a script's log.
QString quoted(const QString& text) {
    QString shown = QStringLiteral("'");
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown + QLatin1Char('\'');
}

CliParser::Outcome usageError(const QString& message) {
    CliParser::Outcome outcome;
    outcome.Error = QStringLiteral("wendrake: ") + message;
    outcome.ExitCode = ExitStatus::Usage;
    return outcome;
}

QString badValue(const QString& option, const QString& value, const QString& wanted) {
    return QStringLiteral("--") + option + QStringLiteral(": ") + quoted(value) +
           QStringLiteral(" is not ") + wanted;
}

// Sets the request's field for one option with a value; an empty answer when it fits.
QString takeValue(CliRequest& request, const QString& option, const QString& value) {
    if (option == QLatin1String("serial")) {
        request.Serial = value;
    } else if (option == QLatin1String("baud")) {
        request.Baud = UartSettingNames::ParseBaud(value);
        if (!request.Baud)
            return badValue(option, value, QStringLiteral("a whole number from 1 to 4294967295"));
    } else if (option == QLatin1String("parity")) {
        request.Parity = UartSettingNames::ParseParity(value);
        if (!request.Parity)
            return badValue(option, value, QStringLiteral("one of none, even, odd, mark, space"));
    } else if (option == QLatin1String("data")) {
        request.DataBits = UartSettingNames::ParseDataBits(value);
        if (!request.DataBits)
            return badValue(option, value, QStringLiteral("one of 5, 6, 7, 8"));
    } else if (option == QLatin1String("stop")) {
        request.Stop = UartSettingNames::ParseStop(value);
        if (!request.Stop)
            return badValue(option, value, QStringLiteral("one of 1, 1.5, 2"));
    } else if (option == QLatin1String("flow")) {
        request.Flow = UartSettingNames::ParseFlow(value);
        if (!request.Flow)
            return badValue(option, value, QStringLiteral("one of none, rtscts"));
    } else if (option == QLatin1String("set")) {
        const qsizetype equals = value.lastIndexOf(QLatin1Char('='));
        const QString level = equals < 0 ? QString() : value.mid(equals + 1);
        if (equals <= 0 || (level != QLatin1String("0") && level != QLatin1String("1")))
            return badValue(option, value, QStringLiteral("NAME=0 or NAME=1"));
        const auto bit = PinNames::BitOf(value.left(equals));
        if (!bit)
            return badValue(option, value.left(equals),
                            QStringLiteral("a pin (") + PinNames::NameList() + QLatin1Char(')'));
        request.PinSets.emplace_back(*bit, level == QLatin1String("1"));
    } else if (option == QLatin1String("purge")) {
        const QHash<QString, CliRequest::Purge> purges{
            {QStringLiteral("tx"), CliRequest::Purge::Tx},
            {QStringLiteral("rx"), CliRequest::Purge::Rx},
            {QStringLiteral("both"), CliRequest::Purge::Both}};
        if (!purges.contains(value))
            return badValue(option, value, QStringLiteral("one of rx, tx, both"));
        request.PurgeFifo = purges.value(value);
    } else if (option == QLatin1String("timeout")) {
        bool ok = false;
        const double seconds = value.toDouble(&ok);
        // Up to a year: a timer takes whole milliseconds in an int.
        if (!ok || !(seconds > 0) || seconds > 2000000.0)
            return badValue(option, value, QStringLiteral("a number of seconds greater than 0"));
        request.TimeoutSeconds = seconds;
    } else if (option == QLatin1String("count")) {
        bool ok = value.size() <= 19 && !value.isEmpty();
        for (const QChar c : value)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const qulonglong count = ok ? value.toULongLong(&ok) : 0;
        if (!ok || count == 0)
            return badValue(option, value, QStringLiteral("a whole number greater than 0"));
        request.Count = count;
    } else if (option == QLatin1String("output")) {
        if (value.isEmpty())
            return badValue(option, value, QStringLiteral("a file name"));
        request.OutputFile = value;
    } else if (option == QLatin1String("link")) {
        if (value.isEmpty())
            return badValue(option, value, QStringLiteral("a file name"));
        request.LinkPath = value;
    } else if (option == QLatin1String("rfc2217")) {
        // [ADDR:]PORT; an IPv6 address in brackets: [::1]:4000.
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        QString address = colon < 0 ? QString() : value.left(colon);
        const QString port = value.mid(colon + 1);
        if (address.startsWith(QLatin1Char('[')) && address.endsWith(QLatin1Char(']')))
            address = address.mid(1, address.size() - 2);
        bool ok = !port.isEmpty() && port.size() <= 5;
        for (const QChar c : port)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const uint number = ok ? port.toUInt(&ok) : 0;
        if (!ok || number > 65535 || (colon >= 0 && QHostAddress(address).isNull()))
            return badValue(option, value,
                            QStringLiteral("[ADDRESS:]PORT with a port from 0 to 65535"));
        request.Rfc2217 = true;
        request.Rfc2217Address = address;
        request.Rfc2217Port = static_cast<std::uint16_t>(number);
    } else if (option == QLatin1String("rts") || option == QLatin1String("dtr")) {
        std::optional<std::uint8_t> bit;
        if (value.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            bit = 0;
        else
            bit = PinNames::BitOf(value);
        if (!bit)
            return badValue(option, value,
                            QStringLiteral("a pin (") + PinNames::NameList() +
                                QStringLiteral(") or none"));
        (option == QLatin1String("rts") ? request.RtsPin : request.DtrPin) = bit;
    }
    return {};
}

void takeFlag(CliRequest& request, const QString& option, bool& help, bool& version) {
    if (option == QLatin1String("help"))
        help = true;
    else if (option == QLatin1String("version"))
        version = true;
    else if (option == QLatin1String("demo"))
        request.Demo = true;
    else if (option == QLatin1String("json"))
        request.Json = true;
    else if (option == QLatin1String("keep"))
        request.Keep = true;
    else if (option == QLatin1String("keep-unread"))
        request.KeepUnread = true;
    else if (option == QLatin1String("once"))
        request.Once = true;
}

} // namespace

QStringList CliParser::Commands() {
    return {QStringLiteral("list"),  QStringLiteral("config"), QStringLiteral("pins"),
            QStringLiteral("fifo"),  QStringLiteral("send"),   QStringLiteral("recv"),
            QStringLiteral("bridge")};
}

CliParser::Outcome CliParser::Parse(const QStringList& arguments) {
    CliRequest request;
    bool help = false;
    bool version = false;
    QStringList operands;
    bool optionsEnded = false;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool isOption =
            !optionsEnded && argument.size() > 1 && argument.startsWith(QLatin1Char('-'));
        if (!isOption) {
            if (request.Command.isEmpty()) {
                if (!Commands().contains(argument))
                    return usageError(QStringLiteral("unknown command ") + quoted(argument) +
                                      QStringLiteral(" (try 'wendrake --help')"));
                request.Command = argument;
            } else {
                operands << argument;
            }
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }

        const Option* option = nullptr;
        QString shown; // the option as written, for messages
        std::optional<QString> value;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
            shown = QStringLiteral("--") + name;
            option = findLong(name);
            if (equals >= 0)
                value = argument.mid(equals + 1);
        } else {
            shown = argument.left(2);
            option = findShort(argument[1]);
            if (argument.size() > 2) {
                // -b9600; flags do not bundle, so that -jx cannot slip through as -j.
                if (!option || !option->TakesValue)
                    return usageError(QStringLiteral("unknown option ") + quoted(argument) +
                                      QStringLiteral(" (try 'wendrake --help')"));
                value = argument.mid(2);
            }
        }
        const QString where = request.Command.isEmpty()
                                  ? QStringLiteral("wendrake")
                                  : QStringLiteral("wendrake ") + request.Command;
        if (!option || !appliesTo(*option, request.Command))
            return usageError(QStringLiteral("unknown option ") + quoted(shown) +
                              (request.Command.isEmpty()
                                   ? QString()
                                   : QStringLiteral(" for ") + request.Command) +
                              QStringLiteral(" (try '") + where + QStringLiteral(" --help')"));
        const QString name = QString::fromLatin1(option->Long);
        if (!option->TakesValue) {
            if (value)
                return usageError(QStringLiteral("option --") + name +
                                  QStringLiteral(" takes no value"));
            takeFlag(request, name, help, version);
            continue;
        }
        if (!value) {
            if (i + 1 >= arguments.size())
                return usageError(QStringLiteral("option --") + name +
                                  QStringLiteral(" needs a value"));
            value = arguments[++i];
        }
        const QString error = takeValue(request, name, *value);
        if (!error.isEmpty())
            return usageError(error);
    }

    Outcome outcome;
    if (help) {
        outcome.Output = HelpText(request.Command);
        return outcome;
    }
    if (version) {
        outcome.Output = VersionText();
        return outcome;
    }
    if (request.Command.isEmpty())
        return usageError(QStringLiteral("no command given (try 'wendrake --help')"));

    if (request.Command == QLatin1String("send") && operands.size() == 1)
        request.InputFile = operands.front();
    else if (!operands.isEmpty())
        return usageError(QStringLiteral("unexpected argument ") +
                          quoted(operands.value(request.Command == QLatin1String("send") ? 1 : 0)) +
                          QStringLiteral(" for ") + request.Command);

    outcome.Run = true;
    outcome.Request = request;
    return outcome;
}

QString CliParser::VersionText() {
    return QStringLiteral("wendrake " WT_VERSION "\n");
}

QString CliParser::HelpText(const QString& command) {
    static const QHash<QString, QString> texts{
        {QString(),
         QStringLiteral(
             "Usage: wendrake [--demo] COMMAND [OPTIONS]\n"
             "The Wendrake adapter's UART, pins and FIFOs from the command line.\n"
             "\n"
             "Commands:\n"
             "  list    the adapters attached, and whether you may open them\n"
             "  config  show or set the UART settings\n"
             "  pins    show the pins, or set output levels\n"
             "  fifo    show the FIFO fill levels, or purge them\n"
             "  send    send a file or standard input through the UART\n"
             "  recv    write what the UART receives to standard output or a file\n"
             "  bridge  offer the UART as a pty, and over RFC 2217, to any serial program\n"
             "\n"
             "  -s, --serial SERIAL  the adapter to use; may be left out when one is attached\n"
             "      --demo           use an emulated adapter whose UART is looped back\n"
             "  -h, --help           show this text, or a command's with COMMAND --help\n"
             "  -V, --version        show the version\n"
             "\n"
             "Exit status: 0 success, 1 adapter failure, 2 usage error, 3 no adapter,\n"
             "4 no permission, 5 adapter in use by another program, 6 recv timed out,\n"
             "7 file error, 130 send interrupted. See wendrake(1).\n")},
        {QStringLiteral("list"),
         QStringLiteral("Usage: wendrake list [--json]\n"
                        "Every adapter attached: serial, hidraw node, and whether you may open\n"
                        "it, or why not.\n"
                        "\n"
                        "  -j, --json  one JSON array\n")},
        {QStringLiteral("config"),
         QStringLiteral(
             "Usage: wendrake config [-s SERIAL] [--baud N] [--parity none|even|odd|mark|space]\n"
             "                       [--data 5..8] [--stop 1|1.5|2] [--flow none|rtscts] [--json]\n"
             "Shows the adapter's UART settings; with settings given, sets them first. The\n"
             "adapter keeps them.\n"
             "\n"
             "  -b, --baud N       bits per second, 1 to 4294967295\n"
             "  -p, --parity P     none, even, odd, mark or space\n"
             "  -d, --data N       data bits, 5 to 8\n"
             "      --stop N       stop bits: 1, 2, or 1.5 with 5 data bits\n"
             "  -f, --flow F       none or rtscts\n"
             "  -j, --json         one JSON object\n")},
        {QStringLiteral("pins"),
         QStringLiteral("Usage: wendrake pins [-s SERIAL] [--set NAME=0|1 ...] [--json]\n"
                        "Shows each pin's level and mode; --set drives output pins first, all\n"
                        "in one write. Pins: GPIO0 (RTS), GPIO1 (CTS), Q3 Reset, Suspend, VPPCTL;\n"
                        "GPIO0 and GPIO1 only when configured as outputs.\n"
                        "\n"
                        "      --set NAME=L  level L (0 low, 1 high) for pin NAME; repeatable\n"
                        "  -j, --json        one JSON object\n")},
        {QStringLiteral("fifo"),
         QStringLiteral("Usage: wendrake fifo [-s SERIAL] [--purge rx|tx|both] [--json]\n"
                        "Shows the bytes waiting in the adapter's transmit and receive FIFOs;\n"
                        "--purge empties them first.\n"
                        "\n"
                        "      --purge F  rx, tx or both\n"
                        "  -j, --json     one JSON object\n")},
        {QStringLiteral("send"),
         QStringLiteral(
             "Usage: wendrake send [-s SERIAL] [UART SETTINGS] [--keep] [FILE|-]\n"
             "Sends the bytes of FILE, or of standard input, through the UART, exactly as\n"
             "they are. UART settings as for config apply while sending; at the end the\n"
             "adapter gets back the settings it had, unless --keep.\n"
             "\n"
             "      --keep  leave the adapter with the settings used\n")},
        {QStringLiteral("recv"),
         QStringLiteral(
             "Usage: wendrake recv [-s SERIAL] [UART SETTINGS] [--keep] [--timeout S]\n"
             "                     [--count N] [-o FILE]\n"
             "Writes the bytes the UART receives, exactly as they come, until --count bytes\n"
             "are written, --timeout seconds have passed, or Ctrl-C. UART settings as for\n"
             "config apply while receiving; at the end the adapter gets back the settings\n"
             "it had, unless --keep. With --demo, what standard input gives is what the\n"
             "emulated adapter receives.\n"
             "\n"
             "  -t, --timeout S  stop after S seconds (status 6 if --count is not reached)\n"
             "  -n, --count N    stop after N bytes\n"
             "  -o, --output F   write to file F instead of standard output\n"
             "      --keep       leave the adapter with the settings used\n")},
        {QStringLiteral("bridge"),
         QStringLiteral(
             "Usage: wendrake bridge [-s SERIAL] [UART SETTINGS] [--link PATH]\n"
             "                       [--rfc2217 [ADDR:]PORT] [--rts PIN] [--dtr PIN]\n"
             "                       [--keep-unread] [--once] [--keep]\n"
             "Offers the adapter's UART as a pseudo-terminal behind a link, and with --rfc2217\n"
             "as a network serial port (RFC 2217), to one client at a time, until Ctrl-C.\n"
             "Clients set the rate, stop bits and flow control through the pty; data bits and\n"
             "parity only through RFC 2217 or the UART settings here. At the end the adapter\n"
             "gets back the settings it had, unless --keep.\n"
             "\n"
             "  -l, --link PATH      the link to the pty (default\n"
             "                       $XDG_RUNTIME_DIR/wendrake/tty-SERIAL)\n"
             "      --rfc2217 A:P    listen for RFC 2217 clients on port P of address A\n"
             "                       (127.0.0.1 if not given; 0 picks a free port)\n"
             "      --rts PIN        the pin RFC 2217's RTS drives (GPIO0; none)\n"
             "      --dtr PIN        the pin RFC 2217's DTR drives (Q3Reset; none)\n"
             "      --keep-unread    hand bytes that came while no client was connected to\n"
             "                       the next client (dropped otherwise)\n"
             "      --once           end when the adapter is unplugged (else wait for it)\n"
             "      --keep           leave the adapter with the settings the clients set\n")},
    };
    return texts.value(command);
}
