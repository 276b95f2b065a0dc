#include "FuzzEntries.h"

#include "BasicOptions.h"
#include "Game.h"
#include "GameBoard.h"
#include "Logging.h"
#include "Map.h"
#include "Move.h"
#include "Network.h"
#include "Protocol.h"
#include "ServerOptions.h"
#include "colors.h"
#include "knob/ArgumentParser.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace fuzzing {

namespace {

// Enough turns to leave the opening and reach captures, few enough to keep runs fast.
constexpr unsigned MAX_TURNS = 24;
// A fuzz input never holds more messages than this worth looking at.
constexpr unsigned MAX_MESSAGES = 256;
// Long enough never to run out while the bytes are already waiting in the socket.
constexpr unsigned long GENEROUS_BUDGET_MSECS = 10000;
// Longer command lines add nothing the parser has not seen.
constexpr size_t MAX_TOKENS = 64;

[[noreturn]] void finding(const char* what) {
    std::cerr << "fuzz finding: " << what << std::endl;
    std::abort();
}

std::string writeMap(const Map& map) {
    std::ostringstream text;
    text << map;
    return text.str();
}

// A move as a client could send it: mostly on the board, sometimes just off it, with any
// choice the protocol knows and a few it does not.
Move hostileMove(const Game& game, const uint8_t* bytes) {
    constexpr unsigned CHOICES = static_cast<unsigned>(MoveChoice::OVERRIDE) + 2;
    const Map& map = game.getMap();
    const auto x = static_cast<uint16_t>((bytes[0] << 8 | bytes[1]) % (map.getWidth() + 2));
    const auto y = static_cast<uint16_t>((bytes[2] << 8 | bytes[3]) % (map.getHeight() + 2));
    return Move(x, y, static_cast<MoveChoice>(bytes[4] % CHOICES), game.getCurrentPlayer(),
                game.is_terminal());
}

void playSomeTurns(Game& game, const uint8_t* data, size_t size) {
    constexpr size_t MOVE_BYTES = 5;
    size_t offset = 0;
    for (unsigned turn = 0; turn < MAX_TURNS && !game.is_final(); ++turn) {
        bool moved = false;
        if (offset + MOVE_BYTES <= size) {
            const Move move = hostileMove(game, data + offset);
            offset += MOVE_BYTES;
            if (game.checkMove(move, true)) {
                if (!game.makeMove(move)) {
                    finding("a move that checkMove accepted was refused by makeMove");
                }
                moved = true;
            }
        }
        if (!moved) {
            Move move;
            if (!game.calcNextMove(move, false)) {
                // The current player has no move although the game is not final.
                finding("the player in turn has no legal move");
            }
            if (!game.checkMove(move, true)) {
                finding("an enumerated move was refused by checkMove");
            }
            if (!game.makeMove(move)) {
                finding("an enumerated move was refused by makeMove");
            }
        }
    }
    (void)game.getBoard().asString(game.getCurrentPlayer(), true, true);
    (void)game.getBoard().asSimpleString();
    (void)game.getStatus();
}

void inspect(const ProtoClient& client) {
    payload_client_groupid groupid{};
    payload_client_playernum playernum{};
    payload_moverequest request{};
    payload_move move{};
    payload_moveannounce announce{};
    payload_disqualification disqualification{};
    std::string board;
    unsigned matches = 0;
    matches += client.get_client_groupid(groupid) == MsgResult::OK;
    matches += client.get_gameboard(board) == MsgResult::OK;
    matches += client.get_client_playernum(playernum) == MsgResult::OK;
    matches += client.get_moverequest(request) == MsgResult::OK;
    matches += client.get_move(move) == MsgResult::OK;
    matches += client.get_moveannounce(announce) == MsgResult::OK;
    matches += client.get_disqualification(disqualification) == MsgResult::OK;
    matches += client.get_terminal() == MsgResult::OK;
    matches += client.get_fin() == MsgResult::OK;
    if (matches != 1) {
        finding("a received message is readable by other than exactly one getter");
    }
}

std::vector<std::string> splitTokens(const uint8_t* data, size_t size) {
    std::vector<std::string> tokens;
    std::string token;
    for (size_t i = 0; i < size && tokens.size() < MAX_TOKENS; ++i) {
        if (data[i] == 0) {
            tokens.push_back(token);
            token.clear();
        } else {
            token.push_back(static_cast<char>(data[i]));
        }
    }
    if (tokens.size() < MAX_TOKENS) {
        tokens.push_back(token);
    }
    return tokens;
}

// The match server's own options, with the basic options of the frame.
void parseServerCommandLine(const std::vector<std::string>& tokens) {
    std::string mapName = "-";
    uint16_t basePort = 7777;
    uint32_t depthLimit = 0;
    uint32_t waitSeconds = 0;
    bool color = false;
    knob::ArgumentParser parser;

    ServerOptions options(mapName, basePort, depthLimit, waitSeconds);
    options.addTo(parser);

    BasicOptions(parser, color).addTo(parser);

    try {
        parser.parse(tokens);
    } catch (const knob::exception&) {
        return;
    }
    // An accepted command line has a map and exactly one of the two limits.
    if (!options.hasMap() || options.hasTimeLimit() == options.hasDepthLimit()) {
        finding("the server's command line was accepted without its required options");
    }
}

// Every kind of argument and constraint the library has, in two sets.
void parseRichCommandLine(const std::vector<std::string>& tokens) {
    std::string inputFile;
    double ratio = 0;
    unsigned count = 0;
    bool verbose = false;
    knob::ArgumentParser parser;

    knob::VariableArgument<std::string> input("Input file %i, also $input", inputFile);
    input.valuename("file").min(1).max(0);
    knob::ValueArgument<std::string> output("Write to &output");
    output.valuename("file");
    knob::VariableArgument<double> ratioArg("Compression &ratio", ratio);
    knob::VariableArgument<unsigned> countArg("Repeat %n times", count);
    countArg.max(3);
    knob::SwitchArgument verboseArg("Be &verbose, say \\&more \\% \\$ \\q", "loud", verbose);
    knob::Argument quiet("Be $quiet");
    quiet.many(true);
    knob::Argument dry("Dry run", "dry-run");
    dry.alias('y').min(2);
    knob::ValueArgument<unsigned short> port("Listen on %port");
    knob::ValueArgument<std::string> rest("Remaining words");
    rest.valuename("word").max(0);

    parser.add(input);
    parser.add(+(output ^ ratioArg));
    parser.add(countArg);
    parser.add(knob::ArgumentConstraint<knob::Any>(verboseArg, +quiet, dry));
    parser.add(knob::ArgumentSet("More", port, rest));
    try {
        parser.parse(tokens);
    } catch (const knob::exception&) {
    }
    (void)parser.help();
}

void describeArgument(const std::string& description) {
    knob::Argument arg(description);
    (void)arg.ident();
    (void)arg.description();
    try {
        (void)arg.usage();
    } catch (const std::logic_error&) {
        // Documented for a positional argument only.
        if (!arg.matches()) {
            finding("usage() refused an argument that has a flag or a name");
        }
    }
    std::string value;
    knob::VariableArgument<std::string> valued(description, value);
    (void)valued.usage();
    (void)valued.ident();
}

} // namespace

