#pragma once
// The arena's reading of a map file: bounded, so that a device or a pipe never stalls it.

#include <cstddef>
#include <string>

class Map;

/// The arena reads a map before the server does (for seats, time-outs and the replay), so it
/// needs a regular file of bounded size; the server's own reading is not this one.
class MapFile {
public:
    /// Largest map file the arena reads. A 50 x 50 map with every transition is far smaller.
    static constexpr size_t MAX_BYTES = size_t{1} << 20;

    /// Reads the file with the model's map reader, naming the map after `path`. False with the
    /// reason (for example "/dev/zero: not a regular file") when the file cannot be read; true
    /// otherwise, the map valid or not (the model's verdict is map.isValid()).
    static bool read(const std::string& path, Map& map, std::string& error);
    /// The same where only a usable map matters: false when unreadable or invalid.
    static bool load(const std::string& path, Map& map);
};
