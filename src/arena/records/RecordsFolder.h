#pragma once
// A folder of match records (a tournament's matches/, or any folder the report reads): its
// listing, its atomic writes and their temporary files, and each record read with bounds.

#include "MatchRecord.h"

#include <string>
#include <vector>

class RecordsFolder {
public:
    /// Largest record file read: far above any match on a 50 x 50 map. A faulty record, read
    /// whole to name its fault, costs up to about twenty times its size in memory while it is
    /// read; a sound one, its moves streamed, far less.
    static constexpr size_t MAX_RECORD_BYTES = size_t{64} * 1024 * 1024;
    /// A temporary file this old belongs to a writer that died: a write takes milliseconds.
    static constexpr int STALE_TEMPORARY_S = 600;

    explicit RecordsFolder(std::string path);
    /// DIR/matches when DIR has that folder, else DIR itself.
    static RecordsFolder of(const std::string& dir);

    const std::string& path() const { return m_path; }
    /// The file of the record named `name` (a match id); empty when the name could leave the
    /// folder or is not a plain file name.
    std::string fileOf(const std::string& name) const;

    /// The names of the folder's entries that end in ".json", except plan.json and folders,
    /// sorted. Temporary files never end so. Entries that are not regular files are listed:
    /// reading them says why they are not records.
    std::vector<std::string> list() const;

    /// Reads the record in the file `fileName` of this folder with a bounded reader and checks
    /// it. False with one fault, "FILE: FIELD: what is wrong", when it is not a usable record.
    bool read(const std::string& fileName, MatchRecord& record, std::string& error) const;
    /// Reads and checks the record of a match id; false when there is none or it is not usable
    /// (the match needs to be played again).
    bool readMatch(const std::string& id, MatchRecord& record, std::string& error) const;
    /// Writes the record of a match, whole or not at all.
    bool write(const std::string& id, const MatchRecord& record, std::string& error) const;
    /// Removes the temporary files that writers which died left behind (older than
    /// STALE_TEMPORARY_S); a temporary file being written now is left alone. Returns how many.
    unsigned removeStaleTemporaries() const;

    /// Writes text to a temporary file next to `path`, then renames it over `path`: readers see
    /// the old file or the whole new one, never a part. A missing folder of `path` is made.
    /// False, with why, when it cannot.
    static bool writeText(const std::string& path, const std::string& text, std::string& error);
    /// Whether a file name is one of writeText's temporary files.
    static bool isTemporary(const std::string& fileName);

private:
    std::string m_path;
};
