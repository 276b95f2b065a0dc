#pragma once
// What a bot's folder holds, as one digest: the same content gives the same digest wherever the
// folder lies, and a changed, added or removed file gives another.

#include <cstdint>
#include <string>

class FolderDigest {
public:
    /// The digest (hex) of every entry under `dir`: relative paths in sorted order, their kind,
    /// a file's content and a link's target (links are not followed). The walk is bounded: at
    /// most MAX_ENTRIES entries and MAX_BYTES of content; past either, the digest covers what
    /// was read and `truncated` is set. An unreadable entry counts by its name alone. False,
    /// with the reason, when `dir` is not a readable folder.
    static bool of(const std::string& dir, std::string& digest, bool& truncated,
                   std::string& error);

    static constexpr std::uint64_t MAX_ENTRIES = 20000;
    static constexpr std::uint64_t MAX_BYTES = std::uint64_t{256} << 20;
};
