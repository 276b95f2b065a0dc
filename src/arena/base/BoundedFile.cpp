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

bool BoundedFile::nestedWithin(const std::string& text, int maxDepth) {
    // Brackets inside strings do not count; a backslash in a string hides the byte after it.
    // Text that is not JSON at all is left to the parser to refuse.
    int depth = 0;
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
            if (++depth > maxDepth) {
                return false;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

bool BoundedFile::parseJson(const std::string& text, nlohmann::json& document, std::string& error) {
    // The nesting is checked on the text first, so that the parse itself can be the plain one:
    // the parser's callback form, which could bound it as it goes, takes time growing with the
    // square of a long list.
    document = nullptr;
    if (!nestedWithin(text, MAX_DEPTH)) {
        error = "nested more than " + std::to_string(MAX_DEPTH) + " deep";
        return false;
    }
    document = nlohmann::json::parse(text, nullptr, false);
    if (document.is_discarded()) {
        document = nullptr;
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
