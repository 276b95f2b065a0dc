// Naming the bots of a match from its --bot words.

#include "BotList.h"

#include <gtest/gtest.h>

TEST(BotList, ReadsNamesOnlyWhereNoCommandCanBeMeant) {
    struct Case {
        std::string word;
        std::string name;    // the bot's name: given, or made from the command
        std::string command; // what runs
    };
    const std::vector<Case> cases{
        {"mine=./mybot -p {port}", "mine", "./mybot -p {port}"},
        {"a.b-c_1=search:3", "a.b-c_1", "search:3"},
        {"Alice=greedy", "Alice", "greedy"},
        {"v2=./bot --x=1", "v2", "./bot --x=1"},
        {"mine=http_proxy=x ./bot", "mine", "http_proxy=x ./bot"},
        // Written like environment variables: assignments for the command, as the shell reads them.
        {"FOO=1 ./bot", "bot", "FOO=1 ./bot"},
        {"PYTHONPATH=kit python3 -m reversi_bot --port {port}", "reversi_bot",
         "PYTHONPATH=kit python3 -m reversi_bot --port {port}"},
        {"BOT=greedy", "bot", "BOT=greedy"},
        // Not a name, or nothing after it.
        {"x=", "bot", "x="},
        {"x= ./run", "run", "x= ./run"},
        {"my bot=./x", "my", "my bot=./x"},
        {"../b=1", "b_1", "../b=1"},
        {std::string(33, 'n') + "=greedy", "bot", std::string(33, 'n') + "=greedy"},
        {std::string(32, 'n') + "=greedy", std::string(32, 'n'), "greedy"},
        // Default names.
        {"search:3", "search:3", "search:3"},
        {"sh /tmp/dir/bot.sh", "bot.sh", "sh /tmp/dir/bot.sh"},
        {"sh -c 'exec X=/usr ./run -p {port}'", "run", "sh -c 'exec X=/usr ./run -p {port}'"},
        {"exec /usr/bin/client -p {port}", "client", "exec /usr/bin/client -p {port}"},
        {"env X=1 python3 -u 'play.py' 7", "play.py", "env X=1 python3 -u 'play.py' 7"},
        {"./b@d -v", "b_d", "./b@d -v"},
        {"", "bot", ""},
    };
    for (const Case& c : cases) {
        const std::vector<BotCommand> bots = BotList::forSeats({c.word}, 1);
        ASSERT_EQ(bots.size(), 1u);
        EXPECT_EQ(bots[0].name(), c.name) << c.word;
        EXPECT_EQ(bots[0].command(), c.command) << c.word;
    }
}

TEST(BotList, NamesAreUniqueInSeatOrder) {
    const auto names = [](const std::vector<std::string>& words, unsigned seats) {
        std::vector<std::string> out;
        for (const BotCommand& b : BotList::forSeats(words, seats)) {
            out.push_back(b.name() + "|" + b.command());
        }
        return out;
    };
    EXPECT_EQ(
        names({"greedy", "me=greedy"}, 4),
        (std::vector<std::string>{"greedy|greedy", "me|greedy", "greedy#2|greedy", "me#2|greedy"}));
    EXPECT_EQ(names({"a=./x", "a=./y", "./a"}, 3),
              (std::vector<std::string>{"a|./x", "a#2|./y", "a#3|./a"}));
}
