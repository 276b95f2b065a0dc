#pragma once
// Matches played side by side, by tournaments and leagues alike: each slot a thread of its
// own, with its own ports and its own share of the cores.

#include "CoreSet.h"

#include <functional>
#include <string>

/// One of the matches that run at once.
struct MatchSlot {
    unsigned index = 0;
    /// The first of the ports its server may search.
    unsigned basePort = 0;
    /// The cores its server and bots run on.
    CoreSet cores;
    /// Other slots run on the same cores (more matches at once than cores were allowed).
    bool oversubscribed = false;
};

class MatchSlots {
public:
    /// No server started side by side searches ports above this one.
    static constexpr unsigned TOP_PORT = 65000;

    /// How far apart the base ports of `concurrency` servers started side by side from `base`
    /// lie: each server's whole port search where the ports allow, at least 1.
    static unsigned portStride(unsigned base, unsigned concurrency);

    /// Settles how many matches run at once: `concurrency`, or one per usable core when it is
    /// 0. False with the one line that names the cores when that leaves a running match
    /// without a core of its own, unless `oversubscribe`.
    static bool settle(unsigned& concurrency, bool oversubscribe, std::string& error);

    /// Runs `play` once per slot, `slots` of them at once, each on a thread of its own from
    /// `basePort` on and on its share of the usable cores; returns once every one returned.
    static void run(unsigned slots, unsigned basePort, bool oversubscribe,
                    const std::function<void(const MatchSlot&)>& play);
};
