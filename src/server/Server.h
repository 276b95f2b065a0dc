#pragma once

/// Placeholder until the match server lands.
class Server {
public:
    bool init(int, const char* const*) { return false; }
};
