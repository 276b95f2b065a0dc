#pragma once
// Snapshots of the ratings, so that a league's history can be read back.

#include "SqlDatabase.h"

#include <cstdint>
#include <string>
#include <vector>

struct RatingEntry {
    std::int64_t version = 0;
    int matches = 0;
    bool rated = false;
    double elo = 0;
    double low = 0;
    double high = 0;
};

class RatingRepository {
public:
    explicit RatingRepository(SqlDatabase& db) : m_db(db) {}

    /// Stores one snapshot of a scope ("overall" or "map:NAME") taken at `taken`.
    bool add(std::int64_t taken, const std::string& scope, const std::vector<RatingEntry>& entries);
    /// The latest snapshot of a scope; `taken` is 0 when there is none.
    bool latest(const std::string& scope, std::int64_t& taken, std::vector<RatingEntry>& out);

private:
    SqlDatabase& m_db;
};
