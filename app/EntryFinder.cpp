// The find bar's matching; see EntryFinder.h.
#include "EntryFinder.h"

#include "NamePattern.h"

#include <algorithm>

void EntryFinder::SetNames(std::size_t count,
                           const std::function<std::string_view(std::size_t)>& name) {
    starts_.clear();
    starts_.reserve(count);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        starts_.push_back(std::uint32_t(bytes));
        bytes += name(i).size() + 1;
    }
    matchable_.assign(bytes, '\0');
    folded_.assign(bytes, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        // A name is NUL-terminated where it is stored, so holds no NUL of its own.
        char* matchable = matchable_.data() + starts_[i];
        char* folded = folded_.data() + starts_[i];
        for (const char c : name(i)) {
            const char separator = c == '\\' ? '/' : c;
            *matchable++ = separator;
            *folded++ = char(FoldLatin1(static_cast<unsigned char>(separator)));
        }
    }
}

std::size_t EntryFinder::Find(std::string_view text, std::vector<std::uint8_t>& keep) const {
    const std::size_t count = starts_.size();
    if (text.empty()) {
        keep.assign(count, 1);
        return count;
    }
    keep.assign(count, 0);
    std::size_t found = 0;
    if (IsPattern(text)) {
        const NamePattern pattern(text);
        for (std::size_t i = 0; i < count; ++i)
            if (pattern.Selects(matchable_.data() + starts_[i])) {
                keep[i] = 1;
                ++found;
            }
        return found;
    }
    std::string needle(text);
    for (char& c : needle)
        c = char(FoldLatin1(static_cast<unsigned char>(c == '\\' ? '/' : c)));
    if (needle.find('\0') != std::string::npos)
        return 0;
    // One search through all names at once; a hit is credited to the name it lies in, and the
    // search goes on from the next name. Names are NUL-separated, so no hit spans two.
    const std::string_view all(folded_);
    std::size_t name = 0;
    for (std::size_t at = all.find(needle); at != std::string_view::npos;) {
        name = std::size_t(std::upper_bound(starts_.begin() + std::ptrdiff_t(name), starts_.end(),
                                            std::uint32_t(at)) -
                           starts_.begin()) -
               1;
        keep[name] = 1;
        ++found;
        if (name + 1 >= count)
            break;
        at = all.find(needle, starts_[name + 1]);
    }
    return found;
}
