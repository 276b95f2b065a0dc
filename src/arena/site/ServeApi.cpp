#include "ServeApi.h"

#include "MatchFolder.h"
#include "MatchPage.h"
#include "ServeLeague.h"
#include "SubmissionQueue.h"
#include "TeamToken.h"
#include "WebAssets.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

// The site's own files that may be fetched, and the viewer's files the match page reuses.
const char* const siteFiles[] = {"index.html", "bot.html", "team.html", "site.css",
                                 "site.js",    "match.js", "rules.js",  "match.css"};

std::string contentType(const std::string& name) {
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) {
        return "text/html; charset=utf-8";
    }
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".css") == 0) {
        return "text/css; charset=utf-8";
    }
    return "text/javascript; charset=utf-8";
}

HttpReply json(const nlohmann::json& value, int status = 200) {
    // Logs and names come from teams: bytes that are not UTF-8 are replaced, never refused.
    return {status, "application/json",
            value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), ""};
}

nlohmann::json describe(const SubmissionRow& row) {
    return {{"id", row.id},
            {"team", row.team},
            {"bot", row.bot},
            {"state", row.state},
            {"created", row.created}};
}

HttpReply fileReply(const std::string& name) {
    for (const char* known : siteFiles) {
        if (name == known) {
            const std::string_view bytes = WebAssets::find(name);
            return {200, contentType(name), std::string(bytes), ""};
        }
    }
    return HttpReply::error(404, "no such page");
}

} // namespace

ServeApi::ServeApi(ServeLeague& league, TeamStore& store, SubmissionQueue& queue,
                   Submission::Limits limits, TeamLimits teamLimits)
    : m_league(league), m_store(store), m_queue(queue), m_folder(league.config().folder),
      m_limits(limits), m_teamLimits(teamLimits) {}

std::vector<HttpRoute> ServeApi::routes() {
    using R = const HttpRequest&;
    return {
        {"GET", "/", [this](R r) { return page(r); }},
        {"GET", "/(bot|team)", [this](R r) { return page(r); }},
        {"GET", "/static/([a-z]+\\.(?:js|css|html))", [this](R r) { return asset(r); }},
        {"GET", "/api/team", [this](R r) { return team(r); }},
        {"POST", "/api/submissions", [this](R r) { return upload(r); },
         [this](R r) { return screenUpload(r); }},
        {"GET", "/api/submissions", [this](R r) { return listSubmissions(r); }},
        {"GET", "/api/team/bots", [this](R r) { return teamBots(r); }},
        {"GET", "/api/submissions/([0-9]{1,18})", [this](R r) { return showSubmission(r); }},
        {"GET", "/api/standings", [this](R r) { return standings(r); }},
        {"GET", "/api/bots/([^/]{1,200})", [this](R r) { return bot(r); }},
        {"GET", "/api/matches/([0-9]{1,18})", [this](R r) { return match(r); }},
        {"GET", "/api/matches/([0-9]{1,18})/logs/([0-9])", [this](R r) { return seatLog(r); }},
        {"GET", "/match/([0-9]{1,18})", [this](R r) { return matchPage(r); }},
        {"GET", "/match/((?:rules|match)\\.(?:js|css))", [this](R r) { return asset(r); }},
    };
}

HttpReply ServeApi::page(const HttpRequest& request) const {
    return fileReply(request.captures.empty() ? "index.html" : request.captures[0] + ".html");
}

HttpReply ServeApi::asset(const HttpRequest& request) const {
    return fileReply(request.captures[0]);
}

std::optional<Team> ServeApi::caller(const HttpRequest& request, HttpReply& refusal) {
    if (request.bearer.empty()) {
        refusal = HttpReply::error(401, "this needs a team's token (Authorization: Bearer ...)");
        return std::nullopt;
    }
    int wait = 0;
    if (!m_tokens.mayTry(request.remote, wait)) {
        refusal = HttpReply::error(429, "too many failed token checks from your address; try "
                                        "again in " +
                                            std::to_string(wait) + " s");
        refusal.retryAfter = wait;
        return std::nullopt;
    }
    std::optional<Team> found = m_store.authenticate(request.bearer);
    if (!found) {
        m_tokens.failed(request.remote);
        refusal = HttpReply::error(401, "unknown token");
    }
    return found;
}

