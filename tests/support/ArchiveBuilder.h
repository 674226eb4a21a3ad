// Builds DAT archives in memory for tests, on the archive writer: entries are laid out as
// header, data, directory; any field can be overridden afterwards to make a broken one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct BuilderEntry {
    std::string name;  // up to 128 bytes; exactly 128 leaves no NUL in the field
    std::string bytes; // what is stored in the archive for it
    std::uint32_t realSize = 0;
    std::uint32_t packedSize = 0;
    std::uint32_t fourthValue = 0;
    std::optional<std::uint32_t> dataOffset; // where the layout puts it, unless set
};

class ArchiveBuilder {
public:
    BuilderEntry& AddStored(std::string name, std::string_view content);
    BuilderEntry& AddPacked(std::string name, std::string_view content, int level = 6);
    BuilderEntry& AddRaw(std::string name, std::string bytes, std::uint32_t realSize,
                         std::uint32_t packedSize);

    std::optional<std::uint32_t> identifier;
    std::optional<std::uint32_t> directoryOffset;
    std::optional<std::uint32_t> directorySize;
    std::string trailer; // bytes appended after the directory

    std::vector<BuilderEntry>& Entries() { return entries_; }
    std::string Build() const;

    // A zlib stream (header, deflate data, Adler-32) of content.
    static std::string Zlib(std::string_view content, int level = 6);
    // Raw directory record bytes, for building archives by hand.
    static std::string Record(std::string_view name, std::uint32_t offset, std::uint32_t real,
                              std::uint32_t packed, std::uint32_t fourth = 0);
    static void PutLE32(std::string& out, std::uint32_t value);

private:
    std::vector<BuilderEntry> entries_;
};
