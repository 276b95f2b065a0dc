#include "FolderDigest.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sodium.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t CHUNK = size_t{64} * 1024;

struct Entry {
    std::string path;
    fs::file_type type = fs::file_type::unknown;
};

/// Lists at most MAX_ENTRIES + 1 entries, sorted by path, so the digest does not depend on the
/// order the file system lists them in.
bool list(const std::string& dir, std::vector<Entry>& out, std::string& error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec) {
        error = "cannot read the folder " + dir + ": " + ec.message();
        return false;
    }
    for (; it != fs::recursive_directory_iterator() && out.size() <= FolderDigest::MAX_ENTRIES;
         it.increment(ec)) {
        if (ec) {
            break;
        }
        out.push_back(
            {fs::relative(it->path(), dir, ec).generic_string(), it->symlink_status(ec).type()});
    }
    std::sort(out.begin(), out.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    return true;
}

/// Adds a file's content to the digest, at most `budget` bytes of it; false when cut short.
bool addContent(crypto_generichash_state& state, const std::string& file, std::uint64_t& budget) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(CHUNK);
    while (in && budget > 0) {
        in.read(buffer.data(),
                static_cast<std::streamsize>(std::min<std::uint64_t>(CHUNK, budget)));
        const auto got = static_cast<size_t>(in.gcount());
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(buffer.data()),
                                  got);
        budget -= got;
    }
    return budget > 0 || in.peek() == std::ifstream::traits_type::eof();
}

void addText(crypto_generichash_state& state, const std::string& text) {
    // The length first, so that no two sequences of texts hash alike.
    const std::string framed = std::to_string(text.size()) + ":" + text;
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(framed.data()),
                              framed.size());
}

} // namespace

bool FolderDigest::of(const std::string& dir, std::string& digest, bool& truncated,
                      std::string& error) {
    truncated = false;
    std::vector<Entry> entries;
    if (sodium_init() < 0 || !list(dir, entries, error)) {
        error = error.empty() ? "libsodium did not start" : error;
        return false;
    }
    truncated = entries.size() > MAX_ENTRIES;
    entries.resize(std::min<size_t>(entries.size(), MAX_ENTRIES));
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES);
    std::uint64_t budget = MAX_BYTES;
    for (const Entry& e : entries) {
        addText(state, e.path);
        addText(state, std::to_string(static_cast<int>(e.type)));
        const std::string full = (fs::path(dir) / e.path).string();
        std::error_code ec;
        if (e.type == fs::file_type::symlink) {
            addText(state, fs::read_symlink(full, ec).string());
        } else if (e.type == fs::file_type::regular) {
            addText(state, std::to_string(fs::file_size(full, ec)));
            truncated = !addContent(state, full, budget) || truncated;
        }
    }
    unsigned char hash[crypto_generichash_BYTES];
    crypto_generichash_final(&state, hash, sizeof hash);
    char hex[2 * crypto_generichash_BYTES + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    digest = hex;
    return true;
}
