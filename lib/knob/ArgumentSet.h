#pragma once
// A titled group of arguments, listed together in the help text.

#include "knob/ArgumentConstraint.h"

#include <string>
#include <vector>

namespace knob {

/// An Any constraint with a title; never required itself.
class ArgumentSet : public ArgumentConstraint<Any> {
public:
    explicit ArgumentSet(std::string name);
    template <class... Members>
    ArgumentSet(std::string name, const BaseArgument& first, const Members&... rest)
        : ArgumentSet(std::move(name)) {
        add(first, rest...);
    }
    ArgumentSet(const ArgumentSet& other);
    ArgumentSet(ArgumentSet&& other) noexcept;
    ArgumentSet& operator=(ArgumentSet other) noexcept;

    std::unique_ptr<BaseArgument> clone() const& override;
    std::unique_ptr<BaseArgument> clone() && override;

    const std::string& name() const { return m_name; }
    /// Every argument of the set, nested constraints expanded, in order. The pointers stay
    /// valid until members are added or the set is copied, moved or destroyed.
    const std::vector<const Argument*>& args() const;

protected:
    void addMember(const BaseArgument& member) override;

private:
    std::string m_name;
    // A cache of the members' arguments, rebuilt on demand after members were added.
    mutable std::vector<const Argument*> m_args;
    mutable bool m_updateArgs = true;
};

} // namespace knob
