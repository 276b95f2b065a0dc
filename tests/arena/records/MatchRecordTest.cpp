// The record reader against hostile records: each shape read back as a record or named by one
// fault; files that are not records refused without reading them whole.

#include "MatchRecord.h"
#include "BoundedFile.h"
#include "RecordsFolder.h"
#include "arena/RecordFixtures.h"
#include "support/TempDir.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using nlohmann::json;
using recordtest::makeRecord;

namespace {

/// Reads the file of that name from the folder: "" when it is a record, else the fault.
std::string readFault(const TempDir& dir, const std::string& name) {
    MatchRecord record;
    std::string error;
    return RecordsFolder(dir.path()).read(name, record, error) ? "" : error;
}

} // namespace

TEST(MatchRecord, HostileShapesAreNamedByFileAndField) {
    const struct {
        const char* what;
        std::function<void(json&)> change;
        std::string fault;
    } cases[] = {
        {"valid", [](json&) {}, ""},
        {"how a jailed bot ran",
         [](json& r) {
             r["sandbox"] = true;
             r["seats"][0]["sandbox"] = {{"jailed", true},
                                         {"memory_mb", 512},
                                         {"stopped_by", "exceeded its CPU time limit"}};
             r["seats"][1]["sandbox"] = nullptr;
         },
         ""},
        {"a tournament's round", [](json& r) { r["round"] = 2; }, ""},
        {"CPU while waiting and pondering",
         [](json& r) {
             r["seats"][0]["cpu_wait_ms"] = 12;
             r["seats"][0]["pondering"] = "frozen";
             r["seats"][1]["pondering"] = "not held";
         },
         ""},
        {"CPU while waiting negative", [](json& r) { r["seats"][1]["cpu_wait_ms"] = -1; },
         "seats[1].cpu_wait_ms: -1 is out of range 0..9223372036854775807"},
        {"pondering a flag", [](json& r) { r["seats"][0]["pondering"] = false; },
         "seats[0].pondering: not a string"},
        {"pondering unknown", [](json& r) { r["seats"][0]["pondering"] = "held"; },
         "seats[0].pondering: not \"allowed\", \"frozen\" or \"not held\""},
        {"no disqualifications", [](json& r) { r.erase("disqualifications"); },
         "disqualifications: missing"},
        {"bot a number", [](json& r) { r["seats"][1]["bot"] = 7; }, "seats[1].bot: not a string"},
        {"ranks strings",
         [](json& r) {
             r["result"]["ranks"] = {"1", "2"};
         },
         "result.ranks[0]: not a number"},
        {"ranks a number", [](json& r) { r["result"]["ranks"] = 1; }, "result.ranks: not an array"},
        {"ranks short", [](json& r) { r["result"]["ranks"] = {1}; },
         "result.ranks: not one per seat"},
        {"huge rank", [](json& r) { r["result"]["ranks"][0] = 4294967295U; },
         "result.ranks[0]: 4294967295 is out of range 1..2"},
        {"negative score", [](json& r) { r["result"]["scores"][1] = -1; },
         "result.scores[1]: -1 is out of range 0..1000000"},
        {"time_ms x", [](json& r) { r["moves"][0]["time_ms"] = "x"; },
         "moves[0].time_ms: not a number"},
        {"time limit past 32 bits", [](json& r) { r["limits"]["time_ms"] = 4294968296U; },
         "limits.time_ms: 4294968296 is out of range 1..4294967295"},
        {"time a fraction", [](json& r) { r["moves"][1]["time_ms"] = 1e10; },
         "moves[1].time_ms: not an integer"},
        {"move of seat 3", [](json& r) { r["moves"][0]["seat"] = 3; },
         "moves[0].seat: 3 is out of range 1..2"},
        {"seat numbered out of order", [](json& r) { r["seats"][0]["seat"] = 2; },
         "seats[0].seat: 2 is out of range 1..1"},
        {"disqualification seat \"1\"",
         [](json& r) {
             r["disqualifications"] = {{{"seat", "1"}, {"at_move", 0}, {"reason", "x"}}};
         },
         "disqualifications[0].seat: not a number"},
        {"disqualification after the last move",
         [](json& r) {
             r["disqualifications"] = {{{"seat", 1}, {"at_move", 3}, {"reason", "x"}}};
         },
         "disqualifications[0].at_move: 3 is out of range 0..2"},
        {"result.end 7", [](json& r) { r["result"]["end"] = 7; }, "result.end: not a string"},
        {"result.end unknown", [](json& r) { r["result"]["end"] = "won"; },
         "result.end: \"won\" is not final, aborted or server_failed"},
        {"a change of two numbers",
         [](json& r) {
             r["moves"][0]["changes"][0] = {0, 0};
         },
         "moves[0].changes[0]: not [x, y, token]"},
        {"a long name", [](json& r) { r["seats"][0]["bot"] = std::string(70000, 'x'); },
         "seats[0].bot: a text of 70000 bytes, more than 65536"},
        {"a sandbox string", [](json& r) { r["seats"][0]["sandbox"] = "x"; },
         "seats[0].sandbox: not an object"},
        {"sandbox a string", [](json& r) { r["sandbox"] = "yes"; }, "sandbox: not true or false"},
        {"stopped_by a number",
         [](json& r) {
             r["seats"][0]["sandbox"] = {{"stopped_by", 5}};
         },
         "seats[0].sandbox.stopped_by: not a string"},
        {"map null", [](json& r) { r["map"] = nullptr; }, "map: not an object"},
        {"other format", [](json& r) { r["format"] = "reversi-match-0"; },
         "not a match record of the format \"reversi-match-1\""},
        {"placeholder", [](json& r) { r = json::object(); },
         "not a match record of the format \"reversi-match-1\""},
        {"256 seats",
         [](json& r) {
             r["seats"] = json::array();
             r["seats"][255] = 0;
         },
         "seats: 256 items, more than 255"},
    };
    for (const auto& c : cases) {
        json document = makeRecord("r1", {"a", "b"}, {1, 2});
        c.change(document);
        MatchRecord record;
        std::string error;
        const bool read = MatchRecord::fromJson(document, "r1.json", record, error);
        EXPECT_EQ(read ? "" : error, c.fault.empty() ? "" : "r1.json: " + c.fault) << c.what;
        if (read) {
            EXPECT_EQ(record.toJson(), document) << c.what;
        }
    }
}

