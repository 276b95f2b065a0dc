#include "RatingRepository.h"

bool RatingRepository::add(std::int64_t taken, const std::string& scope,
                           const std::vector<RatingEntry>& entries) {
    if (!m_db.begin()) {
        return false;
    }
    for (const RatingEntry& e : entries) {
        std::vector<SqlValue> values{taken, scope, e.version, std::int64_t{e.matches}};
        for (const double v : {e.elo, e.low, e.high}) {
            if (e.rated) {
                values.emplace_back(v);
            } else {
                values.emplace_back(nullptr);
            }
        }
        if (!m_db.exec("INSERT INTO ratings (taken, scope, version_id, matches, elo, low, high) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?)",
                       values)) {
            m_db.rollback();
            return false;
        }
    }
    return m_db.commit();
}

bool RatingRepository::latest(const std::string& scope, std::int64_t& taken,
                              std::vector<RatingEntry>& out) {
    out.clear();
    bool found = false;
    taken = 0;
    if (!m_db.scalar("SELECT COALESCE(MAX(taken), 0) FROM ratings WHERE scope = ?", {scope}, taken,
                     found)) {
        return false;
    }
    return m_db.query("SELECT version_id, matches, elo, low, high FROM ratings "
                      "WHERE scope = ? AND taken = ? ORDER BY id",
                      {scope, taken}, [&](const SqlRow& row) {
                          RatingEntry e;
                          e.version = row.integer(0);
                          e.matches = static_cast<int>(row.integer(1));
                          e.rated = !row.isNull(2);
                          e.elo = row.real(2);
                          e.low = row.real(3);
                          e.high = row.real(4);
                          out.push_back(e);
                      });
}
