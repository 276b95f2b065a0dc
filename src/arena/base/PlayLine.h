#pragma once
// The command line that plays one planned match, as a job runner is given it.

#include <string>

/// "ARENA play DIR MATCH_ID", with the arena program and the tournament folder as absolute
/// paths. Every word is a plain word (letters, digits and / . _ - + = : , @), so that the line
/// means the same to a shell, to GNU parallel's --colsep ' ' and in a Slurm script, on every
/// machine that has the same paths: anything else is refused rather than quoted, because
/// quotes would survive --colsep as part of a word.
class PlayLine {
public:
    /// Takes this arena program and DIR's absolute form (not following links, whose targets
    /// may differ between machines); false, with a message naming the path (as `what`, "the
    /// tournament folder" by default), when either is not a plain word.
    bool prepare(const std::string& dir, std::string& error,
                 const char* what = "the tournament folder");
    /// The line for one match; false, with a message, when the id is not a plain word.
    bool line(const std::string& id, std::string& out, std::string& error) const;

    const std::string& program() const { return m_program; }
    const std::string& dir() const { return m_dir; }

    /// Whether the word is nonempty and made of plain characters only.
    static bool plainWord(const std::string& word);

private:
    std::string m_program;
    std::string m_dir;
};
