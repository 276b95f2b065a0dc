// libFuzzer target: the argument parser, its description markup and its help text.

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietLogging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::argumentParser(data, size);
    return 0;
}
