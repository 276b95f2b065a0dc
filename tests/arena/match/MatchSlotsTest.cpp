// Matches side by side: each slot once, on ports that do not overlap and cores of its own.

#include "MatchSlots.h"
#include "ServerFacts.h"

#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <vector>

TEST(MatchSlots, EachSlotPlaysOnceOnItsOwnPortsAndCores) {
    const struct {
        unsigned base;
        unsigned slots;
        unsigned stride;
    } cases[] = {
        {20000, 1, ServerFacts::PORT_SEARCH_WIDTH},
        {20000, 3, ServerFacts::PORT_SEARCH_WIDTH},
        // Near the top the port searches are shortened rather than crossing it.
        {64900, 4, 25},
        {MatchSlots::TOP_PORT, 2, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchSlots::portStride(c.base, c.slots), c.stride) << c.base;
        std::mutex lock;
        std::vector<MatchSlot> seen;
        MatchSlots::run(c.slots, c.base, false, [&](const MatchSlot& slot) {
            std::lock_guard<std::mutex> hold(lock);
            seen.push_back(slot);
        });
        ASSERT_EQ(seen.size(), c.slots);
        std::set<unsigned> indexes;
        for (const MatchSlot& slot : seen) {
            indexes.insert(slot.index);
            EXPECT_EQ(slot.basePort, c.base + slot.index * c.stride);
            EXPECT_EQ(slot.cores.text(), CoreSet::usable().slot(slot.index, c.slots).text());
            EXPECT_FALSE(slot.oversubscribed);
        }
        EXPECT_EQ(indexes.size(), c.slots);
    }
}

TEST(MatchSlots, MoreMatchesThanCoresAreRefusedUnlessShared) {
    const unsigned cores = static_cast<unsigned>(CoreSet::usable().size());
    std::string error;
    unsigned concurrency = 0;
    EXPECT_TRUE(MatchSlots::settle(concurrency, false, error)) << error;
    EXPECT_EQ(concurrency, cores);
    concurrency = cores + 1;
    EXPECT_FALSE(MatchSlots::settle(concurrency, false, error));
    EXPECT_NE(error.find(CoreSet::usable().text()), std::string::npos) << error;
    EXPECT_TRUE(MatchSlots::settle(concurrency, true, error));
}
