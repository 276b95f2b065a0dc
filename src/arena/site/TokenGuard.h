#pragma once
// Failed token checks, counted per address, so that guessing is slow and seen.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

/// Each address may fail `burst` token checks at once; its allowance then grows back by one
/// every `refillSeconds`. An address with no allowance left is refused without its token being
/// checked, so guessing costs `refillSeconds` a try from any one address. Every failure is
/// logged with its address, and so is the moment an address is slowed. At most `maxAddresses`
/// are remembered; the fullest allowances are forgotten first.
class TokenGuard {
public:
    struct Limits {
        double burst = 10;
        double refillSeconds = 2;
        size_t maxAddresses = 4096;
    };
    explicit TokenGuard(Limits limits);
    TokenGuard() : TokenGuard(Limits{}) {}

    /// Whether a token from this address may be checked now; when not, `waitSeconds` says how
    /// long until one may.
    bool mayTry(const std::string& address, int& waitSeconds);
    /// Records a failed check.
    void failed(const std::string& address);

private:
    using Clock = std::chrono::steady_clock;
    struct Allowance {
        double left = 0;
        Clock::time_point at;
    };
    /// The allowance as of now, grown back since it was last seen.
    double current(Allowance& allowance, Clock::time_point now) const;
    void forgetFullest(Clock::time_point now);

    Limits m_limits;
    std::mutex m_lock;
    std::map<std::string, Allowance> m_addresses;
};