TEST(MatchRecord, ReadsTheLimitThatStoppedABotInsideItsSandbox) {
    json document = makeRecord("r1", {"a", "b"}, {1, 2});
    document["seats"][1]["sandbox"] = {{"jailed", true}, {"stopped_by", "too many processes"}};
    // Where no runner writes it: ignored, as every unknown key is.
    document["seats"][0]["stopped_by"] = "exceeded its memory limit";
    MatchRecord record;
    std::string error;
    ASSERT_TRUE(MatchRecord::fromJson(document, "r1.json", record, error)) << error;
    EXPECT_FALSE(record.seats[0].stoppedBy.has_value());
    EXPECT_EQ(record.seats[1].stoppedBy.value_or(""), "too many processes");
    EXPECT_EQ(record.toJson()["seats"][1]["sandbox"], document["seats"][1]["sandbox"]);
}

TEST(MatchRecord, BytesThatAreNotUtf8AreReplacedAndSaidSo) {
    const std::string fffd = "\xEF\xBF\xBD";
    const struct {
        std::string given;
        std::string kept;
    } texts[] = {
        {"plain", "plain"},
        {"\xE2\x82\xAC and \xF0\x9F\x98\x80", "\xE2\x82\xAC and \xF0\x9F\x98\x80"},
        {"a\xFF", "a" + fffd},
        {"\xC0\xAF", fffd + fffd},                       // overlong '/'
        {"\xED\xA0\x80", fffd + fffd + fffd},            // a surrogate
        {"\xE2\x82", fffd + fffd},                       // cut short
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // past U+10FFFF
        {"\x80x", fffd + "x"},
    };
    for (const auto& t : texts) {
        json document = makeRecord("r1", {"a", "b"}, {1, 2});
        document["map"]["text"] = t.given;
        document["seats"][1]["command"] = t.given;
        const bool changed = t.given != t.kept;
        EXPECT_EQ(MatchRecord::repairText(document), changed) << t.given;
        EXPECT_EQ(document["map"]["text"], t.kept);
        EXPECT_EQ(document["seats"][1]["command"], t.kept);
        const json warnings = document.value("warnings", json::array());
        EXPECT_EQ(warnings, changed ? json::array({"bytes that are not UTF-8 were replaced by "
                                                   "U+FFFD in map.text, seats[1].command"})
                                    : json::array());
        // Written and read back like any record; a second repair finds nothing.
        const std::string text = document.dump(1);
        MatchRecord record;
        std::string error;
        EXPECT_TRUE(MatchRecord::fromJson(json::parse(text), "r1.json", record, error)) << error;
        EXPECT_FALSE(MatchRecord::repairText(document));
    }
}

