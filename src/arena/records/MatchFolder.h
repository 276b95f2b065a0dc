#pragma once
// Where a match's files lie: each match of a tournament or a league has a folder of its own
// under the run's "logs" folder, holding the server's console and what each seat's bot wrote.
// Every name of that folder is made here, for the runner that writes the files and for those
// that read them back.

#include <string>

class MatchFolder {
public:
    /// The folder of match `matchId` of the run (tournament or league) kept in `runFolder`.
    static std::string of(const std::string& runFolder, const std::string& matchId);
    /// The lock file a tournament holds while it plays the match, beside its folder.
    static std::string lockOf(const std::string& runFolder, const std::string& matchId);
    /// The server's console, in the match's folder.
    static std::string serverLog(const std::string& folder);
    /// What seat `seat` (counted from 1) wrote: its name, as the record gives it, and its path.
    static std::string seatLogName(unsigned seat);
    static std::string seatLog(const std::string& folder, unsigned seat);
    /// A played match's record, kept while the league's database cannot take it.
    static std::string pendingRecord(const std::string& folder);
};
