#pragma once
// Refusals of a command line. The message of each is the text shown to the user.

#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace knob {

class Argument;
class BaseArgument;

/// Root of every refusal; also thrown by check callbacks to reject a value.
class exception : public std::exception {
public:
    explicit exception(std::string what);
    const char* what() const noexcept override;

protected:
    std::string m_what;
};

/// The command line itself is malformed.
class command_error : public exception {
public:
    explicit command_error(std::string what);
};

/// No argument matches a token.
class unknown_argument : public command_error {
public:
    /// A positional token while no argument is positional.
    unknown_argument();
    explicit unknown_argument(char flag);
    explicit unknown_argument(const std::string& name);
};

/// A refusal concerning one argument; keeps a plain copy of it.
class argument_error : public exception {
public:
    explicit argument_error(const Argument& arg);
    argument_error(const Argument& arg, const std::string& reason);
    argument_error(const argument_error& other);
    argument_error(argument_error&&) noexcept;
    ~argument_error() override;

    const Argument& arg() const { return *m_arg; }

private:
    std::unique_ptr<Argument> m_arg;
};

/// The argument occurred fewer or more times than allowed.
class argument_count_mismatch : public argument_error {
public:
    argument_count_mismatch(const Argument& arg, unsigned count, unsigned expected);
};

/// The value text could not be converted.
class argument_invalid_value : public argument_error {
public:
    argument_invalid_value(const Argument& arg, const std::string& value);
};

/// The argument takes a value and none followed it.
class argument_missing_value : public argument_error {
public:
    explicit argument_missing_value(const Argument& arg);
};

/// The argument takes no value and was given one inline.
class argument_no_value : public argument_error {
public:
    explicit argument_no_value(const Argument& arg);
};

/// A constraint between arguments is broken; lists the usages of the members concerned.
class constraint_error : public exception {
public:
    constraint_error(const std::string& reason, const std::vector<const BaseArgument*>& args);
};

} // namespace knob
