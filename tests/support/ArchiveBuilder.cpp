// In-memory archive building.
#include "ArchiveBuilder.h"

#include <algorithm>
#include <stdexcept>
#include <zlib.h>

void ArchiveBuilder::PutLE32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

std::string ArchiveBuilder::Zlib(std::string_view content, int level) {
    uLongf size = compressBound(content.size());
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(content.data()), content.size(), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

std::string ArchiveBuilder::Record(std::string_view name, std::uint32_t offset, std::uint32_t real,
                                   std::uint32_t packed, std::uint32_t fourth) {
    std::string out(128, '\0');
    std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 128), out.begin());
    PutLE32(out, offset);
    PutLE32(out, real);
    PutLE32(out, packed);
    PutLE32(out, fourth);
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
    std::string data;
    std::vector<std::uint32_t> offsets;
    for (const BuilderEntry& e : entries_) {
        offsets.push_back(std::uint32_t(12 + data.size()));
        data += e.bytes;
    }
    const auto dirOffset = std::uint32_t(12 + data.size());
    std::string out;
    PutLE32(out, identifier.value_or(0x54414456));
    PutLE32(out, directoryOffset.value_or(dirOffset));
    PutLE32(out, directorySize.value_or(std::uint32_t(entries_.size() * 144)));
    out += data;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const BuilderEntry& e = entries_[i];
        out += Record(e.name, e.dataOffset.value_or(offsets[i]), e.realSize, e.packedSize,
                      e.fourthValue);
    }
    out += trailer;
    return out;
}
