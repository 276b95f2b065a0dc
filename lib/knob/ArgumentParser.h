#pragma once
// The command-line parser: argument sets, the parse of the tokens, and the help text.
// Including this header gives the whole library.

#include "knob/Argument.h"
#include "knob/ArgumentConstraint.h"
#include "knob/ArgumentSet.h"
#include "knob/BaseArgument.h"
#include "knob/Exceptions.h"
#include "knob/SwitchArgument.h"
#include "knob/TypedArgument.h"
#include "knob/ValueAcceptor.h"
#include "knob/ValueArgument.h"
#include "knob/VariableArgument.h"

#include <string>
#include <string_view>
#include <vector>

namespace knob {

/// Starts a group of short flags.
inline constexpr std::string_view flagStart = "-";
/// Starts a long name.
inline constexpr std::string_view nameStart = "--";
/// Separates a long name from its value in the same token.
inline constexpr char nameDelim = '=';
/// A token that ends option parsing; every later token is positional.
inline constexpr std::string_view skip = "--";

/// Holds copies of the arguments handed to it, grouped in titled sets; the caller reads the
/// results from its own argument objects, which share counters and variables with the copies.
class ArgumentParser {
public:
    /// One empty set "Arguments"; no program name.
    ArgumentParser();
    virtual ~ArgumentParser() = default;

    /// Appends the set after those already present.
    ArgumentParser& add(ArgumentSet set);
    /// Adds a copy of an argument or constraint to the first set.
    ArgumentParser& add(const BaseArgument& arg);

    /// Takes argv[0] as program name unless one is set, and parses argv[1] to argv[argc - 1].
    void parse(int argc, const char* const* argv);
    /// Parses the tokens, then checks every set. Values are stored as each token is read, and
    /// are not undone by a later refusal. Throws a knob::exception (or whatever a check callback
    /// throws) on the first refusal.
    void parse(const std::vector<std::string>& tokens);

    /// Usage line and the arguments of every non-empty set, descriptions in one column.
    std::string help() const;

    /// The first argument of that long name, flag, or the first positional one, that can take
    /// another occurrence; failing that the last one that matches; nullptr when none matches.
    /// The pointer is valid while the parser's sets are unchanged.
    const Argument* findArg(const std::string& name) const;
    const Argument* findArg(char flag) const;
    const Argument* findArg() const;

    /// Hands a value text to a valued argument. Throws std::logic_error for an argument that
    /// takes no value; the count is checked only after the parse.
    void set_arg_value(const Argument* arg, const std::string& text) const;

private:
    template <class Match> const Argument* findFirst(Match matches) const;
    void takeValue(const Argument* arg, const std::vector<std::string>& tokens, size_t& next) const;

    std::vector<ArgumentSet> m_argSets;
    ArgumentSet m_constraints;
    std::string m_programName;
};

} // namespace knob
