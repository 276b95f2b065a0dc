#pragma once
// Joins one bot's own network to its match's server: the bot's one connection, relayed.

#include <sys/socket.h>

/// The relay of one seat. The bot runs in a network of its own, where the relay listens on
/// the server's port; the bot's first connection is relayed, byte for byte, to the match's
/// server through a socket made in the match's network. Any later connection on the seat's
/// side is closed at once and reported. Bots of a match thus reach the server and nothing
/// else, not each other, and every connection the server sees is known to be its seat's.
class SeatRelay {
public:
    /// Serves the seat until the process ends (or, with `once`, until its first connection is
    /// over). `listener` listens in the bot's network; `upstream` is an unconnected stream
    /// socket of the match's network, connected to `target` when the bot connects; `seat` is
    /// written as one byte to `reportFd` for every connection after the first. Uses only
    /// system calls and its stack, as it runs in a child forked from a threaded arena.
    static void serve(int listener, int upstream, const sockaddr* target, socklen_t targetLength,
                      int reportFd, unsigned char seat, bool once);

private:
    /// Copies what `from` holds now to `to`; false at its end or on an error.
    static bool pass(int from, int to);
};
