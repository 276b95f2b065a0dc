#pragma once
// Runs one match: the server and one bot per seat as child processes, then its record.

#include "BotCommand.h"
#include "MatchNetwork.h"
#include "MatchRecord.h"

#include "Replay.h"
#include "SeatProof.h"
#include "ServerLog.h"
#include "Subprocess.h"
#include "TurnWatch.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

/// What one match needs.
struct MatchSetup {
    std::string id;
    std::string mapFile;
    /// Seat k is bots[k - 1].
    std::vector<BotCommand> bots;
    /// Exactly one of the two is non-zero.
    unsigned timeMs = 0;
    unsigned depth = 0;
    unsigned basePort = 20000;
    unsigned seed = 1;
    /// Wall-clock cap of the whole match in seconds; 0: scaled to the map and the limit.
    double matchTimeout = 0;
    /// Seconds a bot has to connect once started.
    double connectTimeout = 30;
    /// Bytes of a bot's output kept in its log; the rest is counted and dropped.
    size_t botLogLimit = 1 << 20;
    /// Folder for server.log and seatK.log; made when missing.
    std::string logDir;
    std::string serverProgram;
    std::string clientProgram;
    /// Runs the match in a network of its own and every bot in a jail (see Jail).
    bool sandbox = false;
    /// The cores the server and the bots run on (empty: the arena's), and whether other
    /// matches share them (the record notes it).
    std::vector<unsigned> cores;
    bool oversubscribed = false;
    /// When set, the server's console is copied here as it comes.
    std::ostream* echo = nullptr;
};

/// How a run ended for the caller: a record to keep, or an interruption (nothing to keep).
enum class MatchOutcome { Recorded, Interrupted };

class MatchRunner {
public:
    explicit MatchRunner(MatchSetup setup);
    ~MatchRunner();
    MatchRunner(const MatchRunner&) = delete;
    MatchRunner& operator=(const MatchRunner&) = delete;

    /// Plays the match and fills its record. Interrupted when stop() was requested meanwhile;
    /// every child has ended and been reaped either way.
    MatchOutcome run(MatchRecord& record);

    /// The match timeout used when none is given: generous, from the map's size and stocks.
    static double defaultTimeout(const std::string& mapFile, unsigned timeMs);

    /// A child's output on its way into its log (defined with the runner's steps).
    struct Channel;

private:
    using Clock = std::chrono::steady_clock;

    /// The steps of run(), in order.
    void prepare(MatchRecord& record);
    void startServer();
    void watch();
    /// False when the match must end now (m_end and m_reason say why).
    bool watchOnce();
    bool checkDeadline(Clock::time_point now);
    bool checkSeats(Clock::time_point now);
    bool admitNextBot(Clock::time_point now);
    /// Starts seat k's bot, or its jail waiting on `releaseFd` when that is not -1.
    bool startBot(unsigned k, int releaseFd, std::string& error);
    /// Builds every seat's jail ahead, each waiting for its bot's turn.
    void prepareJails();
    /// Lets seat k's prepared jail start its bot.
    void releaseJail(unsigned k);
    /// Every connection so far from the bot started for its seat (see SeatProof).
    bool proveSeats();
    /// The options and the command line that start seat k's bot, jailed or not.
    std::vector<std::string> botLine(unsigned k, Subprocess::Options& options,
                                     nlohmann::json& how) const;
    /// Seat k's control group when the kernel's groups hold its jail (false: they do not).
    bool makeGroup(unsigned k, Subprocess::Options& options);
    /// "exceeded its memory limit" and the like when seat k's bot met a limit, else "".
    std::string limitMet(unsigned k) const;
    /// Seat k's CPU time and peak memory.
    void writeUse(unsigned k, RecordSeat& seat) const;
    void endProcesses();
    /// Starts following seat k's bot for its CPU while waiting and its pondering.
    void followSeat(unsigned k);
    /// Tells the turn watch whom the server's log says is to move now.
    void followTurn();
    /// Seat k's CPU while waiting and pondering.
    void writeWaiting(unsigned k, RecordSeat& seat) const;
    void writeSeats(MatchRecord& record) const;
    void writeEvents(MatchRecord& record);
    /// A logged move as the record keeps it, played on the replay.
    RecordMove replayedMove(const LoggedMove& move);
    void writeResult(MatchRecord& record);

    /// Whether an admitted connection may have closed unproven: jailed (each came through its
    /// seat's relay), or the game is over.
    bool closingExpected() const;
    /// Ends the match now. With a seat, the record names it as the silent or guilty one; the
    /// match counts for nobody.
    void abort(unsigned seat, const std::string& reason);
    /// Ends the match now because of what `seat` did: the seat is disqualified with `reason`
    /// and the others are ranked by the position the game reached (see writeResult).
    void penalize(unsigned seat, const std::string& what);
    /// writeResult() for a match the arena ended because of a seat.
    void writePenalty(MatchRecord& record, int serverExit);
    std::string seatName(unsigned seat) const;

    MatchSetup m_setup;
    Clock::time_point m_started;
    unsigned m_players = 0;
    double m_timeout = 0;
    Replay m_replay;
    ServerLog m_log;
    std::unique_ptr<Channel> m_server;
    std::vector<std::unique_ptr<Channel>> m_seats;
    /// Bots started so far; seat k is started once seats 1..k-1 were admitted.
    unsigned m_startedSeats = 0;
    unsigned m_seenAdmitted = 0;
    Clock::time_point m_admittedAt;
    Clock::time_point m_seatStart;
    Clock::time_point m_deadline;
    MatchEnd m_end = MatchEnd::Final;
    std::string m_reason;
    std::optional<unsigned> m_silentSeat;
    /// The seat that caused the end, or 0.
    unsigned m_culprit = 0;
    std::string m_penalty;
    bool m_interrupted = false;
    bool m_consistent = false;
    MatchNetwork m_network;
    SeatProof m_proof;
    TurnWatch m_turns;
};
