#pragma once
// What an edit of a league's configuration changed, one plain line per change, for a site that
// picks the edit up while it runs.

#include "LeagueConfig.h"

#include <string>
#include <vector>

class LeagueConfigChanges {
public:
    /// One line per change from `before` to `after`: bots added, removed or changed (and
    /// whether that makes a new version), maps added or removed, the limit, and every other
    /// key with its old and new value. Empty when nothing changed. Values are shown as JSON
    /// (control characters escaped), each cut at MAX_VALUE_BYTES.
    static std::vector<std::string> between(const LeagueConfig& before, const LeagueConfig& after);

    static constexpr size_t MAX_VALUE_BYTES = 80;

private:
    static void bots(const nlohmann::json& before, const nlohmann::json& after,
                     std::vector<std::string>& out);
    static void maps(const LeagueConfig& before, const LeagueConfig& after,
                     std::vector<std::string>& out);
    static void otherKeys(const nlohmann::json& before, const nlohmann::json& after,
                          std::vector<std::string>& out);
    static std::string shown(const nlohmann::json& value);
};
