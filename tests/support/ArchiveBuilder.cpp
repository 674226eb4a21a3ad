// In-memory archive building on the archive writer; only the defects are added here.
#include "ArchiveBuilder.h"

#include "ArchiveWriter.h"

#include <stdexcept>

void ArchiveBuilder::PutLE32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

std::string ArchiveBuilder::Zlib(std::string_view content, int level) {
    std::string out;
    if (!CompressZlib(content, level, out))
        throw std::runtime_error("compress2 failed");
    return out;
}

std::string ArchiveBuilder::Record(std::string_view name, std::uint32_t offset, std::uint32_t real,
                                   std::uint32_t packed, std::uint32_t fourth) {
    std::string out(kDirectoryEntrySize, '\0');
    EncodeDirectoryEntry(MakeDirectoryEntry(name, offset, real, packed, fourth),
                         reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

BuilderEntry& ArchiveBuilder::AddStored(std::string name, std::string_view content) {
    return AddRaw(std::move(name), std::string(content), std::uint32_t(content.size()), 0);
}

BuilderEntry& ArchiveBuilder::AddPacked(std::string name, std::string_view content, int level) {
    std::string stream = Zlib(content, level);
    const auto packed = std::uint32_t(stream.size());
    return AddRaw(std::move(name), std::move(stream), std::uint32_t(content.size()), packed);
}

BuilderEntry& ArchiveBuilder::AddRaw(std::string name, std::string bytes, std::uint32_t realSize,
                                     std::uint32_t packedSize) {
    BuilderEntry entry;
    entry.name = std::move(name);
    entry.bytes = std::move(bytes);
    entry.realSize = realSize;
    entry.packedSize = packedSize;
    entries_.push_back(std::move(entry));
    return entries_.back();
}

std::string ArchiveBuilder::Build() const {
    MemoryOutput output;
    ArchiveWriter writer(output);
    for (const BuilderEntry& e : entries_)
        if (!writer.AddEntry(e.name, e.bytes, e.realSize, e.packedSize, e.fourthValue))
            throw std::runtime_error("archive too large to build");
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].dataOffset)
            writer.Directory()[i].dataOffset = *entries_[i].dataOffset;
    if (!writer.Finish())
        throw std::runtime_error("archive too large to build");
    // The header's fields a test asked to be wrong.
    std::string& out = output.Bytes();
    std::string header;
    PutLE32(header, identifier.value_or(kArchiveMagic));
    PutLE32(header, directoryOffset.value_or(ReadLE32(reinterpret_cast<unsigned char*>(&out[4]))));
    PutLE32(header, directorySize.value_or(ReadLE32(reinterpret_cast<unsigned char*>(&out[8]))));
    out.replace(0, kHeaderSize, header);
    out += trailer;
    return out;
}