TEST(MatchRecord, ARecordBuiltInMemoryIsRepairedSummedUpAndBlamed) {
    MatchRecord record;
    std::string error;
    ASSERT_TRUE(
        MatchRecord::fromJson(makeRecord("r1", {"a\xFF", "b"}, {2, 1}), "r1", record, error))
        << error;
    EXPECT_TRUE(record.repairText());
    EXPECT_EQ(record.seats[0].bot, "a\xEF\xBF\xBD");
    EXPECT_EQ(record.warnings,
              std::vector<std::string>{"bytes that are not UTF-8 were replaced by U+FFFD in "
                                       "seats[0].bot, seats[0].command"});
    EXPECT_FALSE(record.repairText());

    const struct {
        MatchEnd end;
        std::optional<unsigned> silentSeat;
        bool disqualified;
        std::string summary;
        bool nobodysFault;
    } cases[] = {
        {MatchEnd::Final, std::nullopt, false, "a\xEF\xBF\xBD 8, b 9", false},
        {MatchEnd::Final, std::nullopt, true, "a\xEF\xBF\xBD disqualified, b 9", false},
        {MatchEnd::Aborted, 2u, false, "aborted: why", false},
        {MatchEnd::Aborted, std::nullopt, false, "aborted: why", true},
        {MatchEnd::ServerFailed, std::nullopt, false, "server_failed: why", true},
    };
    for (const auto& c : cases) {
        MatchRecord r = record;
        r.result.end = c.end;
        r.result.silentSeat = c.silentSeat;
        r.result.reason = "why";
        if (c.disqualified) {
            r.result.scores[0].reset();
        }
        EXPECT_EQ(r.summary(), c.summary);
        EXPECT_EQ(r.nobodysFault(), c.nobodysFault) << c.summary;
    }
    EXPECT_EQ(record.lineup(), "a\xEF\xBF\xBD, b");
    for (const char* name : {"final", "aborted", "server_failed"}) {
        EXPECT_STREQ(MatchRecord::endName(MatchRecord::endNamed(name).value()), name);
    }
    EXPECT_FALSE(MatchRecord::endNamed("Final"));
}

TEST(MatchRecord, WideTieLoadsAndWritesBackByteEqual) {
    std::vector<std::string> bots;
    for (int k = 0; k < 66; ++k) {
        bots.push_back(k == 0 ? "__proto__" : "bot" + std::to_string(k));
    }
    const json document = makeRecord("tie", bots, std::vector<unsigned>(66, 1));
    MatchRecord record;
    std::string error;
    ASSERT_TRUE(MatchRecord::fromJson(document, "tie.json", record, error)) << error;
    EXPECT_EQ(record.text(), document.dump(1) + '\n');
    EXPECT_EQ(record.seats[0].bot, "__proto__");
}

