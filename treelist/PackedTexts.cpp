// Single-block storage of a row's texts; see PackedTexts.h.
#include "PackedTexts.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

std::uint32_t readOffset(const char* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void writeOffset(char* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}

} // namespace

PackedTexts::PackedTexts(std::size_t count, std::string_view first) {
    if (count == 0)
        count = 1;
    rebuild(count, [&](std::size_t i) { return i == 0 ? first : std::string_view(); });
}

PackedTexts::PackedTexts(const PackedTexts& other) {
    if (other.m_block) {
        const std::size_t bytes = other.blockBytes();
        m_block = new char[bytes];
        std::memcpy(m_block, other.m_block, bytes);
    }
}

PackedTexts& PackedTexts::operator=(const PackedTexts& other) {
    if (this != &other) {
        PackedTexts copy(other);
        std::swap(m_block, copy.m_block);
    }
    return *this;
}

PackedTexts& PackedTexts::operator=(PackedTexts&& other) noexcept {
    std::swap(m_block, other.m_block);
    return *this;
}

PackedTexts::~PackedTexts() {
    delete[] m_block;
}

std::size_t PackedTexts::size() const {
    return m_block ? readOffset(m_block) : 0;
}

const char* PackedTexts::chars() const {
    return m_block + sizeof(Offset) * (size() + 1);
}

PackedTexts::Offset PackedTexts::endOf(std::size_t i) const {
    return readOffset(m_block + sizeof(Offset) * (i + 1));
}

std::string_view PackedTexts::operator[](std::size_t i) const {
    if (i >= size())
        return {};
    const Offset begin = i == 0 ? 0 : endOf(i - 1);
    return std::string_view(chars() + begin, endOf(i) - begin);
}

std::size_t PackedTexts::blockBytes() const {
    const std::size_t count = size();
    return m_block ? sizeof(Offset) * (count + 1) + (count ? endOf(count - 1) : 0) : 0;
}

template <typename TextAt> void PackedTexts::rebuild(std::size_t count, TextAt textAt) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i)
        total += textAt(i).size();
    // Offsets are 32-bit to keep the block small; nothing a list shows comes near the limit.
    if (count >= std::numeric_limits<Offset>::max() || total > std::numeric_limits<Offset>::max())
        throw std::length_error("PackedTexts: texts too long");

    char* block = count ? new char[sizeof(Offset) * (count + 1) + total] : nullptr;
    if (block) {
        writeOffset(block, static_cast<Offset>(count));
        char* out = block + sizeof(Offset) * (count + 1);
        Offset end = 0;
        for (std::size_t i = 0; i < count; ++i) {
            // textAt may read from the old block, which stays alive until the swap below.
            const std::string_view text = textAt(i);
            if (!text.empty())
                std::memcpy(out + end, text.data(), text.size());
            end += static_cast<Offset>(text.size());
            writeOffset(block + sizeof(Offset) * (i + 1), end);
        }
    }
    std::swap(m_block, block);
    delete[] block;
}

void PackedTexts::set(std::size_t i, std::string_view text) {
    const std::size_t count = std::max(size(), i + 1);
    rebuild(count, [&](std::size_t k) { return k == i ? text : (*this)[k]; });
}

void PackedTexts::insert(std::size_t i, std::string_view text) {
    const std::size_t old = size();
    if (i > old)
        i = old;
    rebuild(old + 1, [&](std::size_t k) {
        return k < i ? (*this)[k] : k == i ? text : (*this)[k - 1];
    });
}

void PackedTexts::resize(std::size_t count) {
    if (count != size())
        rebuild(count, [&](std::size_t k) { return (*this)[k]; });
}

void PackedTexts::clear() {
    delete[] m_block;
    m_block = nullptr;
}
