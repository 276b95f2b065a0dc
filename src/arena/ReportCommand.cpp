#include "ReportCommand.h"

#include "Arena.h"
#include "Logging.h"
#include "ReportPage.h"
#include "knob/VariableArgument.h"

#include <iostream>

bool ReportCommand::parseOptions(knob::ArgumentParser& parser) {
    knob::VariableArgument<std::string> dir("The tournament folder, or a folder of records", m_dir);
    dir.valuename("dir");
    knob::Argument json("Print the report as $json");
    knob::VariableArgument<double> elo0("SPRT: the Elo difference of H0 (default 0)", "elo0",
                                        m_sprt.elo0);
    elo0.valuename("elo");
    knob::VariableArgument<double> elo1("SPRT: the Elo difference of H1 (default 5)", "elo1",
                                        m_sprt.elo1);
    elo1.valuename("elo");
    knob::VariableArgument<double> alpha("SPRT: the false positive rate (default 0.05)", "alpha",
                                         m_sprt.alpha);
    alpha.valuename("rate");
    knob::VariableArgument<double> beta("SPRT: the false negative rate (default 0.05)", "beta",
                                        m_sprt.beta);
    beta.valuename("rate");
    knob::VariableArgument<std::string> html(
        "Also write the report as a web page to this file, with a page per match beside it", "html",
        m_html);
    html.valuename("file");
    parser.add(+dir);
    parser.add(json);
    parser.add(html);
    parser.add(elo0);
    parser.add(elo1);
    parser.add(alpha);
    parser.add(beta);
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
