#include "Logging.h"
#include "Network.h"
#include "Server.h"

int main(int argc, const char* const* argv) {
    Server server;
    if (!server.init(argc, argv)) {
        return 1;
    }
    if (!TcpSocket::initialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to initialize network";
        return 1;
    }
    const bool played = server.run();
    if (!TcpSocket::deinitialize()) {
        LOG(Logging::loggerNetwork, lumber::FATAL) << "Failed to deinitialize network";
    }
    return played ? 0 : 1;
}
