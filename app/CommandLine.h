#pragma once

#include <string>
#include <vector>

// The two options of both programs, read before any window system is needed, so that they also
// work without a display. Any other argument is left to Qt, as it always was.
class CommandLine {
public:
    // What main does: open the window, or print a text and end with a status.
    struct Outcome {
        bool RunWindow = true;
        std::string Output; // for standard output
        int ExitCode = 0;
    };

    static Outcome Parse(const std::string& programName, const std::vector<std::string>& arguments);
    static Outcome Parse(const std::string& programName, int argc, const char* const* argv);

    static std::string VersionText(const std::string& programName);
    static std::string HelpText(const std::string& programName);
};
