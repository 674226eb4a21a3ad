// iconv conversion of names; a name converts whole or not at all.
#include "NameCharset.h"

#include <cerrno>

NameCharset::~NameCharset() {
    if (IsOpen())
        iconv_close(cd_);
}

bool NameCharset::Open(const std::string& codePage) {
    codePage_ = codePage;
    cd_ = iconv_open("UTF-8", codePage.c_str());
    return IsOpen();
}

bool NameCharset::Convert(std::string_view name, std::string& out, int& error) {
    // A byte becomes at most four in UTF-8 (and stateful code pages need a few more for the reset).
    out.resize(name.size() * 4 + 16);
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(name.data());
    std::size_t inLeft = name.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    if (iconv(cd_, &in, &inLeft, &to, &toLeft) == std::size_t(-1) ||
        iconv(cd_, nullptr, nullptr, &to, &toLeft) == std::size_t(-1)) {
        error = errno;
        out.clear();
        return false;
    }
    out.resize(out.size() - toLeft);
    return true;
}
