#pragma once
// The arena's own view of a running match, drawn from the server's console as it comes.

#include "Replay.h"
#include "ServerLog.h"

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

/// Takes the server's console through sink() (a match's echo) and writes, instead of it, one
/// status line per move:
///
///     move 12: seat 1 (3,4)  stones 10 7  clocks 1.8s 1.2s
///
/// the move number (from 0, as in the records), the seat that moved and its move ("(x,y)",
/// with " choice P", " +bomb" or " +override" for such a choice, "bomb (x,y)" in the bombing
/// phase), the stones of each seat on the game model ("-" once disqualified), and with a time
/// limit the time each seat has for its next move ("-" once disqualified). A disqualification
/// gets a line of its own. A header names the seats first.
///
/// On a terminal the status line is redrawn in place and cut to the terminal's width; before the
/// first move it counts the connected seats. finish() ends the view with a summary line.
class LiveView : private std::streambuf {
public:
    /// Lines longer than this in the server's output are cut; the rest of such a line is dropped.
    static constexpr size_t MAX_LINE = 1 << 16;

    /// `columns` 0: plain lines, for a file or a pipe; else the terminal's width. `mapText` is
    /// the map in the server's format (without a valid map the stones are left out). `timeMs` 0:
    /// no clocks.
    LiveView(std::ostream& out, unsigned columns, const std::string& mapText,
             std::vector<std::string> names, unsigned timeMs);
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;
    ~LiveView() override;

    /// Where the server's console goes.
    std::ostream& sink() { return m_sink; }
    /// Reads what is left of the console, then writes the summary: the number of moves, whether
    /// the game reached its final state, and the last stones and clocks. Once; nothing when no
    /// seat connected.
    void finish();

    /// The width of the terminal on `fd`; 0 when it is not a terminal.
    static unsigned terminalColumns(int fd);

private:
    int overflow(int c) override;
    std::streamsize xsputn(const char* text, std::streamsize n) override;

    /// One whole line of the console.
    void feed(const std::string& line);
    void showMove(const LoggedMove& move);
    void showDisqualification(const LoggedEvent& event);
    /// "stones ..." and, with a time limit, "  clocks ...".
    std::string standing() const;
    /// Replaces the status line on a terminal; writes a line elsewhere.
    void status(const std::string& text);
    /// A line that stays, above the status line on a terminal.
    void permanent(const std::string& text);

    std::ostream& m_out;
    unsigned m_columns;
    std::vector<std::string> m_names;
    unsigned m_timeMs;
    ServerLog m_log;
    Replay m_replay;
    size_t m_events = 0;
    unsigned m_moves = 0;
    unsigned m_admitted = 0;
    std::vector<uint32_t> m_clocks;
    std::vector<bool> m_gone;
    std::string m_partial;
    std::string m_status;
    bool m_headerShown = false;
    bool m_finished = false;
    std::ostream m_sink;
};
