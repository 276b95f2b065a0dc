// The turn watch: CPU while waiting per seat, and who is frozen, over sequences of movers.

#include "TurnWatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

/// Seats whose CPU clocks the test advances by hand, and a log of freezes ("2+" froze seat 2,
/// "2-" thawed it).
struct FakeSeats {
    std::vector<uint64_t> cpuUs = std::vector<uint64_t>(4, 0);
    std::string freezes;

    TurnWatch::Seat seat(unsigned k, bool frozenOnOthersTurns) {
        TurnWatch::Seat s;
        s.cpuUs = [this, k] { return cpuUs[k]; };
        if (frozenOnOthersTurns) {
            s.freeze = [this, k](bool frozen) {
                freezes += std::to_string(k) + (frozen ? "+" : "-") + " ";
            };
        }
        return s;
    }
};

} // namespace

TEST(TurnWatch, CountsCpuOnlyWhileAnotherSeatIsToMove) {
    // Steps: the mover the log shows, then CPU (ms) each of seats 1..3 used until the next.
    const struct {
        const char* what;
        std::vector<std::pair<unsigned, std::vector<uint64_t>>> steps;
        std::vector<uint64_t> waitingMs;
    } cases[] = {
        {"before any request nobody waits", {{0, {5, 5, 5}}}, {0, 0, 0}},
        {"the others wait on the mover", {{1, {10, 3, 4}}, {0, {1, 1, 1}}}, {0, 3, 4}},
        {"turns in a row",
         {{1, {10, 3, 0}}, {0, {1, 1, 1}}, {2, {2, 20, 0}}, {3, {1, 1, 30}}},
         {3, 4, 0}},
        {"a repeated mover changes nothing", {{2, {7, 1, 0}}, {2, {7, 1, 0}}}, {14, 0, 0}},
        {"a seat out of range is nobody", {{9, {5, 5, 5}}}, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        FakeSeats fake;
        TurnWatch watch(3);
        for (unsigned k = 1; k <= 3; ++k) {
            watch.attach(k, fake.seat(k, false));
        }
        for (const auto& [mover, used] : c.steps) {
            watch.moverIs(mover);
            for (unsigned k = 1; k <= 3; ++k) {
                fake.cpuUs[k] += used[k - 1] * 1000;
            }
        }
        watch.finish();
        for (unsigned k = 1; k <= 3; ++k) {
            EXPECT_EQ(watch.waitingMs(k), c.waitingMs[k - 1]) << c.what << ", seat " << k;
        }
        EXPECT_EQ(fake.freezes, "") << c.what;
    }
}

TEST(TurnWatch, FreezesOnlyTheSeatsThatMayNotPonderAndThawsTheMoverFirst) {
    FakeSeats fake;
    TurnWatch watch(3);
    watch.attach(1, fake.seat(1, true));
    watch.attach(2, fake.seat(2, false));
    watch.moverIs(2);
    EXPECT_EQ(fake.freezes, "1+ ");
    EXPECT_TRUE(watch.frozen(1));
    EXPECT_FALSE(watch.frozen(2));
    // Between moves nothing changes; the frozen seat is thawed when it is asked.
    watch.moverIs(0);
    watch.moverIs(1);
    EXPECT_EQ(fake.freezes, "1+ 1- ");
    // A seat that starts while another is to move starts frozen.
    watch.attach(3, fake.seat(3, true));
    EXPECT_EQ(fake.freezes, "1+ 1- 3+ ");
    watch.moverIs(3);
    EXPECT_EQ(fake.freezes, "1+ 1- 3+ 3- 1+ ");
    // The end thaws everyone, once, and what the log says later is not followed.
    watch.finish();
    watch.finish();
    watch.moverIs(2);
    EXPECT_EQ(fake.freezes, "1+ 1- 3+ 3- 1+ 1- ");
    EXPECT_FALSE(watch.frozen(1) || watch.frozen(3));
}

TEST(TurnWatch, AClockThatGoesBackCountsNothing) {
    FakeSeats fake;
    TurnWatch watch(2);
    fake.cpuUs[2] = 50000;
    watch.attach(1, fake.seat(1, false));
    watch.attach(2, fake.seat(2, false));
    watch.moverIs(1);
    fake.cpuUs[2] = 10000; // a process of its tree ended unwaited
    watch.moverIs(2);
    watch.moverIs(1);
    fake.cpuUs[2] = 52000;
    watch.moverIs(2);
    EXPECT_EQ(watch.waitingMs(2), 42u);
}
