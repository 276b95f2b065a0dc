#include "PlayLine.h"

#include <climits>
#include <filesystem>
#include <unistd.h>

namespace {

constexpr const char* PLAIN = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                              "0123456789/._-+=:,@";

std::string refusal(const std::string& what, const std::string& path) {
    return what + " \"" + path +
           "\" holds a blank or a character that a shell or a job runner reads otherwise; " +
           "the lines of a plan are split at blanks: use a path made of letters, digits and " +
           "/ . _ - + = : , @ only";
}

} // namespace

bool PlayLine::plainWord(const std::string& word) {
    return !word.empty() && word.find_first_not_of(PLAIN) == std::string::npos;
}

bool PlayLine::prepare(const std::string& dir, std::string& error, const char* what) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        error = "cannot find the path of this arena program";
        return false;
    }
    m_program.assign(self, static_cast<size_t>(n));
    std::string absolute = std::filesystem::absolute(dir).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/') {
        absolute.pop_back();
    }
    m_dir = absolute;
    if (!plainWord(m_program)) {
        error = refusal("the arena program", m_program);
        return false;
    }
    if (!plainWord(m_dir)) {
        error = refusal(what, m_dir);
        return false;
    }
    return true;
}

bool PlayLine::line(const std::string& id, std::string& out, std::string& error) const {
    if (!plainWord(id)) {
        error = refusal("the match id (made from the map's file name)", id);
        return false;
    }
    out = m_program + " play " + m_dir + ' ' + id;
    return true;
}
