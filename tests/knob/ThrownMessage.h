#pragma once

#include "knob/ArgumentParser.h"

#include <string>

/// The message of the exception of type E that `call` throws, or "" when it returns normally.
/// Any other exception escapes to the test.
template <class E = knob::exception, class Call> std::string thrownMessage(const Call& call) {
    try {
        call();
    } catch (const E& e) {
        return e.what();
    }
    return "";
}
