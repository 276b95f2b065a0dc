#include "lumber/StreamSink.h"

namespace lumber {

StreamSink::StreamSink(std::ostream& target) : os(target.rdbuf()) {}

SinkPtr StreamSink::create(std::ostream& target) {
    return std::make_shared<StreamSink>(target);
}

void StreamSink::logEntry(const std::string& text) {
    os << text;
    os.flush();
}

} // namespace lumber
