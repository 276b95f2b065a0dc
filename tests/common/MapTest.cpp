#include "Map.h"

#include "ModelTestUtil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using model_test::EXAMPLE;
using model_test::EXAMPLE_GRID;
using model_test::MapLogCapture;
using Lines = std::vector<std::string>;

namespace {

struct ReadCase {
    std::string text;
    bool valid;
    Lines messages;
};

// The logged lines up to the report of a valid read (the map's own text follows that).
Lines faultLines(const MapLogCapture& log) {
    Lines errors;
    for (const std::string& line : log.lines()) {
        if (line == "Done reading map:") {
            break;
        }
        errors.push_back(line);
    }
    return errors;
}

void expectRead(const ReadCase& c) {
    MapLogCapture log;
    Map map;
    EXPECT_EQ(map.loadFromString(c.text), c.valid) << c.text;
    EXPECT_EQ(faultLines(log), c.messages) << c.text;
}

std::string grid(unsigned rows, unsigned columns, const std::string& token) {
    std::string text;
    for (unsigned y = 0; y < rows; ++y) {
        for (unsigned x = 0; x < columns; ++x) {
            text += token + (x + 1 < columns ? " " : "\n");
        }
    }
    return text;
}

} // namespace

TEST(MapReader, HeaderLimitsAreCheckedTogether) {
    const ReadCase cases[] = {
        {"2 0 0 0 1 1 0\n", true, {}},
        {"8 255 255 255 1 1 0\n", true, {}},
        {"1 0 0 0 1 1 0\n", false, {"Invalid number of players: 1"}},
        {"9 0 0 0 1 1 0\n", false, {"Invalid number of players: 9"}},
        {"2 256 0 0 1 1 0\n",
         false,
         {"Invalid number of overrides: 256", "Sum of bonus-fields and overrides too large: 256"}},
        {"2 0 256 0 1 1 0\n",
         false,
         {"Invalid number of bombs: 256", "Sum of bonus-fields and bombs too large: 256"}},
        {"2 0 0 256 1 1 0\n", false, {"Invalid bomb strength: 256"}},
        {"2 0 0 0 1 51 0\n", false, {"Invalid map dimensions: (1 x 51)"}},
        {"2 0 0 0 0 3\n0 0 0\n", false, {"Invalid map dimensions: (0 x 3)"}},
        {"2 0 0 0 3 0\n", false, {"Invalid map dimensions: (3 x 0)"}},
        // Every fault is reported; huge dimensions read no grid and allocate nothing.
        {"0 300 400 500 4000000000 4000000000\n",
         false,
         {"Invalid number of players: 0", "Invalid number of overrides: 300",
          "Invalid number of bombs: 400", "Invalid bomb strength: 500",
          "Invalid map dimensions: (4000000000 x 4000000000)",
          "Sum of bonus-fields and bombs too large: 400",
          "Sum of bonus-fields and overrides too large: 300"}},
    };
    for (const ReadCase& c : cases) {
        expectRead(c);
    }
}

TEST(MapReader, BrokenHeaderStopsTheRead) {
    const char* const texts[] = {
        "2 0 0 0 -1 1\n0\n",         // no wrap to a huge number
        "2 0 0 0 1 +1\n0\n",         // no sign at all
        "2 0 0 0 1 4294967296\n0\n", // beyond 32 bits
        "2 0 0 0 1",                 // input ends inside the header
        "2 0 0 0 1 1",               // ... or right after it
        "2 zero 0 0 1 1\n0\n",
        "",
    };
    for (const char* text : texts) {
        expectRead({text, false, {"Error in stream after parsing map header"}});
    }
}

TEST(MapReader, FailedStreamIsNotRead) {
    MapLogCapture log;
    Map map;
    std::istringstream in(EXAMPLE);
    in.setstate(std::ios::failbit);
    in >> map;
    EXPECT_FALSE(map.isValid());
    EXPECT_EQ(map.getPlayers(), 0u);
    EXPECT_EQ(log.lines(), Lines{"Error in stream"});
}

TEST(MapReader, LargestBoardAndStockSums) {
    expectRead({"2 0 0 0 50 50\n" + grid(50, 50, "0"), true, {}});
    expectRead({"2 0 255 0 1 2\n0 0\n", true, {}});
    expectRead({"2 0 255 0 1 2\n0 b\n", false, {"Sum of bonus-fields and bombs too large: 256"}});
    expectRead(
        {"2 254 0 0 1 3\nb 0 b\n", false, {"Sum of bonus-fields and overrides too large: 256"}});
    expectRead({"2 253 253 0 1 3\nb 0 b\n", true, {}});
}

