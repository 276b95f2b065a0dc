#include "ConfigWatch.h"

#include <csignal>
#include <sys/stat.h>

namespace {

volatile std::sig_atomic_t s_hangup = 0;

void onHangup(int) {
    s_hangup = 1;
}

} // namespace

ConfigWatch::ConfigWatch(std::string file) : m_file(std::move(file)), m_stamp(stamp()) {}

void ConfigWatch::catchHangups() {
    struct sigaction action {};
    action.sa_handler = onHangup;
    sigemptyset(&action.sa_mask);
    sigaction(SIGHUP, &action, nullptr);
}

std::string ConfigWatch::stamp() const {
    struct stat st {};
    if (stat(m_file.c_str(), &st) != 0) {
        return "missing";
    }
    // An editor that saves by renaming a new file over the old changes the inode; one that
    // writes in place changes the times and perhaps the size.
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
           std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
           std::to_string(st.st_ctim.tv_nsec);
}

bool ConfigWatch::due() {
    const bool hangup = s_hangup != 0;
    s_hangup = 0;
    const std::string now = stamp();
    const bool changed = now != m_stamp;
    m_stamp = now;
    return hangup || changed;
}
