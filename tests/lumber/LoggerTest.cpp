#include "lumber/Logger.h"
#include "lumber/StreamSink.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace lumber;

namespace {

// Loggers live for the whole program; each test takes names of its own under "t.<test>".
struct Capture {
    std::ostringstream out;
    SinkPtr sink = StreamSink::create(out);
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
    const LogPtr parent = Logger::getLogger("lazy");
    const LogPtr child = Logger::getLogger("lazy.child");
    parent->setLevel(INFO);
    parent->addSink(cap.sink);
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
    const LogPtr logger = Logger::getLogger("unbraced");
    logger->setLevel(TRACE);
    logger->setAdditive(false);
    logger->addSink(cap.sink);
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
    const LogPtr top = Logger::getLogger("climb");
    const LogPtr child = Logger::getLogger("climb.child");
    top->setLevel(INFO);
    top->addSink(cap.sink);
    child->setLevel(TRACE);
    LUMBER_LOG(child, TRACE) << "fine";
    LUMBER_LOG(top, TRACE) << "dropped";
    EXPECT_EQ(cap.out.str(), "TRACE - fine\n");
}

TEST(LoggerSinks, SinkLevelFiltersEveryLogger) {
    Capture cap;
    const LogPtr top = Logger::getLogger("sinklevel");
    const LogPtr child = Logger::getLogger("sinklevel.child");
    top->setLevel(TRACE);
    cap.sink->setLevel(ERR);
    top->addSink(cap.sink);
    LUMBER_LOG(child, WARN) << "warn";
    LUMBER_LOG(top, WARN) << "warn";
    LUMBER_LOG(child, ERR) << "err";
    LUMBER_LOG(top, FATAL) << "fatal";
    EXPECT_EQ(cap.out.str(), "ERROR - err\nFATAL - fatal\n");
}

TEST(LoggerSinks, AdditivityStopsAfterTheFirstNonAdditiveLogger) {
    Capture top, mid, leaf;
    const LogPtr a = Logger::getLogger("add");
    const LogPtr b = Logger::getLogger("add.mid");
    const LogPtr c = Logger::getLogger("add.mid.leaf");
    a->setLevel(TRACE);
    a->addSink(top.sink);
    b->addSink(mid.sink);
    c->addSink(leaf.sink);
    b->setAdditive(false);
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
    const LogPtr a = Logger::getLogger("anc");
    const LogPtr b = Logger::getLogger("anc.b");
    a->setLevel(FATAL);
    a->addSink(cap.sink);
    b->setLevel(DEBUG);
    LUMBER_LOG(b, DEBUG) << "through";
    EXPECT_EQ(cap.out.str(), "DEBUG - through\n");
}

TEST(LoggerSinks, OffStatementEmitsNothing) {
    Capture cap;
    const LogPtr a = Logger::getLogger("offlevel");
    a->setLevel(TRACE);
    a->setAdditive(false);
    a->addSink(cap.sink);
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
    const LogPtr a = Logger::getLogger("removal");
    a->setLevel(TRACE);
    a->setAdditive(false);
    a->addSink(cap.sink);
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
