// libFuzzer target: the map reader and writer, and a game on every map they accept.

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietLogging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::mapReader(data, size);
    return 0;
}