TEST(MapReader, TileTokensMapToSquaresAndZeroStandsAlone) {
    const std::pair<const char*, Square> good[] = {
        {"-", Square::NONE},       {"0", Square::EMPTY},     {"1", Square::PLAYER1},
        {"8", Square::PLAYER_MAX}, {"c", Square::CHOICE},    {"i", Square::INVERSION},
        {"b", Square::BONUS},      {"x", Square::EXPANSION}, {"  \n\t5", static_cast<Square>(5)},
    };
    for (const auto& [token, square] : good) {
        std::istringstream in(token);
        Square s = Square::BONUS;
        EXPECT_TRUE(in >> s) << token;
        EXPECT_EQ(s, square) << token;
    }
    for (const char* token : {"9", "10", "12", "B", "C", "X", "+", "", "   "}) {
        std::istringstream in(token);
        Square s = Square::CHOICE;
        EXPECT_FALSE(in >> s) << token;
        EXPECT_EQ(s, Square::CHOICE) << token;
    }
    // "0" always ends its token, letters and "-" need no separator.
    std::istringstream in("08x-3c");
    std::vector<Square> read;
    for (Square s; in >> s;) {
        read.push_back(s);
    }
    const std::vector<Square> expected = {Square::EMPTY, Square::PLAYER_MAX,     Square::EXPANSION,
                                          Square::NONE,  static_cast<Square>(3), Square::CHOICE};
    EXPECT_EQ(read, expected);
}

TEST(MapReader, GridFaultsNameEveryCell) {
    expectRead(
        {"2 0 0 0 1 3\n0 9 0\n", false, {"Invalid tile at (1, 0)", "Invalid tile at (2, 0)"}});
    expectRead({"2 0 0 0 1 2\n0 B\n", false, {"Invalid tile at (1, 0)"}});
    expectRead({"2 0 0 0 2 2\n0 10\n0 0\n",
                false,
                {"Invalid tile at (1, 0)", "Invalid tile at (0, 1)", "Invalid tile at (1, 1)"}});
    // The grid ends early: each missing cell, x before y.
    expectRead({"2 0 0 0 3 3\n0 0 0\n0\n",
                false,
                {"Invalid tile at (1, 1)", "Invalid tile at (2, 1)", "Invalid tile at (0, 2)",
                 "Invalid tile at (1, 2)", "Invalid tile at (2, 2)"}});

    Map map;
    ASSERT_TRUE(map.loadFromString("2 0 0 0 1 2\n08"));
    EXPECT_EQ(map.getTile(0, 0), Square::EMPTY);
    EXPECT_EQ(map.getTile(1, 0), Square::PLAYER_MAX);
}

TEST(MapReader, TransitionLineFaultsAreNamedAndEndOfInputKeepsTheMap) {
    const std::string g = EXAMPLE_GRID;
    struct Case {
        std::string tail;
        bool valid;
        size_t transitions;
        Lines messages;
    };
    const Case cases[] = {
        {"", true, 0, {}},
        {"\n\n  \t", true, 0, {}},
        {"1 0 0 <-> 1 2 4\n", true, 1, {}},
        {"1 0 0 <-> 1 2 4", true, 1, {}},
        {"1 0 0<-> 1 2 4\n", true, 1, {}},
        {"1\t0\n0 <->\n1 2 4\n", true, 1, {}},
        // Same cell, another direction: no duplicate.
        {"1 0 0 <-> 1 2 4\n1 0 7 <-> 0 1 6\n", true, 2, {}},
        {"1 0 8 <-> 1 2 4\n3 1 2 <-> 0 1 6\n", false, 0, {"Transition direction 1 invalid"}},
        {"1 0 0 <-> 1 2 8\n", false, 0, {"Transition direction 2 invalid"}},
        // The same faults as the very last input leave the map valid.
        {"1 0 0 <-> 1 2 8", true, 0, {"Transition direction 2 invalid"}},
        {"1 0 0 <-> 1 2 4\n3 1 8", true, 1, {"Transition direction 1 invalid"}},
        {"1 0 0 <-> 1", true, 0, {"Transition y coordinate 2 invalid"}},
        {"1 0 0 <->", true, 0, {"Transition x coordinate 2 invalid"}},
        {"1 0 0 ->", true, 0, {"Transition separator invalid"}},
        {"1 0 0 -> 1 2 4\n", false, 0, {"Transition separator invalid"}},
        {"1 0 0 <->1 2 4\n", false, 0, {"Transition separator invalid"}},
        {"a 0 0 <-> 1 2 4\n", false, 0, {"Transition x coordinate 1 invalid"}},
        {"-1 0 0 <-> 1 2 4\n", false, 0, {"Transition x coordinate 1 invalid"}},
        {"1 a 0 <-> 1 2 4\n", false, 0, {"Transition y coordinate 1 invalid"}},
        {"1 0 0 <-> 1 a 4\n", false, 0, {"Transition y coordinate 2 invalid"}},
        // 0x1A ends the list without a message, whatever follows.
        {"\x1a", true, 0, {}},
        {"1 0 0 <-> 1 2 4\n\x1a\nrubbish\n", true, 1, {}},
    };
    for (const Case& c : cases) {
        MapLogCapture log;
        Map map;
        EXPECT_EQ(map.loadFromString(g + c.tail), c.valid) << c.tail;
        EXPECT_EQ(map.getTransitions().size(), c.transitions) << c.tail;
        EXPECT_EQ(faultLines(log), c.messages) << c.tail;
    }
}

