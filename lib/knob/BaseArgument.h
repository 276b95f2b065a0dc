#pragma once
// Root of everything the parser can hold: single arguments and constraints between them.

#include <memory>
#include <string>
#include <vector>

namespace knob {

class Argument;

class BaseArgument {
public:
    virtual ~BaseArgument() = default;

    /// Appends every Argument reachable from this object, in declaration order.
    virtual void find_all_arguments(std::vector<const Argument*>& out) const = 0;
    /// Number of occurrences seen on the command line.
    virtual unsigned count() const = 0;
    /// Throws a knob exception when the occurrence rules are broken.
    virtual void check_valid() const = 0;
    /// Short form used in the usage line and in messages.
    virtual std::string usage() const = 0;
    /// A new copy; copies share counters and bound variables with the original.
    virtual std::unique_ptr<BaseArgument> clone() const& = 0;
    virtual std::unique_ptr<BaseArgument> clone() && = 0;

    BaseArgument& set_required(bool required);
    bool required() const { return m_required; }
    bool is_set() const { return count() != 0; }
    explicit operator bool() const { return is_set(); }

protected:
    BaseArgument() = default;
    BaseArgument(const BaseArgument&) = default;
    BaseArgument(BaseArgument&&) = default;
    BaseArgument& operator=(const BaseArgument&) = default;
    BaseArgument& operator=(BaseArgument&&) = default;

    bool m_required = false;
};

} // namespace knob
