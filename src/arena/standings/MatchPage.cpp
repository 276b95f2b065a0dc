#include "MatchPage.h"

#include "BoundedFile.h"
#include "MatchRecord.h"
#include "RecordsFolder.h"

#include "WebAssets.h"

#include <nlohmann/json.hpp>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace {

// Replaces the one occurrence of `from` in page by `to`; the embedded pages are ours, so a
// missing tag is a fault of the build, not of the input.
void replaceTag(std::string& page, std::string_view from, std::string_view to) {
    const size_t at = page.find(from);
    assert(at != std::string::npos && "tag missing from an embedded page");
    page.replace(at, from.size(), to);
}

std::string_view asset(std::string_view name) {
    const std::string_view text = WebAssets::find(name);
    assert(!text.empty() && "web file not embedded");
    return text;
}

} // namespace

std::string MatchPage::escapeJson(std::string_view text) {
    // "<" occurs in JSON only inside strings, where \u003c means the same character, so the
    // record stays valid JSON and nothing in it can close the element early.
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '<') {
            out += "\\u003c";
        } else {
            out += c;
        }
    }
    return out;
}

std::string MatchPage::fill(std::string_view pageName, std::string_view elementId,
                            std::string_view json) {
    std::string page(asset(pageName));
    replaceTag(page, "<link rel=\"stylesheet\" href=\"match.css\">",
               "<style>\n" + std::string(asset("match.css")) + "</style>");
    for (const char* script : {"rules.js", "match.js", "report.js"}) {
        const std::string tag = "<script src=\"" + std::string(script) + "\"></script>";
        if (page.find(tag) != std::string::npos) {
            replaceTag(page, tag, "<script>\n" + std::string(asset(script)) + "</script>");
        }
    }
    const std::string empty =
        "<script type=\"application/json\" id=\"" + std::string(elementId) + "\"></script>";
    replaceTag(page, empty,
               "<script type=\"application/json\" id=\"" + std::string(elementId) + "\">" +
                   escapeJson(json) + "</script>");
    return page;
}

std::string MatchPage::build(std::string_view recordText) {
    return fill("match.html", "record", recordText);
}

bool MatchPage::writeAtomically(const std::string& path, const std::string& text,
                                std::string& error) {
    if (path == "-") {
        std::cout << text << std::flush;
        return static_cast<bool>(std::cout);
    }
    return RecordsFolder::writeText(path, text, error);
}

bool MatchPage::writeFile(const std::string& recordPath, const std::string& outPath,
                          std::string& error) {
    std::error_code ec;
    if (outPath != "-" && std::filesystem::equivalent(recordPath, outPath, ec)) {
        error = "the page would overwrite its record " + recordPath + "; name another output";
        return false;
    }
    std::string text;
    MatchRecord record;
    if (!BoundedFile::read(recordPath, RecordsFolder::MAX_RECORD_BYTES, text, error)) {
        error = recordPath + ": " + error;
        return false;
    }
    if (!MatchRecord::fromText(text, recordPath, record, error)) {
        return false;
    }
    return writeAtomically(outPath, build(record.toJson().dump()), error);
}