TEST(MatchRecord, FilesThatAreNotRecordsAreRefusedWithoutReadingThemWhole) {
    TempDir dir;
    dir.write("cut.json", makeRecord("cut", {"a", "b"}, {1, 2}).dump().substr(0, 100));
    dir.write("deep.json", std::string(100000, '[') + std::string(100000, ']'));
    dir.write("shallow.json", std::string(64, '[') + std::string(64, ']'));
    ASSERT_EQ(mkfifo((dir.path() + "/fifo.json").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.path() + "/zero.json");
    std::filesystem::resize_file(dir.write("big.json", ""), RecordsFolder::MAX_RECORD_BYTES + 1);
    dir.write("r1.json", makeRecord("r1", {"a", "b"}, {1, 2}).dump());
    // Brackets inside texts are no nesting, escaped quotes do not end a text.
    dir.write("brackets.json",
              makeRecord("brackets", {"\"" + std::string(100, '[') + "\\", "{{"}, {1, 2}).dump());

    EXPECT_EQ(readFault(dir, "cut.json"), "cut.json: not valid JSON (truncated?)");
    EXPECT_EQ(readFault(dir, "deep.json"), "deep.json: nested more than 64 deep");
    EXPECT_EQ(readFault(dir, "shallow.json"),
              "shallow.json: not a match record of the format \"reversi-match-1\"");
    EXPECT_EQ(readFault(dir, "fifo.json"), "fifo.json: not a regular file");
    EXPECT_EQ(readFault(dir, "zero.json"), "zero.json: not a regular file");
    EXPECT_EQ(readFault(dir, "big.json"), "big.json: larger than 67108864 bytes");
    EXPECT_EQ(readFault(dir, "r1.json"), "");
    EXPECT_EQ(readFault(dir, "brackets.json"), "");
}

TEST(RecordsFolder, ListsRecordsOnlyAndReadsAMatchByItsId) {
    TempDir dir;
    const RecordsFolder folder(dir.path());
    MatchRecord record;
    std::string error;
    ASSERT_TRUE(MatchRecord::fromJson(makeRecord("r1", {"a", "b"}, {1, 2}), "r1", record, error));
    ASSERT_TRUE(folder.write("r1", record, error)) << error;
    dir.write("plan.json", "{}");
    dir.write("r2.json", "{}");
    dir.write("r3.json.tmp.12.0", "{");
    dir.write("notes.txt", "");
    std::filesystem::create_directory(dir.path() + "/sub.json");
    EXPECT_EQ(folder.list(), (std::vector<std::string>{"r1.json", "r2.json"}));

    EXPECT_TRUE(folder.readMatch("r1", record, error)) << error;
    // A placeholder, a missing record and a record under another id need the match replayed.
    EXPECT_FALSE(folder.readMatch("r2", record, error));
    EXPECT_FALSE(folder.readMatch("r4", record, error));
    std::filesystem::copy_file(dir.path() + "/r1.json", dir.path() + "/r5.json");
    EXPECT_FALSE(folder.readMatch("r5", record, error));
    EXPECT_EQ(error, "r5.json: id: \"r1\", not \"r5\"");
    EXPECT_FALSE(folder.write("../r6", record, error));
    EXPECT_TRUE(folder.fileOf("a/b").empty());

    // Only a temporary file old enough to be a dead writer's is removed.
    dir.write("r7.json.tmp.12.1", "{");
    std::filesystem::last_write_time(dir.path() + "/r3.json.tmp.12.0",
                                     std::filesystem::file_time_type::clock::now() -
                                         std::chrono::hours(1));
    EXPECT_EQ(folder.removeStaleTemporaries(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/r3.json.tmp.12.0"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/r7.json.tmp.12.1"));
}

namespace {

/// The text `text` read whole (the nesting-bounded parse, then fromJson): "" and the record
/// written back when it is a record, else the fault.
std::string readWhole(const std::string& text, std::string& written) {
    json document;
    std::string error;
    if (!BoundedFile::parseJson(text, document, error)) {
        return "r1.json: " + error;
    }
    MatchRecord record;
    if (!MatchRecord::fromJson(document, "r1.json", record, error)) {
        return error;
    }
    written = record.text();
    return "";
}

/// The first `from` in `text` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? "(not found: " + from + ")"
                                   : text.replace(at, from.size(), to);
}

} // namespace

