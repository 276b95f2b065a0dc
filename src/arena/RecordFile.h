#pragma once
// Match records on disk: written whole or not at all, read back with a named fault.

#include <nlohmann/json.hpp>
#include <string>

class RecordFile {
public:
    /// Writes the document to a temporary file next to `path`, then renames it over `path`:
    /// readers see the old file or the whole new one, never a part. A missing folder of `path`
    /// is made.
    static bool write(const std::string& path, const nlohmann::json& document, std::string& error);
    /// The same for any text.
    static bool writeText(const std::string& path, const std::string& text, std::string& error);
    /// Reads a JSON document. False, with what is wrong ("not valid JSON (truncated?)", "cannot
    /// read"), when it cannot be used.
    static bool read(const std::string& path, nlohmann::json& document, std::string& error);
};
