#include "Jail.h"

#include "Subprocess.h"
#include "SyscallFilter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

constexpr uint64_t MIB = uint64_t{1} << 20;
const char* const PRLIMIT = "/usr/bin/prlimit";
const char* const MISSING = "cannot jail bots: bwrap is missing (install the package bubblewrap: "
                            "tools/setup does), or run with --no-sandbox / \"sandbox\": false";

/// What of /etc programs under /usr need: the loader's cache, alternatives links, names of
/// users and hosts, the time zone. The rest of /etc (keys, passwords) stays out.
const char* const ETC_FILES[] = {"/etc/ld.so.cache",  "/etc/ld.so.conf",    "/etc/ld.so.conf.d",
                                 "/etc/alternatives", "/etc/localtime",     "/etc/passwd",
                                 "/etc/group",        "/etc/nsswitch.conf", "/etc/hosts"};
/// The devices a program may open; /dev itself is read-only, its shared memory the writable
/// folder.
const char* const DEVICES[] = {"/dev/null",   "/dev/zero",    "/dev/full",
                               "/dev/random", "/dev/urandom", "/dev/tty"};
const char* const DEVICE_LINKS[][2] = {{"/proc/self/fd", "/dev/fd"},
                                       {"/proc/self/fd/0", "/dev/stdin"},
                                       {"/proc/self/fd/1", "/dev/stdout"},
                                       {"/proc/self/fd/2", "/dev/stderr"},
                                       {Jail::WRITABLE, "/dev/shm"}};
/// Top-level folders that are links into /usr on a merged system, or folders of their own.
const char* const SYSTEM_DIRS[] = {"/bin", "/sbin", "/lib", "/lib32", "/lib64"};

/// Whether the jail's user (its uid and group 65534, no other group) has all the `need` bits
/// (4 read, 1 search) on this file.
bool grants(const struct stat& info, unsigned need) {
    const unsigned shift = info.st_uid == Jail::UNPRIVILEGED_ID   ? 6U
                           : info.st_gid == Jail::UNPRIVILEGED_ID ? 3U
                                                                  : 0U;
    return ((info.st_mode >> shift) & need) == need;
}

bool readWhole(const json& value, uint64_t& out) {
    if (!value.is_number_unsigned()) {
        return false;
    }
    out = value.get<uint64_t>();
    return true;
}

/// A boolean, or 1 and 0 as `--limit pondering=0` gives them.
bool readPondering(const json& value, bool& out) {
    if (value.is_boolean()) {
        out = value.get<bool>();
        return true;
    }
    if (value.is_number_unsigned() && value.get<uint64_t>() <= 1) {
        out = value.get<uint64_t>() == 1;
        return true;
    }
    return false;
}

} // namespace

json JailLimits::toJson() const {
    return {{"memory_mb", memoryBytes / MIB},
            {"processes", processes},
            {"open_files", openFiles},
            {"file_size_mb", fileSizeBytes / MIB},
            {"cpu_s", cpuSeconds},
            {"writable_mb", writableBytes / MIB},
            {"pondering", pondering}};
}

bool JailLimits::update(const json& given, std::string& error) {
    if (!given.is_object()) {
        error = "\"limits\" must be an object";
        return false;
    }
    const struct {
        const char* key;
        uint64_t max;
        uint64_t* wide;
        unsigned* narrow;
        uint64_t scale;
    } keys[] = {{"memory_mb", MAX_MEMORY_MB, &memoryBytes, nullptr, MIB},
                {"processes", MAX_PROCESSES, nullptr, &processes, 1},
                {"open_files", MAX_OPEN_FILES, nullptr, &openFiles, 1},
                {"file_size_mb", MAX_FILE_SIZE_MB, &fileSizeBytes, nullptr, MIB},
                {"cpu_s", MAX_CPU_S, nullptr, &cpuSeconds, 1},
                {"writable_mb", MAX_WRITABLE_MB, &writableBytes, nullptr, MIB}};
    for (const auto& [key, value] : given.items()) {
        if (key == "pondering") {
            if (!readPondering(value, pondering)) {
                error = "limit \"pondering\" must be true or false (or 1 or 0), not " +
                        value.dump(-1, ' ', false, json::error_handler_t::replace).substr(0, 40);
                return false;
            }
            continue;
        }
        const auto* known = std::find_if(std::begin(keys), std::end(keys),
                                         [&key = key](const auto& k) { return key == k.key; });
        if (known == std::end(keys)) {
            error = "unknown limit \"" + key +
                    "\" (known: memory_mb, processes, open_files, file_size_mb, cpu_s, "
                    "writable_mb, pondering)";
            return false;
        }
        uint64_t n = 0;
        if (!readWhole(value, n) || n > known->max) {
            error = "limit \"" + key + "\" must be a whole number from 0 (off) to " +
                    std::to_string(known->max) + ", not " +
                    value.dump(-1, ' ', false, json::error_handler_t::replace).substr(0, 40);
            return false;
        }
        if (known->wide != nullptr) {
            *known->wide = n * known->scale;
        } else {
            *known->narrow = static_cast<unsigned>(n);
        }
    }
    return true;
}

