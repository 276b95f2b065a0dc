#pragma once
// An argument bound to a variable of the caller's.

#include "knob/Argument.h"

#include <functional>
#include <memory>
#include <string>

namespace knob {

/// Abstract: the subclasses decide how an occurrence changes the variable.
template <class T> class TypedArgument : public Argument {
public:
    /// Runs on each occurrence with the variable's current value; throws a knob::exception to
    /// refuse it. A callback taking (const Argument&, const T&) converts to this type.
    using TypedArgumentCheckFunc = std::function<void(const TypedArgument<T>&, const T&)>;

    /// variable is not owned and must outlive every copy of the argument.
    TypedArgument(std::string description, T* variable)
        : Argument(std::move(description)), m_storage(variable) {
        m_max = 1;
    }
    TypedArgument(std::string description, const std::string& name, T* variable)
        : Argument(std::move(description), name), m_storage(variable) {
        m_max = 1;
    }

    std::unique_ptr<BaseArgument> clone() const& override = 0;
    std::unique_ptr<BaseArgument> clone() && override = 0;

    using Argument::check;
    /// Runs only the typed callback; the untyped one of Argument is not used here.
    void check() const override {
        if (m_typedCheckFunc) {
            m_typedCheckFunc(*this, *m_storage);
        }
    }
    /// Stores the typed callback; returns this argument.
    virtual TypedArgument& check_typed(TypedArgumentCheckFunc func) {
        m_typedCheckFunc = std::move(func);
        return *this;
    }

    /// The bound variable.
    const T& value() const { return *m_storage; }

protected:
    T* m_storage;
    TypedArgumentCheckFunc m_typedCheckFunc;
};

} // namespace knob
