#include "knob/BaseArgument.h"

namespace knob {

BaseArgument& BaseArgument::set_required(bool required) {
    m_required = required;
    return *this;
}

} // namespace knob
