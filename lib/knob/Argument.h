#pragma once
// A single command-line argument: its flags and long names, its occurrence count and bounds.

#include "knob/BaseArgument.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace knob {

class Argument;

/// Runs on each occurrence; throws a knob::exception to refuse it.
using ArgumentCheckFunc = std::function<void(const Argument&)>;

/// A plain flag without value.
///
/// The description may carry markup that names the argument:
///   "&word"  the word is a long name and its first character a flag,
///   "%c"     the character c is a flag,
///   "$word"  the word is a long name.
/// A word runs up to the first character that is not an ASCII letter or digit. A backslash makes
/// a following markup character (or backslash) literal. Markup characters are removed from the
/// description, the words stay. An argument with neither flag nor name is positional.
///
/// Copies share the occurrence counter (and, in subclasses, the bound variable), so the
/// parser's copies report back to the caller's object. Recording occurrences is therefore a
/// const operation.
class Argument : public BaseArgument {
public:
    explicit Argument(std::string description);
    /// Not positional; name is added to the names of the markup.
    Argument(std::string description, std::string name);

    void find_all_arguments(std::vector<const Argument*>& out) const override;
    unsigned count() const override;
    /// Refuses a missing required argument and a count outside [min, max] (max 0: no limit).
    void check_valid() const override;
    /// "-f" for the first flag, else "--name"; throws std::logic_error when positional.
    std::string usage() const override;
    std::unique_ptr<BaseArgument> clone() const& override;
    std::unique_ptr<BaseArgument> clone() && override;

    /// Stores the callback run by check(); returns this argument.
    virtual Argument& check(ArgumentCheckFunc func);
    /// Records one occurrence, then runs check().
    virtual void set() const;
    virtual bool takes_value() const { return false; }
    /// "-f, --name" with whichever of the two exist.
    virtual std::string ident() const;
    /// Runs the check callback, if any.
    virtual void check() const;

    /// Makes the argument named-only: it takes tokens by its flags and names and is never
    /// filled from bare words. An argument without markup is positional until this is called.
    Argument& named_only();
    /// Add a flag and/or a long name; whether the argument is positional is not changed.
    Argument& alias(char flag);
    Argument& alias(std::string name);
    Argument& alias(char flag, std::string name);

    bool matches(char flag) const;
    bool matches(const std::string& name) const;
    /// True when the argument takes positional tokens.
    bool matches() const { return m_isPositional; }
    /// True when another occurrence is within the upper bound.
    bool can_set() const;

    const std::string& description() const { return m_description; }
    unsigned min() const { return m_min; }
    unsigned max() const { return m_max; }
    Argument& min(unsigned n);
    /// 0 means no limit.
    Argument& max(unsigned n);
    /// true: any number of occurrences (max 0); false: at most one (max 1).
    Argument& many(bool many);

protected:
    void countOccurrence() const { ++*m_count; }

    std::string m_flags;
    std::vector<std::string> m_names;
    bool m_isPositional = true;
    std::string m_description;
    std::uint32_t m_min = 1;
    std::uint32_t m_max = 1;
    std::shared_ptr<std::uint32_t> m_count = std::make_shared<std::uint32_t>(0);
    ArgumentCheckFunc m_checkFunc;

private:
    void parse_description();
};

/// Marks the argument required and returns it: parser.add(+arg).
Argument& operator+(Argument& arg);

} // namespace knob