Jail::Jail() {
    setEnv("PATH", "/usr/local/bin:/usr/bin:/bin");
    setEnv("HOME", WRITABLE);
    setEnv("TMPDIR", WRITABLE);
    setEnv("LANG", "C.UTF-8");
}

void Jail::showReadOnly(const std::string& path) {
    if (!path.empty() &&
        std::find(m_readOnly.begin(), m_readOnly.end(), path) == m_readOnly.end()) {
        m_readOnly.push_back(path);
    }
}

void Jail::showWritable(const std::string& path) {
    if (!path.empty() &&
        std::find(m_writable.begin(), m_writable.end(), path) == m_writable.end()) {
        m_writable.push_back(path);
    }
}

void Jail::setEnv(const std::string& name, const std::string& value) {
    for (auto& [n, v] : m_env) {
        if (n == name) {
            v = value;
            return;
        }
    }
    m_env.emplace_back(name, value);
}

std::vector<std::string> Jail::argv(const std::vector<std::string>& command) const {
    std::vector<std::string> a{"bwrap",
                               "--unshare-pid",
                               "--unshare-ipc",
                               "--unshare-uts",
                               "--unshare-cgroup-try",
                               "--new-session",
                               "--die-with-parent",
                               "--ro-bind",
                               "/usr",
                               "/usr"};
    if (m_releaseFd >= 0) {
        a.insert(a.end(), {"--block-fd", std::to_string(m_releaseFd)});
    }
    if (m_filterFd >= 0) {
        a.insert(a.end(), {"--seccomp", std::to_string(m_filterFd)});
    }
    for (const char* dir : SYSTEM_DIRS) {
        std::error_code ec;
        if (fs::is_symlink(dir, ec)) {
            a.insert(a.end(), {"--symlink", fs::read_symlink(dir, ec).string(), dir});
        } else if (fs::is_directory(dir, ec)) {
            a.insert(a.end(), {"--ro-bind", dir, dir});
        }
    }
    for (const char* file : ETC_FILES) {
        a.insert(a.end(), {"--ro-bind-try", file, file});
    }
    a.insert(a.end(), {"--proc", "/proc", "--size", std::to_string(m_limits.writableBytes),
                       "--tmpfs", WRITABLE});
    addDevices(a);
    for (const std::string& path : m_readOnly) {
        a.insert(a.end(), {"--ro-bind", path, path});
    }
    for (const std::string& path : m_writable) {
        a.insert(a.end(), {"--bind", path, path});
    }
    // Last, once every mount point in it was made: only the writable folder (and the folders
    // shown writable) can take a byte.
    a.insert(a.end(), {"--remount-ro", "/"});
    if (m_ownNetwork) {
        a.insert(a.begin() + 1, "--unshare-net");
    }
    a.insert(a.end(), {"--chdir", m_workDir.empty() ? WRITABLE : m_workDir, "--clearenv"});
    for (const auto& [name, value] : m_env) {
        a.insert(a.end(), {"--setenv", name, value});
    }
    // The limits are set inside, after the jail's own user namespace exists, so that the
    // process count is this bot's alone.
    a.insert(a.end(), {"--", PRLIMIT});
    // A control group holds the memory of the whole bot; an address-space limit per process
    // would only refuse runtimes that reserve much and use little.
    const uint64_t perProcess = m_heldBy == PROCESS_LIMITS ? m_limits.memoryBytes : 0;
    const std::pair<const char*, uint64_t> limits[] = {{"--as=", perProcess},
                                                       {"--nproc=", m_limits.processes},
                                                       {"--nofile=", m_limits.openFiles},
                                                       {"--fsize=", m_limits.fileSizeBytes},
                                                       {"--cpu=", m_limits.cpuSeconds}};
    for (const auto& [option, value] : limits) {
        if (value != 0) {
            a.push_back(option + std::to_string(value));
        }
    }
    a.emplace_back("--");
    a.insert(a.end(), command.begin(), command.end());
    return a;
}

