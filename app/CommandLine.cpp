#include "app/CommandLine.h"

#include <algorithm>
#include <array>
#include <string_view>

#ifndef WT_VERSION
#error "WT_VERSION is set by the build from the project version"
#endif

namespace {

// What QApplication and the platform plugins take from the command line (one dash or two).
constexpr std::array<std::string_view, 15> QtOptionsWithValue = {
    "display",       "name",   "platform",        "platformpluginpath",
    "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowicon",   "icon",   "qwindowtitle",    "title",
    "session",       "style",  "stylesheet"};
constexpr std::array<std::string_view, 6> QtFlags = {"reverse", "sync",   "widgetcount",
                                                     "nograb",  "dograb", "testability"};
// Options that carry their value after "=".
constexpr std::array<std::string_view, 3> QtOptionsWithEquals = {
    "qmljsdebugger=", "style=", "stylesheet="};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

int CommandLine::QtOptionValueCount(const std::string& argument) {
    std::string_view name = argument;
    if (name.size() < 2 || name[0] != '-')
        return -1;
    name.remove_prefix(name.size() > 2 && name[1] == '-' ? 2 : 1);
    if (among(QtOptionsWithValue, name))
        return 1;
    if (among(QtFlags, name))
        return 0;
    for (std::string_view prefix : QtOptionsWithEquals)
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix)
            return 0;
    return -1;
}

CommandLine::Outcome CommandLine::Parse(const std::string& programName,
                                        const std::vector<std::string>& arguments) {
    // The first option decides; "--" ends the options as usual. A lone "-" is no option.
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--")
            break;
        if (argument == "--help")
            return {false, HelpText(programName), 0};
        if (argument == "--version")
            return {false, VersionText(programName), 0};
        if (argument.size() < 2 || argument[0] != '-')
            continue;
        const int values = QtOptionValueCount(argument);
        if (values < 0)
            return {false, UsageError(programName, argument), UsageExitCode};
        i += std::size_t(values); // a value such as "-platform offscreen" is Qt's too
    }
    return {};
}

CommandLine::Outcome CommandLine::Parse(const std::string& programName, int argc,
                                        const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return Parse(programName, arguments);
}

std::string CommandLine::VersionText(const std::string& programName) {
    return programName + " " WT_VERSION "\n";
}

std::string CommandLine::HelpText(const std::string& programName) {
    const bool demo = programName.find("demo") != std::string::npos;
    return "Usage: " + programName + " [--help | --version]\n" +
           (demo ? "Wendrake Terminal on an emulated adapter whose UART is looped back.\n"
                 : "Serial terminal for the Wendrake USB debug adapter.\n") +
           "\n"
           "  --help     show this text and exit\n"
           "  --version  show the version and exit\n"
           "\n"
           "Without options the terminal window opens. Qt's own options (-platform, -style,\n"
           "...) are passed to Qt; any other option is refused with exit status 2.\n"
           "The manual opens from Help > Help... in the window; see also " +
           programName + "(1).\n";
}

std::string CommandLine::UsageError(const std::string& programName, const std::string& option) {
    return programName + ": unknown option '" + option + "'\n" + "Usage: " + programName +
           " [--help | --version]\n" + "Try '" + programName + " --help' for more information.\n";
}
