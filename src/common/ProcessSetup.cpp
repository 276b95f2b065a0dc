#include "ProcessSetup.h"

#include <csignal>

void ignoreBrokenPipeSignal() {
    std::signal(SIGPIPE, SIG_IGN);
}
