// Shared scaffolding of the library tests: recording sinks and one DatArchive wired to them, a
// scratch folder, plus small file and memory helpers.
#pragma once

#include "ArchiveBuilder.h"
#include "DatArchive.h"
#include "Extraction.h"
#include "Recorders.h"
#include "ResourceUse.h"
#include "TempDir.h"

#include <cstdint>
#include <string>
#include <sys/stat.h>

// Recording sinks and one DatArchive wired to them.
struct RecordedArchive {
    MessageRecorder messages;
    ListRecorder list;
    ProgressRecorder progress;
    DatArchive archive{messages, list, progress};
};

struct Harness : RecordedArchive {
    TempDir dir;

    // Writes bytes as an archive file in the scratch folder and returns its path.
    std::string Write(const std::string& bytes, const std::string& name = "test.dat") {
        const std::string path = dir / name;
        WriteFile(path, bytes);
        return path;
    }
    // Opens bytes written as an archive; on success the directory is loaded too.
    bool OpenBytes(const std::string& bytes, const std::string& name = "test.dat") {
        if (!archive.Open(Write(bytes, name)))
            return false;
        return archive.LoadDirectory();
    }
};

// The message every failed open ends in: caption "Error!" and the exact text.
inline RecordedMessage Error(std::string text) {
    return {std::move(text), "Error!"};
}

inline long long FileSizeOf(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_size : -1;
}
