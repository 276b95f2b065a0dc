#include "knob/ArgumentParser.h"
#include "ThrownMessage.h"
#include "knob/VariableArgument.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Tokens = std::vector<std::string>;

// The basic options of a tool plus a plain switch -n; help and version throw markers.
// Counters are never reset, so every case builds its own.
struct Basics {
    Basics() {
        log.valuename("filename");
        help.check([](const knob::Argument&) { throw knob::exception("HELP"); });
        version.check([](const knob::Argument&) { throw knob::exception("VERSION"); });
    }
    void addTo(knob::ArgumentParser& parser) const {
        parser.add(knob::ArgumentSet("Basic options", log, nocolor, help, version, n));
    }

    knob::ValueArgument<std::string> log{"File to load &log settings from"};
    bool colour = false;
    knob::SwitchArgument nocolor{"Disable ANSI colors when printing", "nocolor", colour};
    knob::Argument help{"Show this &help text"};
    knob::Argument version{"Show &version information"};
    bool nFlag = false;
    knob::SwitchArgument n{"A plain %n switch", nFlag};
};

// The message of the refusal, or "" when the tokens were accepted.
std::string parseMessage(knob::ArgumentParser& parser, const Tokens& tokens) {
    return thrownMessage([&] { parser.parse(tokens); });
}

class ParserTest : public ::testing::Test {
protected:
    void declare() { basics.addTo(parser); }
    std::string parse(const Tokens& tokens) { return parseMessage(parser, tokens); }

    knob::ArgumentParser parser;
    Basics basics;
    const knob::ValueArgument<std::string>& log = basics.log;
    const knob::SwitchArgument& n = basics.n;
    const bool& nFlag = basics.nFlag;
};

