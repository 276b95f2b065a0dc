#pragma once
// A tournament configuration: read once, every key checked, and the plan of its matches.

#include "Jail.h"
#include "JsonFields.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// The one reader of a tournament configuration (JSON). Every key is checked for its type and
/// range before it is used; a key it does not know is refused ("did you mean"). A larger
/// configuration (a league's) derives from it and reads its own keys in readKeys().
class TournamentConfig {
public:
    struct Bot {
        std::string name;
        std::string command;
        /// Absolute; the configuration's folder when not given.
        std::string dir;
        /// The bot's own "limits" (checked), over the tournament's.
        nlohmann::json limits = nlohmann::json::object();
        /// The bot's own "env": NAME=value added to its jail's environment.
        std::vector<std::pair<std::string, std::string>> env;
    };

    /// Bounds of a configuration; documented in docs/arena.md.
    static constexpr uint64_t MAX_MATCHES = 1000000;
    static constexpr size_t MAX_BOTS = 1000;
    static constexpr size_t MAX_MAPS = 1000;
    static constexpr unsigned MAX_ROUNDS = 1000000;
    static constexpr unsigned MAX_CONCURRENCY = 1024;
    static constexpr size_t MAX_NAME_BYTES = 64;
    static constexpr size_t MAX_TEXT_BYTES = 4096;
    /// Largest configuration or plan file read: 16 MiB (a plan of the most matches fits).
    static constexpr size_t MAX_FILE_BYTES = size_t{16} << 20;
    static constexpr size_t MAX_ENV_VARIABLES = 64;
    static constexpr unsigned DEFAULT_BASE_PORT = 20000;
    static constexpr unsigned LOWEST_BASE_PORT = 1024;

    TournamentConfig() = default;
    virtual ~TournamentConfig() = default;
    TournamentConfig(const TournamentConfig&) = default;
    TournamentConfig& operator=(const TournamentConfig&) = default;

    /// Reads and checks the file; relative paths (maps, bot folders) are taken from the file's
    /// folder. False with one error that names the file and the key.
    bool load(const std::string& file, std::string& error);
    /// Checks a configuration already read, such as the one a plan keeps. With an empty
    /// `baseDir` paths are kept as they are. False with the key at fault.
    bool read(const nlohmann::json& document, const std::string& baseDir, std::string& error);

    /// The configuration as a plan keeps it: as read, with absolute paths and every default
    /// of rounds, seed and base_port filled in (a concurrency only when given: by default it
    /// is the cores of the machine that plays).
    const nlohmann::json& document() const { return m_document; }

    /// Every match of the configuration: per round and map, every line-up of bots for the
    /// map's seats, each in all rotations of its seats. Refused without building anything
    /// when it would hold more than MAX_MATCHES, or when a map file cannot be read.
    bool makePlan(nlohmann::json& plan, std::string& error) const;
    /// Every multiset of `size` bots out of n in which each bot appears when n < size, every
    /// plain combination otherwise; each as ascending bot indices.
    static std::vector<std::vector<unsigned>> lineups(unsigned n, unsigned size);
    /// The number of matches of that plan (more than MAX_MATCHES: some larger number).
    static uint64_t planSize(size_t bots, const std::vector<unsigned>& seats, unsigned rounds);

    std::vector<Bot> bots;
    /// Absolute paths.
    std::vector<std::string> maps;
    /// Seconds per move, or 0 when a depth is given instead.
    double time = 0;
    unsigned depth = 0;
    unsigned rounds = 1;
    /// 0: one match per usable core.
    unsigned concurrency = 0;
    /// More matches at once than usable cores are allowed (they then share cores).
    bool oversubscribe = false;
    unsigned seed = 1;
    unsigned basePort = DEFAULT_BASE_PORT;
    /// 0: scaled to the map.
    double matchTimeout = 0;
    double connectTimeout = 30;
    uint64_t botLogLimit = uint64_t{1} << 20;
    /// Bots run jailed (the default) or as the organiser.
    bool sandbox = true;
    /// The tournament's jail limits; a bot's own override them (limitsOf).
    JailLimits limits;
    /// Empty: the arena's own server and client.
    std::string server;
    std::string client;

    /// The jail limits of one bot: the tournament's, with the bot's own over them.
    JailLimits limitsOf(const Bot& bot) const;

protected:
    /// Reads every key of the configuration from `fields`. A derived configuration calls this
    /// one, then reads its own keys; keys no reader asked for are refused afterwards.
    virtual void readKeys(JsonFields& fields);
    /// A path of the configuration made absolute from its folder (as it is without a folder).
    std::string absolute(const std::string& path) const;

private:
    void readBots(JsonFields& fields);
    void readBot(const nlohmann::json& entry, const std::string& path, JsonFields& fields);
    void readMaps(JsonFields& fields);
    void readLimit(JsonFields& fields);
    void readRun(JsonFields& fields);
    void readSandbox(JsonFields& fields);
    static void readBotJail(JsonFields& bot, Bot& b);
    bool mapSeats(std::vector<unsigned>& seats, std::string& error) const;
    std::vector<std::string> matchStems() const;

    nlohmann::json m_document;
    std::string m_baseDir;
    /// The file read, for the plan's faults; "the configuration" when read from a plan.
    std::string m_file = "the configuration";
};
