#pragma once
// Maps by their text: an edited map file is a new map; an opening is a map derived from one.

#include "SqlDatabase.h"

#include <cstdint>
#include <string>
#include <vector>

struct LeagueMap {
    std::int64_t id = 0;
    std::string name;
    std::string text;
    int seats = 0;
    /// The map an opening was derived from; 0 for a map of the configuration.
    std::int64_t baseId = 0;
    /// Plies played from the base map to reach this one.
    int plies = 0;
    /// A map (or opening) of the current configuration.
    bool current = false;
};

class MapRepository {
public:
    explicit MapRepository(SqlDatabase& db) : m_db(db) {}

    /// The map with this text (and base and plies): the existing one or a new one.
    bool mapFor(const LeagueMap& wanted, LeagueMap& out);
    bool all(std::vector<LeagueMap>& out);
    /// A stable 64-bit digest of a text, as 16 hex digits (FNV-1a).
    static std::string digest(const std::string& text);

    /// Marks exactly these as the current configuration's (the caller holds a transaction).
    bool setCurrent(const std::vector<std::int64_t>& ids) { return m_db.markCurrent("maps", ids); }

private:
    SqlDatabase& m_db;
};
