#pragma once
// Frame of every command-line program: options, logging set-up, then the program's work.

#include "knob/ArgumentParser.h"

/// A concrete tool overrides parseOptions to declare its own arguments (added before the basic
/// options), calls Tool::parseOptions last, and implements doRun.
class Tool {
public:
    /// The build's version identifier, shown by --version.
    static const char* const Version;

    Tool() = default;
    virtual ~Tool() = default;
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    /// Ignores SIGPIPE for the process (ignoreBrokenPipeSignal), parses the command line (argv
    /// is not owned and must outlive the tool) and sets up logging. False when the command line was
    /// refused or help or version text was asked for; the reason has then been written to standard
    /// error.
    bool init(int argc, const char* const* argv);
    /// The result of doRun, or false without running it when init did not succeed.
    bool run();

protected:
    /// The tool's work.
    virtual bool doRun() = 0;
    /// Adds the basic options (log settings file, colour switch, help, version), parses the
    /// command line and sets up logging. Writes any refusal to standard error and returns false.
    virtual bool parseOptions(knob::ArgumentParser& parser);

    bool m_initOK = false;
    int m_argc = 0;
    const char* const* m_argv = nullptr;
};
