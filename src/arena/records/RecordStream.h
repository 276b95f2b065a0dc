#pragma once
// A record's text read in one pass: its moves, the bulk of a long match, read into typed moves
// as they go by; the rest kept as a document. Nothing is parsed twice and no document of the
// moves is built.

#include "MatchRecord.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

class RecordStream {
public:
    /// Splits `text` into `moves`, the items of the top-level object's "moves" array, and
    /// `rest`, the document with that array left empty. True only when the text is JSON
    /// nested at most BoundedFile::MAX_DEPTH deep and every move reads without a fault (its
    /// seat checked only to be within 1..MatchRecord::MAX_SEATS, since a record may list its
    /// seats after its moves); each move is then what MatchRecord::fromJson reads from it.
    /// False for anything else, as soon as it is seen: the caller reads the document whole,
    /// which names the fault.
    static bool split(const std::string& text, nlohmann::json& rest,
                      std::vector<RecordMove>& moves);

    // The parser's events; each returns false to stop at the first thing the stream does not
    // take.
    bool null();
    bool boolean(bool value);
    bool number_integer(std::int64_t value);
    bool number_unsigned(std::uint64_t value);
    bool number_float(double value, const std::string& text);
    bool string(std::string& value);
    bool binary(nlohmann::json::binary_t& value);
    bool start_object(std::size_t elements);
    bool key(std::string& value);
    bool end_object();
    bool start_array(std::size_t elements);
    bool end_array();
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error);

private:
    /// Where in the document the next event belongs.
    enum class Place { Rest, MovesKey, Moves, Move, Changes, Change, Skip };
    /// The members of a move, as bits of a set.
    enum Member : unsigned {
        N = 1,
        SEAT = 2,
        X = 4,
        Y = 8,
        CHOICE = 16,
        PHASE = 32,
        TIME = 64,
        LEFT = 128,
        CHANGES = 256,
        OTHER = 0
    };

    RecordStream(nlohmann::json& rest, std::vector<RecordMove>& moves);

    bool enter();
    /// Ends a container of the moves or of a value skipped within one.
    bool leaveMoveContainer();
    /// A value of the rest of the document.
    bool restValue(nlohmann::json value);
    bool restContainer(nlohmann::json value);
    bool restEnd();
    /// A whole number of a move or a change; false when it is not within lo..hi.
    bool moveNumber(std::uint64_t value);
    bool changeNumber(std::uint64_t value);
    bool moveText(std::string& value);
    bool moveNull();
    bool moveContainer(bool array);
    bool endMove();
    static Member memberNamed(const std::string& name);

    nlohmann::json& m_root;
    std::vector<RecordMove>& m_moves;
    int m_depth = 0;
    Place m_place = Place::Rest;
    /// The open containers of the rest, innermost last, and where the next value goes.
    std::vector<nlohmann::json*> m_open;
    nlohmann::json* m_slot = nullptr;
    bool m_sawMoves = false;
    /// The move being read, the members it has, and the member whose value comes next.
    RecordMove m_move;
    unsigned m_members = 0;
    Member m_member = OTHER;
    /// Within a change: how many of its items came; within skipped values: their depth.
    unsigned m_item = 0;
    int m_skipDepth = 0;
};
