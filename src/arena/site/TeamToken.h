#pragma once
// The secret a team proves itself with: made at random, kept only as a hash.

#include <string>

/// Tokens are 32 random bytes from libsodium, written as 64 hexadecimal digits, shown once to
/// the organiser who hands them to the team. Only their BLAKE2b hash is stored: a token has
/// 256 bits of entropy, so a slow password hash would add cost and no safety.
class TeamToken {
public:
    /// Initialises libsodium; false when it cannot run (no source of randomness).
    static bool init();
    /// A new random token.
    static std::string generate();
    /// The hash to store for a token (hexadecimal).
    static std::string hash(const std::string& token);
    /// Whether `token` hashes to `storedHash`, compared in constant time.
    static bool matches(const std::string& token, const std::string& storedHash);
};
