#pragma once
// Checked reading of the members of one JSON object from an untrusted file.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

/// Takes the members of one JSON object by name, each checked for its type and range before
/// any conversion, and remembers which were taken so that the rest can be refused as unknown.
/// The first fault is kept and every later call does nothing, so a reader is a flat list of
/// calls followed by one look at ok().
///
/// A fault reads like `"rounds" must be a whole number from 1 to 1000000, not -1`; members of
/// a nested object are named with their path (`"bots"[2] "name"`).
class JsonFields {
public:
    /// `object` must outlive this reader. `path` names it inside its document ("" for the top).
    JsonFields(const nlohmann::json& object, std::string path = "");

    bool ok() const { return m_error.empty(); }
    /// The first fault, empty while there is none.
    const std::string& error() const { return m_error; }
    /// Records a fault of the caller's own about `key` (kept only when it is the first).
    void fail(const std::string& key, const std::string& complaint);

    /// Whether the object has the member (it is marked as known either way).
    bool has(const std::string& key);
    /// A whole number from min to max. Absent: a fault when required, else `out` is kept.
    void whole(const std::string& key, uint64_t min, uint64_t max, uint64_t& out,
               bool required = false);
    /// The same for a 32-bit field.
    void whole(const std::string& key, unsigned min, unsigned max, unsigned& out,
               bool required = false);
    /// A finite number from min to max.
    void number(const std::string& key, double min, double max, double& out, bool required = false);
    /// A string of 1 to maxLength bytes without control characters.
    void text(const std::string& key, size_t maxLength, std::string& out, bool required = false);
    /// A text as `text` takes it that is also a path the system can open: at most
    /// MAX_PATH_BYTES bytes, no name in it longer than MAX_NAME_BYTES.
    void path(const std::string& key, std::string& out, bool required = false);
    /// Whether `path` fits those bounds.
    static bool fitsPath(const std::string& path);
    /// The fault of a path that does not fit, after "must be".
    static std::string pathBounds();
    static constexpr size_t MAX_PATH_BYTES = 4095;
    static constexpr size_t MAX_NAME_BYTES = 255;
    /// true or false. Absent: `out` is kept.
    void flag(const std::string& key, bool& out);
    /// An object of at most maxSize members, or null when absent or faulty.
    const nlohmann::json* object(const std::string& key, size_t maxSize);
    /// An array of minSize to maxSize elements, or null when absent or faulty.
    const nlohmann::json* array(const std::string& key, size_t minSize, size_t maxSize);
    /// Takes the fault of a reader of a nested object, when this one has none yet.
    void adopt(const JsonFields& nested);
    /// The name of an element of the member `key` for a nested reader: `"key"[index]`.
    std::string pathOf(const std::string& key, size_t index) const;

    /// Refuses the first member that no call above asked for, with a "did you mean" when one
    /// of the known names is close to it.
    void refuseUnknown();

private:
    const nlohmann::json* member(const std::string& key, bool required);
    void wrongValue(const std::string& key, const std::string& expected);
    std::string name(const std::string& key) const;

    const nlohmann::json& m_object;
    std::string m_path;
    std::vector<std::string> m_known;
    std::string m_error;
};
