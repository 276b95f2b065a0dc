#include "TournamentConfig.h"

#include "BoundedFile.h"
#include "Map.h"
#include "MapFile.h"
#include "MatchSlots.h"
#include "ServerFacts.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <set>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr unsigned MAX_UNSIGNED = std::numeric_limits<unsigned>::max();
/// Time limits whose milliseconds still fit the server's 32-bit field.
constexpr double MAX_TIME_SECONDS = 4294967;
constexpr double MAX_MATCH_TIMEOUT = 7 * 24 * 3600;
constexpr double MIN_CONNECT_TIMEOUT = 1;
constexpr double MAX_CONNECT_TIMEOUT = 3600;
constexpr uint64_t MAX_BOT_LOG_LIMIT = uint64_t{1} << 30;
/// Seeds of successive matches lie this far apart.
constexpr unsigned SEED_STRIDE = 10;
/// A map's name in a match id keeps at most this many bytes.
constexpr size_t MAX_STEM_BYTES = 64;
const char* const ENV_NAME_CHARS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

/// n choose k in floating point: exact while small, and large enough to compare with a bound.
double choose(double n, unsigned k) {
    double result = 1;
    for (unsigned i = 1; i <= k; ++i) {
        result = result * (n - k + i) / i;
    }
    return result;
}

/// The file's name without its extension, in the letters a match id may hold.
std::string idStem(const std::string& file) {
    std::string stem = fs::path(file).stem().string().substr(0, MAX_STEM_BYTES);
    for (char& c : stem) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') {
            c = '_';
        }
    }
    return stem.empty() ? "map" : stem;
}

} // namespace

bool TournamentConfig::load(const std::string& file, std::string& error) {
    json document;
    if (!BoundedFile::readJson(file, MAX_FILE_BYTES, document, error)) {
        error = file + ": " + error;
        return false;
    }
    if (!read(document, fs::absolute(fs::path(file)).parent_path().string(), error)) {
        error = file + ": " + error;
        return false;
    }
    m_file = file;
    return true;
}

bool TournamentConfig::read(const json& document, const std::string& baseDir, std::string& error) {
    // Only this class's part: a derived configuration resets its own keys in readKeys().
    TournamentConfig::operator=(TournamentConfig());
    m_baseDir = baseDir;
    m_document = document;
    JsonFields fields(document);
    readKeys(fields);
    fields.refuseUnknown();
    if (!fields.ok()) {
        error = fields.error();
        return false;
    }
    return true;
}

std::string TournamentConfig::absolute(const std::string& path) const {
    if (m_baseDir.empty()) {
        return path;
    }
    const fs::path p(path);
    const fs::path joined = p.is_absolute() ? p : fs::path(m_baseDir) / p;
    // A path the system refuses (too long, say) stays as given: opening it says why.
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(joined, ec);
    return ec ? joined.lexically_normal().string() : canonical.string();
}

void TournamentConfig::readKeys(JsonFields& fields) {
    readBots(fields);
    readMaps(fields);
    readLimit(fields);
    readRun(fields);
    readSandbox(fields);
}

void TournamentConfig::readBots(JsonFields& fields) {
    const json* list = fields.array("bots", 1, MAX_BOTS);
    for (size_t i = 0; list != nullptr && i < list->size() && fields.ok(); ++i) {
        readBot((*list)[i], fields.pathOf("bots", i), fields);
        if (fields.ok() && !bots.back().dir.empty()) {
            m_document["bots"][i]["dir"] = bots.back().dir;
        }
    }
}

void TournamentConfig::readBot(const json& entry, const std::string& path, JsonFields& fields) {
    JsonFields bot(entry, path);
    Bot b;
    bot.text("name", MAX_NAME_BYTES, b.name, true);
    bot.text("command", MAX_TEXT_BYTES, b.command, true);
    bot.path("dir", b.dir);
    readBotJail(bot, b);
    bot.refuseUnknown();
    const bool clash = std::any_of(bots.begin(), bots.end(),
                                   [&](const Bot& other) { return other.name == b.name; });
    if (bot.ok() && (b.name.find_first_of("/ \t") != std::string::npos || clash)) {
        bot.fail("name", "must be a unique word without '/', not \"" + b.name + "\"");
    }
    fields.adopt(bot);
    if (fields.ok()) {
        // No `dir`: no folder of the organiser's is shown to the bot (see BotCommand::folder).
        b.dir = b.dir.empty() ? b.dir : absolute(b.dir);
        bots.push_back(b);
    }
}

