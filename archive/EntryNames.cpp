// Reading stored names as text: Latin-1 by hand, code pages through iconv.
#include "EntryNames.h"

#include <cerrno>

NameReader::~NameReader() {
    if (IsCodePage())
        iconv_close(cd_);
}

bool NameReader::Open(const std::string& codePage) {
    codePage_ = codePage;
    cd_ = iconv_open("UTF-8", codePage.c_str());
    return IsCodePage();
}

bool NameReader::Read(std::string_view name, std::string& out, int& error) {
    out.clear();
    if (!IsCodePage()) {
        out = Latin1Name(name);
        return true;
    }
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

std::string Latin1Name(std::string_view name) {
    std::string out;
    out.reserve(name.size() * 2);
    for (char c : name)
        AppendLatin1(static_cast<unsigned char>(c), out);
    return out;
}

ReadNames ReadNames::Of(std::size_t count,
                        const std::function<std::string_view(std::size_t)>& stored,
                        NameReader& reader) {
    ReadNames read;
    read.text.resize(count);
    read.errors.assign(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        if (!reader.Read(stored(i), read.text[i], read.errors[i]))
            read.text[i].assign(stored(i));
    return read;
}
