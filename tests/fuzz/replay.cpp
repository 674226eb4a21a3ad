// Replays fuzz inputs without libFuzzer, so a corpus runs as an ordinary test on every build:
// each argument is a file or a folder of files, each file one input. Built once per harness:
// the archive's, with VDAT_REPLAY_PREVIEW the preview's, with VDAT_REPLAY_MOUNT the mount's.
#if defined(VDAT_REPLAY_PREVIEW)
#include "PreviewHarness.h"
#define CHECK_INPUT CheckPreviewInput
#define LAST_PEAK LastPreviewPeakHeap
#elif defined(VDAT_REPLAY_MOUNT)
#include "MountHarness.h"
#define CHECK_INPUT CheckMountInput
#define LAST_PEAK LastMountPeakHeap
#else
#include "FuzzHarness.h"
#define CHECK_INPUT CheckArchiveInput
#define LAST_PEAK LastPeakHeap
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        if (fs::is_directory(argv[i], ec)) {
            // Hidden files (a folder's placeholder) are not inputs.
            for (const auto& entry : fs::directory_iterator(argv[i], ec))
                if (entry.is_regular_file() && entry.path().filename().c_str()[0] != '.')
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(argv[i], ec)) {
            inputs.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "replay: no such input '%s'\n", argv[i]);
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...  (replays each file as one input)\n",
                     argv[0]);
        return 2;
    }
    std::sort(inputs.begin(), inputs.end());
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
            return 2;
        }
        CHECK_INPUT(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        std::fprintf(stderr, "replay: %s: %zu bytes, peak heap %zu bytes\n",
                     path.filename().c_str(), bytes.size(), LAST_PEAK());
    }
    std::fprintf(stderr, "replay: %zu inputs, all sound\n", inputs.size());
    return 0;
}
