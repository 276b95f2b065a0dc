// libFuzzer target: the message receive path, bytes fed through a connected socket pair.

#include "FuzzEntries.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzing::quietLogging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::protocolReceive(data, size);
    return 0;
}
