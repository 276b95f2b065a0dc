#include "Tool.h"

#include "Logging.h"
#include "ProcessSetup.h"
#include "colors.h"

#include <iostream>
#include <string>

const char* const Tool::Version = "1.0.0";

bool Tool::init(int argc, const char* const* argv) {
    // Before anything is written: a console that is closed later must not end the program.
    ignoreBrokenPipeSignal();
    m_initOK = false;
    m_argc = argc;
    m_argv = argv;
    knob::ArgumentParser parser;
    m_initOK = parseOptions(parser);
    return m_initOK;
}

bool Tool::run() {
    return m_initOK && doRun();
}

bool Tool::parseOptions(knob::ArgumentParser& parser) {
    if (m_argc <= 0) {
        return false;
    }

    knob::ValueArgument<std::string> logFile("File to load &log settings from");
    logFile.valuename("filename");
    knob::SwitchArgument noColor("Disable ANSI colors when printing", "nocolor", ansi::enableColor);
    // Help and version end the parse by throwing their text, which is printed like a refusal.
    knob::Argument help("Show this &help text");
    help.check([&parser](const knob::Argument&) { throw knob::exception(parser.help()); });
    knob::Argument version("Show &version information");
    version.check([](const knob::Argument&) {
        throw knob::exception(std::string(Version) + " build " + __DATE__);
    });
    parser.add(knob::ArgumentSet("Basic options", logFile, noColor, help, version));

    try {
        parser.parse(m_argc, m_argv);
    } catch (const knob::exception& e) {
        std::cerr << e.what() << '\n';
        return false;
    }

    if (!Logging::setupLogging(logFile.value())) {
        std::cerr << "Error: Unable to setup logging.\n";
        return false;
    }
    return true;
}
