#include "app/CommandLine.h"

#ifndef WT_VERSION
#error "WT_VERSION is set by the build from the project version"
#endif

CommandLine::Outcome CommandLine::Parse(const std::string& programName,
                                        const std::vector<std::string>& arguments) {
    // The first of the two that appears decides; "--" ends the options as usual.
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help")
            return {false, HelpText(programName), 0};
        if (argument == "--version")
            return {false, VersionText(programName), 0};
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
           "Without options the terminal window opens. The manual opens from Help > Help...\n"
           "in the window; see also " +
           programName + "(1).\n";
}
