#include "MatchSlots.h"

#include "ServerFacts.h"

#include <algorithm>
#include <thread>
#include <vector>

unsigned MatchSlots::portStride(unsigned base, unsigned concurrency) {
    const unsigned room = base < TOP_PORT ? TOP_PORT - base : 0;
    return std::max(1u, std::min(ServerFacts::PORT_SEARCH_WIDTH, room / std::max(1u, concurrency)));
}

bool MatchSlots::settle(unsigned& concurrency, bool oversubscribe, std::string& error) {
    const CoreSet& usable = CoreSet::usable();
    if (concurrency == 0) {
        concurrency = static_cast<unsigned>(usable.size());
    }
    return usable.fits(concurrency, oversubscribe, error);
}

void MatchSlots::run(unsigned slots, unsigned basePort, bool oversubscribe,
                     const std::function<void(const MatchSlot&)>& play) {
    slots = std::max(1u, slots);
    const unsigned stride = portStride(basePort, slots);
    const CoreSet& usable = CoreSet::usable();
    std::vector<std::thread> threads;
    for (unsigned k = 0; k < slots; ++k) {
        MatchSlot slot;
        slot.index = k;
        slot.basePort = basePort + k * stride;
        slot.cores = usable.slot(k, slots);
        slot.oversubscribed = oversubscribe;
        threads.emplace_back(play, slot);
    }
    for (std::thread& t : threads) {
        t.join();
    }
}
