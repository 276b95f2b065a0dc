#pragma once

#include <string>
#include <string_view>

// One self-contained HTML file for one match record: the page of web/match.html with its
// style sheet, its scripts and the record inlined, so it opens from disk with no network.
class MatchPage {
public:
    // The page for the given record text. The text is embedded as it is (with every "<"
    // escaped, so nothing in it can end the script element): a record that is broken or cut
    // short still gives a page, which names the fault instead of drawing the match.
    static std::string build(std::string_view recordText);

    // Inlines the shared style sheet and the scripts named by <link> and <script src> tags of
    // an embedded page, and puts `json` into its element <script ... id="elementId">.
    static std::string fill(std::string_view pageName, std::string_view elementId,
                            std::string_view json);

    // Reads the record at recordPath and writes its page to outPath ("-": standard output),
    // through a temporary file and a rename. Returns false with a message in `error` when the
    // record cannot be read or the page cannot be written. When the record is not a complete
    // match record, the page is written all the same (it shows the fault), the result is
    // false, and `error` says why.
    static bool writeFile(const std::string& recordPath, const std::string& outPath,
                          std::string& error);

    // Checks that text is a match record the page can show: valid JSON, the record format,
    // a map text, seats and moves. Returns an empty string when it is, else the fault.
    static std::string checkRecord(std::string_view text);

    // Escapes text for a <script type="application/json"> element.
    static std::string escapeJson(std::string_view text);

    // Writes text to path ("-": standard output) through a temporary file and a rename.
    static bool writeAtomically(const std::string& path, const std::string& text,
                                std::string& error);
};
