#include "TeamToken.h"

#include <array>
#include <sodium.h>

namespace {

constexpr size_t tokenBytes = 32;
constexpr size_t hashBytes = crypto_generichash_BYTES;

std::string toHex(const unsigned char* bytes, size_t size) {
    std::string hex(size * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

std::array<unsigned char, hashBytes> digest(const std::string& token) {
    std::array<unsigned char, hashBytes> out{};
    crypto_generichash(out.data(), out.size(), reinterpret_cast<const unsigned char*>(token.data()),
                       token.size(), nullptr, 0);
    return out;
}

} // namespace

bool TeamToken::init() {
    return sodium_init() >= 0;
}

std::string TeamToken::generate() {
    std::array<unsigned char, tokenBytes> bytes{};
    randombytes_buf(bytes.data(), bytes.size());
    return toHex(bytes.data(), bytes.size());
}

std::string TeamToken::hash(const std::string& token) {
    const auto out = digest(token);
    return toHex(out.data(), out.size());
}

bool TeamToken::matches(const std::string& token, const std::string& storedHash) {
    std::array<unsigned char, hashBytes> stored{};
    size_t length = 0;
    if (sodium_hex2bin(stored.data(), stored.size(), storedHash.data(), storedHash.size(), nullptr,
                       &length, nullptr) != 0 ||
        length != stored.size()) {
        return false;
    }
    const auto given = digest(token);
    return sodium_memcmp(given.data(), stored.data(), stored.size()) == 0;
}
