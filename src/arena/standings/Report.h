#pragma once
// Standings and ratings of a folder of match records.

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

/// The SPRT bounds asked for: H0 elo <= elo0 against H1 elo >= elo1.
struct SprtSettings {
    double elo0 = 0;
    double elo1 = 5;
    double alpha = 0.05;
    double beta = 0.05;
};

class MatchRecord;
struct RecordDisqualification;

class Report {
public:
    /// Reads every record of DIR/matches (or of DIR itself when it has no such folder) and
    /// returns the report ("reversi-report-1"): the limits the records were played under; per
    /// bot, in the order of Standings::ORDER, the matches, points, places, wins, draws,
    /// losses, disqualifications by the server's reason and in plain words ("disqualified"),
    /// time-outs, times per move and its rating; for exactly two bots also their duel with LOS
    /// and SPRT. Files that are not usable records are listed under "skipped" and not counted.
    static nlohmann::json compute(const std::string& dir, const SprtSettings& sprt);
    /// The report as text: its records, the limits they were played under, the standings
    /// table (StandingsTable) and the duel.
    static void print(const nlohmann::json& report, std::ostream& os);
    /// A disqualification of the record in plain words (Standings::plainReason), telling
    /// whether the seat made one of the moves applied before it.
    static std::string plainReason(const MatchRecord& record, const RecordDisqualification& d);
};
