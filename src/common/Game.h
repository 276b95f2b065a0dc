#pragma once
// The flow of one game: turns, phases, judging and making moves, disqualification, scores.

#include "GameBoard.h"
#include "Map.h"
#include "Move.h"
#include "StateManager.h"
#include "Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// One snapshot of a game on its state stack. Only these three values are saved and
/// restored; the board, the stocks and the disqualifications are not.
struct GameState {
    Player next_turn;
    uint16_t movenumber;
    GamePhase phase;
};

/// Runs one game over one board. An active game judges every move and disqualifies players
/// who break the rules; a passive game applies what it is told and only logs deviations.
/// All messages go to Logging::loggerGame.
class Game : public StateManager {
public:
    /// Builds its own board from `map`, which must be valid and outlive the game.
    Game(const Map& map, bool passive);
    /// Takes ownership of `board` (non-null, built from `map`). The first turn goes to the first
    /// player, from player 1 on, who can place a stone; when nobody can, the game starts in the
    /// bombing phase, or final when nobody can bomb either.
    Game(const Map& map, GameBoard* board, bool passive);
    ~Game() override;

    // State stack
    bool loadState(int index) override;
    bool saveState() override;
    uint32_t getStateSize() const override;

    // Players and phase
    Player getCurrentPlayer() const { return next_turn; }
    /// 1 to the number of players, ascending.
    const std::vector<Player>& getPlayers() const { return m_players; }
    /// The players not disqualified, ascending.
    const std::vector<Player>& getValidPlayers() const { return m_validPlayers; }
    unsigned getNrPlayers() const { return nplayers; }
    unsigned get_valid_players() const { return valid_players; }
    /// Number of makeMove calls so far, rejected ones included.
    unsigned get_movenumber() const { return movenumber; }
    /// p from 1 to 8.
    bool is_disqualified(Player p) const { return disqualified[static_cast<unsigned>(p) - 1]; }
    const GameBoard& getBoard() const { return *m_gb; }
    const Map& getMap() const { return m_map; }
    /// The bombing phase (false once the game is final).
    bool is_terminal() const { return m_phase == GamePhase::TERMINAL; }
    bool is_final() const { return m_phase == GamePhase::FINAL; }
    /// Passive game only: enters the bombing phase. An active game ignores it.
    void force_terminal();

    // Moves
    /// Whether the move would be legal now: by the current player, with the phase's terminal
    /// flag, on the board and legal there. With `checkChoice` the choice must also be one that
    /// makeMove accepts (a bomb throw must carry none, except in a passive game). Changes nothing.
    bool checkMove(const Move& move, bool checkChoice) const;
    /// Applies the move and passes the turn; false when it was refused. An active game
    /// disqualifies the mover of a refused move; the turn passes only when the mover was the
    /// current player. A passive game applies a move out of turn as if it were the mover's turn,
    /// passes the turn even after a refused move and disqualifies nobody.
    bool makeMove(const Move& move);
    /// Disqualifies player p (1 to the number of players; other values are ignored), once. The
    /// game becomes final when at most one valid player is left; else the turn passes when p
    /// was the current player.
    void disqualify(Player p);
    /// Fills scores[p - 1] for every player (room for getNrPlayers() values): -1 when
    /// disqualified, else the stones p owns. Returns the highest scorer, the lowest-numbered on a
    /// tie, or P_INVALID when every player is disqualified.
    Player get_scores(int* scores) const;

    // Move enumeration
    /// Steps `move` to the current player's next legal move, in cell order and within a cell in
    /// choice order; a move with player P_INVALID starts at the first cell. With `apply` the
    /// found move is also made on the board. Answers false, with player P_INVALID, when no
    /// further move exists. Continuing requires a move this enumeration produced (asserted).
    bool calcNextMove(Move& move, bool apply);
    /// calcNextMove; with `apply` and a move found, then passes the turn (nextPlayer in a passive
    /// game, turn_inc in an active one). Only starting an enumeration with `apply` is meaningful.
    bool nextMove(Move& move, bool apply);
    /// Passive game only (asserted): the turn goes to the next player not disqualified, whether
    /// or not that player can move; the phase stays.
    void nextPlayer();
    /// Passes the turn to the next player who can move in the current phase, skipping the
    /// others, and moves the phase on when nobody can. In the final phase it only advances the
    /// turn by one player.
    void turn_inc();

    // Texts
    /// Logs "Scores:" and one line per player at INFO.
    void print_scores() const;
    /// The current player's number, then per player: overrides, bombs, 1 when disqualified else
    /// 0; each on its own line.
    std::string getStatus() const;

private:
    const Map& m_map;
    std::unique_ptr<GameBoard> m_gb;
    Player next_turn = Player::P_INVALID;
    uint16_t movenumber = 0;
    bool disqualified[8] = {};
    uint32_t valid_players;
    uint32_t nplayers;
    std::vector<Player> m_players;
    std::vector<Player> m_validPlayers;
    bool m_passive;
    GamePhase m_phase = GamePhase::BUILD;
};
