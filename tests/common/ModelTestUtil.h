#pragma once
// Helpers shared by the map and board tests: map loading, log capture, board snapshots.

#include "GameBoard.h"
#include "Logging.h"
#include "Map.h"

#include "lumber/Formatter.h"
#include "lumber/StreamSink.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace model_test {

// Three rows of four columns, one transition joining the top of (1, 0) to the bottom of (1, 2).
inline const std::string EXAMPLE_GRID = "2\n1\n1 2\n3 4\n- 0 1 -\n0 2 1 b\n- 0 c x\n";
inline const std::string EXAMPLE = EXAMPLE_GRID + "1 0 0 <-> 1 2 4\n";

/// A map read from text; the test fails when the text is not a valid map.
inline std::unique_ptr<Map> validMap(const std::string& text) {
    auto map = std::make_unique<Map>();
    EXPECT_TRUE(map->loadFromString(text)) << text;
    return map;
}

/// Collects the messages of the map logger, one per line, while alive.
class MapLogCapture {
public:
    MapLogCapture() : sink(lumber::StreamSink::create(buffer)) {
        sink->setFormatter(std::make_shared<MessageOnly>());
        Logging::setLogLevel(Logging::loggerMap, lumber::TRACE);
        Logging::loggerMap->addSink(sink);
    }
    ~MapLogCapture() {
        Logging::loggerMap->removeSink(sink);
        Logging::setLogLevel(Logging::loggerMap, lumber::INHERIT);
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::istringstream text(buffer.str());
        for (std::string line; std::getline(text, line);) {
            result.push_back(line);
        }
        return result;
    }
    std::string text() const { return buffer.str(); }

private:
    struct MessageOnly : lumber::Formatter {
        std::string format(const lumber::EntryContext&, const std::string& m) const override {
            return m + "\n";
        }
    };
    std::ostringstream buffer;
    lumber::SinkPtr sink;
};

/// Everything a rule may change, for before/after comparisons.
struct BoardState {
    std::vector<Square> cells;
    std::array<unsigned, 9> bombs{}, overrides{}, stones{}, colourOf{};
    uint32_t reduced = 0;

    explicit BoardState(const GameBoard& gb) : reduced(gb.getReducedBoardSize()) {
        for (uint32_t i = 0; i < gb.getBoardSize(); ++i) {
            cells.push_back(gb.get_square(static_cast<index_t>(i)));
        }
        for (unsigned p = 1; p <= 8; ++p) {
            const Player player = static_cast<Player>(p);
            bombs[p] = gb.getBombs(player);
            overrides[p] = gb.getOverrides(player);
            stones[p] = gb.getStoneCount(player);
            colourOf[p] = static_cast<unsigned>(gb.ptob(player));
        }
    }
    bool operator==(const BoardState& o) const {
        return cells == o.cells && bombs == o.bombs && overrides == o.overrides &&
               stones == o.stones && colourOf == o.colourOf && reduced == o.reduced;
    }
};

} // namespace model_test
