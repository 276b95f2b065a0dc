#include "Tool.h"

#include "BasicOptions.h"
#include "Logging.h"
#include "ProcessSetup.h"
#include "colors.h"

#include <iostream>
#include <string>

// From the project version of the build files.
const char* const Tool::Version = REVERSI_VERSION;

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

    const BasicOptions basic(parser, ansi::enableColor);
    basic.addTo(parser);

    try {
        parser.parse(m_argc, m_argv);
    } catch (const knob::exception& e) {
        std::cerr << e.what() << '\n';
        return false;
    }

    if (!Logging::setupLogging(basic.logFile())) {
        std::cerr << "Error: Unable to setup logging.\n";
        return false;
    }
    return true;
}
