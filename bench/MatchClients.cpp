// Plays whole matches against a running server for the measurements of docs/performance.md:
// one thread per player, each answering every move request at once with its first legal move
// in cell order (a bomb on its first bombable cell in the bombing phase).
//
//   match_clients PORT PLAYERS
//
// Prints how many moves each player made and how its connection ended.

#include "Game.h"
#include "GameBoard.h"
#include "Map.h"
#include "Move.h"
#include "Network.h"
#include "Protocol.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The first legal move of `me` on a scratch copy of the board; false when there is none.
bool firstLegalMove(const Game& game, Player me, bool terminal, payload_move& move) {
    GameBoard scratch(game.getBoard());
    for (uint32_t i = 0; i < scratch.getBoardSize(); ++i) {
        const auto index = static_cast<index_t>(i);
        const bool legal = terminal ? scratch.throwBomb(me, index, false)
                                    : scratch.makeMove(me, index, MoveChoice::NONE, false);
        if (!legal) {
            continue;
        }
        uint16_t x = 0;
        uint16_t y = 0;
        scratch.index2coords(index, x, y);
        move.x = x;
        move.y = y;
        move.choice = MoveChoice::NONE;
        if (!terminal && scratch.get_square(index) == Square::CHOICE) {
            move.choice = static_cast<MoveChoice>(me);
        } else if (!terminal && scratch.get_square(index) == Square::BONUS) {
            move.choice = MoveChoice::BOMB;
        }
        return true;
    }
    return false;
}

std::string play(uint16_t port, uint8_t groupId) {
    auto* socket = new TcpClient;
    if (!socket->connect_to("::1", port)) {
        delete socket;
        return "no connection";
    }
    ProtoClient proto(socket);
    proto.send_client_groupid(groupId);
    Map map;
    std::unique_ptr<Game> game;
    Player me = Player::P_INVALID;
    bool terminal = false;
    unsigned moves = 0;
    for (;;) {
        MsgType type = MsgType::FAIL;
        if (proto.receive_msg(type, false, 0) != MsgResult::OK) {
            return std::to_string(moves) + " moves, connection closed";
        }
        switch (type) {
        case MsgType::GAMEBOARD: {
            std::string text;
            proto.get_gameboard(text);
            map.loadFromString(text);
            game = std::make_unique<Game>(map, true);
            break;
        }
        case MsgType::CLIENT_PLAYERNUM: {
            payload_client_playernum number{};
            proto.get_client_playernum(number);
            me = number.player;
            break;
        }
        case MsgType::MOVEREQUEST: {
            payload_move move{};
            if (!game || !firstLegalMove(*game, me, terminal, move)) {
                return std::to_string(moves) + " moves, then no legal move";
            }
            proto.send_move(move.x, move.y, move.choice);
            ++moves;
            break;
        }
        case MsgType::MOVEANNOUNCE: {
            payload_moveannounce announce{};
            proto.get_moveannounce(announce);
            game->makeMove(
                Move(announce.x, announce.y, announce.choice, announce.player, terminal));
            break;
        }
        case MsgType::DISQUALIFICATION: {
            payload_disqualification out{};
            proto.get_disqualification(out);
            game->disqualify(out.player);
            if (out.player == me) {
                return std::to_string(moves) + " moves, disqualified";
            }
            break;
        }
        case MsgType::TERMINAL:
            terminal = true;
            game->force_terminal();
            break;
        case MsgType::FIN:
            return std::to_string(moves) + " moves, game over";
        default:
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: match_clients PORT PLAYERS\n";
        return 2;
    }
    const auto port = static_cast<uint16_t>(std::atoi(argv[1]));
    const int players = std::atoi(argv[2]);
    std::vector<std::string> results(static_cast<size_t>(players));
    std::vector<std::thread> threads;
    for (int i = 0; i < players; ++i) {
        threads.emplace_back([&results, port, i] {
            results[static_cast<size_t>(i)] = play(port, static_cast<uint8_t>(i + 1));
        });
        // Connect in player order.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < players; ++i) {
        std::cout << "client " << i + 1 << ": " << results[static_cast<size_t>(i)] << "\n";
    }
    return 0;
}
