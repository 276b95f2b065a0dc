#include "MapRepository.h"

#include <cstdio>

namespace {

const char* const SELECT_MAP = "SELECT id, name, text, seats, base_id, plies, current FROM maps ";

LeagueMap mapOf(const SqlRow& row) {
    LeagueMap m;
    m.id = row.integer(0);
    m.name = row.text(1);
    m.text = row.text(2);
    m.seats = static_cast<int>(row.integer(3));
    m.baseId = row.integer(4);
    m.plies = static_cast<int>(row.integer(5));
    m.current = row.integer(6) != 0;
    return m;
}

} // namespace

std::string MapRepository::digest(const std::string& text) {
    constexpr std::uint64_t FNV_OFFSET = 1469598103934665603ULL;
    constexpr std::uint64_t FNV_PRIME = 1099511628211ULL;
    std::uint64_t h = FNV_OFFSET;
    for (const char c : text) {
        h = (h ^ static_cast<unsigned char>(c)) * FNV_PRIME;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

bool MapRepository::mapFor(const LeagueMap& wanted, LeagueMap& out) {
    const std::string d = digest(wanted.text);
    bool found = false;
    auto take = [&](const SqlRow& row) {
        out = mapOf(row);
        found = true;
    };
    const std::string where = std::string(SELECT_MAP) + "WHERE digest = ? AND base_id = ? "
                                                        "AND plies = ?";
    const std::vector<SqlValue> key{d, wanted.baseId, std::int64_t{wanted.plies}};
    if (!m_db.query(where, key, take)) {
        return false;
    }
    if (found) {
        return true;
    }
    return m_db.exec("INSERT INTO maps (name, text, digest, seats, base_id, plies) "
                     "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT DO NOTHING",
                     {wanted.name, wanted.text, d, std::int64_t{wanted.seats}, wanted.baseId,
                      std::int64_t{wanted.plies}}) &&
           m_db.query(where, key, take) && found;
}

bool MapRepository::all(std::vector<LeagueMap>& out) {
    out.clear();
    return m_db.query(std::string(SELECT_MAP) + "ORDER BY id", {},
                      [&](const SqlRow& row) { out.push_back(mapOf(row)); });
}
