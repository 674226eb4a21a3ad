// libFuzzer entry point for the mount harness.
#include "MountHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckMountInput(data, size);
    return 0;
}