void quietLogging(bool buildMessages) {
    const lumber::LogPtr root = lumber::Logger::getRootLogger();
    root->setLevel(buildMessages ? lumber::TRACE : lumber::FATAL);
    ansi::enableColor = false;
}

void mapReader(const uint8_t* data, size_t size) {
    Map map;
    if (!map.loadFromString(std::string(reinterpret_cast<const char*>(data), size))) {
        return;
    }
    const std::string text = writeMap(map);
    Map again;
    if (!again.loadFromString(text)) {
        finding("the writer's text of a valid map does not read back");
    }
    if (writeMap(again) != text) {
        finding("a map read back from the writer's text differs");
    }
    Game game(map, false);
    playSomeTurns(game, data, size);
}

void protocolReceive(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        finding("no socket pair");
    }
    // Fuzz inputs stay far below the socket buffer, so this write does not block.
    const TcpSocket writer(ends[1]);
    if (writer.send(data + 1, size - 1) != size - 1) {
        finding("the socket pair did not take the whole input");
    }
    ::shutdown(ends[1], SHUT_WR);

    const uint8_t mode = data[0];
    const bool timed = (mode & 0x80) != 0;
    const bool check = (mode & 0x40) != 0;
    const auto expected = static_cast<MsgType>(mode & 0x0F);

    ProtoClient reader(new TcpSocket(ends[0]));
    for (unsigned n = 0; n < MAX_MESSAGES; ++n) {
        MsgType type = expected;
        const MsgResult result = reader.receive_msg(type, check, timed ? GENEROUS_BUDGET_MSECS : 0);
        if (result == MsgResult::OK) {
            inspect(reader);
            continue;
        }
        if (result == MsgResult::TYPE) {
            if (!check || type != expected) {
                finding("TYPE without a type check, or the expected type was changed");
            }
            inspect(reader);
            continue;
        }
        if (result == MsgResult::TIMEOUT) {
            finding("a time-out while every byte was already waiting");
        }
        break;
    }
    ::close(ends[1]);
}

void argumentParser(const uint8_t* data, size_t size) {
    if (size == 0) {
        return;
    }
    const std::vector<std::string> tokens = splitTokens(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        parseServerCommandLine(tokens);
        break;
    case 1:
        parseRichCommandLine(tokens);
        break;
    default:
        describeArgument(tokens.front());
        break;
    }
}

} // namespace fuzzing