HttpReply ServeApi::team(const HttpRequest& request) {
    HttpReply refusal;
    const std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return refusal;
    }
    return json({{"team", who->name}});
}

std::optional<HttpReply> ServeApi::screenUpload(const HttpRequest& request) {
    // curl's --data-binary says "x-www-form-urlencoded" unless told otherwise: its bytes are
    // taken as they are, never parsed as a form.
    static const char* const raw[] = {"",
                                      "application/octet-stream",
                                      "application/x-www-form-urlencoded",
                                      "application/gzip",
                                      "application/x-gzip",
                                      "application/x-tar",
                                      "application/x-gtar",
                                      "application/x-compressed-tar",
                                      "application/x-bzip-compressed-tar",
                                      "application/x-xz-compressed-tar",
                                      "application/x-bzip2",
                                      "application/x-xz",
                                      "application/zip",
                                      "application/x-zip-compressed",
                                      "multipart/form-data"};
    if (std::find(std::begin(raw), std::end(raw), request.contentType) == std::end(raw)) {
        return HttpReply::error(415, "an upload is sent as application/octet-stream (the "
                                     "archive's bytes) or as multipart/form-data (the archive "
                                     "as the form's file field), not as " +
                                         request.contentType);
    }
    HttpReply refusal;
    std::string bot;
    const std::optional<Team> who = uploader(request, bot, refusal);
    if (!who) {
        return refusal;
    }
    const std::string over = m_store.overLimit(who->id, bot, m_teamLimits);
    if (!over.empty()) {
        return HttpReply::error(429, over);
    }
    return std::nullopt;
}

std::optional<Team> ServeApi::uploader(const HttpRequest& request, std::string& bot,
                                       HttpReply& refusal) {
    std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return std::nullopt;
    }
    const auto named = request.query.find("bot");
    bot = named != request.query.end() ? named->second : who->name;
    if (!TeamStore::validName(bot)) {
        refusal = HttpReply::error(400, "a bot's name is 1 to 32 letters, digits, '-' or '_'");
        return std::nullopt;
    }
    return who;
}

HttpReply ServeApi::upload(const HttpRequest& request) {
    HttpReply refusal;
    std::string bot;
    const std::optional<Team> who = uploader(request, bot, refusal);
    if (!who) {
        return refusal;
    }
    const std::filesystem::path teamFolder =
        std::filesystem::path(m_folder) / "submissions" / who->name;
    std::error_code ignored;
    std::filesystem::create_directories(teamFolder, ignored);
    const std::string folder =
        (teamFolder / (bot + "-" + TeamToken::generate().substr(0, 16))).string();
    // The row owns the folder before a byte is written: a site stopped while unpacking finds
    // the row at its next start and removes what was unpacked.
    std::string error;
    const int64_t id = m_store.reserveUpload(who->id, bot, folder, m_teamLimits, error);
    if (id == 0) {
        return HttpReply::error(error.rfind("over", 0) == 0 ? 429 : 503, error);
    }
    if (!Submission::unpack(request.body, folder, m_limits, error)) {
        m_store.dropUpload(id);
        return HttpReply::error(400, error);
    }
    m_store.unpacked(id);
    m_queue.add(id);
    return json({{"id", id}, {"bot", bot}, {"state", "building"}}, 202);
}

HttpReply ServeApi::listSubmissions(const HttpRequest& request) {
    HttpReply refusal;
    const std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return refusal;
    }
    nlohmann::json list = nlohmann::json::array();
    for (const SubmissionRow& row : m_store.submissions(who->id)) {
        list.push_back(describe(row));
    }
    return json({{"team", who->name}, {"submissions", list}});
}

HttpReply ServeApi::showSubmission(const HttpRequest& request) {
    HttpReply refusal;
    const std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return refusal;
    }
    const std::optional<SubmissionRow> row = m_store.submission(std::stoll(request.captures[0]));
    if (!row) {
        return HttpReply::error(404, "no such submission");
    }
    if (row->teamId != who->id) {
        return HttpReply::error(403, "this submission is another team's");
    }
    nlohmann::json out = describe(*row);
    out["log"] = row->state == "building" ? buildingLog(*row) : row->log;
    return json(out);
}

