#pragma once
// Reading a file that someone else wrote: a regular file, of bounded size, without waiting.

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

/// Reads configuration and map files for the arena. A FIFO, a device, a folder, a link to
/// /dev/zero or a file over the size bound is refused at once with a message, never read.
class SmallFile {
public:
    /// Largest configuration, plan or map the arena reads: 16 MiB.
    static constexpr size_t MAX_BYTES = size_t{16} << 20;
    /// Deepest nesting of arrays and objects a JSON document may have.
    static constexpr unsigned MAX_JSON_DEPTH = 64;

    /// Reads the whole file into `text`. False with the reason ("not a regular file", "larger
    /// than N bytes", the system's message) when it cannot be used; `text` is then empty.
    static bool read(const std::string& path, size_t maxBytes, std::string& text,
                     std::string& error);
    /// Reads and parses a JSON document of at most MAX_BYTES and MAX_JSON_DEPTH levels.
    /// False with the reason ("not valid JSON", "nested deeper than 64 levels", or read's).
    static bool readJson(const std::string& path, nlohmann::json& document, std::string& error);
    /// Parses JSON text under the same depth bound.
    static bool parseJson(const std::string& text, nlohmann::json& document, std::string& error);
};
