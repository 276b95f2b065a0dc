#pragma once
// Redirects an output stream (standard output or error) into a string.

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

/// Everything written to the stream while the object lives goes into text() instead.
class StreamCapture {
public:
    explicit StreamCapture(std::ostream& stream)
        : m_stream(stream), m_old(stream.rdbuf(m_buffer.rdbuf())) {}
    ~StreamCapture() { m_stream.rdbuf(m_old); }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string text() const { return m_buffer.str(); }

private:
    std::ostringstream m_buffer;
    std::ostream& m_stream;
    std::streambuf* m_old;
};
