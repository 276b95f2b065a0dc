#include "Client.h"
#include "Logging.h"
#include "Network.h"

int main(int argc, const char* const* argv) {
    Client client;
    if (!client.init(argc, argv)) {
        return 1;
    }
    if (!TcpSocket::initialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to initialize network";
        return 1;
    }
    const bool played = client.run();
    if (!TcpSocket::deinitialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to deinitialize network";
    }
    return played ? 0 : 1;
}
