#pragma once
// A scratch directory for one test's files.

#include <string>

/// A fresh directory under the system's temporary directory, named after the running test. It is
/// removed with its files when the object goes, unless the test has failed: its files are then
/// kept for a look (and the path is named on standard error).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The directory's path; "" when it could not be made.
    const std::string& path() const { return m_path; }
    /// Writes text into a file of that name in the directory; returns the file's path.
    std::string write(const std::string& name, const std::string& text) const;

private:
    std::string m_path;
};
