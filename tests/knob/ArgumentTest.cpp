#include "ThrownMessage.h"
#include "knob/ArgumentParser.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

std::string usageError(const knob::Argument& arg) {
    return thrownMessage<std::logic_error>([&] { arg.usage(); });
}

} // namespace

TEST(ArgumentMarkup, DescriptionGivesFlagsNamesAndText) {
    struct Case {
        const char* description;
        const char* ident;
        const char* text;
        bool positional;
    };
    const Case cases[] = {
        {"File to load &log settings from", "-l, --log", "File to load log settings from", false},
        {"Use this port (NOTE: actual server port may differ if &baseport is in use)",
         "-b, --baseport",
         "Use this port (NOTE: actual server port may differ if baseport is in use)", false},
        {"Only %x as flag", "-x", "Only x as flag", false},
        {"Long name at the very end $verbose", "--verbose", "Long name at the very end verbose",
         false},
        {"Mixed %q and $quiet", "-q, --quiet", "Mixed q and quiet", false},
        {"Word &a-b ends at the dash", "-a, --a", "Word a-b ends at the dash", false},
        {"Digits &x2y!", "-x, --x2y", "Digits x2y!", false},
        {"Escaped \\& and \\% and \\$ stay", "", "Escaped & and % and $ stay", true},
        {"Path C:\\dir keeps its backslash", "", "Path C:\\dir keeps its backslash", true},
        {"Double \\\\ backslash", "", "Double \\ backslash", true},
        {"Escaped backslash then \\\\&mark", "-m, --mark", "Escaped backslash then \\mark", false},
        {"Dangling $", "", "Dangling ", true},
        {"Dangling &", "", "Dangling ", true},
        {"%&", "-&", "&", false},
        {"No markup at all", "", "No markup at all", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const knob::Argument arg(c.description);
        EXPECT_EQ(arg.ident(), c.ident);
        EXPECT_EQ(arg.description(), c.text);
        EXPECT_EQ(arg.matches(), c.positional);
    }

    const knob::Argument named("No markup", "name");
    EXPECT_FALSE(named.matches());
    EXPECT_TRUE(named.matches("name"));
    EXPECT_EQ(named.usage(), "--name");
}

TEST(ArgumentMarkup, AliasAddsNamesAndKeepsPositional) {
    std::string map;
    knob::VariableArgument<std::string> positional("Load this map", map);
    positional.valuename("mapname").alias('m', "map");
    EXPECT_TRUE(positional.matches());
    EXPECT_TRUE(positional.matches('m'));
    EXPECT_TRUE(positional.matches("map"));
    EXPECT_FALSE(positional.matches("Map"));
    EXPECT_FALSE(positional.matches("ma"));
    EXPECT_EQ(positional.ident(), "mapname");
    EXPECT_EQ(positional.usage(), "mapname");

    knob::Argument named("Show this &help text");
    named.alias('?').alias("usage");
    EXPECT_FALSE(named.matches());
    EXPECT_TRUE(named.matches('?'));
    EXPECT_TRUE(named.matches("usage"));
    EXPECT_EQ(named.ident(), "-h, --help");
}

TEST(ArgumentUsage, UsageAndIdentShowFirstFlagFirstNameAndValueName) {
    std::string text;
    knob::ValueArgument<std::string> log("File to load &log settings from");
    log.valuename("filename");
    bool flag = false;
    knob::SwitchArgument nocolor("Disable ANSI colors when printing", "nocolor", flag);
    knob::Argument help("Show this &help text");
    knob::VariableArgument<std::string> map("Load this map", text);
    map.valuename("mapname").alias('m', "map");
    unsigned short port = 0;
    knob::VariableArgument<unsigned short> baseport("Use &baseport", port);
    baseport.valuename("port number");
    knob::VariableArgument<std::string> files("Input files", text);
    files.valuename("file").many(true);
    knob::ValueArgument<double> longOnly("Only a $ratio");

    const struct {
        const knob::Argument& arg;
        const char* ident;
        const char* usage;
    } cases[] = {
        {log, "-l, --log", "-l filename"},
        {nocolor, "--nocolor", "--nocolor"},
        {help, "-h, --help", "-h"},
        {map, "mapname", "mapname"},
        {baseport, "-b, --baseport", "-b port number"},
        {files, "file", "file..."},
        {longOnly, "--ratio", "--ratio value"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.arg.ident(), c.ident);
        EXPECT_EQ(c.arg.usage(), c.usage);
    }

    EXPECT_EQ(usageError(knob::Argument("Positional flag")),
              "Base usage() called on positional argument");
}

TEST(ValueConversion, NumbersMustBeWholeAndInRange) {
    struct Case {
        const char* text;
        bool accepted;
        unsigned long long value;
    };
    const Case shorts[] = {
        {"0", true, 0},      {"65535", true, 65535}, {" 42", true, 42},  {"+7", true, 7},
        {"65536", false, 0}, {"70000", false, 0},    {"-1", false, 0},   {" -1", false, 0},
        {"-0", false, 0},    {"42 ", false, 0},      {"42x", false, 0},  {"", false, 0},
        {"x", false, 0},     {"4.5", false, 0},      {"0x10", false, 0},
    };
    for (const Case& c : shorts) {
        SCOPED_TRACE(c.text);
        unsigned short value = 123;
        EXPECT_EQ(knob::detail::setValue(c.text, value), c.accepted);
        EXPECT_EQ(value, c.accepted ? c.value : 123);
    }
    const Case ints[] = {
        {"4294967295", true, 4294967295ULL}, {"4294967296", false, 0}, {"-1", false, 0},
        {"-4294967295", false, 0},           {"17\n", false, 0},
    };
    for (const Case& c : ints) {
        SCOPED_TRACE(c.text);
        unsigned int value = 123;
        EXPECT_EQ(knob::detail::setValue(c.text, value), c.accepted);
        EXPECT_EQ(value, c.accepted ? c.value : 123);
    }

    const struct {
        const char* text;
        bool accepted;
        double value;
    } doubles[] = {
        {"0.2", true, 0.2}, {"-1.5", true, -1.5}, {"1e3", true, 1000.0}, {" 3", true, 3.0},
        {"0.2 ", false, 0}, {"0.2s", false, 0},   {"1e999", false, 0},   {"", false, 0},
        {"inf", false, 0},  {".", false, 0},
    };
    for (const auto& c : doubles) {
        SCOPED_TRACE(c.text);
        double value = 9.0;
        EXPECT_EQ(knob::detail::setValue(c.text, value), c.accepted);
        EXPECT_EQ(value, c.accepted ? c.value : 9.0);
    }

    std::string text = "old";
    EXPECT_TRUE(knob::detail::setValue("", text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(knob::detail::setValue(" a b ", text));
    EXPECT_EQ(text, " a b ");
}

TEST(ArgumentExceptions, MessagesNameTheArgumentAndKeepACopy) {
    knob::ValueArgument<std::string> log("File to load &log settings from");
    log.valuename("filename");
    const knob::Argument help("Show this &help text");

    EXPECT_STREQ(knob::exception("plain").what(), "plain");
    EXPECT_STREQ(knob::command_error("bad").what(), "bad");
    EXPECT_STREQ(knob::unknown_argument().what(), "No positional arguments are supported");
    EXPECT_STREQ(knob::unknown_argument('x').what(), "The flag argument x is unknown");
    EXPECT_STREQ(knob::unknown_argument(std::string("bogus")).what(),
                 "The named argument bogus is unknown");
    EXPECT_STREQ(knob::argument_error(log).what(), "Argument -l filename");
    EXPECT_STREQ(knob::argument_error(log, "is odd").what(), "Argument -l filename is odd");
    EXPECT_STREQ(knob::argument_invalid_value(log, "x y").what(),
                 "Argument -l filename does not accept the value x y");
    EXPECT_STREQ(knob::argument_missing_value(log).what(), "Argument -l filename requires a value");
    EXPECT_STREQ(knob::argument_no_value(help).what(), "Argument -h does not accept a value");

    const struct {
        unsigned count;
        unsigned expected;
        const char* text;
    } counts[] = {
        {0, 1, "Argument -h is required"},
        {0, 0, "Argument -h can only be set once"},
        {1, 2, "Argument -h is required to occur at least 2 times"},
        {3, 12, "Argument -h is required to occur at least 12 times"},
        {2, 1, "Argument -h can only be set once"},
        {1, 1, "Argument -h can only be set once"},
        {5, 4, "Argument -h can occur at most 4 times"},
    };
    for (const auto& c : counts) {
        EXPECT_STREQ(knob::argument_count_mismatch(help, c.count, c.expected).what(), c.text);
    }

    // The kept copy is a plain Argument: the value name is gone, the names stay.
    const knob::argument_error original(log, "x");
    const knob::argument_error copy(original);
    EXPECT_EQ(copy.arg().usage(), "-l");
    EXPECT_EQ(copy.arg().ident(), "-l, --log");
    EXPECT_STREQ(copy.what(), "Argument -l filename x");
}

TEST(ArgumentOccurrence, CountsBoundsAndSharedState) {
    knob::Argument arg("&flag");
    auto message = [&arg] { return thrownMessage([&arg] { arg.check_valid(); }); };
    EXPECT_EQ(message(), "");
    arg.set_required(true);
    EXPECT_EQ(message(), "Argument -f is required");

    const auto copy = arg.clone();
    EXPECT_FALSE(arg);
    static_cast<const knob::Argument&>(*copy).set();
    EXPECT_TRUE(arg);
    EXPECT_EQ(arg.count(), 1u);
    EXPECT_FALSE(arg.can_set());
    EXPECT_EQ(message(), "");
    arg.set();
    EXPECT_EQ(message(), "Argument -f can only be set once");
    arg.max(3).min(3);
    EXPECT_EQ(message(), "Argument -f is required to occur at least 3 times");
    arg.set();
    arg.set();
    EXPECT_EQ(message(), "Argument -f can occur at most 3 times");
    arg.many(true).min(1);
    EXPECT_EQ(arg.max(), 0u);
    EXPECT_TRUE(arg.can_set());
    EXPECT_EQ(message(), "");
    arg.many(false);
    EXPECT_EQ(arg.max(), 1u);

    // The typed check of a switch sees the value before it is inverted.
    bool flag = false;
    std::vector<bool> seen;
    knob::SwitchArgument sw("%s switch", flag);
    sw.check_typed([&seen](const knob::Argument&, const bool& value) { seen.push_back(value); });
    sw.set();
    sw.set();
    EXPECT_EQ(seen, (std::vector<bool>{false, true}));
    EXPECT_FALSE(flag);

    knob::SwitchArgument own("$own");
    const auto ownCopy = own.clone();
    static_cast<const knob::Argument&>(*ownCopy).set();
    EXPECT_TRUE(own.value());

    // A value goes through set(text); the valued set() is a misuse.
    knob::ValueArgument<unsigned> number("&number");
    EXPECT_EQ(number.value(), 0u);
    const auto numberCopy = number.clone();
    dynamic_cast<const knob::ValueAcceptor&>(*numberCopy).set("12");
    EXPECT_EQ(number.value(), 12u);
    EXPECT_EQ(number.count(), 1u);
    EXPECT_THROW(number.set("12x"), knob::argument_invalid_value);
    EXPECT_EQ(number.value(), 12u);
    EXPECT_EQ(number.count(), 1u);
    try {
        number.set();
        FAIL() << "set() without value accepted";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Calling set() on valued argument");
    }
}
