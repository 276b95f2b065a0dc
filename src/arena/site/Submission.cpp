#include "Submission.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t blockBytes = size_t{64} << 10;

/// A descriptor closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

/// The components of a relative path without "." and empty ones; false for an absolute path,
/// a ".." anywhere, or nothing left.
bool splitRelative(const std::string& path, std::vector<std::string>& parts) {
    parts.clear();
    if (path.empty() || path[0] == '/') {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            return false;
        }
        if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return !parts.empty();
}

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

/// Unpacks one archive, entry by entry, below a folder held open: every file is created
/// relative to a descriptor of its own parent, reached without following any link, so that no
/// entry can write through a link or a "..".
class Unpacker {
public:
    Unpacker(const Submission::Limits& limits, std::string& error)
        : m_limits(limits), m_error(error) {}

    bool run(std::string_view archive, const std::string& folder) {
        if (mkdir(folder.c_str(), 0755) != 0) {
            return fail("cannot create " + folder + ": " + std::strerror(errno));
        }
        m_root = Fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (m_root.get() < 0) {
            return fail("cannot open " + folder + ": " + std::strerror(errno));
        }
        struct archive* reader = archive_read_new();
        archive_read_support_filter_all(reader);
        archive_read_support_format_tar(reader);
        archive_read_support_format_gnutar(reader);
        archive_read_support_format_zip(reader);
        bool ok =
            archive_read_open_memory(reader, archive.data(), archive.size()) == ARCHIVE_OK
                ? readEntries(reader)
                : fail(std::string("not a tar or zip archive: ") + archive_error_string(reader));
        archive_read_free(reader);
        return ok && hasRunFile();
    }

private:
    bool fail(const std::string& message) {
        if (m_error.empty()) {
            m_error = message;
        }
        return false;
    }

    bool readEntries(struct archive* reader) {
        struct archive_entry* entry = nullptr;
        for (;;) {
            const int status = archive_read_next_header(reader, &entry);
            if (status == ARCHIVE_EOF) {
                return true;
            }
            if (status != ARCHIVE_OK && status != ARCHIVE_WARN) {
                return fail(std::string("the archive is damaged: ") + archive_error_string(reader));
            }
            if (++m_entries > m_limits.files) {
                return fail("the archive holds more than " + std::to_string(m_limits.files) +
                            " entries");
            }
            if (!unpackEntry(reader, entry)) {
                return false;
            }
        }
    }

    bool unpackEntry(struct archive* reader, struct archive_entry* entry) {
        const char* name = archive_entry_pathname(entry);
        const std::string path = name != nullptr ? name : "";
        if (path.size() > m_limits.pathBytes) {
            return fail("an entry's path is longer than " + std::to_string(m_limits.pathBytes) +
                        " bytes");
        }
        std::vector<std::string> parts;
        if (!splitRelative(path, parts)) {
            if (archive_entry_filetype(entry) == AE_IFDIR && !path.empty() && path[0] != '/' &&
                path.find("..") == std::string::npos) {
                return true; // the archive's own top folder, "./"
            }
            return fail(quoted(path) + " is an absolute path or leaves the bot's folder");
        }
        if (archive_entry_hardlink(entry) != nullptr) {
            return hardLink(path, parts, archive_entry_hardlink(entry));
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            return makeFolder(path, parts);
        case AE_IFREG:
            return writeFile(reader, entry, path, parts);
        case AE_IFLNK:
            return symbolicLink(path, parts, archive_entry_symlink(entry));
        default:
            return fail(quoted(path) + " is a device file, FIFO or socket; only files, folders "
                                       "and links are allowed");
        }
    }

