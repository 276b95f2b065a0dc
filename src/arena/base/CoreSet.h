#pragma once
// The processor cores this arena may use, and the share of them each running match gets.

#include <string>
#include <vector>

/// A set of processor cores by number. usable() reads what this process may run on (its
/// affinity mask, cut to what a control group's CPU quota pays for); slot() gives each of the
/// matches that run at once a core set of its own.
class CoreSet {
public:
    CoreSet() = default;
    explicit CoreSet(std::vector<unsigned> cores);

    /// The cores this process may use, read once per process: the affinity mask, no more of
    /// them than the CPU quota of its control group (v2 cpu.max or v1 cfs quota) covers, and
    /// at least one.
    static const CoreSet& usable();

    const std::vector<unsigned>& cores() const { return m_cores; }
    size_t size() const { return m_cores.size(); }
    bool empty() const { return m_cores.empty(); }
    /// The kernel's list form: "0-3", "0,2,5-6"; "" when empty.
    std::string text() const;

    /// The cores of slot `slot` of `slots` matches running at once: disjoint sets, as even as
    /// the cores allow, when slots <= size(); one core, shared round the slots, otherwise.
    CoreSet slot(unsigned slot, unsigned slots) const;

    /// Whether `concurrency` matches at once leave each running match a core of its own here;
    /// false with the one line that says so ("... 2 usable cores (0-1) ...") unless
    /// `oversubscribe`.
    bool fits(unsigned concurrency, bool oversubscribe, std::string& error) const;

private:
    std::vector<unsigned> m_cores;
};