void TournamentConfig::readMaps(JsonFields& fields) {
    const json* list = fields.array("maps", 1, MAX_MAPS);
    for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
        const std::string* file = (*list)[i].get_ptr<const std::string*>();
        if (file == nullptr || file->empty() || file->size() > MAX_TEXT_BYTES) {
            fields.fail("maps", "must list file names, but entry " + std::to_string(i + 1) +
                                    " is " + (*list)[i].dump().substr(0, 40));
            return;
        }
        if (!JsonFields::fitsPath(*file)) {
            fields.fail("maps",
                        "entry " + std::to_string(i + 1) + " must be " + JsonFields::pathBounds());
            return;
        }
        maps.push_back(absolute(*file));
        m_document["maps"][i] = maps.back();
    }
}

void TournamentConfig::readLimit(JsonFields& fields) {
    const bool timed = fields.has("time");
    if (timed == fields.has("depth")) {
        fields.fail("time", "(seconds) or \"depth\" must be given: exactly one of them");
        return;
    }
    if (timed) {
        fields.number("time", ServerFacts::MIN_TIME_SECONDS, MAX_TIME_SECONDS, time, true);
    } else {
        fields.whole("depth", 1u, MAX_UNSIGNED, depth, true);
    }
}

void TournamentConfig::readRun(JsonFields& fields) {
    fields.whole("rounds", 1u, MAX_ROUNDS, rounds);
    fields.whole("concurrency", 1u, MAX_CONCURRENCY, concurrency);
    fields.flag("oversubscribe", oversubscribe);
    fields.whole("seed", 0u, MAX_UNSIGNED, seed);
    fields.whole("base_port", LOWEST_BASE_PORT,
                 MatchSlots::TOP_PORT - ServerFacts::PORT_SEARCH_WIDTH, basePort);
    fields.number("match_timeout", 0, MAX_MATCH_TIMEOUT, matchTimeout);
    fields.number("connect_timeout", MIN_CONNECT_TIMEOUT, MAX_CONNECT_TIMEOUT, connectTimeout);
    fields.whole("bot_log_limit", uint64_t{1}, MAX_BOT_LOG_LIMIT, botLogLimit);
    fields.text("server", MAX_TEXT_BYTES, server);
    fields.text("client", MAX_TEXT_BYTES, client);
    if (fields.ok()) {
        m_document["rounds"] = rounds;
        if (concurrency != 0) {
            m_document["concurrency"] = concurrency;
        }
        m_document["seed"] = seed;
        m_document["base_port"] = basePort;
    }
}

void TournamentConfig::readSandbox(JsonFields& fields) {
    fields.flag("sandbox", sandbox);
    const json* given = fields.object("limits", MAX_ENV_VARIABLES);
    std::string error;
    if (given != nullptr && !limits.update(*given, error)) {
        fields.fail("limits", error);
    }
}

void TournamentConfig::readBotJail(JsonFields& bot, Bot& b) {
    const json* given = bot.object("limits", MAX_ENV_VARIABLES);
    JailLimits check;
    std::string error;
    if (given != nullptr) {
        b.limits = *given;
        if (!check.update(*given, error)) {
            bot.fail("limits", error);
        }
    }
    const json* env = bot.object("env", MAX_ENV_VARIABLES);
    if (env == nullptr) {
        return;
    }
    for (const auto& [name, value] : env->items()) {
        const std::string* text = value.template get_ptr<const std::string*>();
        if (name.empty() || name.find_first_not_of(ENV_NAME_CHARS) != std::string::npos ||
            name.rfind("REVERSI_", 0) == 0 || text == nullptr || text->size() > MAX_TEXT_BYTES) {
            bot.fail("env", "\"" + name.substr(0, MAX_NAME_BYTES) +
                                "\" must be a name of A-Z, 0-9 and _ (not REVERSI_...) with a "
                                "text value");
            return;
        }
        b.env.emplace_back(name, *text);
    }
}

JailLimits TournamentConfig::limitsOf(const Bot& bot) const {
    JailLimits own = limits;
    std::string error;
    // Checked when the configuration was read.
    own.update(bot.limits, error);
    return own;
}

