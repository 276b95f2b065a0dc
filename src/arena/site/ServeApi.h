#pragma once
// What "arena serve" answers: the site's pages and its JSON API, as one route table.

#include "HttpServer.h"
#include "Submission.h"
#include "TeamStore.h"
#include "TokenGuard.h"

#include <functional>
#include <string>
#include <vector>

class ServeLeague;
class SubmissionQueue;

/// The handlers of the web site. Each is thin: check the caller, ask the store or the league,
/// answer JSON. Team routes want "Authorization: Bearer TOKEN": 401 without a known token,
/// 403 for another team's things (a team's things are what the store records as its own),
/// 429 once an address has failed too many token checks; nothing is changed by a refused
/// request. An upload is refused on its head alone, before its body is read, for a wrong
/// content type (415), a token (401) or a team over its limits (429, naming the limit).
class ServeApi {
public:
    /// Uploads are unpacked below the league's folder, in "submissions".
    ServeApi(ServeLeague& league, TeamStore& store, SubmissionQueue& queue,
             Submission::Limits limits, TeamLimits teamLimits);

    /// Every route, in one table.
    std::vector<HttpRoute> routes();

private:
    HttpReply page(const HttpRequest& request) const;
    HttpReply asset(const HttpRequest& request) const;
    HttpReply team(const HttpRequest& request);
    HttpReply upload(const HttpRequest& request);
    /// The checks an upload passes before its body is read; the refusal, if any.
    std::optional<HttpReply> screenUpload(const HttpRequest& request);
    HttpReply listSubmissions(const HttpRequest& request);
    HttpReply showSubmission(const HttpRequest& request);
    /// A building submission's log: what its build printed so far, or the whole log when the
    /// build has just ended.
    std::string buildingLog(const SubmissionRow& row);
    /// The team's own view: each of its bots with its uploads, its name in the league, its
    /// versions, standing and latest matches.
    HttpReply teamBots(const HttpRequest& request);
    HttpReply standings(const HttpRequest& request);
    HttpReply bot(const HttpRequest& request);
    HttpReply match(const HttpRequest& request);
    HttpReply matchPage(const HttpRequest& request);
    HttpReply seatLog(const HttpRequest& request);

    /// The caller's team, or the 401 to answer.
    std::optional<Team> caller(const HttpRequest& request, HttpReply& refusal);
    /// The caller's team and the bot an upload names (the team's own name when none), or the
    /// 401 or 400 to answer.
    std::optional<Team> uploader(const HttpRequest& request, std::string& bot, HttpReply& refusal);

    ServeLeague& m_league;
    TeamStore& m_store;
    SubmissionQueue& m_queue;
    std::string m_folder;
    Submission::Limits m_limits;
    TeamLimits m_teamLimits;
    TokenGuard m_tokens;
};
