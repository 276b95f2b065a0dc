// libFuzzer's two entry points for one of the entries of FuzzEntries.h or FuzzArenaEntries.h:
// the build compiles this file once per target, with REVERSI_FUZZ_ENTRY naming the entry (see
// CMakeLists.txt).

#include "FuzzArenaEntries.h"
#include "FuzzEntries.h"

#ifndef REVERSI_FUZZ_ENTRY
#error "REVERSI_FUZZ_ENTRY names the fuzzing:: entry that this target drives"
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietLogging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::REVERSI_FUZZ_ENTRY(data, size);
    return 0;
}
