#include "TurnWatch.h"

#include <utility>

void TurnWatch::attach(unsigned k, Seat seat) {
    if (k == 0 || k > m_seats.size()) {
        return;
    }
    State& s = m_seats[k - 1];
    s.seat = std::move(seat);
    s.attached = true;
    s.lastUs = s.seat.cpuUs ? s.seat.cpuUs() : 0;
    // A bot that starts while another seat is to move waits like the others.
    if (m_mover != 0 && m_mover != k) {
        setFrozen(s, true);
    }
}

void TurnWatch::moverIs(unsigned mover) {
    if (mover > m_seats.size()) {
        mover = 0;
    }
    if (m_finished || mover == m_mover) {
        return;
    }
    if (mover != 0) {
        setFrozen(m_seats[mover - 1], false);
    }
    count();
    m_mover = mover;
    if (mover == 0) {
        return; // between moves: nobody is to move, so nobody waits for anyone
    }
    for (unsigned k = 1; k <= m_seats.size(); ++k) {
        if (k != mover) {
            setFrozen(m_seats[k - 1], true);
        }
    }
}

void TurnWatch::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    count();
    m_mover = 0;
    for (State& s : m_seats) {
        setFrozen(s, false);
    }
}

uint64_t TurnWatch::waitingMs(unsigned k) const {
    return k == 0 || k > m_seats.size() ? 0 : m_seats[k - 1].waitingUs / 1000;
}

bool TurnWatch::frozen(unsigned k) const {
    return k != 0 && k <= m_seats.size() && m_seats[k - 1].frozen;
}

void TurnWatch::count() {
    for (unsigned k = 1; k <= m_seats.size(); ++k) {
        State& s = m_seats[k - 1];
        if (!s.attached || !s.seat.cpuUs) {
            continue;
        }
        const uint64_t now = s.seat.cpuUs();
        // A reading that went back (a process tree that lost a member) counts nothing, and
        // the next stretch counts from it.
        const uint64_t used = now > s.lastUs ? now - s.lastUs : 0;
        s.lastUs = now;
        if (m_mover != 0 && m_mover != k) {
            s.waitingUs += used;
        }
    }
}

void TurnWatch::setFrozen(State& s, bool frozen) {
    if (!s.attached || !s.seat.freeze || s.frozen == frozen) {
        return;
    }
    s.seat.freeze(frozen);
    s.frozen = frozen;
}
