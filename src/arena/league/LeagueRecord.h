#pragma once
// What a league keeps of a match record: read once, checked, whatever its origin.

#include "MatchRecord.h"
#include "MatchRepository.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class LeagueRecord {
public:
    /// Reads a "reversi-match-1" document. False with the reason when it is not one, or when
    /// it has more than MAX_SEATS seats or MAX_MOVES moves. A match aborted by a seat before
    /// its first move is kept as played, that seat's forfeit (`forfeit`).
    static bool read(const nlohmann::json& document, LeagueRecord& out, std::string& error);
    /// The same for a record already read.
    static bool read(const MatchRecord& record, LeagueRecord& out, std::string& error);

    MatchResult result;
    /// Per seat: the bot's name and command.
    std::vector<std::pair<std::string, std::string>> bots;
    std::string mapName;
    std::string mapText;
    int timeMs = 0;
    int depth = 0;
    int round = 1;
    /// The seat that forfeited the match (it did not start), 0 when none did.
    unsigned forfeit = 0;
    /// The disqualification of a forfeit, before the abort's reason.
    static constexpr const char* DID_NOT_START = "did not start";

    static constexpr size_t MAX_SEATS = 8;
    static constexpr size_t MAX_MOVES = 100000;
};
