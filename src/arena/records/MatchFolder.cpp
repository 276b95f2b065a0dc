#include "MatchFolder.h"

std::string MatchFolder::of(const std::string& runFolder, const std::string& matchId) {
    return runFolder + "/logs/" + matchId;
}

std::string MatchFolder::lockOf(const std::string& runFolder, const std::string& matchId) {
    return of(runFolder, matchId) + ".lock";
}

std::string MatchFolder::serverLog(const std::string& folder) {
    return folder + "/server.log";
}

std::string MatchFolder::seatLogName(unsigned seat) {
    return "seat" + std::to_string(seat) + ".log";
}

std::string MatchFolder::seatLog(const std::string& folder, unsigned seat) {
    return folder + "/" + seatLogName(seat);
}

std::string MatchFolder::pendingRecord(const std::string& folder) {
    return folder + "/record.json";
}
