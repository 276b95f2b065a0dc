#pragma once
// A stack of fixed-size snapshots of a derived object's state.

#include <cstddef>
#include <cstdint>
#include <memory>

/// Keeps snapshots of its derived object's state in one contiguous buffer of equal slots, so
/// that the object can go back to an earlier state. The derived class reports the snapshot size
/// and writes and reads one snapshot; this class owns the buffer, grows it by doubling and
/// pushes and pops. The buffer is created on first use and never shrinks.
class StateManager {
public:
    /// Initial capacity of the derived game's stack.
    static constexpr unsigned DEFAULT_STACK_SIZE = 50;

    /// Capacity `initialStackSize` snapshots, empty stack, no buffer yet.
    explicit StateManager(unsigned initialStackSize);
    virtual ~StateManager();

    StateManager(const StateManager&) = delete;
    StateManager& operator=(const StateManager&) = delete;

    /// Restores the snapshot at position `index` (-1: the top one). False when there is none.
    virtual bool loadState(int index) = 0;
    /// Writes the current state into the top slot (`getCurrentPointer(-1)`). False on failure.
    virtual bool saveState() = 0;
    /// Bytes per snapshot; 0 makes every push fail.
    virtual uint32_t getStateSize() const = 0;

    /// Saves the current state as a new top snapshot, doubling the buffer when it is full.
    /// Returns the snapshot's position (0 for the first), or -1 with nothing changed.
    int pushState();
    /// Removes the top snapshot, restoring it first when `apply` is set. False, with the stack
    /// unchanged, when the stack is empty or the restore fails.
    bool popState(bool apply);
    /// Removes the top `n` snapshots, restoring the oldest of them first when `apply` is set.
    /// False, with the stack unchanged, when `n` is 0 or above the count or the restore fails.
    bool popN(unsigned n, bool apply);

    /// Start of the slot at `index`, or of the top snapshot for -1; creates the buffer when it
    /// does not exist yet. Null when the buffer cannot be made, for -1 on an empty stack, and
    /// for an index outside the capacity. The pointer is valid until the next push.
    uint8_t* getCurrentPointer(int index) const;
    /// Creates the buffer. False when it exists already or the snapshot size is 0.
    bool init();
    /// Advances `mem` by `offset` bytes and returns the new value.
    static void* incPointer(void*& mem, size_t offset);
    /// The number of snapshots on the stack; popN(getCurrentIndex() - p, true) goes back to the
    /// state saved at position p.
    int getCurrentIndex() const;

private:
    bool createBuffer() const;

    uint32_t m_currentStackSize;
    uint32_t m_currentStackIndex = 0;
    // The buffer is made lazily, also from the const slot lookup.
    mutable uint32_t m_stateSize = 0;
    mutable std::unique_ptr<uint8_t[]> m_data;
};
