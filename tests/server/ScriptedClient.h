#pragma once
// A client of the match server that follows a fixed script on its own thread and records
// every message it receives as a short text.

#include "Protocol.h"
#include "ServerProcess.h"
#include "Types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

/// The client's answer to one move request.
struct Answer {
    enum class Kind {
        Move,          // a MOVE message with x, y and choice
        WrongType,     // a group id message instead of a move
        CorruptHeader, // a MOVE header announcing 4 payload bytes instead of 5
        Close,         // closes the connection without answering
    };
    Kind kind = Kind::Move;
    uint16_t x = 0;
    uint16_t y = 0;
    MoveChoice choice = MoveChoice::NONE;
    /// Pause before answering.
    unsigned delayMsecs = 0;

    static Answer move(uint16_t x, uint16_t y, MoveChoice choice = MoveChoice::NONE,
                       unsigned delayMsecs = 0);
    static Answer wrongType() { return Answer{Kind::WrongType}; }
    static Answer corruptHeader() { return Answer{Kind::CorruptHeader}; }
    static Answer close() { return Answer{Kind::Close}; }
};

/// Texts recorded for the messages received:
///   "GAMEBOARD", "PLAYERNUM p", "MOVEREQUEST time depth", "MOVEANNOUNCE x y choice player",
///   "DISQUALIFICATION p", "TERMINAL", "FIN", and "closed" when the connection ended (or a
///   message could not be read), "silent" when nothing came for 20 seconds.
/// The client stops after "closed", "silent" or after closing on its own.
class ScriptedClient {
public:
    /// A client that sends groupId after connecting and then answers the move requests in
    /// order with answers; it closes its connection when the answers run out.
    ScriptedClient(uint8_t groupId, std::vector<Answer> answers);
    /// Joins the thread (the server must be gone or still talking by then).
    ~ScriptedClient();
    ScriptedClient(const ScriptedClient&) = delete;
    ScriptedClient& operator=(const ScriptedClient&) = delete;

    /// Sends a move instead of the group id.
    void sendMoveAsGroupId() { m_moveAsGroupId = true; }
    /// Resets the connection (the server's next send fails) right after receiving the
    /// message whose text is message.
    void resetAfter(std::string message) { m_resetAfter = std::move(message); }

    /// Connects to the port on host, in the calling thread, so that the order of calls is
    /// the order of connections. False when no connection came about.
    bool connect(uint16_t port, const std::string& host = "::1");
    /// Follows the script on a thread of its own.
    void start();
    /// Waits until the script has ended.
    void join();

    // Results, to be read after join().

    const std::vector<std::string>& messages() const { return m_messages; }
    /// Milliseconds from start() to the arrival of each message, in step with messages().
    const std::vector<long long>& arrivals() const { return m_arrivals; }
    /// The time field of every move request, in order.
    const std::vector<uint32_t>& requestTimes() const { return m_requestTimes; }
    /// The map text of the GAMEBOARD message.
    const std::string& mapText() const { return m_mapText; }

private:
    void run();
    void answer(const Answer& answer);

    uint8_t m_groupId;
    std::vector<Answer> m_answers;
    bool m_moveAsGroupId = false;
    std::string m_resetAfter;
    std::unique_ptr<ProtoClient> m_proto;
    /// The socket under m_proto, owned by it.
    class ResettableClient* m_socket = nullptr;
    std::thread m_thread;
    std::vector<std::string> m_messages;
    std::vector<long long> m_arrivals;
    std::vector<uint32_t> m_requestTimes;
    std::string m_mapText;
};

/// The text of the message of type `type` that `proto` has just received, as the transcripts
/// above name it; "unexpected N" for a type that no client is sent.
std::string transcriptLine(const ProtoClient& proto, MsgType type);

/// Connects the clients in the given order to port and starts them; false when one of them
/// could not connect.
bool connectAndStart(const std::vector<ScriptedClient*>& clients, uint16_t port);

/// Starts the server with the map and args (plus "-b" and a free port), connects the clients
/// in order and starts them, and returns the outcome once the server has ended (killed after
/// 30 seconds) and every client has finished.
ServerResult playMatch(const std::string& map, std::vector<std::string> args,
                       const std::vector<ScriptedClient*>& clients);
