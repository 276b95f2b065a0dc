#pragma once
// Reading a file the arena did not write: a regular file only, of bounded size, without
// blocking; and JSON of bounded nesting.

#include <nlohmann/json.hpp>
#include <string>

class BoundedFile {
public:
    /// Nesting of arrays and objects that parseJson accepts: deep enough for every document
    /// the arena writes (a record nests 5 deep), shallow enough that writing a document back,
    /// which recurses once per level, cannot run out of stack.
    static constexpr int MAX_DEPTH = 64;

    /// Reads the whole file at `path` into `text`. The file is opened without blocking (a FIFO
    /// or a device never stalls the caller) and must be a regular file of at most `maxBytes`
    /// bytes (after following links). False, with what is wrong in `error` ("not a regular
    /// file", "larger than N bytes", "cannot open: ..."), otherwise.
    static bool read(const std::string& path, size_t maxBytes, std::string& text,
                     std::string& error);

    /// Parses JSON nested at most MAX_DEPTH deep. False, with what is wrong ("not valid JSON
    /// (truncated?)", "nested more than 64 deep"), otherwise.
    static bool parseJson(const std::string& text, nlohmann::json& document, std::string& error);

    /// Whether no array or object in the JSON text `text` is nested more than `maxDepth` deep,
    /// found in one pass over the text without parsing it.
    static bool nestedWithin(const std::string& text, int maxDepth);

    /// read, then parseJson.
    static bool readJson(const std::string& path, size_t maxBytes, nlohmann::json& document,
                         std::string& error);
};
