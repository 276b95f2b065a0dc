#include "FuzzEntries.h"

#include "Game.h"
#include "GameBoard.h"
#include "Logging.h"
#include "Map.h"
#include "Move.h"
#include "Network.h"
#include "Protocol.h"
#include "colors.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

namespace fuzzing {

namespace {

// Enough turns to leave the opening and reach captures, few enough to keep runs fast.
constexpr unsigned MAX_TURNS = 24;
// A fuzz input never holds more messages than this worth looking at.
constexpr unsigned MAX_MESSAGES = 256;
// Long enough never to run out while the bytes are already waiting in the socket.
constexpr unsigned long GENEROUS_BUDGET_MSECS = 10000;

[[noreturn]] void finding(const char* what) {
    std::cerr << "fuzz finding: " << what << std::endl;
    std::abort();
}

std::string writeMap(const Map& map) {
    std::ostringstream text;
    text << map;
    return text.str();
}

// A move as a client could send it: any coordinates and any choice byte.
Move hostileMove(const Game& game, const uint8_t* bytes) {
    const auto x = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
    const auto y = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
    return Move(x, y, static_cast<MoveChoice>(bytes[4]), game.getCurrentPlayer(),
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

} // namespace fuzzing