TEST(MapReader, FailedTransitionChecksAreOneLogLineEach) {
    const std::string g = EXAMPLE_GRID;
    const ReadCase cases[] = {
        // A hole is a gap as good as the outside.
        {g + "0 1 0 <-> 3 1 2\n", true, {}},
        {g + "1 0 4 <-> 1 2 4\n",
         false,
         {"Transition checks failed for transition 1 0 4 <-> 1 2 4  Transition not connected via "
          "empty location"}},
        {g + "4 0 0 <-> 1 2 4\n",
         false,
         {"Transition checks failed for transition 4 0 0 <-> 1 2 4  Coordinates are invalid"}},
        {g + "1 0 4 <-> 9 9 0\n",
         false,
         {"Transition checks failed for transition 1 0 4 <-> 9 9 0  Coordinates are invalid  "
          "Transition not connected via empty location"}},
        {g + "1 0 0 <-> 1 0 0\n",
         false,
         {"Transition checks failed for transition 1 0 0 <-> 1 0 0  Transition leads back to its "
          "own endpoint"}},
        // Later lines are still read after an invalid one.
        {g + "1 0 4 <-> 1 2 4\n1 0 0 <-> 1 2 4\n",
         false,
         {"Transition checks failed for transition 1 0 4 <-> 1 2 4  Transition not connected via "
          "empty location"}},
        {g + "1 0 0 <-> 1 2 4\n1 0 0 <-> 0 1 6\n3 2 4 <-> 1 2 4\n",
         false,
         {"Duplicate transition endpoints: 1 0 0 <-> 1 2 4 vs 1 0 0 <-> 0 1 6",
          "Duplicate transition endpoints: 1 0 0 <-> 1 2 4 vs 3 2 4 <-> 1 2 4"}},
    };
    for (const ReadCase& c : cases) {
        expectRead(c);
    }
}

TEST(MapReader, DirectionsAboveSevenFailAndLeaveTheTarget) {
    for (unsigned d = 0; d < 8; ++d) {
        std::istringstream in(std::to_string(d));
        Direction read = Direction::N;
        EXPECT_TRUE(in >> read);
        EXPECT_EQ(static_cast<unsigned>(read), d);
        std::ostringstream out;
        out << read;
        EXPECT_EQ(out.str(), std::to_string(d));
    }
    for (const char* text : {"8", "-1", "x", "255", ""}) {
        std::istringstream in(text);
        Direction read = Direction::SW;
        EXPECT_FALSE(in >> read) << text;
        EXPECT_EQ(read, Direction::SW) << text;
    }
}

