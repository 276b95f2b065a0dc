#include "LeagueConfigChanges.h"

#include "LeagueLimit.h"

#include <filesystem>
#include <map>
#include <set>

using json = nlohmann::json;

namespace {

/// The bot entries of a configuration's document by name.
std::map<std::string, json> botsByName(const json& document) {
    std::map<std::string, json> out;
    if (document.contains("bots") && document["bots"].is_array()) {
        for (const json& bot : document["bots"]) {
            if (bot.is_object() && bot.contains("name") && bot["name"].is_string()) {
                out[bot["name"].get<std::string>()] = bot;
            }
        }
    }
    return out;
}

/// The keys whose values differ between two bot entries, in order.
std::vector<std::string> changedKeys(const json& before, const json& after) {
    std::set<std::string> keys;
    for (const json* entry : {&before, &after}) {
        for (const auto& item : entry->items()) {
            keys.insert(item.key());
        }
    }
    std::vector<std::string> out;
    for (const std::string& key : keys) {
        if (before.value(key, json()) != after.value(key, json())) {
            out.push_back(key);
        }
    }
    return out;
}

} // namespace

std::string LeagueConfigChanges::shown(const json& value) {
    if (value.is_null()) {
        return "(not set)";
    }
    std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
    if (text.size() > MAX_VALUE_BYTES) {
        text = text.substr(0, MAX_VALUE_BYTES) + "...";
    }
    return text;
}

void LeagueConfigChanges::bots(const json& before, const json& after,
                               std::vector<std::string>& out) {
    const std::map<std::string, json> old = botsByName(before);
    const std::map<std::string, json> now = botsByName(after);
    for (const auto& [name, bot] : now) {
        const auto found = old.find(name);
        if (found == old.end()) {
            out.push_back("bot " + name + " added");
            continue;
        }
        const std::vector<std::string> keys = changedKeys(found->second, bot);
        if (keys.empty()) {
            continue;
        }
        std::string line = "bot " + name + " changed its ";
        bool version = false;
        for (size_t i = 0; i < keys.size(); ++i) {
            line += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + keys[i];
            version = version || keys[i] == "command";
        }
        out.push_back(line + (version ? ": a new version" : ""));
    }
    for (const auto& entry : old) {
        if (now.count(entry.first) == 0) {
            out.push_back("bot " + entry.first +
                          " removed: it leaves the standings, its matches stay in its history");
        }
    }
}

void LeagueConfigChanges::maps(const LeagueConfig& before, const LeagueConfig& after,
                               std::vector<std::string>& out) {
    const std::set<std::string> old(before.maps.begin(), before.maps.end());
    const std::set<std::string> now(after.maps.begin(), after.maps.end());
    const auto name = [](const std::string& path) {
        return std::filesystem::path(path).stem().string();
    };
    for (const std::string& map : now) {
        if (old.count(map) == 0) {
            out.push_back("map " + name(map) + " added");
        }
    }
    for (const std::string& map : old) {
        if (now.count(map) == 0) {
            out.push_back("map " + name(map) + " removed: its matches leave the standings");
        }
    }
}

void LeagueConfigChanges::otherKeys(const json& before, const json& after,
                                    std::vector<std::string>& out) {
    std::set<std::string> keys;
    for (const json* document : {&before, &after}) {
        for (const auto& item : document->items()) {
            keys.insert(item.key());
        }
    }
    for (const std::string& key : keys) {
        if (key == "bots" || key == "maps" || key == "time" || key == "depth") {
            continue;
        }
        const json old = before.value(key, json());
        const json now = after.value(key, json());
        if (old != now) {
            out.push_back(key + " changed from " + shown(old) + " to " + shown(now));
        }
    }
}

std::vector<std::string> LeagueConfigChanges::between(const LeagueConfig& before,
                                                      const LeagueConfig& after) {
    std::vector<std::string> out;
    bots(before.document(), after.document(), out);
    maps(before, after, out);
    const LeagueLimit old(before.timeMs(), before.depthLimit());
    const LeagueLimit now(after.timeMs(), after.depthLimit());
    if (old != now) {
        out.push_back("limit changed from " + old.text() + " to " + now.text());
    }
    otherKeys(before.document(), after.document(), out);
    return out;
}
