#pragma once

#include <string>
#include <vector>

// The options of both programs, read before any window system is needed, so that they also
// work without a display. Qt's own options are left to Qt, as they always were; any other
// option is refused with the usage.
class CommandLine {
public:
    // Exit status of an option that neither we nor Qt know, as command-line tools use it.
    static constexpr int UsageExitCode = 2;

    // What main does: open the window, or print a text and end with a status.
    struct Outcome {
        bool RunWindow = true;
        std::string Output; // for standard output when ExitCode is 0, else standard error
        int ExitCode = 0;
    };

    static Outcome Parse(const std::string& programName, const std::vector<std::string>& arguments);
    static Outcome Parse(const std::string& programName, int argc, const char* const* argv);

    static std::string VersionText(const std::string& programName);
    static std::string HelpText(const std::string& programName);
    // The short usage after a refused option.
    static std::string UsageError(const std::string& programName, const std::string& option);

    // How many arguments one of Qt's options takes with it: 0 or 1, or -1 when it is not Qt's.
    static int QtOptionValueCount(const std::string& argument);
};
