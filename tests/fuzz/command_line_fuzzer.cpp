#include "cli/CliParser.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace {

// The arguments of one run: the input split at its zero bytes, each part read as UTF-8, as the
// shell hands them over.
QStringList argumentsOf(const std::uint8_t* data, std::size_t size) {
    QStringList arguments;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            arguments << QString::fromUtf8(reinterpret_cast<const char*>(data + start),
                                           qsizetype(i - start));
            start = i + 1;
        }
    }
    return arguments;
}

} // namespace

// Whatever a script passes: the parser answers the same twice, does exactly one thing (runs,
// prints help or version, or refuses), and a refusal is one line with status 2, so a caller's
// log never gets a line it cannot tell apart.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList arguments = argumentsOf(data, size);
    const CliParser::Outcome first = CliParser::Parse(arguments);
    const CliParser::Outcome again = CliParser::Parse(arguments);
    fuzzCheck(first.Run == again.Run && first.Output == again.Output &&
                  first.Error == again.Error && first.ExitCode == again.ExitCode,
              "the same arguments give the same answer");

    const int answers = int(first.Run) + int(!first.Output.isEmpty()) + int(!first.Error.isEmpty());
    fuzzCheck(answers == 1, "exactly one of run, text for standard output, or an error");
    if (!first.Error.isEmpty()) {
        fuzzCheck(first.ExitCode == 2, "a refusal ends with status 2");
        fuzzCheck(first.Error.startsWith(QLatin1String("wendrake: ")),
                  "a refusal names the program");
        fuzzCheck(!first.Error.contains(QLatin1Char('\n')) &&
                      !first.Error.contains(QLatin1Char('\r')),
                  "a refusal is one line");
    } else {
        fuzzCheck(first.ExitCode == 0, "help, version and runs start from status 0");
    }
    if (first.Run) {
        fuzzCheck(CliParser::Commands().contains(first.Request.Command),
                  "a run has a known command");
        if (first.Request.DataBits)
            fuzzCheck(*first.Request.DataBits >= 5 && *first.Request.DataBits <= 8,
                      "data bits stay within 5 to 8");
    }
    if (!first.Output.isEmpty())
        fuzzCheck(first.Output.endsWith(QLatin1Char('\n')), "printed texts end their last line");
    return 0;
}
