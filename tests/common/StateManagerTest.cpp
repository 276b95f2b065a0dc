#include "StateManager.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Saves one 32-bit value per snapshot; can be told to fail its reads and writes.
class Counter : public StateManager {
public:
    explicit Counter(unsigned capacity, uint32_t stateSize = sizeof(uint32_t))
        : StateManager(capacity), m_size(stateSize) {}

    bool loadState(int index) override {
        const uint8_t* slot = getCurrentPointer(index);
        if (m_failLoad || !slot) {
            return false;
        }
        std::memcpy(&value, slot, sizeof(value));
        return true;
    }
    bool saveState() override {
        uint8_t* slot = getCurrentPointer(-1);
        if (m_failSave || !slot) {
            return false;
        }
        std::memcpy(slot, &value, sizeof(value));
        return true;
    }
    uint32_t getStateSize() const override { return m_size; }

    // Pushes `count` snapshots holding first, first + 1, ...
    void pushValues(uint32_t first, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            value = first + i;
            ASSERT_NE(pushState(), -1);
        }
    }

    uint32_t value = 0;
    bool m_failLoad = false;
    bool m_failSave = false;

private:
    uint32_t m_size;
};

uint32_t slotValue(const Counter& c, int index) {
    uint32_t v = 0;
    std::memcpy(&v, c.getCurrentPointer(index), sizeof(v));
    return v;
}

} // namespace

TEST(StateManager, PushReturnsPositionsAndPopRestoresTop) {
    Counter c(StateManager::DEFAULT_STACK_SIZE);
    EXPECT_EQ(c.getCurrentIndex(), 0);
    EXPECT_FALSE(c.popState(true));

    c.value = 7;
    EXPECT_EQ(c.pushState(), 0);
    c.value = 8;
    EXPECT_EQ(c.pushState(), 1);
    EXPECT_EQ(c.getCurrentIndex(), 2);

    c.value = 99;
    EXPECT_TRUE(c.popState(false)); // drops 8 without touching the value
    EXPECT_EQ(c.value, 99u);
    EXPECT_TRUE(c.popState(true));
    EXPECT_EQ(c.value, 7u);
    EXPECT_EQ(c.getCurrentIndex(), 0);
    EXPECT_FALSE(c.popState(false));
}

TEST(StateManager, FiftyFirstPushDoublesAndKeepsEarlierSnapshots) {
    Counter c(StateManager::DEFAULT_STACK_SIZE);
    c.pushValues(1000, 50);
    const uint8_t* before = c.getCurrentPointer(0);
    c.value = 1050;
    EXPECT_EQ(c.pushState(), 50);
    EXPECT_NE(c.getCurrentPointer(0), before); // a new buffer
    for (int i = 0; i <= 50; ++i) {
        EXPECT_EQ(slotValue(c, i), 1000u + i) << "slot " << i;
    }
    // Room for 100 now: slot 99 exists, slot 100 does not.
    EXPECT_NE(c.getCurrentPointer(99), nullptr);
    EXPECT_EQ(c.getCurrentPointer(100), nullptr);
    EXPECT_TRUE(c.popN(51, true));
    EXPECT_EQ(c.value, 1000u);
}

TEST(StateManager, PopNRestoresOldestOfTheRemovedAndRefusesBadCounts) {
    Counter c(4);
    c.pushValues(10, 3); // 10, 11, 12
    EXPECT_FALSE(c.popN(0, true));
    EXPECT_FALSE(c.popN(4, true));
    EXPECT_EQ(c.getCurrentIndex(), 3);

    c.value = 0;
    EXPECT_TRUE(c.popN(2, true));
    EXPECT_EQ(c.value, 11u);
    EXPECT_EQ(c.getCurrentIndex(), 1);

    c.value = 0;
    EXPECT_TRUE(c.popN(1, false));
    EXPECT_EQ(c.value, 0u);
    EXPECT_EQ(c.getCurrentIndex(), 0);
}

TEST(StateManager, FailedSaveOrLoadLeavesTheStackAsItWas) {
    Counter c(2);
    c.pushValues(1, 2);
    c.m_failSave = true;
    EXPECT_EQ(c.pushState(), -1);
    EXPECT_EQ(c.getCurrentIndex(), 2);
    c.m_failSave = false;

    c.m_failLoad = true;
    EXPECT_FALSE(c.popState(true));
    EXPECT_FALSE(c.popN(2, true));
    EXPECT_EQ(c.getCurrentIndex(), 2);
    EXPECT_TRUE(c.popState(false)); // dropping needs no read
    EXPECT_EQ(c.getCurrentIndex(), 1);
}

TEST(StateManager, InitMakesTheBufferOnceAndSlotsOutsideItAreNull) {
    Counter empty(5, 0);
    EXPECT_FALSE(empty.init());
    EXPECT_EQ(empty.getCurrentPointer(0), nullptr);
    EXPECT_EQ(empty.pushState(), -1);
    EXPECT_EQ(empty.getCurrentIndex(), 0);

    Counter c(3);
    EXPECT_TRUE(c.init());
    EXPECT_FALSE(c.init());
    EXPECT_EQ(c.getCurrentPointer(-1), nullptr); // no snapshot yet
    EXPECT_EQ(c.getCurrentPointer(-2), nullptr);
    EXPECT_EQ(c.getCurrentPointer(3), nullptr);
    ASSERT_NE(c.getCurrentPointer(0), nullptr);
    EXPECT_EQ(c.getCurrentPointer(2) - c.getCurrentPointer(0), 8);
    c.pushValues(5, 2);
    EXPECT_EQ(c.getCurrentPointer(-1), c.getCurrentPointer(1));

    void* mem = c.getCurrentPointer(0);
    void* const start = mem;
    EXPECT_EQ(StateManager::incPointer(mem, 3), static_cast<uint8_t*>(start) + 3);
    EXPECT_EQ(mem, static_cast<uint8_t*>(start) + 3);
}

TEST(StateManager, ZeroCapacityStillGrows) {
    Counter c(0);
    c.pushValues(40, 3);
    EXPECT_EQ(c.getCurrentIndex(), 3);
    EXPECT_TRUE(c.popN(3, true));
    EXPECT_EQ(c.value, 40u);
}
