#include "StandingsTable.h"

#include "Standings.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <string>

using json = nlohmann::json;

namespace {

std::string disqualifications(const json& row) {
    std::string cell = Standings::reasonsCell(row["disqualified"]);
    const std::string more = row.value("more", "");
    if (!more.empty()) {
        cell = cell == "-" ? more : cell + ", " + more;
    }
    return cell;
}

void printRow(const json& b, size_t n, int width, std::ostream& os) {
    using F = StandingsTable;
    os << std::left << std::setw(4) << n << std::setw(width) << b["name"].get<std::string>()
       << std::right;
    if (b.value("unplayed", false)) {
        os << std::setw(26) << "" << std::setw(8) << b["matches"].dump() << "  no matches"
           << std::setw(40) << ""
           << "  " << disqualifications(b) << '\n';
        return;
    }
    const std::string wdl = b["wins"].dump() + "/" + b["draws"].dump() + "/" + b["losses"].dump();
    os << std::setw(8) << F::fixed(b["elo"], 1) << std::setw(18)
       << ("[" + F::fixed(b["elo_low"], 1) + ", " + F::fixed(b["elo_high"], 1) + "]")
       << std::setw(8) << b["matches"].dump() << std::setw(8) << F::fixed(b["points"], 1)
       << std::setw(7) << F::fixed(b["average_place"], 2) << std::setw(12) << wdl << std::setw(9)
       << F::fixed(b["time_ms"], 0) << std::setw(7) << F::fixed(b["time_max_ms"], 0) << std::setw(9)
       << F::fixed(b.value("cpu_ms", json()), 0) << "  " << disqualifications(b) << '\n';
}

} // namespace

void StandingsTable::print(const json& rows, std::ostream& os, size_t top) {
    size_t width = 3;
    for (const json& b : rows) {
        width = std::max(width, b["name"].get<std::string>().size());
    }
    const int w = static_cast<int>(width);
    os << Standings::ORDER << '\n'
       << std::left << std::setw(4) << "#" << std::setw(w) << "Bot" << std::right << std::setw(8)
       << "Elo" << std::setw(18) << "95 %" << std::setw(8) << "Matches" << std::setw(8) << "Points"
       << std::setw(7) << "Place" << std::setw(12) << "W/D/L" << std::setw(9) << "ms/move"
       << std::setw(7) << "max" << std::setw(9) << "cpu/move"
       << "  Disqualified\n";
    size_t n = 0;
    for (const json& b : rows) {
        if (top > 0 && n >= top) {
            break;
        }
        printRow(b, ++n, w, os);
    }
}

std::string StandingsTable::fixed(const json& value, int digits) {
    if (!value.is_number()) {
        return "-";
    }
    std::ostringstream s;
    s << std::fixed << std::setprecision(digits) << value.get<double>();
    return s.str();
}

nlohmann::json StandingsTable::row(const nlohmann::json& name, const nlohmann::json& b,
                                   const char* timeKey, const char* maxTimeKey,
                                   const char* cpuKey) {
    return {{"name", name},
            {"elo", b["elo"]},
            {"elo_low", b["elo_low"]},
            {"elo_high", b["elo_high"]},
            {"matches", b["matches"]},
            {"points", b["points"]},
            {"average_place", b["average_place"]},
            {"wins", b["wins"]},
            {"draws", b["draws"]},
            {"losses", b["losses"]},
            {"time_ms", b[timeKey]},
            {"time_max_ms", b[maxTimeKey]},
            {"cpu_ms", cpuKey != nullptr ? b.value(cpuKey, json()) : json()},
            {"disqualified", b["disqualified"]}};
}
