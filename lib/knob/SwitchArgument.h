#pragma once
// A flag that inverts a bool on each occurrence.

#include "knob/TypedArgument.h"

#include <memory>
#include <string>

namespace knob {

/// Each occurrence inverts the bound bool (after the typed check has seen the old value).
/// Without a variable, the switch keeps its own, starting false, shared by its copies.
class SwitchArgument : public TypedArgument<bool> {
public:
    explicit SwitchArgument(std::string description);
    SwitchArgument(std::string description, bool& variable);
    SwitchArgument(std::string description, const std::string& name);
    SwitchArgument(std::string description, const std::string& name, bool& variable);

    std::unique_ptr<BaseArgument> clone() const& override;
    std::unique_ptr<BaseArgument> clone() && override;

    void set() const override;
    bool takes_value() const override { return false; }

private:
    std::shared_ptr<bool> m_ownStorage;
};

} // namespace knob
