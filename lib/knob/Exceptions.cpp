#include "knob/Exceptions.h"

#include "knob/Argument.h"

namespace knob {

exception::exception(std::string what) : m_what(std::move(what)) {}

const char* exception::what() const noexcept {
    return m_what.c_str();
}

command_error::command_error(std::string what) : exception(std::move(what)) {}

unknown_argument::unknown_argument() : command_error("No positional arguments are supported") {}

unknown_argument::unknown_argument(char flag)
    : command_error(std::string("The flag argument ") + flag + " is unknown") {}

unknown_argument::unknown_argument(const std::string& name)
    : command_error("The named argument " + name + " is unknown") {}

// The usage is taken from the real argument: the plain copy would lose its value name.
argument_error::argument_error(const Argument& arg)
    : exception("Argument " + arg.usage()), m_arg(std::make_unique<Argument>(arg)) {}

argument_error::argument_error(const Argument& arg, const std::string& reason)
    : exception("Argument " + arg.usage() + " " + reason), m_arg(std::make_unique<Argument>(arg)) {}

argument_error::argument_error(const argument_error& other)
    : exception(other), m_arg(std::make_unique<Argument>(*other.m_arg)) {}

argument_error::argument_error(argument_error&&) noexcept = default;

argument_error::~argument_error() = default;

argument_count_mismatch::argument_count_mismatch(const Argument& arg, unsigned count,
                                                 unsigned expected)
    : argument_error(arg) {
    if (count < expected) {
        m_what += expected < 2
                      ? " is required"
                      : " is required to occur at least " + std::to_string(expected) + " times";
    } else {
        m_what += expected < 2 ? " can only be set once"
                               : " can occur at most " + std::to_string(expected) + " times";
    }
}

argument_invalid_value::argument_invalid_value(const Argument& arg, const std::string& value)
    : argument_error(arg, "does not accept the value " + value) {}

argument_missing_value::argument_missing_value(const Argument& arg)
    : argument_error(arg, "requires a value") {}

argument_no_value::argument_no_value(const Argument& arg)
    : argument_error(arg, "does not accept a value") {}

constraint_error::constraint_error(const std::string& reason,
                                   const std::vector<const BaseArgument*>& args)
    : exception(reason) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (i != 0) {
            m_what += ' ';
        }
        m_what += args[i]->usage();
    }
}

} // namespace knob
