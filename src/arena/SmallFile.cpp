#include "SmallFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/// Closes the descriptor on every path out.
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

/// The deepest nesting of arrays and objects in the text, counted without parsing, so that a
/// hostile document never reaches a recursive step (the writer recurses per level).
size_t nestingDepth(const std::string& text) {
    size_t depth = 0;
    size_t deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

} // namespace

bool SmallFile::read(const std::string& path, size_t maxBytes, std::string& text,
                     std::string& error) {
    text.clear();
    // Without O_NONBLOCK opening a FIFO would wait for a writer.
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        error = std::string("cannot read: ") + std::strerror(errno);
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
    // The size can change while reading: never keep more than the bound.
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::string("cannot read: ") + std::strerror(errno);
            text.clear();
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (text.size() + static_cast<size_t>(n) > maxBytes) {
            error = "larger than " + std::to_string(maxBytes) + " bytes";
            text.clear();
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
}

bool SmallFile::readJson(const std::string& path, nlohmann::json& document, std::string& error) {
    std::string text;
    return read(path, MAX_BYTES, text, error) && parseJson(text, document, error);
}

bool SmallFile::parseJson(const std::string& text, nlohmann::json& document, std::string& error) {
    if (nestingDepth(text) > MAX_JSON_DEPTH) {
        error = "nested deeper than " + std::to_string(MAX_JSON_DEPTH) + " levels";
        return false;
    }
    document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = "not valid JSON (truncated?)";
        return false;
    }
    return true;
}
