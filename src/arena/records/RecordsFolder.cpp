#include "RecordsFolder.h"

#include "BoundedFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* TEMPORARY_MARK = ".tmp.";
constexpr const char* RECORD_EXTENSION = ".json";
/// A tournament's plan lives beside its matches, and a folder given to the report may be one.
constexpr const char* PLAN_FILE = "plan.json";
constexpr size_t MAX_NAME_BYTES = 200;

} // namespace

RecordsFolder::RecordsFolder(std::string path) : m_path(std::move(path)) {}

RecordsFolder RecordsFolder::of(const std::string& dir) {
    std::error_code ec;
    const fs::path matches = fs::path(dir) / "matches";
    return RecordsFolder(fs::is_directory(matches, ec) ? matches.string() : dir);
}

std::string RecordsFolder::fileOf(const std::string& name) const {
    const bool plain = !name.empty() && name.size() <= MAX_NAME_BYTES && name[0] != '.' &&
                       name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
    return plain ? (fs::path(m_path) / (name + RECORD_EXTENSION)).string() : std::string();
}

std::vector<std::string> RecordsFolder::list() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(m_path, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeError;
        if (it->path().extension() == RECORD_EXTENSION && name != PLAN_FILE &&
            !it->is_directory(typeError)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool RecordsFolder::read(const std::string& fileName, MatchRecord& record,
                         std::string& error) const {
    const std::string file = (fs::path(m_path) / fileName).string();
    std::string text;
    if (!BoundedFile::read(file, MAX_RECORD_BYTES, text, error)) {
        error = fileName + ": " + error;
        return false;
    }
    return MatchRecord::fromText(text, fileName, record, error);
}

bool RecordsFolder::readMatch(const std::string& id, MatchRecord& record,
                              std::string& error) const {
    const std::string file = fileOf(id);
    if (file.empty()) {
        error = "\"" + id.substr(0, MAX_NAME_BYTES) + "\" is not a match id";
        return false;
    }
    if (!read(fs::path(file).filename().string(), record, error)) {
        return false;
    }
    if (record.id != id) {
        error = id + RECORD_EXTENSION + ": id: \"" + record.id + "\", not \"" + id + "\"";
        return false;
    }
    return true;
}

bool RecordsFolder::write(const std::string& id, const MatchRecord& record,
                          std::string& error) const {
    const std::string file = fileOf(id);
    if (file.empty()) {
        error = "\"" + id.substr(0, MAX_NAME_BYTES) + "\" is not a match id";
        return false;
    }
    return writeText(file, record.text(), error);
}

bool RecordsFolder::isTemporary(const std::string& fileName) {
    return fileName.find(TEMPORARY_MARK) != std::string::npos;
}

unsigned RecordsFolder::removeStaleTemporaries() const {
    unsigned removed = 0;
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(m_path, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileError;
        if (!isTemporary(it->path().filename().string()) || !it->is_regular_file(fileError)) {
            continue;
        }
        const auto written = it->last_write_time(fileError);
        if (!fileError && now - written > std::chrono::seconds(STALE_TEMPORARY_S) &&
            fs::remove(it->path(), fileError)) {
            ++removed;
        }
    }
    return removed;
}

bool RecordsFolder::writeText(const std::string& path, const std::string& text,
                              std::string& error) {
    // A name of its own per writer: matches played at once never share a temporary file.
    static std::atomic<unsigned> serial{0};
    const std::string temp =
        path + TEMPORARY_MARK + std::to_string(getpid()) + "." + std::to_string(serial++);
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            // Someone removed the folder while it was empty: GNU parallel's --cleanup does
            // that on a worker that runs several matches at once. The temporary file in it
            // keeps it from going again before the rename.
            std::error_code ec;
            fs::create_directories(fs::path(path).parent_path(), ec);
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
