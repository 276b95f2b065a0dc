#pragma once
// Interface of the arguments that take a value text.

#include <string>

namespace knob {

class ValueAcceptor {
public:
    virtual ~ValueAcceptor() = default;
    /// Converts and stores the text and records one occurrence; throws a knob exception when
    /// the text is refused.
    virtual void set(const std::string& text) const = 0;
};

} // namespace knob
