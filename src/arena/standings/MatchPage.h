#pragma once

#include <string>
#include <string_view>

// One self-contained HTML file for one match record: the page of web/match.html with its
// style sheet, its scripts and the record inlined, so it opens from disk with no network.
class MatchPage {
public:
    // The page for the given record text. The text is embedded as it is (with every "<"
    // escaped, so nothing in it can end the script element); a text that is not a record
    // gives a page which names the fault instead of drawing the match.
    static std::string build(std::string_view recordText);

    // Inlines the shared style sheet and the scripts named by <link> and <script src> tags of
    // an embedded page, and puts `json` into its element <script ... id="elementId">.
    static std::string fill(std::string_view pageName, std::string_view elementId,
                            std::string_view json);

    // Reads and checks the record at recordPath (bounded, see RecordsFolder) and writes its
    // page to outPath ("-": standard output) through a temporary file and a rename. Returns
    // false with the fault in `error`, writing nothing, when the record is not a usable match
    // record or when outPath is the record itself.
    static bool writeFile(const std::string& recordPath, const std::string& outPath,
                          std::string& error);

    // Escapes text for a <script type="application/json"> element.
    static std::string escapeJson(std::string_view text);

    // Writes text to path ("-": standard output) through a temporary file and a rename.
    static bool writeAtomically(const std::string& path, const std::string& text,
                                std::string& error);
};
