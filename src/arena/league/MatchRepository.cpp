#include "MatchRepository.h"

#include <algorithm>

namespace {

const char* const SELECT_MATCH =
    "SELECT id, key, map_id, round, time_ms, depth, seed, status, needed FROM matches ";

void matchOf(const SqlRow& row, LeagueMatch& m) {
    m.id = row.integer(0);
    m.key = row.text(1);
    m.mapId = row.integer(2);
    m.round = static_cast<int>(row.integer(3));
    m.timeMs = static_cast<int>(row.integer(4));
    m.depth = static_cast<int>(row.integer(5));
    m.seed = row.integer(6);
    m.status = row.text(7);
    m.needed = row.integer(8) != 0;
}

SqlValue nullable(bool present, std::int64_t value) {
    if (present) {
        return SqlValue(value);
    }
    return SqlValue(nullptr);
}

/// A stored end; a text the arena never writes (a database edited by hand) is no final one.
MatchEnd endOf(const std::string& stored) {
    return MatchRecord::endNamed(stored).value_or(MatchEnd::Aborted);
}

} // namespace

bool MatchRepository::states(std::unordered_map<std::string, MatchState>& out) {
    out.clear();
    return m_db.query("SELECT key, id, status, needed FROM matches", {}, [&](const SqlRow& row) {
        out.emplace(row.text(0),
                    MatchState{row.integer(1), row.text(2) == "done", row.integer(3) != 0});
    });
}

bool MatchRepository::add(const std::vector<PlannedMatch>& matches) {
    for (const PlannedMatch& m : matches) {
        std::int64_t id = 0;
        bool found = false;
        if (!m_db.scalar("INSERT INTO matches (key, map_id, round, time_ms, depth, seed) "
                         "VALUES (?, ?, ?, ?, ?, ?) RETURNING id",
                         {m.key, m.mapId, std::int64_t{m.round}, std::int64_t{m.timeMs},
                          std::int64_t{m.depth}, m.seed},
                         id, found)) {
            return false;
        }
        for (size_t s = 0; s < m.versions.size(); ++s) {
            if (!m_db.exec("INSERT INTO seats (match_id, seat, version_id) VALUES (?, ?, ?)",
                           {id, static_cast<std::int64_t>(s + 1), m.versions[s]})) {
                return false;
            }
        }
    }
    return true;
}

bool MatchRepository::setNeeded(std::int64_t id, bool needed) {
    return m_db.exec("UPDATE matches SET needed = ? WHERE id = ?", {std::int64_t{needed}, id});
}

bool MatchRepository::all(std::vector<PlannedMatch>& out, std::vector<bool>& done) {
    out.clear();
    done.clear();
    std::int64_t last = 0;
    return m_db.query("SELECT m.id, m.key, m.map_id, m.round, m.time_ms, m.depth, m.seed, "
                      "m.status, s.version_id FROM matches m JOIN seats s ON s.match_id = m.id "
                      "ORDER BY m.id, s.seat",
                      {}, [&](const SqlRow& row) {
                          if (out.empty() || row.integer(0) != last) {
                              LeagueMatch m;
                              matchOf(row, m);
                              last = m.id;
                              out.push_back(m);
                              done.push_back(m.status == "done");
                          }
                          out.back().versions.push_back(row.integer(8));
                      });
}

bool MatchRepository::seatsOf(LeagueMatch& match) {
    match.versions.clear();
    return m_db.query("SELECT version_id FROM seats WHERE match_id = ? ORDER BY seat", {match.id},
                      [&](const SqlRow& row) { match.versions.push_back(row.integer(0)); });
}