TEST(MatchRecord, TextStreamedReadsAsItsWholeDocument) {
    const std::string plain = makeRecord("r1", {"a", "b"}, {1, 2}).dump();
    const auto with = [](const std::function<void(json&)>& change) {
        json document = makeRecord("r1", {"a", "b"}, {1, 2});
        change(document);
        return document.dump();
    };
    const auto nested = [](int arrays) {
        return std::string(static_cast<size_t>(arrays), '[') +
               std::string(static_cast<size_t>(arrays), ']');
    };
    const struct {
        const char* what;
        std::string text;
        std::string fault;
    } cases[] = {
        {"valid, moves before seats", plain, ""},
        {"indented", makeRecord("r1", {"a", "b"}, {1, 2}).dump(1), ""},
        {"no time taken, a time left", with([](json& r) { r["moves"][0].erase("time_ms"); }), ""},
        {"a time taken, none left", with([](json& r) { r["moves"][0].erase("left_ms"); }),
         "moves[0].left_ms: missing"},
        {"phase null", with([](json& r) { r["moves"][1]["phase"] = nullptr; }), ""},
        {"phase 7", with([](json& r) { r["moves"][1]["phase"] = 7; }),
         "moves[1].phase: not a string"},
        {"unknown members of any shape", with([](json& r) {
             r["moves"][0]["note"] = {{"a", {1, -2, 3.5, nullptr, true}}};
         }),
         ""},
        {"move of seat 3", with([](json& r) { r["moves"][0]["seat"] = 3; }),
         "moves[0].seat: 3 is out of range 1..2"},
        {"move of seat 0", with([](json& r) { r["moves"][1]["seat"] = 0; }),
         "moves[1].seat: 0 is out of range 1..2"},
        {"an earlier fault first", with([](json& r) {
             r["moves"][0]["seat"] = 3;
             r["id"] = 1;
         }),
         "id: not a string"},
        {"seats faulty, moves read", with([](json& r) { r["seats"][0]["log"] = nullptr; }),
         "seats[0].log: not a string"},
        {"x past 16 bits", with([](json& r) { r["moves"][0]["x"] = 65536; }),
         "moves[0].x: 65536 is out of range 0..65535"},
        {"n negative", with([](json& r) { r["moves"][0]["n"] = -1; }),
         "moves[0].n: -1 is out of range 0..4294967295"},
        {"choice a fraction", with([](json& r) { r["moves"][0]["choice"] = 0.5; }),
         "moves[0].choice: not an integer"},
        {"no changes", with([](json& r) { r["moves"][1].erase("changes"); }),
         "moves[1].changes: missing"},
        {"a change of four", with([](json& r) { r["moves"][0]["changes"][0].push_back(1); }),
         "moves[0].changes[0]: 4 items, more than 3"},
        {"a long token", with([](json& r) { r["moves"][0]["changes"][0][2] = "12345"; }),
         "moves[0].changes[0][2]: a text of 5 bytes, more than 4"},
        {"too many changes", with([](json& r) {
             r["moves"][0]["changes"] = json::array();
             for (size_t i = 0; i <= MatchRecord::MAX_CHANGES; ++i) {
                 r["moves"][0]["changes"].push_back({0, 0, "1"});
             }
         }),
         "moves[0].changes: 2501 items, more than 2500"},
        {"a move not an object", with([](json& r) { r["moves"][1] = {1}; }),
         "moves[1]: not an object"},
        {"moves not a list", with([](json& r) { r["moves"] = "none"; }), "moves: not an array"},
        {"no moves", with([](json& r) { r.erase("moves"); }), "moves: missing"},
        {"a member twice, the last kept", replaced(plain, "\"x\":1,", "\"x\":\"a\",\"x\":1,"), ""},
        {"a member twice, the last faulty", replaced(plain, "\"x\":1,", "\"x\":1,\"x\":\"a\","),
         "moves[0].x: not a number"},
        {"moves twice, the last kept", replaced(plain, "\"moves\":", "\"moves\":7,\"moves\":"), ""},
        {"64 deep in a move", replaced(plain, "\"n\":1,", "\"z\":" + nested(61) + ",\"n\":1,"), ""},
        {"65 deep in a move", replaced(plain, "\"n\":1,", "\"z\":" + nested(62) + ",\"n\":1,"),
         "nested more than 64 deep"},
        {"a byte that is not UTF-8", replaced(plain, "\"build\"", "\"b\xFF\""),
         "not valid JSON (truncated?)"},
        {"text after the record", plain + " x", "not valid JSON (truncated?)"},
        {"a list", "[" + plain + "]", "not a match record of the format \"reversi-match-1\""},
    };
    for (const auto& c : cases) {
        std::string whole;
        EXPECT_EQ(readWhole(c.text, whole), c.fault.empty() ? "" : "r1.json: " + c.fault) << c.what;
        MatchRecord record;
        std::string error;
        const bool read = MatchRecord::fromText(c.text, "r1.json", record, error);
        EXPECT_EQ(read ? "" : error, c.fault.empty() ? "" : "r1.json: " + c.fault) << c.what;
        if (read) {
            EXPECT_EQ(record.text(), whole) << c.what;
        }
    }
}
