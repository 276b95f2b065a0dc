// libFuzzer target: the tournament configuration reader.

#include "FuzzArenaEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::configReader(data, size);
    return 0;
}