bool MatchRepository::claimNext(const std::string& worker, std::int64_t now, std::int64_t until,
                                LeagueMatch& out, bool& found) {
    // PostgreSQL lets concurrent claimers skip each other's candidate row; SQLite has one
    // writer at a time anyway. The outer condition is checked again on the locked row, so a
    // row taken meanwhile yields nothing and the caller asks again.
    const std::string skip =
        m_db.dialect() == SqlDatabase::Dialect::Postgres ? " FOR UPDATE SKIP LOCKED" : "";
    const std::string sql =
        "UPDATE matches SET status = 'claimed', claimed_by = ?, claimed_until = ?, "
        "attempts = attempts + 1 WHERE id = (SELECT id FROM matches WHERE needed = 1 AND "
        "(status = 'pending' OR (status = 'claimed' AND claimed_until < ?)) ORDER BY id LIMIT 1" +
        skip +
        ") AND needed = 1 AND (status = 'pending' OR (status = 'claimed' AND claimed_until < ?)) "
        "RETURNING id, key, map_id, round, time_ms, depth, seed, status, needed, attempts";
    constexpr int ATTEMPTS = 20;
    found = false;
    for (int attempt = 0; attempt < ATTEMPTS && !found; ++attempt) {
        if (!m_db.query(sql, {worker, until, now, now}, [&](const SqlRow& row) {
                matchOf(row, out);
                out.attempts = static_cast<int>(row.integer(9));
                found = true;
            })) {
            return false;
        }
        bool left = false;
        if (!found && !m_db.query("SELECT COUNT(*) FROM matches WHERE needed = 1 AND "
                                  "(status = 'pending' OR status = 'claimed')",
                                  {}, [&](const SqlRow& row) { left = row.integer(0) > 0; })) {
            return false;
        }
        if (!found && !left) {
            return true;
        }
    }
    return !found || seatsOf(out);
}

bool MatchRepository::claimKey(const std::string& key, const std::string& worker,
                               std::int64_t until, LeagueMatch& out, bool& found) {
    found = false;
    return m_db.query("UPDATE matches SET status = 'claimed', claimed_by = ?, claimed_until = ? "
                      "WHERE key = ? AND status <> 'done' "
                      "RETURNING id, key, map_id, round, time_ms, depth, seed, status, needed",
                      {worker, until, key},
                      [&](const SqlRow& row) {
                          matchOf(row, out);
                          found = true;
                      }) &&
           (!found || seatsOf(out));
}

bool MatchRepository::renew(std::int64_t id, const std::string& worker, std::int64_t until,
                            bool& held) {
    held = false;
    return m_db.query("UPDATE matches SET claimed_until = ? WHERE id = ? AND claimed_by = ? AND "
                      "status = 'claimed' RETURNING id",
                      {until, id, worker}, [&](const SqlRow&) { held = true; });
}

bool MatchRepository::release(std::int64_t id, const std::string& worker) {
    return m_db.exec("UPDATE matches SET status = 'pending', claimed_by = NULL, "
                     "claimed_until = NULL WHERE id = ? AND claimed_by = ? AND status = 'claimed'",
                     {id, worker});
}

bool MatchRepository::storeSeats(std::int64_t id, const MatchResult& result) {
    for (size_t s = 0; s < result.seats.size(); ++s) {
        const SeatResult& r = result.seats[s];
        std::vector<SqlValue> values;
        values.push_back(nullable(r.scored, r.score));
        values.push_back(nullable(r.rank > 0, r.rank));
        if (r.disqualified.empty()) {
            values.emplace_back(nullptr);
        } else {
            values.emplace_back(r.disqualified);
        }
        for (const std::int64_t v :
             {std::int64_t{r.moves}, r.timeMsSum, std::int64_t{r.timeMsMax}}) {
            values.emplace_back(v);
        }
        values.push_back(nullable(r.cpuMs >= 0, r.cpuMs));
        values.emplace_back(id);
        values.emplace_back(static_cast<std::int64_t>(s + 1));
        if (!m_db.exec("UPDATE seats SET score = ?, rank = ?, disqualified = ?, moves = ?, "
                       "time_ms_sum = ?, time_ms_max = ?, cpu_ms = ? WHERE match_id = ? AND "
                       "seat = ?",
                       values)) {
            return false;
        }
    }
    return m_db.exec("INSERT INTO records (match_id, document) VALUES (?, ?)",
                     {id, result.document});
}

