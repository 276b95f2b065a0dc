#include "PathArgument.h"

#include "JsonFields.h"
#include "knob/Exceptions.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

/// Bytes of a path a refusal repeats.
constexpr size_t SHOWN_BYTES = 200;

std::string shown(const std::string& path) {
    return "\"" + path.substr(0, SHOWN_BYTES) + (path.size() > SHOWN_BYTES ? "...\"" : "\"");
}

/// The nearest of `path` and its parents that exists, when it is not a folder: writing or
/// making `path` would need it to be one.
std::string fileInTheWay(const fs::path& path) {
    std::error_code ec;
    for (fs::path p = path; !p.empty(); p = p.parent_path()) {
        const fs::file_status status = fs::status(p, ec);
        if (fs::exists(status)) {
            return fs::is_directory(status) ? "" : p.string();
        }
        if (p == p.parent_path()) {
            break;
        }
    }
    return "";
}

} // namespace

void PathArgument::bound(knob::TypedArgument<std::string>& argument, const std::string& name,
                         Kind kind) {
    argument.check_typed([name, kind](const knob::TypedArgument<std::string>&,
                                      const std::string& path) { check(name, path, kind); });
}

void PathArgument::check(const std::string& name, const std::string& path, Kind kind) {
    const std::string refusal = fault(name, path, kind);
    if (!refusal.empty()) {
        throw knob::exception(refusal);
    }
}

std::string PathArgument::fault(const std::string& name, const std::string& path, Kind kind) {
    if (path.empty() || !JsonFields::fitsPath(path)) {
        return name + " must be " + JsonFields::pathBounds();
    }
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    switch (kind) {
    case Kind::Any:
        return "";
    case Kind::ExistingFolder:
        return fs::is_directory(status) ? "" : name + ": " + shown(path) + " is not a folder";
    case Kind::File:
        if (fs::is_directory(status)) {
            return name + ": " + shown(path) + " is a folder, not a file";
        }
        break;
    case Kind::Folder:
        break;
    }
    const fs::path p(path);
    const std::string inTheWay = fileInTheWay(kind == Kind::File ? p.parent_path() : p);
    return inTheWay.empty() ? "" : name + ": " + shown(inTheWay) + " is a file, not a folder";
}
