#pragma once

#include "lumber/Sink.h"

#include <ostream>

namespace lumber {

/// Writes each entry to a stream and flushes. Uses a stream of its own on the target's buffer,
/// so the target's formatting state does not matter and is not changed.
class StreamSink : public Sink {
public:
    explicit StreamSink(std::ostream& target);
    static SinkPtr create(std::ostream& target);

    void logEntry(const std::string& text) override;

private:
    std::ostream os;
};

} // namespace lumber
