#include "ThrownMessage.h"
#include "knob/ArgumentParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string checkMessage(const knob::BaseArgument& constraint) {
    return thrownMessage([&] { constraint.check_valid(); });
}

std::string parseMessage(knob::ArgumentParser& parser, const std::vector<std::string>& tokens) {
    return thrownMessage([&] { parser.parse(tokens); });
}

TEST(Constraint, UsageShowsOptionalRequiredAndAlternativeGroups) {
    knob::ValueArgument<double> t("Apply &timelimit");
    t.valuename("seconds");
    knob::ValueArgument<unsigned> d("Apply &depthlimit");
    d.valuename("number");
    knob::Argument h("&help");
    knob::Argument v("&version");

    EXPECT_EQ((t ^ d).usage(), "-t seconds | -d number");
    EXPECT_EQ(knob::ArgumentConstraint<knob::Any>(t, d).usage(), "[ -t seconds ] [ -d number ]");
    knob::Argument r("&required");
    EXPECT_EQ(knob::ArgumentSet("Set", h, +r).usage(), "[ -h ] -r");
    EXPECT_EQ(knob::ArgumentSet("Set", h, +(t ^ d), v).usage(),
              "[ -h ] ( -t seconds | -d number ) [ -v ]");
    EXPECT_EQ(knob::ArgumentSet("Set", t ^ d).usage(), "[ -t seconds | -d number ]");
    EXPECT_EQ(knob::ArgumentSet("Set", h, +knob::ArgumentConstraint<knob::One>(), v).usage(),
              "[ -h ]  [ -v ]");
    EXPECT_EQ(knob::ArgumentSet("Empty").usage(), "");

    // The mark must come before adding: the set keeps the usage and requiredness it saw.
    knob::ArgumentSet late("Late", h);
    +h;
    EXPECT_EQ(late.usage(), "[ -h ]");
    EXPECT_EQ(checkMessage(late), "");

    // += merges the other constraint's members rather than nesting it.
    knob::ArgumentConstraint<knob::One> pair(t);
    pair += d;
    pair += pair;
    EXPECT_EQ(pair.size(), 4u);
    EXPECT_EQ(pair.usage(), "-t seconds | -d number | -t seconds | -d number");
}

TEST(Constraint, OneNeedsExactlyOneGiven) {
    const std::string message = "Must set exactly one argument from -t seconds -d number";
    const struct {
        std::vector<std::string> tokens;
        bool required;
        const char* message;
    } cases[] = {
        {{}, true, message.c_str()},
        {{"-t", "1", "-d", "2"}, true, message.c_str()},
        {{"-d", "2", "-t", "1"}, false, message.c_str()},
        {{"-t", "1"}, true, ""},
        {{"--depthlimit=3"}, true, ""},
        {{}, false, ""},
        {{"-d", "1", "-d", "2"}, true, "Argument -d number can only be set once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tokens.size());
        knob::ValueArgument<double> t("Apply &timelimit");
        t.valuename("seconds");
        knob::ValueArgument<unsigned> d("Apply &depthlimit");
        d.valuename("number");
        knob::ArgumentParser parser;
        if (c.required) {
            parser.add(+(t ^ d));
        } else {
            parser.add(t ^ d);
        }
        EXPECT_EQ(parseMessage(parser, c.tokens), c.message);
    }
}

TEST(Constraint, AnyChecksRequiredMembersInOrder) {
    knob::Argument a("&alpha");
    knob::Argument b("&beta");
    knob::ArgumentSet set("Set", +a, +b);
    EXPECT_EQ(checkMessage(set), "Argument -a is required");
    a.set();
    EXPECT_EQ(checkMessage(set), "Argument -b is required");
    b.set();
    EXPECT_EQ(checkMessage(set), "");
    EXPECT_EQ(set.count(), 1u);

    // A required nested set of optional arguments accepts itself when nothing is given: only
    // the container's list of missing members refuses it.
    knob::Argument c("&gamma");
    knob::Argument d("&delta");
    knob::ArgumentSet inner("Inner", c, d);
    knob::ArgumentConstraint<knob::Any> outer(a, +std::move(inner));
    EXPECT_EQ(checkMessage(outer), "The following requirements are missing: [ -g ] [ -d ]");
    d.set();
    EXPECT_EQ(checkMessage(outer), "");

    // Nested members are found in order.
    std::vector<const knob::Argument*> found;
    outer.find_all_arguments(found);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2]->ident(), "-d, --delta");
    EXPECT_EQ(set.args().size(), 2u);
}

TEST(Constraint, SetsAreCheckedInOrderAfterAllTokens) {
    knob::Argument a("&alpha");
    knob::Argument b("&beta");
    knob::ArgumentParser parser;
    parser.add(+a);
    parser.add(knob::ArgumentSet("Second", +b));
    EXPECT_EQ(parseMessage(parser, {}), "Argument -a is required");
    EXPECT_EQ(parseMessage(parser, {"-b", "-b"}), "Argument -a is required");
    EXPECT_EQ(parseMessage(parser, {"-a"}), "Argument -b can only be set once");
}

TEST(Help, ListsEverySetWithDescriptionsInOneAlignedColumn) {
    knob::ArgumentParser parser;
    EXPECT_EQ(parser.help(), "Usage: \n");

    knob::ValueArgument<std::string> log("File to load &log settings from");
    log.valuename("filename");
    knob::Argument verbose("Talk a lot $verbose");
    parser.add(knob::ArgumentSet("Empty"));
    parser.add(knob::ArgumentSet("Basic options", log, verbose));
    // No own arguments: the empty first set still leaves its blank in the usage line.
    EXPECT_EQ(parser.help(), "Usage:  [ -l filename ] [ --verbose ]\n"
                             "\n"
                             "Basic options:\n"
                             "  -l, --log  File to load log settings from\n"
                             "  --verbose  Talk a lot verbose\n");

    const char* const argv[] = {"tool"};
    parser.parse(1, argv);
    knob::Argument longest("A very long one $averyveryverylongname");
    parser.add(longest);
    EXPECT_EQ(parser.help(),
              "Usage: tool [ --averyveryverylongname ] [ -l filename ] [ --verbose ]\n"
              "\n"
              "Arguments:\n"
              "  --averyveryverylongname  A very long one averyveryverylongname\n"
              "\n"
              "Basic options:\n"
              "  -l, --log                File to load log settings from\n"
              "  --verbose                Talk a lot verbose\n");
}

} // namespace
