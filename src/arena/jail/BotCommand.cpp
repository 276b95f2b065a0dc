#include "BotCommand.h"

#include <filesystem>
#include <utility>

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

bool splitShorthand(const std::string& command, std::string& strategy, std::string& seed) {
    const size_t colon = command.find(':');
    strategy = command.substr(0, colon);
    seed = colon == std::string::npos ? "" : command.substr(colon + 1);
    if (strategy != "random" && strategy != "greedy" && strategy != "search") {
        return false;
    }
    if (colon == std::string::npos) {
        return true;
    }
    return !seed.empty() && seed.size() <= 9 &&
           seed.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

BotCommand::BotCommand(std::string name, std::string command, std::string workDir)
    : m_name(std::move(name)), m_command(std::move(command)), m_workDir(std::move(workDir)) {}

bool BotCommand::visibleInJail(const std::string& clientProgram, std::string& error) const {
    std::string blocked;
    std::string what;
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(folder(), ec);
    if (!folder().empty() && std::filesystem::exists(status) &&
        !std::filesystem::is_directory(status)) {
        // A file or a device would pass as readable, and every match would then blame the bot
        // for the jail that could not be built.
        error = "bot " + m_name + ": its folder " + folder() +
                " is not a folder (\"dir\" must name one)";
        return false;
    }
    if (!folder().empty() && !Jail::readable(folder(), blocked)) {
        what = "its folder " + folder();
    } else if (isShorthand() && !Jail::readable(clientProgram, blocked)) {
        what = "the reference client " + clientProgram;
    } else {
        return true;
    }
    error = "bot " + m_name + ": the jail's user (uid " + std::to_string(Jail::jailUid()) +
            ") cannot read " + what + " (" + blocked +
            "); make it readable, or run unjailed (--no-sandbox / \"sandbox\": false)";
    return false;
}

bool BotCommand::isShorthand() const {
    std::string strategy;
    std::string seed;
    return splitShorthand(m_command, strategy, seed);
}

std::vector<std::string> BotCommand::argv(const std::string& clientProgram, const std::string& host,
                                          unsigned port, unsigned seed) const {
    std::string strategy;
    std::string ownSeed;
    if (splitShorthand(m_command, strategy, ownSeed)) {
        return {clientProgram,
                "-H",
                host,
                "-p",
                std::to_string(port),
                "-s",
                strategy,
                "--seed",
                ownSeed.empty() ? std::to_string(seed) : ownSeed};
    }
    std::string line = m_command;
    replaceAll(line, "{host}", host);
    replaceAll(line, "{port}", std::to_string(port));
    replaceAll(line, "{seed}", std::to_string(seed));
    return {"/bin/sh", "-c", line};
}
