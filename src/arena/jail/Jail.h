#pragma once
// A bot's jail: what it sees, what it may write, its limits and environment, as data.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// Limits of one jailed program; 0 leaves that limit off. The defaults are far above what a
/// bot playing by the rules needs.
struct JailLimits {
    uint64_t memoryBytes = uint64_t{2} << 30;
    unsigned processes = 64;
    unsigned openFiles = 256;
    uint64_t fileSizeBytes = uint64_t{64} << 20;
    unsigned cpuSeconds = 3600;
    /// Size of the private writable folder.
    uint64_t writableBytes = uint64_t{64} << 20;
    /// Whether the bot may think while another seat is to move; when not, its control group
    /// is frozen then (see ControlGroup::freeze).
    bool pondering = true;

    /// The largest value each key takes, every one below 2^32 so that no value wraps on its
    /// way to the kernel: 1 TiB of memory, file or writable folder, the kernel's most processes
    /// and descriptors, a year of CPU time.
    static constexpr uint64_t MAX_MEMORY_MB = uint64_t{1} << 20;
    static constexpr uint64_t MAX_PROCESSES = uint64_t{1} << 22;
    static constexpr uint64_t MAX_OPEN_FILES = uint64_t{1} << 20;
    static constexpr uint64_t MAX_FILE_SIZE_MB = uint64_t{1} << 20;
    static constexpr uint64_t MAX_CPU_S = uint64_t{365} * 24 * 3600;
    static constexpr uint64_t MAX_WRITABLE_MB = uint64_t{1} << 20;

    nlohmann::json toJson() const;
    /// Overrides the limits that `given` names ("memory_mb", "processes", "open_files",
    /// "file_size_mb", "cpu_s", "writable_mb", and "pondering", true or false, or 1 or 0);
    /// false, with the reason, on an unknown key or a value that is not a whole number from 0
    /// to the key's maximum.
    bool update(const nlohmann::json& given, std::string& error);
};

/// Describes one jailed run and turns it into a bubblewrap command line (one argument per
/// word, never a shell line): the system read-only, the named folders read-only, one
/// size-bounded private writable folder as HOME, TMPDIR and /dev/shm (the root, /etc and /dev
/// read-only), its own process namespace and session, killed with its parent, a clean
/// environment, and the limits applied inside.
class Jail {
public:
    /// The private writable folder inside the jail.
    static constexpr const char* WRITABLE = "/tmp";
    /// What holds the limits when no control group does.
    static constexpr const char* PROCESS_LIMITS = "process limits";

    Jail();

    /// Shows this host path (a folder or a file) read-only at the same path.
    void showReadOnly(const std::string& path);
    /// Shows this host folder writable at the same path: a build writes beside its sources.
    void showWritable(const std::string& path);
    /// Gives the program a network of its own with only a loopback interface, for a run that
    /// joins no match's network: it reaches nothing outside the jail.
    void isolateNetwork() { m_ownNetwork = true; }
    /// The folder the program starts in (inside the jail; empty: the writable folder).
    void setWorkDir(const std::string& dir) { m_workDir = dir; }
    /// Sets a variable of the jail's environment (the rest of the arena's is not passed).
    void setEnv(const std::string& name, const std::string& value);
    void setLimits(const JailLimits& limits) { m_limits = limits; }
    /// Says that a control group ("cgroup v1", "cgroup v2") holds the bot's memory, processes
    /// and CPU share: the per-process memory limit is then left off. The record keeps it.
    void setHeldBy(const std::string& heldBy) { m_heldBy = heldBy; }
    /// Makes the jail wait, once built, until a byte arrives on (or the other end closes) this
    /// descriptor of the jail's starter, so that it can be built ahead of its program's turn.
    void setReleaseFd(int fd) { m_releaseFd = fd; }
    /// The descriptor of the starter that holds the jail's system-call filter (see
    /// SyscallFilter); -1: none.
    void setFilterFd(int fd) { m_filterFd = fd; }
    const JailLimits& limits() const { return m_limits; }

    /// The whole command line that runs `command` in the jail.
    std::vector<std::string> argv(const std::vector<std::string>& command) const;
    /// The jail as the record keeps it: folders shown, environment names, limits.
    nlohmann::json describe() const;

    /// Whether jails can be made here: false with one line saying what to install or allow.
    /// Checked once per process (the answer is kept).
    static bool available(std::string& error);
    /// The cheap half of available(): whether bwrap and prlimit are there. A jail that bwrap
    /// then refuses says so through refusal() when it fails.
    static bool installed(std::string& error);
    /// The line that says bwrap refused to build a jail, from what bwrap printed.
    static std::string refusal(std::string said);
    /// The uid a jailed program runs as when the arena runs as root (65534, "nobody"), so that
    /// its process limit counts; the arena's own uid otherwise.
    static bool dropsPrivileges();
    static constexpr unsigned UNPRIVILEGED_ID = 65534;
    /// The uid a jailed program runs as here.
    static unsigned jailUid();
    /// Whether the jail's user may read `path` (and list it, when a folder) and pass through
    /// every folder above it, as bubblewrap needs to show it. False, with what shuts it out
    /// ("/x is mode 0700", or why the path cannot be found), otherwise.
    static bool readable(const std::string& path, std::string& blocked);

private:
    /// A read-only /dev of the few devices programs open, its shm the writable folder.
    static void addDevices(std::vector<std::string>& a);

    std::vector<std::string> m_readOnly;
    std::vector<std::string> m_writable;
    bool m_ownNetwork = false;
    std::string m_workDir;
    std::vector<std::pair<std::string, std::string>> m_env;
    JailLimits m_limits;
    int m_releaseFd = -1;
    int m_filterFd = -1;
    std::string m_heldBy = PROCESS_LIMITS;
};
