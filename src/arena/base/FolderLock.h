#pragma once
// One arena per tournament folder: an advisory lock that says who holds it.

#include <string>

/// A lock on a file (flock), held until destruction or until the process ends. The holder
/// writes "pid PID on HOST" into the file, so that a refused arena can say who holds it.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    /// Takes the lock on `file` (made when missing) without waiting: exclusive for one arena
    /// that runs a whole folder, shared for single matches that may run side by side. False
    /// when another holds it, with an error that names the holder: "FILE is held by pid 12 on
    /// node3 ...".
    bool acquire(const std::string& file, bool exclusive, std::string& error);

private:
    int m_fd = -1;
};
