#include "BasicOptions.h"

#include "Tool.h"

BasicOptions::BasicOptions(const knob::ArgumentParser& parser, bool& colorSwitch)
    : m_log("File to load &log settings from"),
      m_noColor("Disable ANSI colors when printing", "nocolor", colorSwitch),
      m_help("Show this &help text"), m_version("Show &version information") {
    m_log.valuename("filename");
    // Help and version end the parse by throwing their text, which is printed like a refusal.
    m_help.check([&parser](const knob::Argument&) { throw knob::exception(parser.help()); });
    m_version.check([](const knob::Argument&) { throw knob::exception(versionText()); });
}

void BasicOptions::addTo(knob::ArgumentParser& parser) const {
    parser.add(knob::ArgumentSet("Basic options", m_log, m_noColor, m_help, m_version));
}

std::string BasicOptions::versionText() {
    return std::string(Tool::Version) + " build " + __DATE__;
}

void BasicOptions::refuseZeroPort(const knob::TypedArgument<uint16_t>&, const uint16_t& port) {
    if (port == 0) {
        throw knob::exception("Please choose a port value > 0.");
    }
}
