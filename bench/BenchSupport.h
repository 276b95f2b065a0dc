#pragma once
// Shared pieces of the benchmarks: a large eight-player map, a connected set of loopback
// peers whose far ends are drained by a thread, and a recorded game to replay.

#include "Game.h"
#include "Map.h"
#include "Move.h"
#include "Network.h"
#include "Protocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench {

/// A valid 50 x 50 map for eight players: stones for every player in many places, some holes,
/// special squares, override stones and bombs, and a few transitions across the edges.
std::string largeEightPlayerMap();

/// The classic 8 x 8 opening for two players, without stocks or special squares.
std::string classicMap();

/// Every move of one game on `map`, each the first legal move in cell order, to the end.
std::vector<Move> recordGame(const Map& map);

/// `count` server-side endpoints, each connected over loopback to a client socket that a
/// background thread keeps reading, so that sends never fill a buffer.
class DrainedPeers {
public:
    explicit DrainedPeers(unsigned count);
    ~DrainedPeers();
    DrainedPeers(const DrainedPeers&) = delete;
    DrainedPeers& operator=(const DrainedPeers&) = delete;

    /// The server's endpoint of peer i (0-based).
    ProtoClient& endpoint(unsigned i) { return *m_endpoints[i]; }
    unsigned size() const { return static_cast<unsigned>(m_endpoints.size()); }

private:
    void drain();

    std::vector<std::unique_ptr<ProtoClient>> m_endpoints;
    std::vector<int> m_clientFds;
    std::atomic<bool> m_stop{false};
    std::thread m_drainer;
};

/// A port nobody listens on right now.
uint16_t freePort();

} // namespace bench