bool MatchRepository::store(std::int64_t id, const std::string& worker, std::int64_t now,
                            const MatchResult& result, bool& stored) {
    stored = false;
    if (!m_db.begin()) {
        return false;
    }
    const bool ok =
        m_db.query("UPDATE matches SET status = 'done', finished = ?, end_kind = ?, reason = ?, "
                   "moves_digest = ?, duration_s = ?, claimed_until = NULL "
                   "WHERE id = ? AND status = 'claimed' AND claimed_by = ? RETURNING id",
                   {now, MatchRecord::endName(result.end), result.reason, result.movesDigest,
                    result.durationS, id, worker},
                   [&](const SqlRow&) { stored = true; }) &&
        (!stored || storeSeats(id, result));
    if (!ok || !stored) {
        m_db.rollback();
        stored = false;
        return ok;
    }
    return m_db.commit();
}

bool MatchRepository::match(std::int64_t id, LeagueMatch& out, bool& found) {
    found = false;
    return m_db.query(std::string(SELECT_MATCH) + "WHERE id = ?", {id}, [&](const SqlRow& row) {
        matchOf(row, out);
        found = true;
    }) && (!found || seatsOf(out));
}

bool MatchRepository::document(std::int64_t id, std::string& out, bool& found) {
    found = false;
    return m_db.query("SELECT document FROM records WHERE match_id = ?", {id},
                      [&](const SqlRow& row) {
                          out = row.text(0);
                          found = true;
                      });
}

std::string MatchRepository::counted(std::vector<SqlValue>& values) const {
    if (!m_view) {
        return "m.needed = 1";
    }
    values.emplace_back(std::int64_t{m_view->timeMs()});
    values.emplace_back(std::int64_t{m_view->depth()});
    return "(m.needed = 1 OR m.kept = 1) AND m.time_ms = ? AND m.depth = ?";
}

bool MatchRepository::keepEarlierLimits(const LeagueLimit& inForce,
                                        std::vector<LeagueLimit>& before) {
    before.clear();
    if (!limitsInForce(before)) {
        return false;
    }
    before.erase(std::remove(before.begin(), before.end(), inForce), before.end());
    const std::vector<SqlValue> now{std::int64_t{inForce.timeMs()}, std::int64_t{inForce.depth()}};
    return m_db.exec("UPDATE matches SET kept = 1 WHERE needed = 1 AND status = 'done' AND "
                     "kept = 0 AND NOT (time_ms = ? AND depth = ?)",
                     now) &&
           m_db.exec("UPDATE matches SET kept = 0 WHERE kept = 1 AND time_ms = ? AND depth = ?",
                     now);
}

bool MatchRepository::keptLimits(const std::function<void(const LeagueLimit&, size_t)>& each) {
    return m_db.query(
        "SELECT time_ms, depth, COUNT(*) FROM matches WHERE kept = 1 "
        "GROUP BY time_ms, depth ORDER BY time_ms, depth",
        {}, [&](const SqlRow& row) {
            each(LeagueLimit(static_cast<int>(row.integer(0)), static_cast<int>(row.integer(1))),
                 static_cast<size_t>(row.integer(2)));
        });
}

bool MatchRepository::limitsInForce(std::vector<LeagueLimit>& out) {
    out.clear();
    return m_db.query("SELECT DISTINCT time_ms, depth FROM matches WHERE needed = 1 "
                      "ORDER BY time_ms, depth",
                      {}, [&](const SqlRow& row) {
                          out.emplace_back(static_cast<int>(row.integer(0)),
                                           static_cast<int>(row.integer(1)));
                      });
}

