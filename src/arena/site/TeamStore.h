#pragma once
// Teams, their hashed tokens and their submissions, kept in the league's database.

#include "SqlDatabase.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

/// One team, as requests see it once authenticated.
struct Team {
    int64_t id = 0;
    std::string name;
};

/// One uploaded version of a team's bot and how its build went.
struct SubmissionRow {
    int64_t id = 0;
    int64_t teamId = 0;
    std::string team;
    std::string bot;
    std::string folder;
    std::string state; ///< "building", "built" or "failed"
    std::string log;   ///< the build's output, for the team alone
    std::string created;
};

/// Owns the tables of teams and submissions, in the league's database (SQLite or PostgreSQL)
/// beside the league's own. Every call is safe from any thread (one lock around one
/// connection of its own); a failed call leaves the tables as they were.
class TeamStore {
public:
    TeamStore();
    ~TeamStore();
    TeamStore(const TeamStore&) = delete;
    TeamStore& operator=(const TeamStore&) = delete;

    /// Connects to the league's database (as League::open names it) and makes or migrates the
    /// site's tables; false with the reason.
    bool open(const std::string& database, std::string& error);

    /// Whether a name may name a team or a bot: 1 to 32 letters, digits, '-' or '_'.
    static bool validName(const std::string& name);
    /// Adds a team with its token's hash; false (the reason given) when the name is taken or
    /// refused.
    bool addTeam(const std::string& name, const std::string& tokenHash, std::string& error);
    /// The team whose token this is, comparing against every team in constant time each.
    std::optional<Team> authenticate(const std::string& token);

    /// Records a submission being built; its id.
    int64_t addSubmission(int64_t teamId, const std::string& bot, const std::string& folder);
    /// Ends a build: "built" or "failed", with its log.
    void finishBuild(int64_t id, bool built, const std::string& log);
    std::optional<SubmissionRow> submission(int64_t id);
    /// A team's submissions, newest first, without their logs.
    std::vector<SubmissionRow> submissions(int64_t teamId);
    /// Submissions whose build had not ended (the server stopped during it).
    std::vector<SubmissionRow> unfinishedBuilds();
    /// The latest built submission of each bot of each team.
    std::vector<SubmissionRow> latestBuilt();

private:
    std::vector<SubmissionRow> querySubmissions(const std::string& where,
                                                const std::vector<SqlValue>& params, bool withLog);

    std::mutex m_lock;
    std::unique_ptr<SqlDatabase> m_db;
};
