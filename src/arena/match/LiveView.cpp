#include "LiveView.h"

#include <algorithm>
#include <limits>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

/// Back to the start of the line and clear it.
const char* const REDRAW = "\r\x1b[K";
constexpr uint8_t BOMB_CHOICE = 20;
constexpr uint8_t OVERRIDE_CHOICE = 21;

/// Seconds with one decimal, cut rather than rounded: never more time than the seat has.
std::string seconds(uint32_t ms) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + "s";
}

std::string moves(unsigned n) {
    return std::to_string(n) + (n == 1 ? " move" : " moves");
}

std::string moveText(const LoggedMove& move, bool bombing) {
    const std::string at = "(" + std::to_string(move.x) + "," + std::to_string(move.y) + ")";
    if (bombing) {
        return "bomb " + at;
    }
    if (move.choice == BOMB_CHOICE) {
        return at + " +bomb";
    }
    if (move.choice == OVERRIDE_CHOICE) {
        return at + " +override";
    }
    return move.choice == 0 ? at : at + " choice " + std::to_string(move.choice);
}

} // namespace

LiveView::LiveView(std::ostream& out, unsigned columns, const std::string& mapText,
                   std::vector<std::string> names, unsigned timeMs)
    : m_out(out), m_columns(columns), m_names(std::move(names)), m_timeMs(timeMs),
      m_clocks(m_names.size(), timeMs), m_gone(m_names.size(), false), m_sink(this) {
    std::string error;
    m_replay.start(mapText, error);
}

LiveView::~LiveView() = default;

unsigned LiveView::terminalColumns(int fd) {
    if (isatty(fd) == 0) {
        return 0;
    }
    winsize size{};
    // A terminal that does not say its width gets the classic one.
    return ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

int LiveView::overflow(int c) {
    if (c != traits_type::eof()) {
        const char ch = traits_type::to_char_type(c);
        xsputn(&ch, 1);
    }
    return traits_type::not_eof(c);
}

std::streamsize LiveView::xsputn(const char* text, std::streamsize n) {
    for (std::streamsize i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\n') {
            feed(m_partial);
            m_partial.clear();
        } else if (m_partial.size() < MAX_LINE) {
            m_partial += c;
        }
    }
    return n;
}

void LiveView::feed(const std::string& line) {
    m_log.feed(line);
    if (!m_headerShown && m_log.admitted() > 0) {
        m_headerShown = true;
        std::string header = "Seats:";
        for (size_t k = 0; k < m_names.size(); ++k) {
            header += (k == 0 ? " " : ", ") + std::to_string(k + 1) + " " + m_names[k];
        }
        permanent(header);
    }
    if (m_columns != 0 && m_moves == 0 && m_log.admitted() != m_admitted) {
        m_admitted = m_log.admitted();
        status("waiting: " + std::to_string(m_admitted) + " of " + std::to_string(m_names.size()) +
               " seats connected");
    }
    const std::vector<LoggedEvent>& events = m_log.events();
    for (; m_events < events.size(); ++m_events) {
        if (events[m_events].isMove) {
            showMove(events[m_events].move);
        } else {
            showDisqualification(events[m_events]);
        }
    }
}

void LiveView::showMove(const LoggedMove& move) {
    const bool bombing = m_replay.started() && m_replay.phase() == "bomb";
    if (m_replay.started()) {
        std::vector<CellChange> changes;
        m_replay.play(move.x, move.y, move.choice, move.player, changes);
    }
    if (move.player >= 1 && move.player <= m_clocks.size()) {
        const uint64_t next = uint64_t{move.leftAfter} + m_timeMs;
        m_clocks[move.player - 1] =
            static_cast<uint32_t>(std::min<uint64_t>(next, std::numeric_limits<uint32_t>::max()));
    }
    ++m_moves;
    const std::string rest = standing();
    status("move " + std::to_string(move.number) + ": seat " + std::to_string(move.player) + " " +
           moveText(move, bombing) + (rest.empty() ? "" : "  " + rest));
}

void LiveView::showDisqualification(const LoggedEvent& event) {
    if (m_replay.started()) {
        m_replay.disqualify(event.player);
    }
    if (event.player >= 1 && event.player <= m_gone.size()) {
        m_gone[event.player - 1] = true;
    }
    permanent("seat " + std::to_string(event.player) + " disqualified after " + moves(m_moves) +
              ": " + event.reason);
}

std::string LiveView::standing() const {
    std::ostringstream os;
    if (m_replay.started()) {
        os << "stones";
        for (const int s : m_replay.scores()) {
            os << ' ' << (s < 0 ? "-" : std::to_string(s));
        }
    }
    if (m_timeMs != 0) {
        os << (m_replay.started() ? "  " : "") << "clocks";
        for (size_t k = 0; k < m_clocks.size(); ++k) {
            os << ' ' << (m_gone[k] ? "-" : seconds(m_clocks[k]));
        }
    }
    return os.str();
}

void LiveView::status(const std::string& text) {
    m_status = text;
    if (m_columns == 0) {
        m_out << text << '\n';
    } else {
        // One column fewer, so that the cursor never wraps to a line the redraw cannot reach.
        m_out << REDRAW << text.substr(0, m_columns - 1);
    }
    m_out.flush();
}

void LiveView::permanent(const std::string& text) {
    if (m_columns == 0) {
        m_out << text << '\n';
    } else {
        m_out << REDRAW << text << '\n';
        if (!m_status.empty()) {
            m_out << m_status.substr(0, m_columns - 1);
        }
    }
    m_out.flush();
}

void LiveView::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (!m_partial.empty()) {
        feed(m_partial);
        m_partial.clear();
    }
    if (!m_headerShown) {
        return;
    }
    const std::string rest = standing();
    const std::string summary = (m_log.finalReached() ? "Game over after " : "Stopped after ") +
                                moves(m_moves) + (rest.empty() ? "" : ": " + rest);
    if (m_columns != 0) {
        m_out << REDRAW;
    }
    m_out << summary << '\n';
    m_out.flush();
}
