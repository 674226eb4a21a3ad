// Safe relative paths from entry names.
#include "EntryPath.h"

namespace {
bool IsDrivePrefix(std::string_view part) {
    if (part.size() < 2 || part[1] != ':')
        return false;
    const char c = part[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
} // namespace

bool IsSafeEntryName(std::string_view name) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(name.find('\\', start), name.size());
        const std::string_view part = name.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || (start == 0 && IsDrivePrefix(part)))
            return false;
        if (end == name.size())
            return true;
        start = end + 1;
    }
}

std::optional<EntryPath> ParseEntryPath(std::string_view name) {
    if (!IsSafeEntryName(name))
        return std::nullopt;
    EntryPath path;
    path.relative.reserve(name.size());
    for (char c : name) {
        if (c == '\\') {
            path.folderEnds.push_back(path.relative.size());
            path.relative.push_back('/');
        } else {
            path.relative.push_back(OnDisk(c));
        }
    }
    return path;
}

bool EntryPath::IsHidden() const {
    if (relative.starts_with('.'))
        return true;
    for (std::size_t end : folderEnds)
        if (end + 1 < relative.size() && relative[end + 1] == '.')
            return true;
    return false;
}
