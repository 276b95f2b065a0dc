#pragma once
// A team's upload: an archive (tar, compressed or not, or zip) unpacked into a bot's folder.

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

/// Unpacks an uploaded archive with libarchive into a fresh folder, checking every entry
/// before anything is written: only regular files, folders, links that stay inside the folder;
/// no absolute path, no "..", no device file or FIFO. Sizes are counted from the bytes actually
/// unpacked, never from what the archive's headers claim.
class Submission {
public:
    /// What one upload may hold. The defaults fit a bot with its sources and a few data files.
    struct Limits {
        size_t archiveBytes = size_t{16} << 20;  ///< the upload as sent (compressed)
        size_t unpackedBytes = size_t{64} << 20; ///< all files unpacked together
        size_t files = 2000;                     ///< entries of any kind
        size_t pathBytes = 240;                  ///< one entry's path
    };

    /// The command that starts the bot, at the archive's top.
    static constexpr const char* runFile = "run";
    /// The optional script that builds it, at the archive's top.
    static constexpr const char* buildFile = "build";

    /// Unpacks `archive` into `folder`, which must not exist yet and is created. `run` and
    /// `build` are made executable. False, with one line saying which entry broke which rule,
    /// when the archive is refused or cannot be read; `folder` is then removed again, so a
    /// refused upload leaves nothing behind.
    static bool unpack(std::string_view archive, const std::string& folder, const Limits& limits,
                       std::string& error);

    /// Removes the bots' folders below `root` (laid out "root/TEAM/FOLDER") that no recorded
    /// submission owns: those whose unpacking or build a stopped site left behind. `owned`
    /// holds the recorded folders' paths; they are compared by their last two names, however
    /// their leading part is spelled. Links are removed, never followed. How many folders
    /// were removed; at most `maxEntries` entries are looked at.
    static size_t removeUnowned(const std::string& root, const std::set<std::string>& owned,
                                size_t maxEntries = 100000);
};
