#pragma once
// Notices that a running site's configuration file may have changed: its stamp (inode, size,
// change and modification times) differs from the last one seen, or the process was sent
// SIGHUP.

#include <string>

class ConfigWatch {
public:
    /// Watches `file` from its present stamp on.
    explicit ConfigWatch(std::string file);

    /// From now on SIGHUP asks for a reload instead of ending the process.
    static void catchHangups();
    /// Whether the file changed since the last call (or the construction), or SIGHUP came
    /// since: the file is then to be read again. A file that is missing has a stamp of its own,
    /// so that it is read again when it is back.
    bool due();

private:
    std::string stamp() const;

    std::string m_file;
    std::string m_stamp;
};
