#include "Server.h"

int main(int argc, const char* const* argv) {
    Server server;
    return server.init(argc, argv) ? 0 : 1;
}
