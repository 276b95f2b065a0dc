#include "Network.h"
#include "Server.h"

int main(int argc, const char* const* argv) {
    Server server;
    if (!server.init(argc, argv)) {
        return 1;
    }
    return TcpSocket::runWithNetwork([&server] { return server.run(); });
}
