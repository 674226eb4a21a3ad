// libFuzzer entry point for the preview harness.
#include "PreviewHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckPreviewInput(data, size);
    return 0;
}
