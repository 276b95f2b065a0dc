#include "StateManager.h"

#include <cstring>
#include <new>

StateManager::StateManager(unsigned initialStackSize) : m_currentStackSize(initialStackSize) {}

StateManager::~StateManager() = default;

bool StateManager::createBuffer() const {
    if (m_data) {
        return false;
    }
    // Virtual call: only valid once the derived object is complete, which holds for every
    // caller since the buffer is made on the first push at the earliest.
    const uint32_t size = getStateSize();
    m_stateSize = size;
    if (size == 0) {
        return false;
    }
    m_data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_currentStackSize) * size]);
    if (!m_data) {
        m_stateSize = 0;
        return false;
    }
    return true;
}

bool StateManager::init() {
    return createBuffer();
}

uint8_t* StateManager::getCurrentPointer(int index) const {
    if (!m_data && !createBuffer()) {
        return nullptr;
    }
    const int64_t position = index == -1 ? static_cast<int64_t>(m_currentStackIndex) - 1 : index;
    if (position < 0 || position >= static_cast<int64_t>(m_currentStackSize)) {
        return nullptr;
    }
    return m_data.get() + static_cast<size_t>(position) * m_stateSize;
}

void* StateManager::incPointer(void*& mem, size_t offset) {
    mem = static_cast<uint8_t*>(mem) + offset;
    return mem;
}

int StateManager::pushState() {
    if (m_currentStackIndex == m_currentStackSize) {
        // A capacity of 0 would not grow by doubling.
        const uint32_t capacity = m_currentStackSize == 0 ? 1 : m_currentStackSize * 2;
        if (m_data) {
            std::unique_ptr<uint8_t[]> grown(
                new (std::nothrow) uint8_t[static_cast<size_t>(capacity) * m_stateSize]);
            if (!grown) {
                return -1;
            }
            std::memcpy(grown.get(), m_data.get(),
                        static_cast<size_t>(m_currentStackIndex) * m_stateSize);
            m_data = std::move(grown);
        }
        m_currentStackSize = capacity;
    }
    ++m_currentStackIndex;
    if (!saveState()) {
        --m_currentStackIndex;
        return -1;
    }
    return static_cast<int>(m_currentStackIndex) - 1;
}

bool StateManager::popState(bool apply) {
    if (m_currentStackIndex == 0) {
        return false;
    }
    if (apply && !loadState(-1)) {
        return false;
    }
    --m_currentStackIndex;
    return true;
}

bool StateManager::popN(unsigned n, bool apply) {
    if (n == 0 || n > m_currentStackIndex) {
        return false;
    }
    if (apply && !loadState(static_cast<int>(m_currentStackIndex - n))) {
        return false;
    }
    m_currentStackIndex -= n;
    return true;
}

int StateManager::getCurrentIndex() const {
    return static_cast<int>(m_currentStackIndex);
}
