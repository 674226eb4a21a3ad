// Decoding of the archive's header and directory records.
#include "ArchiveFormat.h"

#include <cstring>

std::string_view DirectoryEntry::Name() const {
    const void* nul = std::memchr(name.data(), '\0', name.size());
    std::size_t length = nul ? static_cast<const char*>(nul) - name.data() : name.size();
    return {name.data(), length};
}

ArchiveHeader DecodeHeader(const unsigned char (&bytes)[kHeaderSize]) {
    return {ReadLE32(bytes), ReadLE32(bytes + 4), ReadLE32(bytes + 8)};
}

void DecodeDirectoryEntry(const unsigned char* bytes, DirectoryEntry& entry) {
    std::memcpy(entry.name.data(), bytes, kNameFieldSize);
    entry.dataOffset = ReadLE32(bytes + 128);
    entry.realSize = ReadLE32(bytes + 132);
    entry.packedSize = ReadLE32(bytes + 136);
    entry.fourthValue = ReadLE32(bytes + 140);
}
