#include "RecordStream.h"

#include "BoundedFile.h"

#include <utility>

using json = nlohmann::json;

namespace {

constexpr unsigned CHANGE_ITEMS = 3;
constexpr size_t MAX_TOKEN_BYTES = 4;

} // namespace

RecordStream::RecordStream(json& rest, std::vector<RecordMove>& moves)
    : m_root(rest), m_moves(moves) {}

bool RecordStream::split(const std::string& text, json& rest, std::vector<RecordMove>& moves) {
    rest = nullptr;
    moves.clear();
    RecordStream stream(rest, moves);
    // The parser walks nested values with a stack of its own, so any depth is safe to reach
    // here; the handler stops at the bound the arena's other documents have.
    const bool whole = json::sax_parse(text, &stream) && stream.m_sawMoves;
    if (!whole) {
        rest = nullptr;
        moves.clear();
    }
    return whole;
}

bool RecordStream::enter() {
    return ++m_depth <= BoundedFile::MAX_DEPTH;
}

RecordStream::Member RecordStream::memberNamed(const std::string& name) {
    static const std::pair<const char*, Member> members[] = {
        {"n", N},          {"seat", SEAT},     {"x", X},
        {"y", Y},          {"choice", CHOICE}, {"phase", PHASE},
        {"time_ms", TIME}, {"left_ms", LEFT},  {"changes", CHANGES}};
    for (const auto& [known, member] : members) {
        if (name == known) {
            return member;
        }
    }
    return OTHER;
}

// The rest of the document is built as the parser's own document builder builds it: a member
// named twice keeps its last value.

bool RecordStream::restValue(json value) {
    if (m_open.empty()) {
        m_root = std::move(value);
    } else if (m_open.back()->is_array()) {
        m_open.back()->push_back(std::move(value));
    } else {
        *m_slot = std::move(value);
    }
    return true;
}

bool RecordStream::restContainer(json value) {
    json* container = &m_root;
    if (m_open.empty()) {
        m_root = std::move(value);
    } else if (m_open.back()->is_array()) {
        m_open.back()->push_back(std::move(value));
        container = &m_open.back()->back();
    } else {
        *m_slot = std::move(value);
        container = m_slot;
    }
    m_open.push_back(container);
    return true;
}

bool RecordStream::restEnd() {
    m_open.pop_back();
    return true;
}

// A move's members: each known one must have the type and range fromJson takes, others are
// skipped whatever they hold.

bool RecordStream::moveNumber(std::uint64_t value) {
    const auto within = [&](std::uint64_t lo, std::uint64_t hi) {
        m_members |= m_member;
        return value >= lo && value <= hi;
    };
    switch (m_member) {
    case N:
        m_move.n = static_cast<unsigned>(value);
        return within(0, MatchRecord::MAX_WHOLE);
    case SEAT:
        m_move.seat = static_cast<unsigned>(value);
        return within(1, MatchRecord::MAX_SEATS);
    case X:
        m_move.x = static_cast<uint16_t>(value);
        return within(0, MatchRecord::MAX_COORDINATE);
    case Y:
        m_move.y = static_cast<uint16_t>(value);
        return within(0, MatchRecord::MAX_COORDINATE);
    case CHOICE:
        m_move.choice = static_cast<uint8_t>(value);
        return within(0, MatchRecord::MAX_CHOICE);
    case TIME:
        m_move.timeMs = static_cast<uint32_t>(value);
        return within(0, MatchRecord::MAX_WHOLE);
    case LEFT:
        m_move.leftMs = static_cast<uint32_t>(value);
        return within(0, MatchRecord::MAX_WHOLE);
    case OTHER:
        return true;
    default:
        return false;
    }
}

bool RecordStream::changeNumber(std::uint64_t value) {
    if (m_item >= 2 || value > MatchRecord::MAX_COORDINATE) {
        return false;
    }
    RecordChange& change = m_move.changes.back();
    (m_item == 0 ? change.x : change.y) = static_cast<uint16_t>(value);
    ++m_item;
    return true;
}

bool RecordStream::moveText(std::string& value) {
    if (m_place == Place::Change) {
        if (m_item != 2 || value.size() > MAX_TOKEN_BYTES) {
            return false;
        }
        m_move.changes.back().token = std::move(value);
        ++m_item;
        return true;
    }
    if (m_member == PHASE && value.size() <= MatchRecord::MAX_TEXT_BYTES) {
        m_move.phase = std::move(value);
        m_members |= PHASE;
        return true;
    }
    return m_member == OTHER;
}

bool RecordStream::moveNull() {
    if (m_member == PHASE) {
        m_move.phase.reset();
        m_members |= PHASE;
        return true;
    }
    return m_member == OTHER;
}

