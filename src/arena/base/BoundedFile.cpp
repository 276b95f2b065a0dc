#include "BoundedFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Closes the descriptor when the read ends, however it ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

bool BoundedFile::read(const std::string& path, size_t maxBytes, std::string& text,
                       std::string& error) {
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
        error = "larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    text.clear();
    text.reserve(static_cast<size_t>(info.st_size));
    // The file may grow while it is read: stop one byte past the bound.
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::string("cannot read: ") + std::strerror(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > maxBytes) {
            error = "larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
    }
}

bool BoundedFile::parseJson(const std::string& text, nlohmann::json& document, std::string& error) {
    bool tooDeep = false;
    // An array or object that starts at depth d is nested d + 1 deep. Once one is too deep,
    // nothing more is kept: the parser goes on to the end without building anything.
    const auto keep = [&tooDeep](int depth, nlohmann::json::parse_event_t event, nlohmann::json&) {
        if ((event == nlohmann::json::parse_event_t::object_start ||
             event == nlohmann::json::parse_event_t::array_start) &&
            depth >= MAX_DEPTH) {
            tooDeep = true;
        }
        return !tooDeep;
    };
    document = nlohmann::json::parse(text, keep, false);
    if (tooDeep) {
        document = nullptr;
        error = "nested more than " + std::to_string(MAX_DEPTH) + " deep";
        return false;
    }
    if (document.is_discarded()) {
        error = "not valid JSON (truncated?)";
        return false;
    }
    return true;
}

bool BoundedFile::readJson(const std::string& path, size_t maxBytes, nlohmann::json& document,
                           std::string& error) {
    std::string text;
    return read(path, maxBytes, text, error) && parseJson(text, document, error);
}