std::string ServeApi::buildingLog(const SubmissionRow& row) {
    if (std::optional<std::string> live = m_queue.liveLog(row.id)) {
        return *live;
    }
    // The build may have ended since the row was read: its log is in the database now.
    const std::optional<SubmissionRow> now = m_store.submission(row.id);
    return now ? now->log : row.log;
}

HttpReply ServeApi::teamBots(const HttpRequest& request) {
    HttpReply refusal;
    const std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return refusal;
    }
    // Newest first, so that a bot's first entry is its latest upload.
    std::map<std::string, nlohmann::json> bots;
    for (const SubmissionRow& row : m_store.submissions(who->id)) {
        nlohmann::json& entry = bots[row.bot];
        entry["uploads"].push_back(describe(row));
    }
    nlohmann::json list = nlohmann::json::array();
    for (auto& [bot, entry] : bots) {
        const std::string name = ServeLeague::botName(who->name, bot);
        nlohmann::json league = m_league.bot(name);
        entry["bot"] = bot;
        entry["name"] = name;
        for (const char* key : {"versions", "standings", "matches"}) {
            entry[key] = league.is_null() ? nlohmann::json::array() : league[key];
        }
        list.push_back(std::move(entry));
    }
    return json({{"team", who->name}, {"bots", list}});
}

HttpReply ServeApi::standings(const HttpRequest&) {
    const auto [text, tag] = m_league.tables();
    if (!text) {
        return HttpReply::error(503, "the tables are being computed");
    }
    return {200, "application/json", *text, tag};
}

HttpReply ServeApi::bot(const HttpRequest& request) {
    const nlohmann::json found = m_league.bot(request.captures[0]);
    if (found.is_null()) {
        return HttpReply::error(404, "no such bot");
    }
    return json(found);
}

HttpReply ServeApi::match(const HttpRequest& request) {
    nlohmann::json record;
    bool found = false;
    if (!m_league.record(std::stoll(request.captures[0]), record, found)) {
        return HttpReply::error(500, "the league's database failed");
    }
    if (!found) {
        return HttpReply::error(404, "no such match, or not played yet");
    }
    return json(record);
}

HttpReply ServeApi::matchPage(const HttpRequest& request) {
    nlohmann::json record;
    bool found = false;
    m_league.record(std::stoll(request.captures[0]), record, found);
    std::string page(WebAssets::find("match.html"));
    // The viewer reads its record from this element; its scripts and style sheet stay files
    // of their own, fetched beside the page, so that no inline script is needed.
    const std::string element = "<script type=\"application/json\" id=\"record\"></script>";
    const size_t at = page.find(element);
    if (!found || at == std::string::npos) {
        return HttpReply::error(404, "no such match, or not played yet");
    }
    const std::string text = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    page.insert(at + element.size() - std::string("</script>").size(), MatchPage::escapeJson(text));
    return {200, "text/html; charset=utf-8", page, ""};
}

HttpReply ServeApi::seatLog(const HttpRequest& request) {
    HttpReply refusal;
    const std::optional<Team> who = caller(request, refusal);
    if (!who) {
        return refusal;
    }
    nlohmann::json record;
    bool found = false;
    const std::string id = request.captures[0];
    m_league.league().record(std::stoll(id), record, found);
    const int seat = std::stoi(request.captures[1]);
    if (!found || !record["seats"].is_array() || seat < 1 ||
        seat > static_cast<int>(record["seats"].size())) {
        return HttpReply::error(404, "no such match or seat");
    }
    const std::string name = record["seats"][seat - 1].value("bot", "");
    if (m_store.ownerOf(name) != who->id) {
        return HttpReply::error(403, "this seat's bot is another team's");
    }
    std::ifstream in(
        MatchFolder::seatLog(MatchFolder::of(m_folder, "m" + id), static_cast<unsigned>(seat)));
    std::stringstream text;
    text << in.rdbuf();
    return json({{"match", std::stoll(id)}, {"seat", seat}, {"bot", name}, {"log", text.str()}});
}
