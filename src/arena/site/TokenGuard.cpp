#include "TokenGuard.h"

#include "Arena.h"

#include <algorithm>
#include <cmath>

TokenGuard::TokenGuard(Limits limits) : m_limits(limits) {}

double TokenGuard::current(Allowance& allowance, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - allowance.at).count();
    allowance.left = std::min(m_limits.burst, allowance.left + seconds / m_limits.refillSeconds);
    allowance.at = now;
    return allowance.left;
}

bool TokenGuard::mayTry(const std::string& address, int& waitSeconds) {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto found = m_addresses.find(address);
    if (found == m_addresses.end()) {
        return true;
    }
    const double left = current(found->second, Clock::now());
    if (left >= 1) {
        return true;
    }
    waitSeconds = static_cast<int>(std::ceil((1 - left) * m_limits.refillSeconds));
    return false;
}

void TokenGuard::failed(const std::string& address) {
    std::lock_guard<std::mutex> hold(m_lock);
    const Clock::time_point now = Clock::now();
    auto found = m_addresses.find(address);
    if (found == m_addresses.end()) {
        if (m_addresses.size() >= m_limits.maxAddresses) {
            forgetFullest(now);
        }
        found = m_addresses.emplace(address, Allowance{m_limits.burst, now}).first;
    }
    const double left = std::max(0.0, current(found->second, now) - 1);
    found->second.left = left;
    LOG(Arena::logger(), lumber::WARN)
        << "a token check from " << address << " failed"
        << (left < 1 ? "; its next tries are slowed to one every " +
                           std::to_string(static_cast<int>(m_limits.refillSeconds)) + " s"
                     : "");
}

void TokenGuard::forgetFullest(Clock::time_point now) {
    // Addresses whose allowance has grown back whole hold nothing worth keeping; when every
    // remembered address is still slowed, the one closest to whole goes.
    auto fullest = m_addresses.end();
    for (auto at = m_addresses.begin(); at != m_addresses.end();) {
        if (current(at->second, now) >= m_limits.burst) {
            at = m_addresses.erase(at);
            continue;
        }
        if (fullest == m_addresses.end() || at->second.left > fullest->second.left) {
            fullest = at;
        }
        ++at;
    }
    if (m_addresses.size() >= m_limits.maxAddresses && fullest != m_addresses.end()) {
        m_addresses.erase(fullest);
    }
}
