#include "RecordFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

bool RecordFile::write(const std::string& path, const nlohmann::json& document,
                       std::string& error) {
    return writeText(path, document.dump(1) + '\n', error);
}

bool RecordFile::writeText(const std::string& path, const std::string& text, std::string& error) {
    // A name of its own per writer: matches played at once never share a temporary file.
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(serial++);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            // Someone removed the folder while it was empty: GNU parallel's --cleanup does
            // that on a worker that runs several matches at once. The temporary file in it
            // keeps it from going again before the rename.
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
            out.open(temp, std::ios::binary | std::ios::trunc);
        }
        out << text;
        out.close();
        if (!out) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

bool RecordFile::read(const std::string& path, nlohmann::json& document, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    document = nlohmann::json::parse(text.str(), nullptr, false);
    if (document.is_discarded()) {
        error = "not valid JSON (truncated?)";
        return false;
    }
    return true;
}