TEST(MapGeometry, DirectNeighbourAndTransitionEndpoints) {
    auto map = model_test::validMap(EXAMPLE);
    EXPECT_EQ(map->getTotalTiles(), 12u);
    EXPECT_EQ(map->getPlayableTiles(), 9u);
    struct Case {
        map_axis x, y;
        Direction d;
        Square expected;
    };
    const Case cases[] = {
        {1, 2, Direction::SW, Square::NONE},      {1, 0, Direction::SW, Square::EMPTY},
        {2, 1, Direction::E, Square::BONUS},      {0, 1, Direction::N, Square::NONE},
        {3, 2, Direction::E, Square::NONE},       {3, 2, Direction::NW, Square::PLAYER1},
        {2, 2, Direction::N, Square::PLAYER1},    {0, 1, Direction::NE, Square::EMPTY},
        {2, 1, Direction::SE, Square::EXPANSION}, {1, 1, Direction::W, Square::EMPTY},
        {0, 0, Direction::NW, Square::NONE},      {4, 0, Direction::W, Square::NONE},
        {3, 3, Direction::N, Square::NONE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(map->getDirectNeighbour(c.x, c.y, c.d), c.expected)
            << c.x << "," << c.y << " d" << c.d;
    }
    EXPECT_EQ(map->getTile(4, 0), Square::NONE);
    EXPECT_EQ(map->getTile(0, 3), Square::NONE);
    EXPECT_TRUE(map->affectedByTransition(1, 0));
    EXPECT_TRUE(map->affectedByTransition(1, 2));
    EXPECT_FALSE(map->affectedByTransition(1, 1));
    EXPECT_FALSE(map->affectedByTransition(0, 1));
}

TEST(MapWriter, WritesTheExampleTextThatReadsBackTheSame) {
    auto map = model_test::validMap(EXAMPLE);
    EXPECT_EQ(map->getPlayers(), 2u);
    EXPECT_EQ(map->getOverrides(), 1u);
    EXPECT_EQ(map->getBombs(), 1u);
    EXPECT_EQ(map->getBombStrength(), 2u);
    EXPECT_EQ(map->getHeight(), 3u);
    EXPECT_EQ(map->getWidth(), 4u);
    std::ostringstream out;
    out << *map;
    EXPECT_EQ(out.str(), "2\n1\n1 2\n3 4\n- 0 1 -\n0 2 1 b\n- 0 c x\n1 0 0 <-> 1 2 4\n");

    // Every token, irregular spacing, several transitions: the writer's text reads back to
    // itself.
    const std::string messy = "8 3\n4 5 2 15\n- 0 1 2 3 4 5 6 7 8 c i b x -\n"
                              "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                              "1 0 0 <-> 14 1 2   0 1 0<-> 14 0 0\n";
    const std::string expected = "8\n3\n4 5\n2 15\n- 0 1 2 3 4 5 6 7 8 c i b x -\n"
                                 "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                                 "1 0 0 <-> 14 1 2\n0 1 0 <-> 14 0 0\n";
    auto first = model_test::validMap(messy);
    std::ostringstream once;
    once << *first;
    EXPECT_EQ(once.str(), expected);
    auto second = model_test::validMap(once.str());
    std::ostringstream twice;
    twice << *second;
    EXPECT_EQ(twice.str(), expected);
}

TEST(MapReader, ValidReadLogsTheMapAtDebug) {
    MapLogCapture log;
    Map map;
    ASSERT_TRUE(map.loadFromString("2 0 0 0 1 2 0 1"));
    EXPECT_EQ(log.text(), "Done reading map:\n 2\n0\n0 0\n1 2\n0 1\n\n");
}

TEST(MapReader, SecondReadStartsAfresh) {
    Map map;
    ASSERT_TRUE(map.loadFromString(EXAMPLE));
    map.setName("first");
    ASSERT_TRUE(map.loadFromString("3 0 0 0 1 2\n1 -\n"));
    EXPECT_EQ(map.getName(), "first");
    EXPECT_EQ(map.getPlayers(), 3u);
    EXPECT_EQ(map.getPlayableTiles(), 1u);
    EXPECT_TRUE(map.getTransitions().empty());

    // A failed read leaves no cells of the earlier map behind.
    MapLogCapture log;
    EXPECT_FALSE(map.loadFromString("2 0 0 0 50"));
    EXPECT_EQ(map.getTiles(), nullptr);
    EXPECT_EQ(map.getTile(0, 0), Square::NONE);
    EXPECT_EQ(map.getPlayableTiles(), 0u);
}

TEST(MapLoad, FilesStandardInputAndStreamsAreReadAndNamed) {
    {
        MapLogCapture log;
        Map map;
        EXPECT_FALSE(map.loadFromFile("/nonexistent/dir/no.map"));
        EXPECT_EQ(map.getName(), "/nonexistent/dir/no.map");
        EXPECT_EQ(log.lines(), Lines{"Error in stream"});
    }
    {
        const std::string path = ::testing::TempDir() + "model_test_example.map";
        std::ofstream(path) << EXAMPLE;
        Map map;
        EXPECT_TRUE(map.loadFromFile(path));
        EXPECT_EQ(map.getName(), path);
        EXPECT_EQ(map.getTransitions().size(), 1u);
        std::remove(path.c_str());
    }
    {
        std::istringstream input(EXAMPLE);
        std::streambuf* old = std::cin.rdbuf(input.rdbuf());
        Map map;
        const bool ok = map.loadFromFile("-");
        std::cin.rdbuf(old);
        std::cin.clear();
        EXPECT_TRUE(ok);
        EXPECT_EQ(map.getName(), "-");
        EXPECT_EQ(map.getTile(2, 2), Square::CHOICE);
    }
    {
        std::istringstream input(EXAMPLE);
        Map map;
        EXPECT_TRUE(map.loadFromStream(input, "from a stream"));
        EXPECT_EQ(map.getName(), "from a stream");
    }
}
