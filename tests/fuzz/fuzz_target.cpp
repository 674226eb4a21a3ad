// libFuzzer entry point for the archive harness.
#include "FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckArchiveInput(data, size);
    return 0;
}
