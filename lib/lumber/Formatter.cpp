#include "lumber/Formatter.h"

namespace lumber {

std::string Formatter::format(const EntryContext& context, const std::string& message) const {
    std::string text = levelName(context.level);
    text += " - ";
    text += message;
    text += '\n';
    return text;
}

} // namespace lumber
