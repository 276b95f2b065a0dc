#pragma once
// Teams, their hashed tokens, the bots they own and their submissions, kept in the league's
// database.

#include "SqlDatabase.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

/// One team, as requests see it once authenticated.
struct Team {
    int64_t id = 0;
    std::string name;
};

/// One team as the organiser's list shows it.
struct TeamSummary {
    std::string name;
    std::string created;
    bool hasToken = false; ///< false once revoked, until a new token is made
    int64_t bots = 0;      ///< its bots in the league (not withdrawn, with a built version)
    int64_t uploads = 0;
    std::string lastUpload; ///< "" when none
};

/// One uploaded version of a team's bot and how its build went. Its id is the upload's
/// number, shown to the team and in the version's command.
struct SubmissionRow {
    int64_t id = 0;
    int64_t teamId = 0;
    std::string team;
    std::string bot;
    std::string folder;
    std::string state; ///< "unpacking", "building", "built" or "failed"
    std::string log;   ///< the build's output, for the team alone
    std::string created;

    /// The command its league version runs: "./run", followed by a comment that names the
    /// upload and its time, so that each upload is a version of its own, whose row says
    /// which upload it is.
    std::string command() const;
};

/// What one team may hold at once; over a limit an upload is refused (429) with its name.
struct TeamLimits {
    int64_t bots = 3;            ///< "bots": bots in the league at once
    int64_t uploadsPerHour = 12; ///< "uploads_per_hour": accepted uploads in the last hour
    int64_t queuedBuilds = 2;    ///< "queued_builds": uploads not yet built
};

/// Owns the tables of teams, team bots and submissions, in the league's database (SQLite or
/// PostgreSQL) beside the league's own. A team owns exactly the bots recorded as its own (its
/// uploads made them); the organiser's bots belong to no team. Every call is safe from any
/// thread (one lock around one connection of its own); a failed call leaves the tables as
/// they were.
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
    /// The name a team's bot plays under in the league: "TEAM.BOT".
    static std::string leagueName(const std::string& team, const std::string& bot);
    /// Adds a team with its token's hash; false (the reason given) when the name is taken or
    /// refused.
    bool addTeam(const std::string& name, const std::string& tokenHash, std::string& error);
    /// The team whose token this is, comparing against every team in constant time each.
    std::optional<Team> authenticate(const std::string& token);
    /// Every team not removed, by name.
    std::vector<TeamSummary> teams();
    /// Replaces a team's token hash ("" revokes it: no token works until a new one is made).
    bool setToken(const std::string& name, const std::string& tokenHash, std::string& error);
    /// Removes a team: its token and its bots leave; its history (submissions, matches) and
    /// its name stay, so the name is never given to another team.
    bool removeTeam(const std::string& name, std::string& error);
    /// Takes a team's bot ("TEAM.BOT") out of the league until its next upload builds.
    bool withdraw(const std::string& leagueName, std::string& error);
    /// The team that owns a league's bot, by the record; none for the organiser's bots.
    std::optional<int64_t> ownerOf(const std::string& leagueName);
    /// The team whose name space ("TEAM.") a name is in, or "" for none.
    std::string namespaceOf(const std::string& name);

    /// The limit an upload of `bot` by this team would break, as the refusal to send, or ""
    /// when it may go ahead.
    std::string overLimit(int64_t teamId, const std::string& bot, const TeamLimits& limits);
    /// Records an upload about to be unpacked into `folder` (state "unpacking"), if no limit
    /// forbids it; its id, or 0 with the refusal in `refusal`.
    int64_t reserveUpload(int64_t teamId, const std::string& bot, const std::string& folder,
                          const TeamLimits& limits, std::string& refusal);
    /// An upload that was unpacked: its build may start.
    void unpacked(int64_t id);
    /// Forgets an upload whose archive was refused.
    void dropUpload(int64_t id);
    /// Ends a build: "built" (the bot is back in the league if it was withdrawn) or "failed",
    /// with its log; false when the database could not record it.
    bool finishBuild(int64_t id, bool built, const std::string& log);
    std::optional<SubmissionRow> submission(int64_t id);
    /// A team's submissions, newest first, without their logs.
    std::vector<SubmissionRow> submissions(int64_t teamId);
    /// Submissions whose build had not ended (the server stopped during it).
    std::vector<SubmissionRow> unfinishedBuilds();
    /// Forgets the uploads whose unpacking never ended (the server stopped during it); the
    /// folders they had.
    std::vector<std::string> abandonedUploads();
    /// The folder of every submission recorded.
    std::set<std::string> folders();
    /// A number that changes whenever a team bot is withdrawn or comes back, or a team is
    /// removed, by this process or another one on the same database.
    int64_t rosterStamp();
    /// The latest built submission of each bot in the league: not withdrawn, its team not
    /// removed.
    std::vector<SubmissionRow> latestBuilt();

private:
    std::vector<SubmissionRow> querySubmissions(const std::string& where,
                                                const std::vector<SqlValue>& params, bool withLog);
    int64_t count(const std::string& sql, const std::vector<SqlValue>& params);
    /// overLimit's work; the caller holds the lock.
    std::string checkLimits(int64_t teamId, const std::string& bot, const TeamLimits& limits);
    /// The id of a team not removed, or 0; the caller holds the lock.
    int64_t teamId(const std::string& name);

    std::mutex m_lock;
    std::unique_ptr<SqlDatabase> m_db;
};
