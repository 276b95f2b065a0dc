#include "Client.h"
#include "Network.h"

int main(int argc, const char* const* argv) {
    Client client;
    if (!client.init(argc, argv)) {
        return 1;
    }
    return TcpSocket::runWithNetwork([&client] { return client.run(); });
}
