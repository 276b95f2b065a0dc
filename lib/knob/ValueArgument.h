#pragma once
// A valued argument that keeps its variable itself.

#include "knob/VariableArgument.h"

#include <memory>
#include <string>

namespace knob {

/// Like VariableArgument, bound to a value-initialised T (0, or the empty string) that the
/// argument and all its copies share: read the parsed value back with value().
template <class T> class ValueArgument : public VariableArgument<T> {
public:
    explicit ValueArgument(std::string description)
        : ValueArgument(std::move(description), std::make_shared<T>()) {}

    std::unique_ptr<BaseArgument> clone() const& override {
        return std::make_unique<ValueArgument>(*this);
    }
    std::unique_ptr<BaseArgument> clone() && override {
        return std::make_unique<ValueArgument>(std::move(*this));
    }

private:
    // The storage must exist before the base is bound to it.
    ValueArgument(std::string description, std::shared_ptr<T> storage)
        : VariableArgument<T>(std::move(description), storage.get()),
          m_ownStorage(std::move(storage)) {}

    std::shared_ptr<T> m_ownStorage;
};

} // namespace knob
