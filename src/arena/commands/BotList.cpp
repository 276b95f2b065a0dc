#include "BotList.h"

#include <algorithm>
#include <map>
#include <sstream>

namespace {

bool nameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.' || c == '-';
}

/// How environment variables are conventionally written, and so how the shell's assignments
/// in front of a command look.
bool variableLike(const std::string& text) {
    const auto upper = [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; };
    return !text.empty() && upper(text[0]) && std::all_of(text.begin(), text.end(), [&](char c) {
        return upper(c) || (c >= '0' && c <= '9');
    });
}

bool isAssignment(const std::string& word) {
    const size_t eq = word.find('=');
    return eq != std::string::npos && eq > 0 &&
           std::all_of(word.begin(), word.begin() + static_cast<std::ptrdiff_t>(eq),
                       [](char c) { return nameChar(c) && c != '.' && c != '-'; });
}

bool isInterpreter(const std::string& program) {
    static const char* const prefixes[] = {"python", "pypy", "node", "ruby", "perl", "php", "lua"};
    static const char* const shells[] = {"sh", "bash", "dash", "zsh"};
    for (const char* p : prefixes) {
        if (program.rfind(p, 0) == 0) {
            return true;
        }
    }
    return std::find(std::begin(shells), std::end(shells), program) != std::end(shells);
}

std::string unquoted(std::string word) {
    word.erase(
        std::remove_if(word.begin(), word.end(), [](char c) { return c == '\'' || c == '"'; }),
        word.end());
    return word;
}

std::string baseName(std::string word) {
    while (word.size() > 1 && word.back() == '/') {
        word.pop_back();
    }
    const size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

/// The word of the command that names its program: past assignments, `env` and `exec`; for an
/// interpreter, its first word after that is not an option (the script, or the program of an
/// "sh -c" line).
std::string programWord(const std::string& command) {
    std::istringstream in(command);
    std::string word;
    std::string program;
    while (in >> word) {
        word = unquoted(word);
        if (word.empty() || isAssignment(word) || word == "env" || word == "exec" ||
            (!program.empty() && word[0] == '-')) {
            continue;
        }
        if (!program.empty() || !isInterpreter(baseName(word))) {
            return word;
        }
        program = word;
    }
    return program;
}

} // namespace

bool BotList::validName(const std::string& text) {
    return !text.empty() && text.size() <= MAX_NAME &&
           std::all_of(text.begin(), text.end(), nameChar);
}

void BotList::split(const std::string& word, std::string& name, std::string& command) {
    const size_t eq = word.find('=');
    if (eq != std::string::npos && eq + 1 < word.size() && word[eq + 1] != ' ' &&
        word[eq + 1] != '\t') {
        const std::string before = word.substr(0, eq);
        if (validName(before) && !variableLike(before)) {
            name = before;
            command = word.substr(eq + 1);
            return;
        }
    }
    name.clear();
    command = word;
}

std::string BotList::defaultName(const std::string& command) {
    if (BotCommand("", command).isShorthand()) {
        return command;
    }
    std::string name = baseName(programWord(command));
    for (char& c : name) {
        c = nameChar(c) ? c : '_';
    }
    if (name.size() > MAX_NAME) {
        name.resize(MAX_NAME);
    }
    return name.empty() ? "bot" : name;
}

std::vector<BotCommand> BotList::forSeats(const std::vector<std::string>& words, unsigned seats) {
    std::vector<BotCommand> bots;
    std::map<std::string, unsigned> seen;
    for (unsigned k = 0; k < seats && !words.empty(); ++k) {
        std::string name;
        std::string command;
        split(words[k % words.size()], name, command);
        if (name.empty()) {
            name = defaultName(command);
        }
        const unsigned times = ++seen[name];
        if (times > 1) {
            name += "#" + std::to_string(times);
        }
        bots.emplace_back(name, command);
    }
    return bots;
}