bool RecordStream::moveContainer(bool array) {
    if (m_member == OTHER) {
        m_place = Place::Skip;
        m_skipDepth = 1;
        return true;
    }
    if (!array || m_member != CHANGES) {
        return false;
    }
    m_move.changes.clear();
    m_place = Place::Changes;
    return true;
}

bool RecordStream::endMove() {
    constexpr unsigned REQUIRED = N | SEAT | X | Y | CHOICE | PHASE | CHANGES;
    if ((m_members & REQUIRED) != REQUIRED) {
        return false;
    }
    // The time left is read only beside the time taken.
    if ((m_members & TIME) == 0) {
        m_move.timeMs.reset();
        m_move.leftMs.reset();
    } else if ((m_members & LEFT) == 0) {
        return false;
    }
    m_moves.push_back(std::move(m_move));
    m_place = Place::Moves;
    return true;
}

bool RecordStream::leaveMoveContainer() {
    switch (m_place) {
    case Place::Changes:
        m_members |= CHANGES;
        m_place = Place::Move;
        return true;
    case Place::Change:
        m_place = Place::Changes;
        return m_item == CHANGE_ITEMS;
    case Place::Skip:
        if (--m_skipDepth == 0) {
            m_place = Place::Move;
        }
        return true;
    case Place::Moves:
        m_place = Place::Rest;
        return true;
    default:
        return false;
    }
}

bool RecordStream::null() {
    switch (m_place) {
    case Place::Rest:
        return restValue(nullptr);
    case Place::Move:
        return moveNull();
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::boolean(bool value) {
    switch (m_place) {
    case Place::Rest:
        return restValue(value);
    case Place::Move:
        return m_member == OTHER;
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::number_integer(std::int64_t value) {
    // The rest keeps each number of the type the parser gave it, as a document would.
    if (m_place == Place::Rest) {
        return restValue(value);
    }
    if (value >= 0) {
        return number_unsigned(static_cast<std::uint64_t>(value));
    }
    switch (m_place) {
    case Place::Move:
        return m_member == OTHER;
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::number_unsigned(std::uint64_t value) {
    switch (m_place) {
    case Place::Rest:
        return restValue(value);
    case Place::Move:
        return moveNumber(value);
    case Place::Change:
        return changeNumber(value);
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::number_float(double value, const std::string& /*text*/) {
    switch (m_place) {
    case Place::Rest:
        return restValue(value);
    case Place::Move:
        return m_member == OTHER;
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::string(std::string& value) {
    switch (m_place) {
    case Place::Rest:
        return restValue(std::move(value));
    case Place::Move:
    case Place::Change:
        return moveText(value);
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::binary(json::binary_t& /*value*/) {
    return false;
}

bool RecordStream::start_object(std::size_t /*elements*/) {
    if (!enter()) {
        return false;
    }
    switch (m_place) {
    case Place::Rest:
        return restContainer(json::object());
    case Place::Moves:
        if (m_moves.size() >= MatchRecord::MAX_MOVES) {
            return false;
        }
        m_move = RecordMove();
        m_members = 0;
        m_member = OTHER;
        m_place = Place::Move;
        return true;
    case Place::Move:
        return moveContainer(false);
    case Place::Skip:
        ++m_skipDepth;
        return true;
    default:
        return false;
    }
}

bool RecordStream::key(std::string& value) {
    switch (m_place) {
    case Place::Rest:
        if (m_open.size() == 1 && value == "moves") {
            if (m_sawMoves) {
                return false;
            }
            m_sawMoves = true;
            m_place = Place::MovesKey;
        }
        m_slot = &(*m_open.back())[value];
        return true;
    case Place::Move:
        m_member = memberNamed(value);
        return true;
    default:
        return m_place == Place::Skip;
    }
}

bool RecordStream::end_object() {
    --m_depth;
    switch (m_place) {
    case Place::Rest:
        return restEnd();
    case Place::Move:
        return endMove();
    default:
        return leaveMoveContainer();
    }
}

bool RecordStream::start_array(std::size_t /*elements*/) {
    if (!enter()) {
        return false;
    }
    switch (m_place) {
    case Place::Rest:
        return restContainer(json::array());
    case Place::MovesKey:
        *m_slot = json::array();
        m_place = Place::Moves;
        return true;
    case Place::Move:
        return moveContainer(true);
    case Place::Changes:
        if (m_move.changes.size() >= MatchRecord::MAX_CHANGES) {
            return false;
        }
        m_move.changes.emplace_back();
        m_item = 0;
        m_place = Place::Change;
        return true;
    case Place::Skip:
        ++m_skipDepth;
        return true;
    default:
        return false;
    }
}

bool RecordStream::end_array() {
    --m_depth;
    if (m_place == Place::Rest) {
        return restEnd();
    }
    return leaveMoveContainer();
}

bool RecordStream::parse_error(std::size_t /*position*/, const std::string& /*token*/,
                               const nlohmann::detail::exception& /*error*/) {
    return false;
}
