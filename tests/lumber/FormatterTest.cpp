#include "lumber/Logger.h"
#include "lumber/StreamSink.h"
#include "lumber/TemplateFormatter.h"

#include <gtest/gtest.h>

#include "TimeMask.h"

#include <ctime>
#include <sstream>

using namespace lumber;

namespace {

EntryContext contextAt(LogLevel level, int hour, int minute, int second) {
    EntryContext context("file.cpp", 12, "func");
    std::tm local{};
    local.tm_year = 126;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    context.timestamp = std::chrono::system_clock::from_time_t(std::mktime(&local));
    context.level = level;
    return context;
}

FormatterPtr lineFormat() {
    return makeTemplateFormatter('[', FieldStr<Field::LogLevel, 5, RIGHT, ' '>(), ']', ' ',
                                 TimeStr("%H:%M:%S"), ' ', FieldStr<Field::Message, 0>(), "\n");
}

} // namespace

TEST(TemplateFormatter, LineFormatForEveryLevel) {
    const auto format = lineFormat();
    const std::pair<LogLevel, const char*> table[] = {
        {TRACE, "[TRACE] 14:03:07 Initializing server\n"},
        {DEBUG, "[DEBUG] 14:03:07 Initializing server\n"},
        {INFO, "[ INFO] 14:03:07 Initializing server\n"},
        {WARN, "[ WARN] 14:03:07 Initializing server\n"},
        {ERR, "[ERROR] 14:03:07 Initializing server\n"},
        {FATAL, "[FATAL] 14:03:07 Initializing server\n"},
        {INHERIT, "[  ???] 14:03:07 Initializing server\n"},
    };
    for (const auto& [level, line] : table) {
        EXPECT_EQ((*format)(contextAt(level, 14, 3, 7), "Initializing server"), line);
    }
}

TEST(TemplateFormatter, BareFormatAddsNothing) {
    const auto format = makeTemplateFormatter(FieldStr<Field::Message, 0>());
    EXPECT_EQ((*format)(contextAt(INFO, 1, 2, 3), "Opening port..."), "Opening port...");
    EXPECT_EQ((*format)(contextAt(INFO, 1, 2, 3), ""), "");
}

TEST(TemplateFormatter, FieldPaddingJustificationAndOverlongText) {
    const auto left = makeTemplateFormatter(FieldStr<Field::Message, 6, LEFT, '.'>(), '|');
    const auto right = makeTemplateFormatter(FieldStr<Field::Message, 6, RIGHT, '*'>(), '|');
    const auto ctx = contextAt(INFO, 0, 0, 0);
    EXPECT_EQ((*left)(ctx, "ab"), "ab....|");
    EXPECT_EQ((*right)(ctx, "ab"), "****ab|");
    EXPECT_EQ((*right)(ctx, "abcdefgh"), "abcdefgh|");
}

TEST(TemplateFormatter, TimeFormatThatProducesNothingWritesNothing) {
    const auto empty = makeTemplateFormatter('<', TimeStr(""), '>');
    EXPECT_EQ((*empty)(contextAt(INFO, 10, 11, 12), "m"), "<>");
    const std::string huge(2000, 'x');
    const auto overlong = makeTemplateFormatter('<', TimeStr(huge), '>');
    EXPECT_EQ((*overlong)(contextAt(INFO, 10, 11, 12), "m"), "<>");
}

TEST(PlainFormatter, LevelDashMessageNewline) {
    Formatter plain;
    EXPECT_EQ(plain(contextAt(INFO, 0, 0, 0), "hello"), "INFO - hello\n");
    EXPECT_EQ(plain(contextAt(ERR, 0, 0, 0), "bad"), "ERROR - bad\n");
}

TEST(StreamSink, KeepsTargetFormattingUntouchedAndWritesMultiPartMessagesAsOneEntry) {
    std::ostringstream out;
    out << std::hex;
    const SinkPtr sink = StreamSink::create(out);
    sink->setFormatter(lineFormat());
    const LogPtr logger = Logger::getLogger("formatter.stream");
    logger->setLevel(INFO);
    logger->setAdditive(false);
    logger->addSink(sink);
    LUMBER_LOG(logger, INFO) << "count " << 255 << " done";
    EXPECT_EQ(maskTimes(out.str()), "[ INFO] HH:MM:SS count 255 done\n");
}
