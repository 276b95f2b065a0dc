#pragma once
// A control group of the kernel for one jailed bot: its memory, process count, CPU weight and
// cores as a whole, and what it used.

#include <cstdint>
#include <string>
#include <vector>

/// One bot's control group, made beside the arena's own group (cgroup v2 where the unified
/// hierarchy has the controllers, v1 hierarchies otherwise) and removed, with whatever still
/// runs in it, on destruction. Every bot's group has the same CPU weight, so that no number
/// of processes or sessions buys a bot a bigger share than its opponents'.
class ControlGroup {
public:
    /// What a bot's group holds; 0 or empty leaves that one as the arena's.
    struct Limits {
        uint64_t memoryBytes = 0;
        unsigned processes = 0;
        std::vector<unsigned> cores;
    };
    /// What the bot used, read before the group is removed.
    struct Usage {
        uint64_t cpuMs = 0;
        /// 0 when the kernel does not keep the peak (v2 before memory.peak).
        uint64_t peakBytes = 0;
        /// The kernel killed a process of the group at its memory limit.
        bool memoryLimit = false;
        /// A fork was refused at the process limit.
        bool processLimit = false;
    };

    /// "cgroup v2" or "cgroup v1" when groups can be made here, else "" with the one line
    /// that says why (the reason of the first attempt, kept for the process).
    static std::string kind(std::string& why);

    ControlGroup() = default;
    ~ControlGroup();
    ControlGroup(const ControlGroup&) = delete;
    ControlGroup& operator=(const ControlGroup&) = delete;

    /// Makes the group with these limits; false, with the reason, when it cannot.
    bool create(const Limits& limits, std::string& error);
    /// The files a process writes itself into to join the group (one per hierarchy).
    const std::vector<std::string>& joinFiles() const { return m_join; }
    /// What the group's processes used so far (the ended ones included).
    Usage usage() const;
    /// Ends every process in the group and removes it; waits up to a second for them to go.
    void remove();

    /// Whether the group can be frozen (v1: a freezer hierarchy is mounted; v2: always).
    bool canFreeze() const { return !m_freezer.empty(); }
    /// Stops every process of the group where it stands (true) or lets them go on (false);
    /// false when the kernel refused. A frozen group uses no CPU; its processes keep their
    /// sockets, and what arrives meanwhile waits for them.
    bool freeze(bool frozen);
    /// The CPU time the group's processes used so far, in microseconds; cheaper than usage().
    uint64_t cpuUs() const;

private:
    bool createV1(const Limits& limits, std::string& error);
    bool createV2(const Limits& limits, std::string& error);
    /// Makes folder `dir` and records it; false with the reason.
    bool makeDir(const std::string& dir, std::string& error);
    /// Makes the v1 freezer group beside the others, where that hierarchy is mounted.
    void createV1Freezer(const std::string& name);
    /// Removes one folder, ending what still runs in it.
    static void removeDir(const std::string& dir);

    bool m_v2 = false;
    /// Folders made, by hierarchy: v1 memory, pids, cpu, cpuacct, cpuset; v2 one.
    std::vector<std::string> m_dirs;
    std::vector<std::string> m_join;
    /// The file that freezes the group ("" when it cannot be frozen).
    std::string m_freezer;
    /// v1: the freezer's own folder, removed last.
    std::string m_freezerDir;
    bool m_frozen = false;
};