bool MatchRepository::finished(const std::function<void(const FinishedSeat&)>& each) {
    std::vector<SqlValue> values;
    const std::string count = counted(values);
    return m_db.query(
        "SELECT m.id, m.map_id, m.end_kind, m.moves_digest, s.seat, s.version_id, s.score, "
        "s.rank, s.disqualified, s.moves, s.time_ms_sum, s.time_ms_max, CASE WHEN " +
            count +
            " THEN 1 ELSE 0 END, s.cpu_ms FROM matches m "
            "JOIN seats s ON s.match_id = m.id WHERE m.status = 'done' ORDER BY m.id, s.seat",
        values, [&](const SqlRow& row) {
            FinishedSeat f;
            f.matchId = row.integer(0);
            f.mapId = row.integer(1);
            f.end = endOf(row.text(2));
            f.movesDigest = row.text(3);
            f.seat = static_cast<int>(row.integer(4));
            f.version = row.integer(5);
            f.result.scored = !row.isNull(6);
            f.result.score = static_cast<int>(row.integer(6));
            f.result.rank = static_cast<int>(row.integer(7));
            f.result.disqualified = row.text(8);
            f.result.moves = static_cast<int>(row.integer(9));
            f.result.timeMsSum = row.integer(10);
            f.result.timeMsMax = static_cast<int>(row.integer(11));
            f.needed = row.integer(12) != 0;
            f.result.cpuMs = row.isNull(13) ? -1 : row.integer(13);
            each(f);
        });
}

bool MatchRepository::failures(const std::function<void(const FailedSeat&)>& each) {
    return m_db.query(
        "SELECT m.id, m.end_kind, m.reason, s.seat, b.name, s.disqualified FROM matches m "
        "JOIN seats s ON s.match_id = m.id JOIN bot_versions v ON v.id = s.version_id "
        "JOIN bots b ON b.id = v.bot_id WHERE m.needed = 1 AND m.status = 'done' AND "
        "(m.end_kind <> 'final' OR s.disqualified LIKE 'did not start%') ORDER BY m.id, s.seat",
        {}, [&](const SqlRow& row) {
            FailedSeat f;
            f.matchId = row.integer(0);
            f.end = endOf(row.text(1));
            f.reason = row.text(2);
            f.seat = static_cast<int>(row.integer(3));
            f.bot = row.text(4);
            f.disqualified = row.text(5);
            each(f);
        });
}

bool MatchRepository::reopenUnplayed(std::int64_t& reopened) {
    const std::string unplayed =
        "(SELECT id FROM matches WHERE needed = 1 AND status = 'done' AND end_kind <> 'final')";
    bool found = false;
    return m_db.begin() &&
           m_db.scalar("SELECT COUNT(*) FROM " + unplayed + " u", {}, reopened, found) &&
           m_db.exec("DELETE FROM records WHERE match_id IN " + unplayed) &&
           m_db.exec("UPDATE seats SET score = NULL, rank = NULL, disqualified = NULL, moves = 0, "
                     "time_ms_sum = 0, time_ms_max = 0, cpu_ms = NULL WHERE match_id IN " +
                     unplayed) &&
           m_db.exec("UPDATE matches SET status = 'pending', attempts = 0, claimed_by = NULL, "
                     "claimed_until = NULL, finished = NULL, end_kind = NULL, reason = NULL, "
                     "moves_digest = NULL, duration_s = NULL WHERE id IN " +
                     unplayed) &&
           m_db.commit();
}

bool MatchRepository::unfinished(
    const std::function<void(std::int64_t, const std::string&, const std::string&,
                             const std::string&)>& each) {
    std::vector<SqlValue> values;
    return m_db.query("SELECT m.id, m.key, m.end_kind, m.reason FROM matches m WHERE "
                      "m.status = 'done' AND " +
                          counted(values) + " AND m.end_kind <> 'final' ORDER BY m.id",
                      values, [&](const SqlRow& row) {
                          each(row.integer(0), row.text(1), row.text(2), row.text(3));
                      });
}

bool MatchRepository::limits(const std::function<void(int, int)>& each) {
    std::vector<SqlValue> values;
    return m_db.query("SELECT DISTINCT m.time_ms, m.depth FROM matches m WHERE " + counted(values) +
                          " ORDER BY m.time_ms, m.depth",
                      values, [&](const SqlRow& row) {
                          each(static_cast<int>(row.integer(0)), static_cast<int>(row.integer(1)));
                      });
}