    /// Opens (creating when asked) each folder of parts[0 .. count) below the root without
    /// following links; -1 after a failure.
    Fd openParent(const std::string& path, const std::vector<std::string>& parts, size_t count,
                  bool create) {
        Fd current(dup(m_root.get()));
        for (size_t i = 0; i < count; ++i) {
            if (create && mkdirat(current.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST) {
                fail("cannot create the folder of " + quoted(path) + ": " + std::strerror(errno));
                return Fd();
            }
            Fd next(openat(current.get(), parts[i].c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() < 0) {
                fail(quoted(path) + " goes through a link or a file");
                return Fd();
            }
            current = std::move(next);
        }
        return current;
    }

    bool makeFolder(const std::string& path, const std::vector<std::string>& parts) {
        return openParent(path, parts, parts.size(), true).get() >= 0;
    }

    bool writeFile(struct archive* reader, struct archive_entry* entry, const std::string& path,
                   const std::vector<std::string>& parts) {
        const Fd parent = openParent(path, parts, parts.size() - 1, true);
        if (parent.get() < 0) {
            return false;
        }
        const bool topScript = parts.size() == 1 && (parts[0] == Submission::runFile ||
                                                     parts[0] == Submission::buildFile);
        const mode_t mode = topScript || (archive_entry_perm(entry) & 0111) != 0 ? 0755 : 0644;
        const Fd file(openat(parent.get(), parts.back().c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (file.get() < 0) {
            return fail("cannot create " + quoted(path) +
                        " (an entry of that name came before?): " + std::strerror(errno));
        }
        m_written.insert(parts);
        return copyData(reader, file.get(), path);
    }

    bool copyData(struct archive* reader, int file, const std::string& path) {
        std::vector<char> block(blockBytes);
        for (;;) {
            const la_ssize_t n = archive_read_data(reader, block.data(), block.size());
            if (n == 0) {
                return true;
            }
            if (n < 0) {
                return fail("cannot read " + quoted(path) +
                            " from the archive: " + archive_error_string(reader));
            }
            m_unpacked += static_cast<size_t>(n);
            if (m_unpacked > m_limits.unpackedBytes) {
                return fail("the archive unpacks to more than " +
                            std::to_string(m_limits.unpackedBytes >> 20) + " MiB");
            }
            if (write(file, block.data(), static_cast<size_t>(n)) != n) {
                return fail("cannot write " + quoted(path) + ": " + std::strerror(errno));
            }
        }
    }

    // A link's target may name only what lies below the link's own folder: with no ".." in any
    // target and no link met on the way to a link's folder, following links can only descend.
    bool symbolicLink(const std::string& path, const std::vector<std::string>& parts,
                      const char* target) {
        std::vector<std::string> targetParts;
        if (target == nullptr || std::strlen(target) > m_limits.pathBytes ||
            !splitRelative(target, targetParts)) {
            return fail("the link " + quoted(path) + " points outside its folder");
        }
        const Fd parent = openParent(path, parts, parts.size() - 1, true);
        if (parent.get() < 0) {
            return false;
        }
        if (symlinkat(target, parent.get(), parts.back().c_str()) != 0) {
            return fail("cannot create the link " + quoted(path) + ": " + std::strerror(errno));
        }
        return true;
    }

    bool hardLink(const std::string& path, const std::vector<std::string>& parts,
                  const std::string& target) {
        std::vector<std::string> targetParts;
        if (!splitRelative(target, targetParts) || m_written.count(targetParts) == 0) {
            return fail("the hard link " + quoted(path) +
                        " does not name a file unpacked before it");
        }
        const Fd from = openParent(target, targetParts, targetParts.size() - 1, false);
        const Fd to = openParent(path, parts, parts.size() - 1, true);
        if (from.get() < 0 || to.get() < 0) {
            return false;
        }
        if (linkat(from.get(), targetParts.back().c_str(), to.get(), parts.back().c_str(), 0) !=
            0) {
            return fail("cannot create the hard link " + quoted(path) + ": " +
                        std::strerror(errno));
        }
        m_written.insert(parts);
        return true;
    }

    bool hasRunFile() {
        struct stat info {};
        if (fstatat(m_root.get(), Submission::runFile, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            return fail(std::string("the archive holds no file '") + Submission::runFile +
                        "' at its top");
        }
        return true;
    }

    const Submission::Limits& m_limits;
    std::string& m_error;
    Fd m_root;
    size_t m_entries = 0;
    size_t m_unpacked = 0;
    std::set<std::vector<std::string>> m_written;
};

} // namespace

bool Submission::unpack(std::string_view archive, const std::string& folder, const Limits& limits,
                        std::string& error) {
    error.clear();
    if (archive.size() > limits.archiveBytes) {
        error = "the archive is larger than " + std::to_string(limits.archiveBytes >> 20) + " MiB";
        return false;
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(folder))) {
        error = folder + " exists already";
        return false;
    }
    bool ok = false;
    {
        Unpacker unpacker(limits, error);
        ok = unpacker.run(archive, folder);
    }
    if (!ok) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    return ok;
}

size_t Submission::removeUnowned(const std::string& root, const std::set<std::string>& owned,
                                 size_t maxEntries) {
    namespace fs = std::filesystem;
    std::set<std::string> keys;
    for (const std::string& folder : owned) {
        const fs::path path(folder);
        keys.insert((path.parent_path().filename() / path.filename()).string());
    }
    std::vector<fs::path> unowned;
    std::error_code ec;
    size_t seen = 0;
    for (fs::directory_iterator team(root, ec), end; !ec && team != end; team.increment(ec)) {
        if (!team->is_directory(ec) || team->is_symlink(ec)) {
            continue;
        }
        std::error_code inner;
        for (fs::directory_iterator bot(team->path(), inner); !inner && bot != end;
             bot.increment(inner)) {
            if (++seen > maxEntries) {
                break;
            }
            const std::string key = (team->path().filename() / bot->path().filename()).string();
            if (keys.count(key) == 0) {
                unowned.push_back(bot->path());
            }
        }
    }
    size_t removed = 0;
    for (const fs::path& path : unowned) {
        std::error_code ignored;
        removed += fs::remove_all(path, ignored) > 0 ? 1 : 0;
    }
    return removed;
}
