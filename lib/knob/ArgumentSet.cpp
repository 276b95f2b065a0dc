#include "knob/ArgumentSet.h"

namespace knob {

ArgumentSet::ArgumentSet(std::string name) : m_name(std::move(name)) {
    set_required(false);
}

// Copies and moves rebuild the flattened list: it points into the members of one set only.
ArgumentSet::ArgumentSet(const ArgumentSet& other)
    : ArgumentConstraint<Any>(other), m_name(other.m_name) {}

ArgumentSet::ArgumentSet(ArgumentSet&& other) noexcept
    // Moves the base part only; m_name is still other's own.
    : ArgumentConstraint<Any>(static_cast<ArgumentConstraint<Any>&&>(other)),
      m_name(std::move(other.m_name)) {
    other.m_args.clear();
    other.m_updateArgs = true;
}

ArgumentSet& ArgumentSet::operator=(ArgumentSet other) noexcept {
    ArgumentConstraint<Any>::operator=(static_cast<ArgumentConstraint<Any>&&>(other));
    m_name = std::move(other.m_name);
    m_args.clear();
    m_updateArgs = true;
    return *this;
}

std::unique_ptr<BaseArgument> ArgumentSet::clone() const& {
    return std::make_unique<ArgumentSet>(*this);
}

std::unique_ptr<BaseArgument> ArgumentSet::clone() && {
    return std::make_unique<ArgumentSet>(std::move(*this));
}

const std::vector<const Argument*>& ArgumentSet::args() const {
    if (m_updateArgs) {
        m_args.clear();
        find_all_arguments(m_args);
        m_updateArgs = false;
    }
    return m_args;
}

void ArgumentSet::addMember(const BaseArgument& member) {
    ArgumentConstraint<Any>::addMember(member);
    m_updateArgs = true;
}

} // namespace knob
