#include "FolderLock.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// The holder's note, at most one short line of it.
std::string holder(int fd) {
    char text[256] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    std::string note = n > 0 ? std::string(text, static_cast<size_t>(n)) : "";
    note = note.substr(0, note.find('\n'));
    return note.empty() ? "another arena" : note;
}

std::string self() {
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    return "pid " + std::to_string(getpid()) + " on " + host + "\n";
}

} // namespace

FolderLock::~FolderLock() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool FolderLock::acquire(const std::string& file, bool exclusive, std::string& error) {
    const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) {
        error = "cannot open the lock " + file + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "cannot lock " + file + ": not a regular file";
        close(fd);
        return false;
    }
    if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        error = held ? file + " is held by " + holder(fd) +
                           ": another arena is running this folder; wait for it or stop it"
                     : "cannot lock " + file + ": " + std::strerror(errno);
        close(fd);
        return false;
    }
    // Matches that share the folder overwrite each other's note: any of them is a holder.
    const std::string note = self();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, note.data(), note.size(), 0) < 0) {
        // The lock holds without the note; a refused arena then names no holder.
        error.clear();
    }
    m_fd = fd;
    return true;
}