TEST_F(ParserTest, ValueIsTakenInlineAttachedOrFromTheNextTokenWhateverItHolds) {
    const struct {
        Tokens tokens;
        const char* value;
        bool n;
    } cases[] = {
        {{"-lfile"}, "file", false},     {{"-l", "file"}, "file", false},
        {{"--log=file"}, "file", false}, {{"--log", "file"}, "file", false},
        {{"--log="}, "", false},         {{"--log=a=b"}, "a=b", false},
        {{"--log", "-v"}, "-v", false},  {{"-l", "--"}, "--", false},
        {{"-nlx"}, "x", true},           {{"-ln"}, "n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tokens.front());
        knob::ArgumentParser fresh;
        Basics own;
        own.addTo(fresh);
        EXPECT_EQ(parseMessage(fresh, c.tokens), "");
        EXPECT_EQ(own.log.count(), 1u);
        EXPECT_EQ(own.log.value(), c.value);
        EXPECT_EQ(own.nFlag, c.n);
    }
}

TEST(Parser, EachRefusalNamesTheArgumentAndTheProblem) {
    const struct {
        Tokens tokens;
        const char* message;
    } cases[] = {
        {{"--bogus"}, "The named argument bogus is unknown"},
        {{"-x"}, "The flag argument x is unknown"},
        {{"-nx"}, "The flag argument x is unknown"},
        {{"word"}, "No positional arguments are supported"},
        {{"-"}, "No positional arguments are supported"},
        {{"--", "-n"}, "No positional arguments are supported"},
        {{"--help=1"}, "Argument -h does not accept a value"},
        {{"--nocolor="}, "Argument --nocolor does not accept a value"},
        {{"-l"}, "Argument -l filename requires a value"},
        {{"--log"}, "Argument -l filename requires a value"},
        {{"-nl"}, "Argument -l filename requires a value"},
        {{"--nocolor", "--nocolor"}, "Argument --nocolor can only be set once"},
        {{"--log", "a", "--log", "b"}, "Argument -l filename can only be set once"},
        {{"--=x"}, "The named argument  is unknown"},
        {{"--Log=x"}, "The named argument Log is unknown"},
        {{"-h"}, "HELP"},
        {{"-hv"}, "HELP"},
        {{"-vh"}, "VERSION"},
        {{"-h", "--bogus"}, "HELP"},
        {{"--bogus", "-h"}, "The named argument bogus is unknown"},
        {{"--log", "-v"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tokens.front());
        knob::ArgumentParser fresh;
        Basics own;
        own.addTo(fresh);
        EXPECT_EQ(parseMessage(fresh, c.tokens), c.message);
    }
}

TEST_F(ParserTest, RefusalStopsTheParseAndKeepsStoredValues) {
    declare();
    EXPECT_EQ(parse({"-lfirst", "-h", "-lsecond", "-n"}), "HELP");
    EXPECT_EQ(log.value(), "first");
    EXPECT_EQ(log.count(), 1u);
    EXPECT_FALSE(n);
}

TEST_F(ParserTest, SwitchGivenTwiceIsInvertedTwiceThenRefused) {
    declare();
    EXPECT_EQ(parse({"-n", "-n", "-lfile"}), "Argument -n can only be set once");
    EXPECT_FALSE(nFlag);
    EXPECT_EQ(n.count(), 2u);
    EXPECT_EQ(log.value(), "file");
}

TEST_F(ParserTest, DoubleDashEndsOptionsAndDashIsPositional) {
    std::vector<std::string> seen;
    std::string word;
    knob::VariableArgument<std::string> words("Words", word);
    words.valuename("word").many(true);
    words.check_typed(
        [&seen](const knob::Argument&, const std::string& value) { seen.push_back(value); });
    parser.add(words);
    declare();
    EXPECT_EQ(parse({"-", "a", "--", "-n", "--", "--log", "-", "x=y"}), "");
    EXPECT_EQ(seen, (Tokens{"-", "a", "-n", "--log", "-", "x=y"}));
    EXPECT_EQ(word, "x=y");
    EXPECT_FALSE(n);
    EXPECT_FALSE(log);
}

TEST_F(ParserTest, SecondPositionalOverwritesAndIsRefused) {
    std::string map = "-";
    knob::VariableArgument<std::string> mapArg("Load this map", map);
    mapArg.valuename("mapname");
    parser.add(+mapArg);
    declare();
    EXPECT_EQ(parse({"first", "second"}), "Argument mapname can only be set once");
    EXPECT_EQ(map, "second");
    EXPECT_EQ(mapArg.count(), 2u);
}

TEST_F(ParserTest, SharedNameFillsArgumentsInOrder) {
    std::string first, second;
    knob::VariableArgument<std::string> a("Output $out", first);
    knob::VariableArgument<std::string> b("Output $out", second);
    parser.add(a).add(b);
    EXPECT_EQ(parse({"--out", "1", "--out=2"}), "");
    EXPECT_EQ(first, "1");
    EXPECT_EQ(second, "2");
    EXPECT_EQ(parse({"--out", "3"}), "Argument --out value can only be set once");
    EXPECT_EQ(first, "1");
    EXPECT_EQ(second, "3");
}

TEST_F(ParserTest, FindArgPrefersTheFirstThatCanTakeMore) {
    unsigned first = 0, second = 0;
    knob::VariableArgument<unsigned> a("First %c", first);
    knob::VariableArgument<unsigned> b("Second %c", second);
    parser.add(a).add(b);
    declare();
    EXPECT_EQ(parser.findArg("nothing"), nullptr);
    EXPECT_EQ(parser.findArg('z'), nullptr);
    EXPECT_EQ(parser.findArg(), nullptr);
    EXPECT_EQ(parser.findArg("log")->ident(), "-l, --log");
    EXPECT_EQ(parser.findArg('c')->description(), "First c");
    parser.set_arg_value(parser.findArg('c'), "7");
    EXPECT_EQ(parser.findArg('c')->description(), "Second c");
    parser.set_arg_value(parser.findArg('c'), "8");
    EXPECT_EQ(parser.findArg('c')->description(), "Second c");
    parser.set_arg_value(parser.findArg('c'), "9");
    EXPECT_EQ(first, 7u);
    EXPECT_EQ(second, 9u);
    EXPECT_EQ(b.count(), 2u);
}

TEST_F(ParserTest, ValueHandedToArgumentWithoutValueIsMisuse) {
    // Claims a value but offers no way to take one.
    class Pretender : public knob::Argument {
    public:
        using Argument::Argument;
        bool takes_value() const override { return true; }
    };
    const Pretender pretender("&pretend");
    const struct {
        const knob::Argument& arg;
        const char* message;
    } cases[] = {
        {basics.help, "Attempt to set value on non-valued argument"},
        {pretender, "Requested value interface on non-valued argument"},
    };
    for (const auto& c : cases) {
        try {
            parser.set_arg_value(&c.arg, "x");
            ADD_FAILURE() << c.message;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST_F(ParserTest, ProgramNameFromFirstWordOnlyOnce) {
    declare();
    const char* const first[] = {"prog", "-n"};
    const char* const second[] = {"other"};
    parser.parse(2, first);
    parser.parse(1, second);
    EXPECT_TRUE(nFlag);
    EXPECT_EQ(parser.help().substr(0, 12), "Usage: prog ");
}

} // namespace

TEST(NamedOnly, NeverTakesABareWord) {
    // A long option without markup ("match-timeout" is no markup word) and one made
    // named-only after an alias: bare words go to the positional map only (a second one is
    // refused there), never to the named options.
    const struct {
        Tokens tokens;
        const char* refusal;
        const char* map;
        const char* timeout;
        const char* port;
    } cases[] = {
        {{"a.map", "--match-timeout", "9", "-b", "7"}, "", "a.map", "9", "7"},
        {{"--match-timeout", "9", "a.map"}, "", "a.map", "9", ""},
        {{"--match-timeout", "9", "-b", "7", "a.map", "b.map"},
         "Argument value can only be set once",
         "b.map",
         "9",
         "7"},
    };
    for (const auto& c : cases) {
        std::string map;
        std::string timeout;
        std::string port;
        knob::VariableArgument<std::string> mapArg("The map", map);
        knob::VariableArgument<std::string> timeoutArg("Seconds", "match-timeout", timeout);
        knob::VariableArgument<std::string> portArg("First port", port);
        portArg.alias('b').named_only();
        knob::ArgumentParser parser;
        parser.add(+mapArg);
        parser.add(timeoutArg);
        parser.add(portArg);
        EXPECT_EQ(parseMessage(parser, c.tokens), c.refusal) << c.tokens[0];
        EXPECT_EQ(map, c.map);
        EXPECT_EQ(timeout, c.timeout);
        EXPECT_EQ(port, c.port);
        EXPECT_FALSE(timeoutArg.matches());
        EXPECT_FALSE(portArg.matches());
    }
}
