// Stored names as text to show. Names are bytes in no declared encoding: Latin-1 by default,
// where every byte is some character, or a code page the user names (glibc's iconv). The window's
// list and boxes, vdat and anything else that shows a name read it here.
#pragma once

#include <cstddef>
#include <functional>
#include <iconv.h>
#include <string>
#include <string_view>
#include <vector>

// A stored byte read as Latin-1, appended in UTF-8.
inline void AppendLatin1(unsigned char byte, std::string& out) {
    if (byte < 0x80) {
        out.push_back(char(byte));
    } else {
        out.push_back(char(0xC0 | (byte >> 6)));
        out.push_back(char(0x80 | (byte & 0x3F)));
    }
}

class NameReader {
public:
    NameReader() = default; // Latin-1
    ~NameReader();
    NameReader(const NameReader&) = delete;
    NameReader& operator=(const NameReader&) = delete;

    // Reads names in codePage from now on; false (errno set) when iconv does not know it.
    bool Open(const std::string& codePage);
    bool IsCodePage() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    const std::string& CodePage() const { return codePage_; }

    // The name in UTF-8, whole or not at all: false with the system's error number when a byte
    // does not convert in the code page. Latin-1 always converts.
    bool Read(std::string_view name, std::string& out, int& error);

private:
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
    std::string codePage_;
};

// The name in UTF-8, read as Latin-1.
std::string Latin1Name(std::string_view name);

// Every entry's name read once by a reader: a name that does not convert keeps its stored bytes
// and its error number, so it can be shown and refused by name.
struct ReadNames {
    std::vector<std::string> text;
    std::vector<int> errors; // 0 where the name converted

    static ReadNames Of(std::size_t count,
                        const std::function<std::string_view(std::size_t)>& stored,
                        NameReader& reader);
};
