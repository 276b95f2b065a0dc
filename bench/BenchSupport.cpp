#include "BenchSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace bench {

namespace {

constexpr unsigned SIDE = 50;
constexpr unsigned ACCEPT_MSECS = 5000;

// Stones of two players in the classic 2 x 2 cross, which gives both of them moves.
void cross(std::vector<std::string>& grid, unsigned x, unsigned y, char a, char b) {
    grid[y * SIDE + x] = a;
    grid[y * SIDE + x + 1] = b;
    grid[(y + 1) * SIDE + x] = b;
    grid[(y + 1) * SIDE + x + 1] = a;
}

} // namespace

std::string largeEightPlayerMap() {
    std::vector<std::string> grid(SIDE * SIDE, "0");
    // Crosses of every pair of neighbours in turn order, spread over the board.
    const char players[] = "12345678";
    unsigned pair = 0;
    for (unsigned y = 3; y + 2 < SIDE; y += 7) {
        for (unsigned x = 3; x + 2 < SIDE; x += 7) {
            cross(grid, x, y, players[pair % 8], players[(pair + 1) % 8]);
            ++pair;
        }
    }
    // A hole pattern and special squares off the crosses.
    for (unsigned i = 0; i < SIDE; i += 9) {
        grid[i * SIDE + (i + 5) % SIDE] = "-";
        grid[((i + 1) % SIDE) * SIDE + (i + 20) % SIDE] = "c";
        grid[((i + 2) % SIDE) * SIDE + (i + 30) % SIDE] = "i";
        grid[((i + 4) % SIDE) * SIDE + (i + 40) % SIDE] = "b";
        grid[((i + 6) % SIDE) * SIDE + (i + 12) % SIDE] = "x";
    }
    std::ostringstream text;
    text << "8\n3\n2 2\n" << SIDE << " " << SIDE << "\n";
    for (unsigned y = 0; y < SIDE; ++y) {
        for (unsigned x = 0; x < SIDE; ++x) {
            text << (x ? " " : "") << grid[y * SIDE + x];
        }
        text << "\n";
    }
    // The top edge joined to the bottom edge, and the left edge to the right edge, in places.
    for (unsigned k = 10; k < SIDE; k += 10) {
        text << k << " 0 0 <-> " << k << " " << SIDE - 1 << " 4\n";
        text << "0 " << k << " 6 <-> " << SIDE - 1 << " " << k << " 2\n";
    }
    return text.str();
}

std::string classicMap() {
    return "2\n0\n0 0\n8 8\n"
           "0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 1 2 0 0 0\n"
           "0 0 0 2 1 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0\n";
}

std::vector<Move> recordGame(const Map& map) {
    std::vector<Move> moves;
    Game game(map, false);
    while (!game.is_final()) {
        Move move;
        if (!game.calcNextMove(move, false) || !game.makeMove(move)) {
            std::cerr << "recordGame: the game got stuck" << std::endl;
            std::abort();
        }
        moves.push_back(move);
    }
    return moves;
}

uint16_t freePort() {
    const int probe = ::socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin6_port);
}

DrainedPeers::DrainedPeers(unsigned count) {
    TcpServer listener;
    const uint16_t port = freePort();
    if (!listener.open_port(port)) {
        std::cerr << "DrainedPeers: no port" << std::endl;
        std::abort();
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (unsigned i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            std::cerr << "DrainedPeers: no connection" << std::endl;
            std::abort();
        }
        m_clientFds.push_back(fd);
        TcpSocket* accepted = listener.accept(ACCEPT_MSECS);
        if (accepted == nullptr) {
            std::cerr << "DrainedPeers: nothing to accept" << std::endl;
            std::abort();
        }
        m_endpoints.emplace_back(new ProtoClient(accepted));
    }
    listener.close();
    m_drainer = std::thread([this] { drain(); });
}

DrainedPeers::~DrainedPeers() {
    m_stop = true;
    m_drainer.join();
    m_endpoints.clear();
    for (const int fd : m_clientFds) {
        ::close(fd);
    }
}

void DrainedPeers::drain() {
    std::vector<pollfd> entries;
    for (const int fd : m_clientFds) {
        entries.push_back(pollfd{fd, POLLIN, 0});
    }
    char buffer[1 << 16];
    while (!m_stop) {
        // A short poll limit lets the destructor stop the thread promptly.
        if (::poll(entries.data(), entries.size(), 10) <= 0) {
            continue;
        }
        for (pollfd& entry : entries) {
            if (entry.revents & POLLIN) {
                (void)::recv(entry.fd, buffer, sizeof buffer, MSG_DONTWAIT);
            }
        }
    }
}

} // namespace bench
