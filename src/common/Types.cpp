#include "Types.h"

std::ostream& operator<<(std::ostream& os, MoveChoice choice) {
    return os << static_cast<unsigned>(choice);
}

std::ostream& operator<<(std::ostream& os, Player player) {
    return os << static_cast<unsigned>(player);
}

std::ostream& operator<<(std::ostream& os, GamePhase phase) {
    switch (phase) {
    case GamePhase::BUILD:
        return os << "build";
    case GamePhase::TERMINAL:
        return os << "terminal";
    case GamePhase::FINAL:
        return os << "final";
    }
    return os << "unknown";
}