void Jail::addDevices(std::vector<std::string>& a) {
    a.insert(a.end(), {"--tmpfs", "/dev"});
    for (const char* device : DEVICES) {
        a.insert(a.end(), {"--dev-bind-try", device, device});
    }
    for (const auto& link : DEVICE_LINKS) {
        a.insert(a.end(), {"--symlink", link[0], link[1]});
    }
    a.insert(a.end(), {"--remount-ro", "/dev"});
}

json Jail::describe() const {
    json env = json::array();
    for (const auto& entry : m_env) {
        env.push_back(entry.first);
    }
    return {{"jailed", true},
            {"read_only", m_readOnly},
            {"writable", WRITABLE},
            {"work_dir", m_workDir.empty() ? WRITABLE : m_workDir},
            {"env", env},
            {"uid", jailUid()},
            {"syscall_filter", m_filterFd >= 0},
            {"held_by", m_heldBy},
            {"limits", m_limits.toJson()}};
}

bool Jail::dropsPrivileges() {
    return geteuid() == 0;
}

unsigned Jail::jailUid() {
    return dropsPrivileges() ? UNPRIVILEGED_ID : getuid();
}

bool Jail::readable(const std::string& path, std::string& blocked) {
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) {
        blocked = path + ": " + ec.message();
        return false;
    }
    // Running as the arena's own user, the kernel answers for it.
    if (!dropsPrivileges()) {
        const bool ok = access(real.c_str(), fs::is_directory(real, ec) ? R_OK | X_OK : R_OK) == 0;
        blocked = ok ? "" : real.string() + ": " + std::strerror(errno);
        return ok;
    }
    std::vector<fs::path> chain{real.root_path()};
    for (const fs::path& part : real.relative_path()) {
        chain.push_back(chain.back() / part);
    }
    for (const fs::path& at : chain) {
        struct stat info {};
        if (stat(at.c_str(), &info) != 0) {
            blocked = at.string() + ": " + std::strerror(errno);
            return false;
        }
        // Folders on the way need search; the path itself, reading (and listing).
        const bool last = at == chain.back();
        const unsigned need = !last ? 1U : S_ISDIR(info.st_mode) ? 5U : 4U;
        if (!grants(info, need)) {
            std::ostringstream mode;
            mode << std::oct << std::setw(4) << std::setfill('0') << (info.st_mode & 07777);
            blocked = at.string() + " is mode " + mode.str();
            return false;
        }
    }
    blocked.clear();
    return true;
}

bool Jail::available(std::string& error) {
    static std::once_flag once;
    static std::string reason;
    std::call_once(once, [] {
        Jail probe;
        Subprocess p;
        Subprocess::Options options;
        options.dropPrivileges = dropsPrivileges();
        std::string startError;
        options.filterFd = SyscallFilter::open(reason);
        if (options.filterFd < 0) {
            return;
        }
        probe.setFilterFd(options.filterFd);
        const bool started = p.start(probe.argv({"/usr/bin/true"}), options, startError);
        ::close(options.filterFd);
        if (!started) {
            reason = MISSING;
            return;
        }
        std::string said;
        while (p.running() || p.outputFd() >= 0) {
            if (!p.readSome(said)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        if (p.waitStatus() != 0) {
            reason = refusal(said);
        }
    });
    error = reason;
    return reason.empty();
}

bool Jail::installed(std::string& error) {
    for (const char* dir : {"/usr/local/bin/", "/usr/bin/", "/bin/"}) {
        if (access((std::string(dir) + "bwrap").c_str(), X_OK) == 0 && access(PRLIMIT, X_OK) == 0) {
            return true;
        }
    }
    error = MISSING;
    return false;
}

std::string Jail::refusal(std::string said) {
    while (!said.empty() && (said.back() == '\n' || said.back() == '\r')) {
        said.pop_back();
    }
    return "cannot jail bots: bwrap refused (" + said +
           "); allow unprivileged user namespaces "
           "(sysctl kernel.unprivileged_userns_clone=1, user.max_user_namespaces > 0) "
           "or run with --no-sandbox / \"sandbox\": false";
}
