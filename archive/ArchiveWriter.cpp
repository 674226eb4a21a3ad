// The archive writer and the record encoding it shares with anyone building archives by hand.
#include "ArchiveWriter.h"

#include "EntryPath.h"
#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <limits>
#include <unistd.h>
#include <zlib.h>

namespace {
void PutLE32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}
} // namespace

bool MemoryOutput::Append(const void* data, std::size_t length) {
    bytes_.append(static_cast<const char*>(data), length);
    return true;
}

bool MemoryOutput::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
    if (offset + length > bytes_.size())
        bytes_.resize(offset + length, '\0');
    std::memcpy(bytes_.data() + offset, data, length);
    return true;
}

bool FileOutput::Append(const void* data, std::size_t length) {
    return WriteAll(fd_, data, length);
}

bool FileOutput::WriteAt(std::uint64_t offset, const void* data, std::size_t length) {
    return WriteAllAt(fd_, data, length, offset);
}

void EncodeHeader(const ArchiveHeader& header, unsigned char (&bytes)[kHeaderSize]) {
    PutLE32(bytes, header.identifier);
    PutLE32(bytes + 4, header.directoryOffset);
    PutLE32(bytes + 8, header.directorySize);
}

void EncodeDirectoryEntry(const DirectoryEntry& entry, unsigned char* bytes) {
    std::memcpy(bytes, entry.name.data(), kNameFieldSize);
    PutLE32(bytes + 128, entry.dataOffset);
    PutLE32(bytes + 132, entry.realSize);
    PutLE32(bytes + 136, entry.packedSize);
    PutLE32(bytes + 140, entry.fourthValue);
}

DirectoryEntry MakeDirectoryEntry(std::string_view name, std::uint32_t dataOffset,
                                  std::uint32_t realSize, std::uint32_t packedSize,
                                  std::uint32_t fourthValue) {
    DirectoryEntry entry{};
    std::copy_n(name.begin(), std::min(name.size(), kNameFieldSize), entry.name.begin());
    entry.dataOffset = dataOffset;
    entry.realSize = realSize;
    entry.packedSize = packedSize;
    entry.fourthValue = fourthValue;
    return entry;
}

const char* EntryNameProblem(std::string_view name) {
    if (name.size() >= kNameFieldSize)
        return "name is 128 bytes or longer";
    if (name.find('\0') != std::string_view::npos)
        return "name holds a NUL byte";
    if (!IsSafeEntryName(name))
        return "name would be refused on extraction";
    return nullptr;
}

bool CompressZlib(std::string_view content, int level, std::string& out) {
    ZlibCompressor compressor(level);
    return compressor.Compress(content, out);
}

namespace {
// libdeflate writes the same zlib streams as zlib's deflate, in one call on the whole entry.
// Its level for each of ours: at the same number it packs game data up to 1.3% worse than zlib,
// one step up within 0.1% of zlib or better, and still faster (docs/performance.md). Level 0
// (tests' streams of stored blocks) stays 0.
constexpr int kLibdeflateLevel[10] = {0, 1, 2, 4, 5, 6, 7, 8, 9, 9};
} // namespace

ZlibCompressor::ZlibCompressor(int level)
    : state_(libdeflate_alloc_compressor(kLibdeflateLevel[std::clamp(level, 0, 9)])) {}

ZlibCompressor::~ZlibCompressor() {
    libdeflate_free_compressor(state_);
}

bool ZlibCompressor::Compress(std::string_view content, std::string& out) {
    if (!state_)
        return false;
    out.resize(libdeflate_zlib_compress_bound(state_, content.size()));
    const std::size_t written =
        libdeflate_zlib_compress(state_, content.data(), content.size(), out.data(), out.size());
    out.resize(written);
    return written != 0;
}

bool EncodeDirectory(
    std::span<const DirectoryEntry> records,
    const std::function<bool(std::uint64_t, const unsigned char*, std::size_t)>& write) {
    constexpr std::size_t kRecordsPerPiece = 1820;
    std::vector<unsigned char> piece(std::min(records.size(), kRecordsPerPiece) *
                                     kDirectoryEntrySize);
    for (std::size_t first = 0; first < records.size(); first += kRecordsPerPiece) {
        const std::size_t count = std::min(kRecordsPerPiece, records.size() - first);
        for (std::size_t k = 0; k < count; ++k)
            EncodeDirectoryEntry(records[first + k], piece.data() + k * kDirectoryEntrySize);
        if (!write(std::uint64_t(first) * kDirectoryEntrySize, piece.data(),
                   count * kDirectoryEntrySize))
            return false;
    }
    return true;
}

bool ArchiveWriter::Start() {
    if (started_)
        return true;
    started_ = true;
    // The header's values are known only at the end; its place is kept now.
    const unsigned char zero[kHeaderSize] = {};
    position_ = kHeaderSize;
    return output_.Append(zero, sizeof zero);
}

bool ArchiveWriter::AddEntry(std::string_view name, std::string_view data, std::uint32_t realSize,
                             std::uint32_t packedSize, std::uint32_t fourthValue) {
    if (!Start())
        return false;
    // The data must start at an offset a record can hold, and so must the directory after it.
    if (position_ + data.size() > kAddressableEnd) {
        overflow_ = true;
        return false;
    }
    directory_.push_back(
        MakeDirectoryEntry(name, std::uint32_t(position_), realSize, packedSize, fourthValue));
    position_ += data.size();
    return output_.Append(data.data(), data.size());
}

bool ArchiveWriter::Finish() {
    if (!Start())
        return false;
    const std::uint64_t directoryBytes = std::uint64_t(directory_.size()) * kDirectoryEntrySize;
    if (directoryBytes > kAddressableEnd) {
        overflow_ = true;
        return false;
    }
    const ArchiveHeader header{kArchiveMagic, std::uint32_t(position_),
                               std::uint32_t(directoryBytes)};
    if (!EncodeDirectory(directory_,
                         [this](std::uint64_t, const unsigned char* bytes, std::size_t length) {
                             return output_.Append(bytes, length);
                         }))
        return false;
    position_ += directoryBytes;
    unsigned char bytes[kHeaderSize];
    EncodeHeader(header, bytes);
    return output_.WriteAt(0, bytes, sizeof bytes);
}