std::vector<std::vector<unsigned>> TournamentConfig::lineups(unsigned n, unsigned size) {
    std::vector<std::vector<unsigned>> out;
    std::vector<unsigned> pick;
    const bool repeat = n < size;
    std::function<void(unsigned)> extend = [&](unsigned from) {
        if (pick.size() == size) {
            for (unsigned b = 0; repeat && b < n; ++b) {
                if (std::find(pick.begin(), pick.end(), b) == pick.end()) {
                    return;
                }
            }
            out.push_back(pick);
            return;
        }
        for (unsigned b = from; b < n; ++b) {
            pick.push_back(b);
            extend(repeat ? b : b + 1);
            pick.pop_back();
        }
    };
    if (n > 0 && size > 0) {
        extend(0);
    }
    return out;
}

uint64_t TournamentConfig::planSize(size_t bots, const std::vector<unsigned>& seats,
                                    unsigned rounds) {
    double total = 0;
    for (unsigned k : seats) {
        // Fewer bots than seats: each bot at least once, so the multisets are the ways to
        // share the k - n extra seats among n bots.
        const double ups = bots >= k ? choose(static_cast<double>(bots), k)
                                     : choose(static_cast<double>(k - 1), unsigned(bots - 1));
        total += ups * k;
    }
    total *= rounds;
    return total > static_cast<double>(MAX_MATCHES) ? MAX_MATCHES + 1
                                                    : static_cast<uint64_t>(std::llround(total));
}

bool TournamentConfig::mapSeats(std::vector<unsigned>& seats, std::string& error) const {
    for (const std::string& file : maps) {
        Map map;
        if (!MapFile::read(file, map, error)) {
            error.insert(0, m_file + ": \"maps\": ");
            return false;
        }
        // A map the model refuses still gets its matches: their records say what was wrong.
        seats.push_back(map.isValid() ? map.getPlayers() : 2);
    }
    return true;
}

std::vector<std::string> TournamentConfig::matchStems() const {
    std::vector<std::string> stems;
    std::set<std::string> taken;
    for (const std::string& file : maps) {
        taken.insert(idStem(file));
    }
    std::set<std::string> used;
    for (size_t m = 0; m < maps.size(); ++m) {
        std::string stem = idStem(maps[m]);
        // A later duplicate gets the first free "_N" from its own place on, avoiding every
        // map's own name as well, so that d1/x_3.map, d2/x.map, d3/x.map stay three.
        for (size_t n = m + 1; used.count(stem) != 0; ++n) {
            stem = idStem(maps[m]) + "_" + std::to_string(n);
            if (taken.count(stem) != 0) {
                stem = idStem(maps[m]);
            }
        }
        used.insert(stem);
        stems.push_back(stem);
    }
    return stems;
}

bool TournamentConfig::makePlan(json& plan, std::string& error) const {
    std::vector<unsigned> seats;
    if (!mapSeats(seats, error)) {
        return false;
    }
    const uint64_t size = planSize(bots.size(), seats, rounds);
    if (size > MAX_MATCHES) {
        error = m_file + ": the plan would hold more than " + std::to_string(MAX_MATCHES) +
                " matches: fewer \"rounds\", bots or maps";
        return false;
    }
    const std::vector<std::string> stems = matchStems();
    plan = {{"format", "reversi-plan-1"}, {"config", m_document}, {"matches", json::array()}};
    std::set<std::string> ids;
    unsigned index = 0;
    for (unsigned round = 1; round <= rounds; ++round) {
        for (size_t m = 0; m < seats.size(); ++m) {
            const std::vector<std::vector<unsigned>> ups =
                lineups(static_cast<unsigned>(bots.size()), seats[m]);
            for (size_t u = 0; u < ups.size(); ++u) {
                for (unsigned r = 0; r < seats[m]; ++r) {
                    json names = json::array();
                    for (unsigned s = 0; s < seats[m]; ++s) {
                        names.push_back(bots[ups[u][(s + r) % seats[m]]].name);
                    }
                    const std::string id = "r" + std::to_string(round) + "-" + stems[m] + "-" +
                                           std::to_string(u + 1) + "-" + std::to_string(r + 1);
                    ids.insert(id);
                    plan["matches"].push_back({{"id", id},
                                               {"index", index},
                                               {"round", round},
                                               {"map", maps[m]},
                                               {"bots", names},
                                               {"seed", seed + SEED_STRIDE * index}});
                    ++index;
                }
            }
        }
    }
    if (ids.size() != index) {
        error = m_file + ": two planned matches share an id; rename a map";
        return false;
    }
    return true;
}
