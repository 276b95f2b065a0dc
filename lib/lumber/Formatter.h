#pragma once

#include "lumber/EntryContext.h"

#include <memory>
#include <string>

namespace lumber {

/// Turns an entry into the text a sink writes. The plain formatter writes
/// level name, " - ", message and a newline.
class Formatter {
public:
    virtual std::string format(const EntryContext& context, const std::string& message) const;
    virtual ~Formatter() = default;

    std::string operator()(const EntryContext& context, const std::string& message) const {
        return format(context, message);
    }
};

using FormatterPtr = std::shared_ptr<Formatter>;

} // namespace lumber
