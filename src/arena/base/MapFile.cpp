#include "MapFile.h"

#include "BoundedFile.h"
#include "Map.h"

#include <sstream>

bool MapFile::read(const std::string& path, Map& map, std::string& error) {
    std::string text;
    if (!BoundedFile::read(path, MAX_BYTES, text, error)) {
        error = path + ": " + error;
        return false;
    }
    std::istringstream in(text);
    map.loadFromStream(in, path);
    return true;
}

bool MapFile::load(const std::string& path, Map& map) {
    std::string error;
    return read(path, map, error) && map.isValid();
}
