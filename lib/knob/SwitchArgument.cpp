#include "knob/SwitchArgument.h"

namespace knob {

// The constructors without a variable bind the base to the switch's own bool once it exists.
SwitchArgument::SwitchArgument(std::string description)
    : TypedArgument<bool>(std::move(description), nullptr),
      m_ownStorage(std::make_shared<bool>(false)) {
    m_storage = m_ownStorage.get();
}

SwitchArgument::SwitchArgument(std::string description, bool& variable)
    : TypedArgument<bool>(std::move(description), &variable) {}

SwitchArgument::SwitchArgument(std::string description, const std::string& name)
    : TypedArgument<bool>(std::move(description), name, nullptr),
      m_ownStorage(std::make_shared<bool>(false)) {
    m_storage = m_ownStorage.get();
}

SwitchArgument::SwitchArgument(std::string description, const std::string& name, bool& variable)
    : TypedArgument<bool>(std::move(description), name, &variable) {}

std::unique_ptr<BaseArgument> SwitchArgument::clone() const& {
    return std::make_unique<SwitchArgument>(*this);
}

std::unique_ptr<BaseArgument> SwitchArgument::clone() && {
    return std::make_unique<SwitchArgument>(std::move(*this));
}

void SwitchArgument::set() const {
    Argument::set();
    *m_storage = !*m_storage;
}

} // namespace knob
