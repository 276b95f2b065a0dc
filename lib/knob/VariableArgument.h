#pragma once
// An argument that takes a value and converts it into a variable of the caller's.

#include "knob/Exceptions.h"
#include "knob/TypedArgument.h"
#include "knob/ValueAcceptor.h"
#include "knob/ValueConversion.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace knob {

/// T is one of double, unsigned short, unsigned int, std::string.
template <class T> class VariableArgument : public TypedArgument<T>, public ValueAcceptor {
public:
    /// variable is not owned and must outlive every copy of the argument.
    VariableArgument(std::string description, T& variable)
        : TypedArgument<T>(std::move(description), &variable) {}
    VariableArgument(std::string description, T* variable)
        : TypedArgument<T>(std::move(description), variable) {}
    /// A named-only option: given as "--name value" (and by any flag or name added later),
    /// never filled from a bare word, whatever its description's markup.
    VariableArgument(std::string description, const std::string& name, T& variable)
        : TypedArgument<T>(std::move(description), name, &variable) {}

    std::unique_ptr<BaseArgument> clone() const& override {
        return std::make_unique<VariableArgument>(*this);
    }
    std::unique_ptr<BaseArgument> clone() && override {
        return std::make_unique<VariableArgument>(std::move(*this));
    }

    /// The word that stands for the value in usage strings ("value" by default).
    VariableArgument& valuename(std::string name) {
        m_valueName = std::move(name);
        return *this;
    }
    const std::string& valuename() const { return m_valueName; }

    bool takes_value() const override { return true; }
    /// A valued argument is only ever given with its value: throws std::logic_error.
    void set() const override { throw std::logic_error("Calling set() on valued argument"); }
    /// Converts the text into the variable (throws argument_invalid_value when refused), runs
    /// the typed check on the new value, then counts the occurrence.
    void set(const std::string& text) const override {
        if (!detail::setValue(text, *this->m_storage)) {
            throw argument_invalid_value(*this, text);
        }
        this->check();
        this->countOccurrence();
    }

    /// "-f value" or "--name value"; a positional argument shows only its value name, with
    /// "..." when it may occur more than once.
    std::string usage() const override {
        std::string result;
        if (!this->m_isPositional) {
            result = Argument::usage() + " ";
        }
        result += m_valueName;
        if (this->m_isPositional && this->m_max != 1) {
            result += "...";
        }
        return result;
    }
    /// The value name for a positional argument, else flag and name.
    std::string ident() const override {
        return this->m_isPositional ? m_valueName : Argument::ident();
    }

private:
    std::string m_valueName = "value";
};

} // namespace knob
