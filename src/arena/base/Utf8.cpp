#include "Utf8.h"

namespace {

/// The length of the well-formed sequence that starts at `at`, or 0 when the byte there
/// starts none (RFC 3629's table: the second byte's range depends on the first).
size_t sequenceAt(const std::string& text, size_t at) {
    const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        return 1;
    }
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;
        high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

bool Utf8::valid(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at);
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

bool Utf8::repair(std::string& text) {
    if (valid(text)) {
        return false;
    }
    std::string out;
    out.reserve(text.size() + 16);
    for (size_t at = 0; at < text.size();) {
        const size_t length = sequenceAt(text, at);
        if (length == 0) {
            out += REPLACEMENT;
            ++at;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    text = std::move(out);
    return true;
}

std::string Utf8::repaired(std::string text) {
    repair(text);
    return text;
}
