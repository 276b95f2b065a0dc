#pragma once
// The bots of one match as the command line gives them: "NAME=CMD" or a plain command.

#include "BotCommand.h"

#include <cstddef>
#include <string>
#include <vector>

/// Reads `--bot` words into named bots, one per seat.
///
/// A word is "NAME=CMD" when the text before its first '=' is a name (see validName), the
/// text after it is not empty and does not start with a blank, and the name is not written
/// like an environment variable (capitals, digits and '_', not starting with a digit): the
/// shell reads "FOO=1 ./bot" as an assignment for the command, and so does the arena. Any
/// other word is a plain command. A command that starts with an assignment in small letters
/// ("http_proxy=x ./bot") needs a name in front of it ("mine=http_proxy=x ./bot") or `env`.
class BotList {
public:
    static constexpr size_t MAX_NAME = 32;

    /// 1 to MAX_NAME letters, digits, '_', '.' or '-'.
    static bool validName(const std::string& text);
    /// Splits one word; `name` is empty and `command` the whole word for a plain command.
    static void split(const std::string& word, std::string& name, std::string& command);
    /// The name of a bot given without one: a reference shorthand as written ("search:3"),
    /// else the base name of the program (for an interpreter such as python3 or sh, of its
    /// script), past leading assignments, `env` and `exec`; characters outside a name become
    /// '_', and it is cut to MAX_NAME. "bot" when nothing is left.
    static std::string defaultName(const std::string& command);
    /// One bot per seat, the words repeated when fewer than the seats; a name that an earlier
    /// seat already has gets "#2", "#3", ... in seat order.
    static std::vector<BotCommand> forSeats(const std::vector<std::string>& words, unsigned seats);
};
