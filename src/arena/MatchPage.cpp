#include "MatchPage.h"

#include "RecordFile.h"

#include "WebAssets.h"

#include <nlohmann/json.hpp>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

constexpr std::string_view kRecordFormat = "reversi-match-1";

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

std::string MatchPage::checkRecord(std::string_view text) {
    const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
    if (record.is_discarded()) {
        return "not valid JSON, perhaps cut short";
    }
    if (!record.is_object() || record.value("format", "") != kRecordFormat) {
        return "not a match record of the format \"" + std::string(kRecordFormat) + "\"";
    }
    if (!record.contains("map") || !record["map"].is_object() || !record["map"].contains("text") ||
        !record["map"]["text"].is_string()) {
        return "a record without a map text";
    }
    if (!record.contains("seats") || !record["seats"].is_array()) {
        return "a record without seats";
    }
    if (!record.contains("moves") || !record["moves"].is_array()) {
        return "a record without moves";
    }
    return {};
}

bool MatchPage::writeAtomically(const std::string& path, const std::string& text,
                                std::string& error) {
    if (path == "-") {
        std::cout << text << std::flush;
        return static_cast<bool>(std::cout);
    }
    return RecordFile::writeText(path, text, error);
}

bool MatchPage::writeFile(const std::string& recordPath, const std::string& outPath,
                          std::string& error) {
    std::ifstream in(recordPath, std::ios::binary);
    if (!in) {
        error = "cannot read " + recordPath + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!writeAtomically(outPath, build(text.str()), error)) {
        return false;
    }
    const std::string fault = checkRecord(text.str());
    if (!fault.empty()) {
        error = recordPath + " is " + fault + "; the page shows the fault instead of a match";
        return false;
    }
    return true;
}
