#include "ReportCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "PathArgument.h"
#include "ReportPage.h"
#include "knob/VariableArgument.h"

#include <iostream>

namespace {

/// Adds --elo0, --elo1, --alpha and --beta, which set the SPRT bounds.
void addSprtOptions(knob::ArgumentParser& parser, SprtSettings& sprt) {
    const struct {
        const char* description;
        const char* name;
        double& value;
        const char* valueName;
    } options[] = {
        {"SPRT: the Elo difference of H0 (default 0)", "elo0", sprt.elo0, "elo"},
        {"SPRT: the Elo difference of H1 (default 5)", "elo1", sprt.elo1, "elo"},
        {"SPRT: the false positive rate (default 0.05)", "alpha", sprt.alpha, "rate"},
        {"SPRT: the false negative rate (default 0.05)", "beta", sprt.beta, "rate"},
    };
    for (const auto& o : options) {
        knob::VariableArgument<double> option(o.description, o.name, o.value);
        option.valuename(o.valueName);
        parser.add(option);
    }
}

} // namespace

bool ReportCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder, or a folder of records", m_dir);
    dir.valuename("dir");
    PathArgument::bound(dir, "dir", PathArgument::Kind::ExistingFolder);
    knob::Argument json("Print the report as $json");
    knob::VariableArgument<std::string> html(
        "Also write the report as a web page to this file, with a page per match beside it", "html",
        m_html);
    html.valuename("file");
    PathArgument::bound(html, "--html", PathArgument::Kind::File);
    parser.add(+dir);
    parser.add(json);
    parser.add(html);
    addSprtOptions(parser, m_sprt);
    if (!Tool::parseOptions(parser)) {
        return false;
    }
    m_json = json.count() != 0;
    return true;
}

bool ReportCommand::doRun() {
    const nlohmann::json report = Report::compute(m_dir, m_sprt);
    if (m_json) {
        std::cout << report.dump(2) << '\n';
    } else {
        Report::print(report, std::cout);
    }
    if (!m_html.empty()) {
        std::string error;
        if (!ReportPage::write(m_dir, report, m_html, error)) {
            LOG(Arena::logger(), lumber::ERR) << error;
            return false;
        }
        if (!m_json) {
            std::cout << "Wrote " << m_html << " and the match pages in "
                      << ReportPage::matchFolder(m_html) << '\n';
        }
    }
    return true;
}
