#include "lumber/Logger.h"
#include "lumber/StreamSink.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

using namespace lumber;

namespace {

// Loggers live for the whole program; each test takes names of its own under "t.<test>".
struct Capture {
    std::ostringstream out;
    SinkPtr sink = StreamSink::create(out);

    // The logger `name` at `level`, writing here too; with `additive` false, only here.
    LogPtr on(const std::string& name, LogLevel level, bool additive = true) const {
        const LogPtr logger = Logger::getLogger(name);
        logger->setLevel(level);
        logger->setAdditive(additive);
        logger->addSink(sink);
        return logger;
    }
};

int evaluations = 0;
int touch() {
    ++evaluations;
    return 42;
}

} // namespace

TEST(LoggerTree, SameNameGivesSameLoggerAndEmptyNameGivesRoot) {
    EXPECT_EQ(Logger::getLogger("tree.same"), Logger::getLogger("tree.same"));
    EXPECT_EQ(Logger::getLogger(""), Logger::getRootLogger());
    EXPECT_EQ(detail::GetLoggers().count(""), 0u);
}

TEST(LoggerTree, DottedNameMakesEveryPrefixAndInheritsFromRoot) {
    ASSERT_EQ(detail::GetLoggers().count("tree3"), 0u);
    const LogPtr leaf = Logger::getLogger("tree3.mid.leaf");
    for (const char* name : {"tree3", "tree3.mid", "tree3.mid.leaf"}) {
        ASSERT_EQ(detail::GetLoggers().count(name), 1u) << name;
        EXPECT_EQ(detail::GetLoggers()[name]->getLevel(), Logger::getRootLogger()->getLevel());
    }
    Logger::getLogger("tree3.mid")->setLevel(ERR);
    EXPECT_EQ(leaf->getLevel(), ERR);
    Logger::getLogger("tree3.mid")->setLevel(INHERIT);
    EXPECT_EQ(leaf->getLevel(), Logger::getRootLogger()->getLevel());
}

TEST(LoggerTree, RootIgnoresInherit) {
    const LogPtr root = Logger::getRootLogger();
    const LogLevel before = root->getLevel();
    root->setLevel(INHERIT);
    EXPECT_EQ(root->getLevel(), before);
}

TEST(LogStatement, OperandsAreNotEvaluatedBelowTheLevel) {
    Capture cap;
    cap.on("lazy", INFO);
    const LogPtr child = Logger::getLogger("lazy.child");
    evaluations = 0;
    LUMBER_LOG(child, DEBUG) << "hidden " << touch();
    EXPECT_EQ(evaluations, 0);
    EXPECT_EQ(cap.out.str(), "");
    LUMBER_LOG(child, WARN) << "shown " << touch() << " and " << 1.5;
    EXPECT_EQ(evaluations, 1);
    EXPECT_EQ(cap.out.str(), "WARN - shown 42 and 1.5\n");
}

TEST(LogStatement, WorksAsTheBodyOfAnUnbracedIf) {
    Capture cap;
    const LogPtr logger = cap.on("unbraced", TRACE, false);
    for (int i = 0; i < 2; ++i) {
        if (i == 0)
            LUMBER_LOG(logger, INFO) << "first";
        else
            LUMBER_LOG(logger, INFO) << "second";
    }
    EXPECT_EQ(cap.out.str(), "INFO - first\nINFO - second\n");
}

TEST(LoggerLevels, ChildAtTraceReachesRootSinksAboveItsLevel) {
    Capture cap;
    const LogPtr top = cap.on("climb", INFO);
    const LogPtr child = Logger::getLogger("climb.child");
    child->setLevel(TRACE);
    LUMBER_LOG(child, TRACE) << "fine";
    LUMBER_LOG(top, TRACE) << "dropped";
    EXPECT_EQ(cap.out.str(), "TRACE - fine\n");
}

TEST(LoggerSinks, SinkLevelFiltersEveryLogger) {
    Capture cap;
    cap.sink->setLevel(ERR);
    const LogPtr top = cap.on("sinklevel", TRACE);
    const LogPtr child = Logger::getLogger("sinklevel.child");
    LUMBER_LOG(child, WARN) << "warn";
    LUMBER_LOG(top, WARN) << "warn";
    LUMBER_LOG(child, ERR) << "err";
    LUMBER_LOG(top, FATAL) << "fatal";
    EXPECT_EQ(cap.out.str(), "ERROR - err\nFATAL - fatal\n");
}

TEST(LoggerSinks, AdditivityStopsAfterTheFirstNonAdditiveLogger) {
    Capture top, mid, leaf;
    top.on("add", TRACE);
    mid.on("add.mid", INHERIT, false);
    const LogPtr c = leaf.on("add.mid.leaf", INHERIT);
    LUMBER_LOG(c, INFO) << "x";
    EXPECT_EQ(leaf.out.str(), "INFO - x\n");
    EXPECT_EQ(mid.out.str(), "INFO - x\n");
    EXPECT_EQ(top.out.str(), "");

    c->setAdditive(false);
    LUMBER_LOG(c, INFO) << "y";
    EXPECT_EQ(leaf.out.str(), "INFO - x\nINFO - y\n");
    EXPECT_EQ(mid.out.str(), "INFO - x\n");
}

TEST(LoggerSinks, AncestorLevelsDoNotFilterPassedEntries) {
    Capture cap;
    cap.on("anc", FATAL);
    const LogPtr b = Logger::getLogger("anc.b");
    b->setLevel(DEBUG);
    LUMBER_LOG(b, DEBUG) << "through";
    EXPECT_EQ(cap.out.str(), "DEBUG - through\n");
}

TEST(LoggerSinks, OffStatementEmitsNothing) {
    Capture cap;
    const LogPtr a = cap.on("offlevel", TRACE, false);
    a->log(OFF, "never", EntryContext("f", 1, "g"));
    {
        const LogStream s = a->log(OFF, EntryContext("f", 1, "g"));
        s << "nothing";
    }
    a->setLevel(OFF);
    LUMBER_LOG(a, FATAL) << "off";
    EXPECT_EQ(cap.out.str(), "");
}

TEST(LoggerSinks, RemovedSinkGetsNothing) {
    Capture cap;
    const LogPtr a = cap.on("removal", TRACE, false);
    a->removeSink(cap.sink);
    LUMBER_LOG(a, FATAL) << "gone";
    EXPECT_EQ(cap.out.str(), "");
}

TEST(LogLevelNames, EachLevelPrintsItsNameAndOthersPrintQuestionMarks) {
    const std::pair<LogLevel, const char*> table[] = {
        {TRACE, "TRACE"}, {DEBUG, "DEBUG"}, {INFO, "INFO"},
        {WARN, "WARN"},   {ERR, "ERROR"},   {FATAL, "FATAL"},
        {OFF, "OFF"},     {INHERIT, "???"}, {static_cast<LogLevel>(99), "???"}};
    for (const auto& [level, name] : table) {
        std::ostringstream os;
        os << level;
        EXPECT_EQ(os.str(), name);
    }
    EXPECT_EQ(DEFAULT, WARN);
    EXPECT_EQ(ALL, TRACE);
}
