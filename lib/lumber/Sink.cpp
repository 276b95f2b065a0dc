#include "lumber/Sink.h"

namespace lumber {

Sink::Sink() : formatter(std::make_shared<Formatter>()) {}

Sink::Sink(FormatterPtr formatter_) : formatter(std::move(formatter_)) {}

void Sink::log(const EntryContext& context, const std::string& message) {
    if (context.level < level || !formatter) {
        return;
    }
    logEntry((*formatter)(context, message));
}

} // namespace lumber
