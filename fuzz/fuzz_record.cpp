// libFuzzer target: the match record reader, and ratings from what it accepts.

#include "FuzzArenaEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::recordReader(data, size);
    return 0;
}
