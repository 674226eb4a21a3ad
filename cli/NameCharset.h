// Reading stored names in a code page (--charset=CP), through glibc's iconv, into UTF-8.
#pragma once

#include <iconv.h>
#include <string>
#include <string_view>

class NameCharset {
public:
    NameCharset() = default;
    ~NameCharset();
    NameCharset(const NameCharset&) = delete;
    NameCharset& operator=(const NameCharset&) = delete;

    // False (errno set) when iconv does not know the code page.
    bool Open(const std::string& codePage);
    bool IsOpen() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    const std::string& CodePage() const { return codePage_; }

    // The name in UTF-8; false with the system's error number when a byte does not convert.
    bool Convert(std::string_view name, std::string& out, int& error);

private:
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
    std::string codePage_;
};
