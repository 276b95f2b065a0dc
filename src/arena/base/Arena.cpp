#include "Arena.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <unistd.h>

namespace {

std::atomic<bool> s_stop{false};

std::string selfDir() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string self(path, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/'));
}

// An installed arena finds reversi-<name> beside itself; one in the build tree finds the
// program in its own folder of the build.
std::string siblingProgram(const std::string& name) {
    const std::string dir = selfDir();
    std::string installed = dir + "/reversi-" + name;
    if (access(installed.c_str(), X_OK) == 0) {
        return installed;
    }
    return dir + "/../" + name + "/" + name;
}

void onInterrupt(int) {
    Arena::requestStop();
}

} // namespace

std::string Arena::serverProgram(const std::string& given) {
    return given.empty() ? siblingProgram("server") : given;
}

std::string Arena::clientProgram(const std::string& given) {
    return given.empty() ? siblingProgram("client") : given;
}

const Logging::Logger& Arena::logger() {
    static const Logging::Logger arena = Logging::getLogger("reversi.arena");
    return arena;
}

void Arena::catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool& Arena::interrupted() {
    static bool flag = false;
    return flag;
}

void Arena::requestStop() {
    s_stop = true;
}

bool Arena::stopRequested() {
    return s_stop;
}
