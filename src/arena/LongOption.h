#pragma once
// A valued option known by a long name (and optionally a flag), never taken from a bare word.

#include "knob/VariableArgument.h"

#include <string>

/// knob makes an argument without markup positional, and an alias does not change that; the
/// arena's options with names such as "match-timeout" must only be given by name.
template <class T> class LongOption : public knob::VariableArgument<T> {
public:
    LongOption(std::string description, T& variable, const std::string& name, std::string valueName,
               char flag = 0)
        : knob::VariableArgument<T>(std::move(description), variable) {
        this->m_isPositional = false;
        this->alias(name);
        if (flag != 0) {
            this->alias(flag);
        }
        this->valuename(std::move(valueName));
    }
};
