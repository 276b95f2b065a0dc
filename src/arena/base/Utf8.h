#pragma once
// Text from outside (map files, file names, commands, databases) made fit for JSON, pages and
// databases, which all take UTF-8 only.

#include <string>

class Utf8 {
public:
    /// U+FFFD, the character that stands for a byte that was not UTF-8.
    static constexpr const char* REPLACEMENT = "\xEF\xBF\xBD";

    /// Whether `text` is well-formed UTF-8: no stray or missing continuation bytes, no
    /// overlong forms, no surrogates, nothing past U+10FFFF.
    static bool valid(const std::string& text);
    /// Replaces every byte that is not part of a well-formed sequence by REPLACEMENT, keeping
    /// the rest as it is. True when anything was replaced.
    static bool repair(std::string& text);
    /// `text` repaired.
    static std::string repaired(std::string text);
};
